// Length of a fast-mode command stream, computed in 64 bits before anything is allocated: a
// stream longer than a driver write can carry (32-bit count) must be refused, not cut.
#pragma once

#include <cstdint>

#include "libVELTA_i2c.h"

namespace i2c_fast {

// Engine commands by length: a low-pin state, a bit shift out with its data byte, a bit shift in.
constexpr std::uint64_t kPinStateBytes = 3;
constexpr std::uint64_t kBitsOutBytes = 3;
constexpr std::uint64_t kBitsInBytes = 2;

constexpr std::uint64_t kConditionBytes = 31 * kPinStateBytes;  // start or stop sequence
// A byte out and its acknowledge in; also the read block of byte mode (byte in, acknowledge out).
constexpr std::uint64_t kByteBlockBytes = kPinStateBytes + kBitsOutBytes + kPinStateBytes + kBitsInBytes;
constexpr std::uint64_t kAddressBlockBytes = kByteBlockBytes;
constexpr std::uint64_t kBitsWriteBlockBytes = kPinStateBytes + kBitsOutBytes;
constexpr std::uint64_t kBitsReadBlockBytes = kPinStateBytes + kBitsInBytes;

// Bytes of the stream of a fast write or read of `size` (bytes, or bits with
// I2C_OPT_FAST_BITS) under `options`: start, address block, one block per group, stop.
inline std::uint64_t stream_length(std::uint32_t size, std::uint32_t options, bool read) {
    const bool bits = (options & I2C_OPT_FAST_BITS) != 0;
    const std::uint64_t groups = bits ? (std::uint64_t{size} + 7) / 8 : std::uint64_t{size};
    const std::uint64_t block = !bits ? kByteBlockBytes : read ? kBitsReadBlockBytes : kBitsWriteBlockBytes;
    std::uint64_t length = groups * block;
    if (!(options & I2C_OPT_SKIP_ADDRESS)) length += kAddressBlockBytes;
    if (options & I2C_OPT_START) length += kConditionBytes;
    if (options & I2C_OPT_STOP) length += kConditionBytes;
    return length;
}

inline bool fits_one_write(std::uint64_t length) { return length <= UINT32_MAX; }

}  // namespace i2c_fast
