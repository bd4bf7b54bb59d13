// Reading a device's configuration object, and the helpers its saved state uses.
#pragma once

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bus.h"

namespace kvsim {

// A fault in a configuration object; `key` names the member at fault ("" for the object itself).
// Its text reads "key: fault", or just the fault.
struct ConfigFault : std::runtime_error {
    ConfigFault(const std::string &key, const std::string &what)
        : std::runtime_error(key.empty() ? what : key + ": " + what), has_key(!key.empty()) {}
    bool has_key;
};

// A device's configuration object. Every key a reader asks for is marked, so a key nobody asked
// for (a misspelt one) is a fault instead of silently leaving a default in place.
class DeviceConfig {
public:
    explicit DeviceConfig(const Json &object);  // throws ConfigFault unless an object
    const Json *find(const std::string &key) const;
    // Throws ConfigFault for the first key nobody asked for.
    void check_all_read() const;

private:
    const Json &object_;
    mutable std::set<std::string> read_;
};

// An unsigned integer, or a "0x..." text of one (as data sheets give addresses and sizes).
bool json_uint(const Json &value, std::uint64_t *out);

// The value of `key`, or `fallback` when absent; throw ConfigFault when it has the wrong type
// or lies outside [low, high].
std::uint64_t config_uint(const DeviceConfig &config, const std::string &key, std::uint64_t fallback,
                          std::uint64_t low, std::uint64_t high);
double config_number(const DeviceConfig &config, const std::string &key, double fallback, double low, double high);
bool config_bool(const DeviceConfig &config, const std::string &key, bool fallback);
std::string config_text(const DeviceConfig &config, const std::string &key, const std::string &fallback);

// The array of a memory device, 0xFF when new: read and written through the control API under
// the key "memory", and kept in the state file.
class MemoryArray : public SavedBytes {
public:
    explicit MemoryArray(std::size_t size) : SavedBytes("memory", size, 0xFF) {}
    bool get(const std::string &key, std::vector<std::uint8_t> &out) const;
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length);
};

}  // namespace kvsim
