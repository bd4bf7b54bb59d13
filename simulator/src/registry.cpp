#include <map>
#include <stdexcept>

#include "bus.h"

namespace kvsim {

bool Device::get(const std::string &, std::vector<std::uint8_t> &) const { return false; }
bool Device::put(const std::string &, const std::uint8_t *, std::size_t) { return false; }
bool Device::set(const std::string &, double) { return false; }

namespace {
std::map<std::string, BusFactory> &bus_kinds() {
    static std::map<std::string, BusFactory> kinds;
    return kinds;
}
}  // namespace

void register_bus(const std::string &kind, BusFactory factory) { bus_kinds()[kind] = std::move(factory); }

std::unique_ptr<Bus> make_bus(const std::string &kind, const Json &channel) {
    auto it = bus_kinds().find(kind);
    if (it == bus_kinds().end()) throw std::runtime_error("unknown bus kind \"" + kind + "\"");
    return it->second(channel);
}

}  // namespace kvsim
