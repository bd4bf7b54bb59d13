// The simulated bridge's host-to-engine byte log of one channel (by list position).
#pragma once

#include "bytes.h"
#include "kvsim.h"

namespace kvtest {

// Everything logged since the last clear.
inline Bytes engine_log(unsigned position = 0) {
    Bytes bytes(kvsim_log_size(position));
    bytes.resize(kvsim_log_read(position, bytes.data(), bytes.size()));
    return bytes;
}

// Everything logged since the last clear, and the log cleared.
inline Bytes take_engine_log(unsigned position = 0) {
    Bytes bytes = engine_log(position);
    kvsim_log_clear(position);
    return bytes;
}

}  // namespace kvtest
