// A FIFO of bytes that grows at the back and is consumed at the front without shifting the
// remaining bytes on every read: the engine's answer queue.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kvsim {

class ByteQueue {
public:
    std::size_t size() const { return bytes_.size() - head_; }
    bool empty() const { return size() == 0; }
    void clear() {
        bytes_.clear();
        head_ = 0;
    }

    // Room for `count` new bytes at the back; the pointer stays valid until the next change.
    std::uint8_t *extend(std::size_t count) {
        compact();
        std::size_t old = bytes_.size();
        bytes_.resize(old + count);
        return bytes_.data() + old;
    }
    // Gives back the last `count` bytes of an extend() that were never filled.
    void drop_back(std::size_t count) { bytes_.resize(bytes_.size() - std::min(count, size())); }
    void push(std::uint8_t byte) { *extend(1) = byte; }
    void push(const std::uint8_t *data, std::size_t count) {
        if (count) std::memcpy(extend(count), data, count);
    }

    // Takes up to `count` bytes from the front; returns how many were taken.
    std::size_t pop(std::uint8_t *out, std::size_t count) {
        std::size_t n = std::min(count, size());
        if (n) std::memcpy(out, bytes_.data() + head_, n);
        return drop_front(n);
    }
    // Drops up to `count` bytes from the front; returns how many were dropped.
    std::size_t drop_front(std::size_t count) {
        std::size_t n = std::min(count, size());
        head_ += n;
        if (head_ == bytes_.size()) clear();
        return n;
    }

private:
    // Drops consumed bytes once they make up half the buffer, so each byte moves at most once.
    void compact() {
        if (head_ == 0 || head_ < bytes_.size() / 2) return;
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t head_ = 0;
};

}  // namespace kvsim
