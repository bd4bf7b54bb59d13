// The burst of tqread, read in pieces: every full piece but the last through the stream
// read, the last piece (0 to 7500 bytes) through TQ_ReadData.
#pragma once

#include <cstdint>

#include "tq_api.h"

// Reads remaining_size bytes into buffer. Returns 0, or the status of the read that failed;
// *failed_offset then tells where the failing piece began.
int acquire(KV_HANDLE handle, uint8_t *buffer, int remaining_size, int *failed_offset);
