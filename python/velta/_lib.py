"""Finding and loading the bridge driver, libVELTA and TQlib, and their C prototypes.

libVELTA loads the driver by the name libkvzubr.so when it is itself loaded, and ends the
process when that fails. So the driver is loaded here first, from an explicit path where
there is one; libVELTA's own load then finds it among the loaded libraries."""

import ctypes
import os
import threading
from ctypes import POINTER, c_char_p, c_double, c_int, c_size_t, c_uint, c_uint8, c_uint32, c_void_p
from pathlib import Path

from .errors import DriverNotFound, LibraryNotFound, Status, error_class

DRIVER_NAME = "libkvzubr.so"
# In the build tree (python/ beside build/) the libraries sit in build/lib.
_BUILD_LIB = Path(__file__).resolve().parents[2] / "build" / "lib"

KV_HANDLE = c_void_p  # pointer-sized: a handle is never cut to 32 bits
BUFFER = c_void_p  # data buffers are passed by address, so no copy is made on the way


class DeviceListEntry(ctypes.Structure):
    _fields_ = [
        ("StateFlags", c_uint32),
        ("DeviceType", c_uint32),
        ("DeviceId", c_uint32),
        ("Location", c_uint32),
        ("SerialText", ctypes.c_char * 16),
        ("DescriptionText", ctypes.c_char * 64),
        ("OpenHandle", KV_HANDLE),
    ]


class ChannelConfig(ctypes.Structure):
    _fields_ = [
        ("ClockRate", c_uint32),
        ("LatencyTimer", c_uint8),
        ("configOptions", c_uint32),
        ("Pin", c_uint32),
        ("reserved", ctypes.c_uint16),
    ]


class I2CChannelConfig(ctypes.Structure):
    _fields_ = [("ClockRate", c_uint32), ("LatencyTimer", c_uint8), ("configOptions", c_uint32)]


class I2CMessage(ctypes.Structure):
    _fields_ = [("address", ctypes.c_uint16), ("flags", ctypes.c_uint16), ("length", c_uint32), ("buffer", BUFFER)]


class I2CTransferFault(ctypes.Structure):
    _fields_ = [("message", c_uint32), ("byte", c_uint32)]


class SPITransfer(ctypes.Structure):
    _fields_ = [("txBuffer", BUFFER), ("rxBuffer", BUFFER), ("length", c_uint32), ("delayUs", c_uint32),
                ("releaseCS", c_uint8), ("fillByte", c_uint8)]


P = POINTER
STATUS = c_uint32

# name: (result type, argument types), as the C headers declare them.
VELTA_PROTOTYPES = {
    "SPI_GetNumChannels": (STATUS, [P(c_uint32)]),
    "SPI_GetChannelInfo": (STATUS, [c_uint32, P(DeviceListEntry)]),
    "SPI_OpenChannel": (STATUS, [c_uint32, P(KV_HANDLE)]),
    "SPI_InitChannel": (STATUS, [KV_HANDLE, P(ChannelConfig)]),
    "SPI_ChangeCS": (STATUS, [KV_HANDLE, c_uint32]),
    "SPI_CloseChannel": (STATUS, [KV_HANDLE]),
    "SPI_Write": (STATUS, [KV_HANDLE, BUFFER, c_uint32, P(c_uint32), c_uint32]),
    "SPI_Read": (STATUS, [KV_HANDLE, BUFFER, c_uint32, P(c_uint32), c_uint32]),
    "SPI_ReadWrite": (STATUS, [KV_HANDLE, BUFFER, BUFFER, c_uint32, P(c_uint32), c_uint32]),
    "SPI_ToggleCS": (STATUS, [KV_HANDLE, c_uint8]),
    "SPI_IsBusy": (STATUS, [KV_HANDLE, P(c_uint8)]),
    "SPI_Transfer": (STATUS, [KV_HANDLE, P(SPITransfer), c_uint32]),
    "I2C_OpenChannel": (STATUS, [c_uint32, P(KV_HANDLE)]),
    "I2C_InitChannel": (STATUS, [KV_HANDLE, P(I2CChannelConfig)]),
    "I2C_CloseChannel": (STATUS, [KV_HANDLE]),
    "I2C_Stop": (STATUS, [KV_HANDLE]),
    "I2C_DeviceWrite": (STATUS, [KV_HANDLE, c_uint32, c_uint32, BUFFER, P(c_uint32), c_uint32]),
    "I2C_DeviceRead": (STATUS, [KV_HANDLE, c_uint32, c_uint32, BUFFER, P(c_uint32), c_uint32]),
    "I2C_Transfer": (STATUS, [KV_HANDLE, P(I2CMessage), c_uint32, P(I2CTransferFault)]),
    "Mid_PurgeDevice": (STATUS, [KV_HANDLE]),
    "KV_WriteGPIO": (STATUS, [KV_HANDLE, c_uint8, c_uint8]),
    "KV_ReadGPIO": (STATUS, [KV_HANDLE, P(c_uint8)]),
}

TQ_PROTOTYPES = {
    "TQ_Open": (c_int, [P(KV_HANDLE), c_uint32, c_int, c_int, c_int, P(ChannelConfig)]),
    "TQ_Close": (c_int, [KV_HANDLE]),
    "TQ_ReadReg": (c_int, [KV_HANDLE, c_int, P(c_uint8)]),
    "TQ_WriteReg_Restricted": (c_int, [KV_HANDLE, c_int, c_uint8, c_int]),
    "KORVIN_ReadStream": (c_int, [KV_HANDLE, BUFFER, c_int]),
}

SIM_PROTOTYPES = {
    "kvsim_load_config_file": (c_int, [c_char_p]),
    "kvsim_load_config_json": (c_int, [c_char_p]),
    "kvsim_reset": (c_int, []),
    "kvsim_channel_count": (c_uint, []),
    "kvsim_log_size": (c_size_t, [c_uint]),
    "kvsim_log_read": (c_size_t, [c_uint, BUFFER, c_size_t]),
    "kvsim_log_clear": (None, [c_uint]),
    "kvsim_fail_call": (c_int, [c_int, c_uint, STATUS]),
    "kvsim_short_transfer": (c_int, [c_int, c_uint, c_uint32]),
    "kvsim_clear_faults": (None, []),
    "kvsim_trace_start": (c_int, [c_uint, c_char_p]),
    "kvsim_trace_stop": (c_int, [c_uint]),
    "kvsim_attach_device": (c_int, [c_uint, c_char_p]),
    "kvsim_device_get": (c_int, [c_uint, c_char_p, c_char_p, BUFFER, c_size_t, P(c_size_t)]),
    "kvsim_device_put": (c_int, [c_uint, c_char_p, c_char_p, BUFFER, c_size_t]),
    "kvsim_device_set": (c_int, [c_uint, c_char_p, c_char_p, c_double]),
    "kvsim_save_state": (c_int, []),
}


# ctypes lets other threads run during a call, and the calls on one channel must not overlap
# (their bytes form one stream); so every call into the libraries (and the simulator beneath)
# takes this one lock, and a thread's call never interleaves with another's.
_serial = threading.Lock()


def _serialised(function):
    def call(*args):
        with _serial:
            return function(*args)
    call.__name__ = function.__name__
    return call


def _declare(library, prototypes):
    for name, (restype, argtypes) in prototypes.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
        setattr(library, name, _serialised(function))


# The libraries by their SONAME, of the C interface the prototypes below declare: the runtime
# packages hold those, the unversioned links come with the development files only.
ABI_MAJOR = 1
# key: (environment variable, file name, exception, what it is), in the order they load.
_LIBRARIES = {
    "driver": ("VELTA_DRIVER", DRIVER_NAME, DriverNotFound,
               "the bridge driver (the simulated one is <prefix>/lib/kvzubr-sim/libkvzubr.so)"),
    "velta": ("VELTA_LIBRARY", f"libVELTA.so.{ABI_MAJOR}", LibraryNotFound, "libVELTA"),
    "tq": ("VELTA_TQLIB", f"libTQ.so.{ABI_MAJOR}", LibraryNotFound, "TQlib"),
}


def _locate(variable, filename):
    """Where a library is loaded from and why: the environment's choice, else the build
    tree's copy, else the bare name for the system loader."""
    chosen = os.environ.get(variable)
    if chosen:
        return chosen, f"named by {variable}"
    built = _BUILD_LIB / filename
    if built.exists():
        return str(built), f"the build tree's, {variable} unset"
    return filename, f"through the system loader, {variable} unset"


def _open(key):
    variable, filename, error, what = _LIBRARIES[key]
    path, how = _locate(variable, filename)
    try:
        return ctypes.CDLL(path)
    except OSError as e:
        raise error(f"cannot load {path} ({how}): {e}; set {variable} to the path of {what}") from None


def _load_driver():
    driver = _open("driver")
    # libVELTA asks for the driver by name; make sure that name finds the one just loaded.
    try:
        ctypes.CDLL(DRIVER_NAME, mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
    except OSError:
        raise DriverNotFound(f"{driver._name} was loaded but does not answer to the name {DRIVER_NAME}, "
                             "which libVELTA loads; set VELTA_DRIVER to a driver file of that soname") from None
    return driver


_loaded = {}


def _library(key):
    if key not in _loaded:
        if key == "driver":
            _loaded[key] = _load_driver()
        else:
            _library("velta" if key == "tq" else "driver")
            _loaded[key] = _open(key)
            _declare(_loaded[key], VELTA_PROTOTYPES if key == "velta" else TQ_PROTOTYPES)
    return _loaded[key]


def driver():
    """The loaded bridge driver (loaded on first use)."""
    return _library("driver")


def velta():
    """The loaded libVELTA, its prototypes declared (loaded on first use, after the driver)."""
    return _library("velta")


def tq():
    """The loaded TQlib, its prototypes declared (loaded on first use)."""
    return _library("tq")


def status_text(status):
    """libVELTA's own text for a status where it offers one, else None."""
    function = getattr(velta(), "VELTA_StatusText", None)
    if function is None:
        return None
    function.restype = c_char_p
    function.argtypes = [STATUS]
    text = function(status)
    return text.decode("utf-8", "replace") if text else None


def check(status, operation):
    """Raises the exception of a failed libVELTA call; returns quietly on success."""
    if status != Status.SUCCESS:
        raise error_class(status)(status, operation, status_text(status))
