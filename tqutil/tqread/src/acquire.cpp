#include "acquire.h"

int acquire(KV_HANDLE handle, uint8_t *buffer, int remaining_size, int *failed_offset) {
    int buffer_write_count = 0;
    while (remaining_size > TQ_PIECE_BYTES) {
        *failed_offset = buffer_write_count * TQ_PIECE_BYTES;
        const int status = KORVIN_ReadStream(handle, buffer + *failed_offset, TQ_PIECE_BYTES);
        if (status != 0) return status;
        remaining_size -= TQ_PIECE_BYTES;
        ++buffer_write_count;
    }
    *failed_offset = buffer_write_count * TQ_PIECE_BYTES;
    return TQ_ReadData(handle, buffer + *failed_offset, remaining_size);
}
