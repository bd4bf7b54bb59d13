// Byte sequences of the tests: the expected streams are built from literal pieces.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace kvtest {

using Bytes = std::vector<std::uint8_t>;

// The pieces one after the other.
inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// `block` `times` times over.
inline Bytes repeat(const Bytes &block, int times) {
    Bytes all;
    for (int i = 0; i < times; ++i) all.insert(all.end(), block.begin(), block.end());
    return all;
}

}  // namespace kvtest
