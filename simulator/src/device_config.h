// Reading a device's configuration object, and the helpers its saved state uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bus.h"

namespace kvsim {

// The value of `key`, or `fallback` when absent; throws std::runtime_error when it is not an
// integer in [low, high].
std::uint64_t config_uint(const Json &config, const std::string &key, std::uint64_t fallback, std::uint64_t low,
                          std::uint64_t high);
bool config_bool(const Json &config, const std::string &key, bool fallback);

// State files keep byte arrays as lowercase hexadecimal text.
std::string to_hex(const std::uint8_t *data, std::size_t length);
// False, with `out` unspecified, for an odd length or a character that is no hex digit.
bool from_hex(const std::string &text, std::vector<std::uint8_t> &out);

// The array of a memory device, 0xFF when new: read and written through the control API under
// the key "memory", and kept in the state file.
class MemoryArray {
public:
    explicit MemoryArray(std::size_t size) : bytes_(size, 0xFF) {}
    std::uint8_t &operator[](std::size_t at) { return bytes_[at]; }
    std::uint8_t operator[](std::size_t at) const { return bytes_[at]; }
    std::size_t size() const { return bytes_.size(); }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const;
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length);
    Json save_state() const;
    // Takes saved contents of an array of the same size; ignores anything else.
    void load_state(const Json &state);

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace kvsim
