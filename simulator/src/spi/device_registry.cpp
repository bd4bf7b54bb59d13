#include <map>
#include <stdexcept>

#include "spi_device.h"
#include "../device_config.h"

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

}  // namespace kvsim
