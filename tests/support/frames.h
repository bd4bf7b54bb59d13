// The chip-select frames an SPI test device records: per frame a bit count (four bytes, low
// first), then the bytes it saw, a partial last byte left-aligned.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "bytes.h"

namespace kvtest {

struct Frame {
    std::uint32_t bits;
    Bytes bytes;
    bool operator==(const Frame &other) const { return bits == other.bits && bytes == other.bytes; }
};

inline void PrintTo(const Frame &frame, std::ostream *os) {
    *os << frame.bits << " bits:";
    for (std::uint8_t b : frame.bytes) *os << ' ' << std::hex << int(b) << std::dec;
}

inline std::vector<Frame> decode_frames(const Bytes &raw) {
    std::vector<Frame> all;
    for (std::size_t i = 0; i + 4 <= raw.size();) {
        std::uint32_t bits = raw[i] | raw[i + 1] << 8 | raw[i + 2] << 16 | std::uint32_t(raw[i + 3]) << 24;
        i += 4;
        std::size_t n = (bits + 7) / 8;
        all.push_back({bits, Bytes(raw.begin() + long(i), raw.begin() + long(i + n))});
        i += n;
    }
    return all;
}

}  // namespace kvtest
