#include "device_config.h"

#include <algorithm>
#include <stdexcept>

namespace kvsim {

std::uint64_t config_uint(const Json &config, const std::string &key, std::uint64_t fallback, std::uint64_t low,
                          std::uint64_t high) {
    auto it = config.find(key);
    if (it == config.end()) return fallback;
    bool negative = it->is_number_integer() && !it->is_number_unsigned() && it->get<long long>() < 0;
    if (!it->is_number_integer() || negative)
        throw std::runtime_error("\"" + key + "\" must be a non-negative integer");
    std::uint64_t value = it->get<std::uint64_t>();
    if (value < low || value > high)
        throw std::runtime_error("\"" + key + "\" must lie between " + std::to_string(low) + " and " +
                                 std::to_string(high));
    return value;
}

bool config_bool(const Json &config, const std::string &key, bool fallback) {
    auto it = config.find(key);
    if (it == config.end()) return fallback;
    if (!it->is_boolean()) throw std::runtime_error("\"" + key + "\" must be true or false");
    return it->get<bool>();
}

std::string to_hex(const std::uint8_t *data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 15]);
    }
    return text;
}

bool from_hex(const std::string &text, std::vector<std::uint8_t> &out) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2) return false;
    out.clear();
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]), low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return true;
}

bool MemoryArray::get(const std::string &key, std::vector<std::uint8_t> &out) const {
    if (key != "memory") return false;
    out = bytes_;
    return true;
}

bool MemoryArray::put(const std::string &key, const std::uint8_t *data, std::size_t length) {
    if (key != "memory" || length > bytes_.size()) return false;
    std::copy(data, data + length, bytes_.begin());
    return true;
}

Json MemoryArray::save_state() const { return Json{{"memory", to_hex(bytes_.data(), bytes_.size())}}; }

void MemoryArray::load_state(const Json &state) {
    if (!state.is_object() || !state.contains("memory") || !state["memory"].is_string()) return;
    std::vector<std::uint8_t> bytes;
    if (from_hex(state["memory"].get<std::string>(), bytes) && bytes.size() == bytes_.size()) bytes_ = std::move(bytes);
}

}  // namespace kvsim
