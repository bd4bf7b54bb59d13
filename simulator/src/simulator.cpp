#include "simulator.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "config.h"
#include "fault_env.h"
#include "state_store.h"

namespace kvsim {

Simulator &Simulator::instance() {
    // Never destroyed: the unload hook still saves state through it.
    static Simulator *simulator = new Simulator;
    return *simulator;
}

std::recursive_mutex &Simulator::lock() {
    static std::recursive_mutex *mutex = new std::recursive_mutex;
    return *mutex;
}

bool Simulator::load_text(const std::string &text, const std::string &source) {
    try {
        Layout layout = parse_config(text);
        install(std::move(layout.channels), layout.wall_clock);
        return true;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kvzubr-sim: %s: %s\n", source.c_str(), e.what());
        install({}, true);
        return false;
    }
}

bool Simulator::load_file(const std::string &path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "kvzubr-sim: configuration %s: cannot be read: %s\n", path.c_str(), std::strerror(errno));
        install({}, true);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return load_text(text.str(), "configuration " + path);
}

bool Simulator::load_from_environment() {
    const char *path = std::getenv("KVZUBR_SIM_CONFIG");
    if (path && *path) return load_file(path);
    return load_text(default_config(), "built-in configuration");
}

void Simulator::ensure_loaded() {
    if (loaded_) return;
    load_from_environment();
    plan_faults_from_environment(*this);
}

void Simulator::install(std::vector<std::unique_ptr<Channel>> channels, bool wall_clock) {
    loaded_ = true;
    channels_ = std::move(channels);
    handles_.clear();
    wall_clock_ = wall_clock;
    clear_faults();
    for (unsigned &c : calls_) c = 0;
    load_state();
}

Channel *Simulator::channel(std::size_t position) {
    return position < channels_.size() ? channels_[position].get() : nullptr;
}

Channel *Simulator::by_handle(KV_HANDLE handle) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : channels_[it->second].get();
}

KV_HANDLE Simulator::handle_of(const Channel *channel) const {
    for (const auto &entry : handles_)
        if (channels_[entry.second].get() == channel) return reinterpret_cast<KV_HANDLE>(entry.first);
    return nullptr;
}

KV_STATUS Simulator::open(std::uint32_t position, KV_HANDLE *handle) {
    Channel *c = channel(position);
    if (!c) return KVSIM_STATUS_NOT_FOUND;
    if (c->is_open()) return KVSIM_STATUS_ALREADY_OPEN;
    if (!c->trace()) open_environment_trace(position, *c);
    c->open(wall_clock_);
    const std::uintptr_t token = next_handle_;
    next_handle_ += 0x10;  // never reused, so a stale handle stays refused
    handles_[token] = position;
    *handle = reinterpret_cast<KV_HANDLE>(token);
    return STATUS_SUCCESS;
}

KV_STATUS Simulator::close(KV_HANDLE handle) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end()) return KVSIM_STATUS_BAD_HANDLE;
    channels_[it->second]->close();
    handles_.erase(it);
    save_state();
    return STATUS_SUCCESS;
}

// The first channel opened in the process traces to the named file, later ones beside it.
void Simulator::open_environment_trace(std::size_t position, Channel &c) {
    const char *name = std::getenv("KVZUBR_SIM_TRACE");
    if (!name || !*name || !c.engine()) return;
    std::string path = name;
    if (traces_opened_++ > 0) path += "." + std::to_string(position);
    std::array<std::string, 8> names;
    for (int pin = 0; pin < 8; ++pin) {
        names[pin] = c.bus().pin_name(pin);
        if (names[pin].empty()) names[pin] = "pin" + std::to_string(pin);
    }
    try {
        c.set_trace(std::make_unique<VcdWriter>(path, names));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kvzubr-sim: %s\n", e.what());
    }
}

CallFault Simulator::on_call(kvsim_entry entry) {
    CallFault fault;
    const unsigned call = ++calls_[entry];
    auto &plans = planned_[entry];
    for (auto it = plans.begin(); it != plans.end();) {
        if (it->call != call) {
            ++it;
            continue;
        }
        if (it->is_short) {
            fault.limited = true;
            fault.limit = it->limit;
        } else {
            fault.status = it->status;
        }
        it = plans.erase(it);
    }
    return fault;
}

void Simulator::fail_call(kvsim_entry entry, unsigned nth, KV_STATUS status) {
    planned_[entry].push_back({calls_[entry] + nth, status, false, 0});
}

void Simulator::short_transfer(kvsim_entry entry, unsigned nth, std::uint32_t count) {
    planned_[entry].push_back({calls_[entry] + nth, 0, true, count});
}

void Simulator::clear_faults() {
    for (auto &plans : planned_) plans.clear();
}

namespace {

std::string device_key(const ChannelInfo &info, const Device &device) {
    return info.bridge_serial + '\n' + std::to_string(info.position_in_bridge) + '\n' + device.name();
}

}  // namespace

// State is keyed by bridge serial, channel position within the bridge and device name.
void Simulator::load_state() {
    baseline_.clear();
    const std::string path = state_file_path();
    if (path.empty()) return;
    const Json state = read_state_file(path, true);
    for (auto &c : channels_) {
        const auto &info = c->info();
        auto bridge = state.find(info.bridge_serial);
        const bool has_bridge = bridge != state.end() && bridge->is_object();
        auto channel = has_bridge ? bridge->find(std::to_string(info.position_in_bridge)) : state.end();
        const bool has_channel = has_bridge && channel != bridge->end() && channel->is_object();
        for (Device *device : c->bus().devices()) {
            auto saved = has_channel ? channel->find(device->name()) : state.end();
            if (has_channel && saved != channel->end()) {
                try {
                    device->load_state(*saved);
                } catch (const std::exception &e) {
                    std::fprintf(stderr, "kvzubr-sim: state of device %s ignored: %s\n", device->name().c_str(),
                                 e.what());
                }
            }
            baseline_[device_key(info, *device)] = device->save_state();
        }
    }
}

bool Simulator::save_state() {
    const std::string path = state_file_path();
    if (path.empty()) return true;
    try {
        Json state = read_state_file(path, false);
        std::map<std::string, Json> changed;
        for (auto &c : channels_) {
            const auto &info = c->info();
            for (Device *device : c->bus().devices()) {
                Json saved = device->save_state();
                const std::string key = device_key(info, *device);
                if (saved.is_null() || saved == baseline_[key]) continue;
                Json &bridge = state[info.bridge_serial];
                if (!bridge.is_object()) bridge = Json::object();
                Json &channel = bridge[std::to_string(info.position_in_bridge)];
                if (!channel.is_object()) channel = Json::object();
                channel[device->name()] = saved;
                changed[key] = std::move(saved);
            }
        }
        if (changed.empty()) return true;
        if (write_state_file(path, state)) {
            for (auto &entry : changed) baseline_[entry.first] = std::move(entry.second);
            return true;
        }
    } catch (const std::exception &) {
    }
    std::fprintf(stderr, "kvzubr-sim: state file %s could not be written\n", path.c_str());
    return false;
}

}  // namespace kvsim
