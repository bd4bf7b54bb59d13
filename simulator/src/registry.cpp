#include "registry.h"

namespace kvsim {

bool Device::get(const std::string &, std::vector<std::uint8_t> &) const { return false; }
bool Device::put(const std::string &, const std::uint8_t *, std::size_t) { return false; }
bool Device::set(const std::string &, double) { return false; }

BusKinds &bus_kinds() {
    static BusKinds kinds("bus");
    return kinds;
}

}  // namespace kvsim
