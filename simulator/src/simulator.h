// The simulated driver's process-wide state: the channels of the loaded configuration, the
// live handles, injected faults and call counts. Every entry point holds the lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "channel.h"
#include "kvsim.h"
#include "replay.h"

namespace kvsim {

struct CallFault {
    KV_STATUS status = 0;
    bool limited = false;
    std::uint32_t limit = 0;
};

class Simulator {
public:
    static Simulator &instance();
    // Loads the configuration named by KVZUBR_SIM_CONFIG (or the default) unless one is loaded.
    // Loading happens on first use, after every bus kind of the library has registered.
    void ensure_loaded();
    static std::recursive_mutex &lock();

    // Replace every channel; on a fault, print it on stderr and leave no bridges.
    bool load_text(const std::string &text, const std::string &source);
    bool load_file(const std::string &path);
    bool load_from_environment();
    // The recording named by KVZUBR_SIM_REPLAY, served in place of the bridges; null without.
    Replay *replay() { return replay_.get(); }
    bool wall_clock() const { return wall_clock_; }
    // Traces the channel at a list position to KVZUBR_SIM_TRACE, if set and it has an engine:
    // the first channel opened in the process to the named file, later ones beside it.
    void open_environment_trace(std::size_t position, Channel &channel);

    std::size_t channel_count() const { return channels_.size(); }
    Channel *channel(std::size_t position);
    Channel *by_handle(KV_HANDLE handle);
    KV_HANDLE handle_of(const Channel *channel) const;
    KV_STATUS open(std::uint32_t position, KV_HANDLE *handle);
    KV_STATUS close(KV_HANDLE handle);

    // Counts the call and returns the fault injected for it, if any.
    CallFault on_call(kvsim_entry entry);
    void fail_call(kvsim_entry entry, unsigned nth, KV_STATUS status);
    void short_transfer(kvsim_entry entry, unsigned nth, std::uint32_t count);
    void clear_faults();
    unsigned call_count(kvsim_entry entry) const { return calls_[entry]; }

    // Merges the state of the devices that changed since it was loaded or last saved into the
    // state file; false when the file could not be read, locked or written.
    bool save_state();

private:
    Simulator() = default;
    void install(std::vector<std::unique_ptr<Channel>> channels, bool wall_clock);
    void load_state();

    struct Planned {
        unsigned call;
        KV_STATUS status;
        bool is_short;
        std::uint32_t limit;
    };

    std::vector<std::unique_ptr<Channel>> channels_;
    std::map<std::uintptr_t, std::size_t> handles_;  // live handle -> list position
    std::uintptr_t next_handle_ = 0x1000;
    bool wall_clock_ = true;
    bool loaded_ = false;
    unsigned calls_[KVSIM_ENTRY_COUNT] = {};
    std::vector<Planned> planned_[KVSIM_ENTRY_COUNT];
    unsigned traces_opened_ = 0;
    std::string state_path_;
    std::unique_ptr<Replay> replay_;
    bool state_usable_ = false;       // the state file was readable when the configuration loaded
    std::set<const Device *> unsaved_;  // devices whose entry had the wrong shape
};

}  // namespace kvsim
