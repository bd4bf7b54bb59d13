// Byte sequences of the tests: the expected streams are built from literal pieces or encoders.
#pragma once

#include <cstddef>
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

// An engine stream built with the vocabulary's encoders, which write at most three bytes each.
class EncodedStream {
public:
    const Bytes &bytes() const { return bytes_; }

protected:
    // Appends what `encode` writes at the pointer it is given; it returns the count written.
    template <typename Encode>
    void encode(Encode encode) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + 3);
        bytes_.resize(at + encode(bytes_.data() + at));
    }
    void put(const Bytes &more) { bytes_.insert(bytes_.end(), more.begin(), more.end()); }
    void put(std::uint8_t byte) { bytes_.push_back(byte); }

private:
    Bytes bytes_;
};

}  // namespace kvtest
