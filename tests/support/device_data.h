// What a simulated device exposes under a key (its memory, its recorded frames or events).
#pragma once

#include <cstddef>

#include "bytes.h"
#include "kvsim.h"

namespace kvtest {

inline Bytes device_data(const char *name, const char *key, unsigned position = 0) {
    std::size_t length = 0;
    kvsim_device_get(position, name, key, nullptr, 0, &length);
    Bytes bytes(length);
    kvsim_device_get(position, name, key, bytes.data(), bytes.size(), &length);
    return bytes;
}

}  // namespace kvtest
