#include "device_config.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace kvsim {

DeviceConfig::DeviceConfig(const Json &object) : object_(object) {
    if (!object.is_object()) throw ConfigFault("", "expected an object");
}

const Json *DeviceConfig::find(const std::string &key) const {
    read_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
}

void DeviceConfig::check_all_read() const {
    for (auto it = object_.begin(); it != object_.end(); ++it)
        if (!read_.count(it.key())) throw ConfigFault(it.key(), "unknown key");
}

bool json_uint(const Json &value, std::uint64_t *out) {
    if (value.is_number_integer()) {
        if (!value.is_number_unsigned() && value.get<std::int64_t>() < 0) return false;
        *out = value.get<std::uint64_t>();
        return true;
    }
    if (!value.is_string()) return false;
    const std::string &text = value.get_ref<const std::string &>();
    if (text.size() < 3 || text.size() > 18 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    std::uint64_t result = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        result = result << 4 | static_cast<unsigned>(digit);
    }
    *out = result;
    return true;
}

std::uint64_t config_uint(const DeviceConfig &config, const std::string &key, std::uint64_t fallback,
                          std::uint64_t low, std::uint64_t high) {
    const Json *value = config.find(key);
    if (!value) return fallback;
    std::uint64_t result = 0;
    if (!json_uint(*value, &result)) throw ConfigFault(key, "expected a non-negative integer or a \"0x...\" text");
    if (result < low || result > high)
        throw ConfigFault(key, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
    return result;
}

double config_number(const DeviceConfig &config, const std::string &key, double fallback, double low, double high) {
    const Json *value = config.find(key);
    if (!value) return fallback;
    if (!value->is_number()) throw ConfigFault(key, "expected a number");
    const double result = value->get<double>();
    if (!(result >= low && result <= high)) {
        char range[96];
        std::snprintf(range, sizeof range, "must lie between %g and %g", low, high);
        throw ConfigFault(key, range);
    }
    return result;
}

bool config_bool(const DeviceConfig &config, const std::string &key, bool fallback) {
    const Json *value = config.find(key);
    if (!value) return fallback;
    if (!value->is_boolean()) throw ConfigFault(key, "expected true or false");
    return value->get<bool>();
}

std::string config_text(const DeviceConfig &config, const std::string &key, const std::string &fallback) {
    const Json *value = config.find(key);
    if (!value) return fallback;
    if (!value->is_string()) throw ConfigFault(key, "expected a text");
    return value->get<std::string>();
}

bool MemoryArray::get(const std::string &key, std::vector<std::uint8_t> &out) const {
    if (key != "memory") return false;
    out = bytes();
    return true;
}

bool MemoryArray::put(const std::string &key, const std::uint8_t *data, std::size_t length) {
    if (key != "memory" || length > size()) return false;
    write(0, data, length);
    return true;
}

}  // namespace kvsim
