#include <map>
#include <stdexcept>

#include "../spi_device.h"
#include "config_value.h"

namespace kvsim {

namespace {
std::map<std::string, SpiDeviceFactory> &spi_device_kinds() {
    static std::map<std::string, SpiDeviceFactory> kinds;
    return kinds;
}
}  // namespace

void register_spi_device(const std::string &kind, SpiDeviceFactory factory) {
    spi_device_kinds()[kind] = std::move(factory);
}

std::unique_ptr<SpiDevice> make_spi_device(const std::string &kind, const Json &config) {
    auto it = spi_device_kinds().find(kind);
    if (it == spi_device_kinds().end()) throw std::runtime_error("unknown SPI device kind \"" + kind + "\"");
    return it->second(config);
}

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

}  // namespace kvsim
