#include "config.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "json_reader.h"
#include "none_bus.h"
#include "registry.h"

namespace kvsim {

namespace {

constexpr std::size_t kSerialField = 16;
constexpr std::size_t kDescriptionField = 64;
constexpr std::size_t kMaxBridges = 127;  // as many as one USB bus holds
constexpr unsigned kMaxChannels = 15;     // the low four bits of a location number them

[[noreturn]] void fault(const std::string &where, const std::string &what) { throw ConfigError(where + ": " + what); }

unsigned channels_of_type(std::uint32_t type, std::size_t configured) {
    switch (type) {
    case 4: return 2;
    case 6: return 2;
    case 7: return 4;
    case 8: return 1;
    default: return configured > 1 ? static_cast<unsigned>(std::min<std::size_t>(configured, kMaxChannels)) : 1;
    }
}

bool carries_engine(std::uint32_t type, unsigned position) {
    switch (type) {
    case 4: return position == 1;
    case 6:
    case 7: return position == 1 || position == 2;
    case 8: return true;
    default: return false;
    }
}

void check_keys(const Json &object, const std::string &where, std::initializer_list<const char *> allowed) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char *key : allowed) known = known || it.key() == key;
        if (!known) fault(where == "top level" ? it.key() : where + "." + it.key(), "unknown key");
    }
}

std::uint32_t get_u32(const Json &object, const char *key, const std::string &where, std::uint32_t fallback) {
    if (!object.contains(key)) return fallback;
    std::uint64_t value = 0;
    if (!json_uint(object[key], &value) || value > 0xFFFFFFFFull)
        fault(where + "." + key, "expected an unsigned 32-bit integer");
    return static_cast<std::uint32_t>(value);
}

std::string get_text(const Json &object, const char *key, const std::string &where, const std::string &fallback) {
    if (!object.contains(key)) return fallback;
    if (!object[key].is_string()) fault(where + "." + key, "expected a string");
    return object[key].get<std::string>();
}

std::string default_description(std::uint32_t type) {
    switch (type) {
    case 4: return "VELTA full-speed dual bridge";
    case 6: return "VELTA dual bridge";
    case 7: return "VELTA quad bridge";
    case 8: return "VELTA single bridge";
    default: return "VELTA bridge";
    }
}

void attach_devices(Bus &bus, const Json &devices, const std::string &where) {
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string at = where + ".devices[" + std::to_string(i) + "]";
        try {
            bus.attach(devices[i]);
        } catch (const ConfigFault &e) {
            throw ConfigError(at + (e.has_key ? "." : ": ") + e.what());
        } catch (const std::exception &e) {
            fault(at, e.what());
        }
    }
}

// Board settings of an I2C channel: a diode in series with SCL, SCL wired back to pin 7.
const char *const kI2cBoardKeys[] = {"scl_diode", "scl_return"};

std::unique_ptr<Bus> make_channel_bus(const Json &channel, const std::string &where, bool has_engine) {
    check_keys(channel, where, {"bus", "devices", "location", kI2cBoardKeys[0], kI2cBoardKeys[1]});
    const std::string kind = get_text(channel, "bus", where, "none");
    for (const char *key : kI2cBoardKeys)
        if (kind != "i2c" && channel.contains(key)) fault(where + "." + key, "only an I2C channel takes it");
    const Json devices = channel.contains("devices") ? channel["devices"] : Json::array();
    if (!devices.is_array()) fault(where + ".devices", "expected an array");
    if (kind == "none") {
        if (!devices.empty()) fault(where, "a channel with bus \"none\" takes no devices");
        return std::make_unique<NoneBus>();
    }
    if (!has_engine) fault(where, "this channel carries no engine; its bus must be \"none\"");
    std::unique_ptr<Bus> bus;
    try {
        bus = bus_kinds().make(kind, channel);
    } catch (const ConfigFault &e) {
        throw ConfigError(where + (e.has_key ? "." : ": ") + e.what());
    } catch (const std::exception &e) {
        fault(where + ".bus", e.what());
    }
    attach_devices(*bus, devices, where);
    return bus;
}

// Serials must be unique among bridges (the state file is keyed by them) and among channels
// (the device list shows them): bridge "X" channel A and a bridge "XA" would collide.
struct Serials {
    std::set<std::string> bridges, channels;
};

void add_bridge(Layout &layout, const Json &bridge, std::size_t index, Serials &serials) {
    const std::string where = "bridges[" + std::to_string(index) + "]";
    if (!bridge.is_object()) fault(where, "expected an object");
    check_keys(bridge, where, {"type", "serial", "description", "channels"});
    if (!bridge.contains("type")) fault(where, "missing \"type\"");
    const std::uint32_t type = get_u32(bridge, "type", where, 0);
    char fallback_serial[16];
    std::snprintf(fallback_serial, sizeof fallback_serial, "KVSIM%04u", static_cast<unsigned>(index + 1));
    const std::string serial = get_text(bridge, "serial", where, fallback_serial);
    const std::string description = get_text(bridge, "description", where, default_description(type));
    if (serial.empty()) fault(where + ".serial", "must not be empty");
    if (!serials.bridges.insert(serial).second) fault(where + ".serial", "\"" + serial + "\" is used twice");
    const Json channels = bridge.contains("channels") ? bridge["channels"] : Json::array();
    if (!channels.is_array()) fault(where + ".channels", "expected an array");
    const unsigned count = channels_of_type(type, channels.size());
    if (channels.size() > count)
        fault(where + ".channels", std::to_string(channels.size()) + " channels given, device type " +
                                       std::to_string(type) + " has at most " + std::to_string(count));
    const std::uint32_t location_id = static_cast<std::uint32_t>(index + 1) << 4;
    for (unsigned position = 1; position <= count; ++position) {
        const std::string cwhere = where + ".channels[" + std::to_string(position - 1) + "]";
        const Json channel = position <= channels.size() ? channels[position - 1] : Json::object();
        if (!channel.is_object()) fault(cwhere, "expected an object");
        ChannelInfo info;
        info.type = type;
        info.position_in_bridge = position;
        info.location = get_u32(channel, "location", cwhere, location_id | position);
        info.bridge_serial = serial;
        info.has_engine = carries_engine(type, position);
        const std::string suffix = count > 1 ? std::string(1, static_cast<char>('A' + position - 1)) : "";
        info.serial = serial + suffix;
        info.description = count > 1 ? description + " " + suffix : description;
        if (info.serial.size() >= kSerialField) fault(where + ".serial", "too long for the 16-byte serial field");
        if (info.description.size() >= kDescriptionField)
            fault(where + ".description", "too long for the 64-byte description field");
        if (!serials.channels.insert(info.serial).second)
            fault(where + ".serial", "channel serial \"" + info.serial + "\" collides with another channel's");
        auto bus = make_channel_bus(channel, cwhere, info.has_engine);
        layout.channels.push_back(std::make_unique<Channel>(std::move(info), std::move(bus)));
    }
}

}  // namespace

Layout parse_config(const std::string &text) {
    Json root;
    try {
        root = parse_json(text);
    } catch (const JsonFault &e) {
        throw ConfigError(e.what());
    }
    if (!root.is_object()) fault("top level", "expected an object");
    check_keys(root, "top level", {"wall_clock", "bridges"});
    Layout layout;
    if (root.contains("wall_clock")) {
        if (!root["wall_clock"].is_boolean()) fault("wall_clock", "expected true or false");
        layout.wall_clock = root["wall_clock"].get<bool>();
    }
    if (!root.contains("bridges")) fault("top level", "missing \"bridges\"");
    const Json &bridges = root["bridges"];
    if (!bridges.is_array()) fault("bridges", "expected an array");
    if (bridges.size() > kMaxBridges) fault("bridges", "more than " + std::to_string(kMaxBridges) + " bridges");
    Serials serials;
    for (std::size_t i = 0; i < bridges.size(); ++i) add_bridge(layout, bridges[i], i, serials);
    return layout;
}

}  // namespace kvsim
