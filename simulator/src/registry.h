// Kinds of buses and devices by the name a configuration gives them. Each kind registers its
// factory from its own source file, so adding a kind touches no other file.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "bus.h"
#include "device_config.h"

namespace kvsim {

template <class T, class Config>
class Registry {
public:
    using Factory = std::function<std::unique_ptr<T>(const Config &config)>;

    explicit Registry(std::string noun) : noun_(std::move(noun)) {}
    void add(const std::string &kind, Factory factory) { factories_[kind] = std::move(factory); }
    // Throws std::runtime_error for an unknown kind, and whatever the factory throws.
    std::unique_ptr<T> make(const std::string &kind, const Config &config) const {
        auto it = factories_.find(kind);
        if (it == factories_.end()) throw std::runtime_error("unknown " + noun_ + " kind \"" + kind + "\"");
        return it->second(config);
    }

private:
    std::string noun_;
    std::map<std::string, Factory> factories_;
};

// Registers a kind when the library loads: `const XRegistrar x_kind("name", factory);`.
template <class T, class Config, Registry<T, Config> &(*kinds)()>
struct Registrar {
    Registrar(const std::string &kind, typename Registry<T, Config>::Factory factory) {
        kinds().add(kind, std::move(factory));
    }
};

// Bus kinds ("spi", "i2c"); the factory receives the channel object.
using BusKinds = Registry<Bus, Json>;
BusKinds &bus_kinds();
using BusRegistrar = Registrar<Bus, Json, bus_kinds>;

// A device from its configuration object: "kind" picks the factory, "name" (default: the kind)
// names it for the control API and the state file.
template <class T>
std::unique_ptr<T> make_device(const Registry<T, DeviceConfig> &kinds, const DeviceConfig &config) {
    const std::string kind = config_text(config, "kind", "");
    if (kind.empty()) throw ConfigFault("kind", "missing");
    std::unique_ptr<T> device = kinds.make(kind, config);
    device->set_name(config_text(config, "name", kind));
    return device;
}

}  // namespace kvsim
