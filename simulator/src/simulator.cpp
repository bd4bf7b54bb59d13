#include "simulator.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

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
    std::string text, fault = "cannot be read: no such file";
    if (read_small_file(path, kMaxConfigSize, &text, &fault) != FileRead::Read) {
        std::fprintf(stderr, "kvzubr-sim: configuration %s: %s\n", path.c_str(), fault.c_str());
        install({}, true);
        return false;
    }
    return load_text(text, "configuration " + path);
}

bool Simulator::load_from_environment() {
    const char *path = std::getenv("KVZUBR_SIM_CONFIG");
    if (path && *path) return load_file(path);
    return load_text(default_config(), "built-in configuration");
}

void Simulator::ensure_loaded() {
    if (loaded_) return;
    const char *recording = std::getenv("KVZUBR_SIM_REPLAY");
    if (recording && *recording) replay_ = std::make_unique<Replay>(recording, *this);
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

std::string entry_name(const ChannelInfo &info, const Device &device) {
    return info.bridge_serial + "/" + std::to_string(info.position_in_bridge) + "/" + device.name();
}

// The entry of a device in the state file, keyed by bridge serial, channel position within the
// bridge and device name; null when absent, or when `create` made the objects leading to it.
Json *state_entry(Json &state, const ChannelInfo &info, const Device &device, bool create) {
    Json *at = &state;
    for (const std::string &key : {info.bridge_serial, std::to_string(info.position_in_bridge), device.name()}) {
        if (!at->is_object()) throw std::runtime_error("expected an object on the way to it");
        auto it = at->find(key);
        if (it == at->end()) {
            if (!create) return nullptr;
            it = at->emplace(key, key == device.name() ? Json() : Json::object()).first;
        }
        at = &*it;
    }
    return at;
}

void warn_entry(const std::string &path, const std::string &entry, const std::string &what) {
    std::fprintf(stderr,
                 "kvzubr-sim: state file %s: entry %s has the wrong shape (%s); the device starts in factory state "
                 "and its state is not saved\n",
                 path.c_str(), entry.c_str(), what.c_str());
}

}  // namespace

// The file is read once when a configuration loads; a save reads it again only when there
// is something to write.
void Simulator::load_state() {
    state_path_ = state_file_path();
    state_usable_ = !state_path_.empty();
    unsaved_.clear();
    Json state = Json::object();
    std::string fault;
    if (state_usable_ && !read_state_file(state_path_, &state, &fault)) {
        std::fprintf(stderr,
                     "kvzubr-sim: state file %s is unreadable (%s); devices start in factory state and nothing is saved to it\n",
                     state_path_.c_str(), fault.c_str());
        state_usable_ = false;
    }
    bool older_form = false;
    for (auto &c : channels_) {
        for (Device *device : c->bus().devices()) {
            device->forget_changes();
            try {
                if (Json *entry = state_entry(state, c->info(), *device, false)) device->load_state(*entry);
            } catch (const std::exception &e) {
                warn_entry(state_path_, entry_name(c->info(), *device), e.what());
                unsaved_.insert(device);
            }
            older_form = older_form || device->has_changes();
        }
    }
    // Entries loaded from the older, slower form count as changed: they are rewritten now, once.
    if (older_form) save_state();
}

// Read-merge-write under the lock: the file's current content, with only the bytes this
// process changed patched in, replaces the file.
bool Simulator::save_state() {
    std::vector<std::pair<const ChannelInfo *, Device *>> changed;
    for (auto &c : channels_)
        for (Device *device : c->bus().devices())
            if (device->has_changes() && !unsaved_.count(device)) changed.emplace_back(&c->info(), device);
    if (!state_usable_ || changed.empty()) return true;
    StateLock lock(state_path_);
    Json state;
    std::string fault = "cannot be locked";
    if (!lock.held() || !read_state_file(state_path_, &state, &fault)) {
        std::fprintf(stderr, "kvzubr-sim: state file %s: %s; changes are not saved\n", state_path_.c_str(),
                     fault.c_str());
        return false;
    }
    std::vector<Device *> merged;
    for (auto &[info, device] : changed) {
        try {
            device->merge_state(*state_entry(state, *info, *device, true));
            merged.push_back(device);
        } catch (const std::exception &e) {
            warn_entry(state_path_, entry_name(*info, *device), e.what());
            unsaved_.insert(device);
        }
    }
    if (merged.empty()) return true;
    if (!write_state_file(state_path_, state)) {
        std::fprintf(stderr, "kvzubr-sim: state file %s could not be written\n", state_path_.c_str());
        return false;
    }
    for (Device *device : merged) device->forget_changes();
    return true;
}

}  // namespace kvsim
