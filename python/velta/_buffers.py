"""Bytes-like objects handed to C by address, copied only where ctypes cannot reach them."""

import ctypes


class Source:
    """The address and length of a bytes-like object's bytes, kept alive while in use.

    Writable buffers (bytearray, array, writable memoryview, mmap) and whole bytes objects
    are used in place; anything else (a slice of bytes, a non-contiguous view) is copied once."""

    def __init__(self, data):
        if type(data) is not bytes:  # bytes, the common case, need no view
            view = memoryview(data)
            if not view.c_contiguous:
                view = memoryview(view.tobytes())
            view = view.cast("B")
            if not view.readonly:
                self.length = view.nbytes
                self._keep = (ctypes.c_char * self.length).from_buffer(view)
                self.address = ctypes.addressof(self._keep)
                return
            data = view.obj if isinstance(view.obj, bytes) and len(view.obj) == view.nbytes else view.tobytes()
        self.length = len(data)
        self._keep = ctypes.c_char_p(data)  # points into the bytes object itself
        self.address = ctypes.c_void_p.from_buffer(self._keep).value


class Sink:
    """A zeroed receive buffer of ``length`` bytes."""

    def __init__(self, length):
        self.length = length
        self._buffer = ctypes.create_string_buffer(length)
        self.address = ctypes.addressof(self._buffer)

    def bytes(self):
        """What was received, as bytes (the one copy made)."""
        return self._buffer.raw

