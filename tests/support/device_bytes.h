// What a simulated device holds under a key (kvsim_device_get), as a vector.
#pragma once

#include <cstdint>
#include <vector>

#include "kvsim.h"

inline std::vector<uint8_t> device_bytes(unsigned position, const char *device, const char *key) {
    size_t length = 0;
    kvsim_device_get(position, device, key, nullptr, 0, &length);
    std::vector<uint8_t> out(length);
    kvsim_device_get(position, device, key, out.data(), out.size(), &length);
    return out;
}
