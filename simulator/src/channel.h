// One channel of a simulated bridge: what the device list shows of it, its bus, its engine
// (on channels that carry one), the host's byte log and the answer queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bus.h"
#include "byte_queue.h"
#include "engine.h"
#include "vcd.h"

namespace kvsim {

struct ChannelInfo {
    std::uint32_t type = 0;
    std::uint32_t location = 0;
    unsigned position_in_bridge = 1;  // 1 for the first channel
    std::string bridge_serial;
    std::string serial;
    std::string description;
    bool has_engine = false;
};

class Channel {
public:
    Channel(ChannelInfo info, std::unique_ptr<Bus> bus);

    const ChannelInfo &info() const { return info_; }
    Bus &bus() { return *bus_; }
    Engine *engine() { return engine_.get(); }

    // With the wall clock on, virtual time is moved on before each write to at least the host's
    // time since the channel opened, so the host's pauses show on the wires.
    void open(bool wall_clock);
    // The host's time since the channel opened, as a replayed recording gives it: followed in
    // place of the real time from now on.
    void set_replayed_time(Picos since_open) {
        replayed_time_ = since_open;
        replaying_ = true;
    }
    void close();
    bool is_open() const { return open_; }

    // In engine mode executes the bytes; logs those taken and returns their count, fewer than
    // `count` when the engine stalled on a full answer queue.
    std::size_t write(const std::uint8_t *bytes, std::size_t count);
    std::size_t read(std::uint8_t *out, std::size_t count) { return answers_.pop(out, count); }
    std::size_t pending() const { return answers_.size(); }
    ByteQueue &answers() { return answers_; }
    void purge(bool receive, bool transmit);
    // False when the mode is not offered on this channel.
    bool set_bit_mode(std::uint8_t mode);
    std::uint8_t bit_mode() const { return bit_mode_; }

    const std::vector<std::uint8_t> &log() const { return log_; }
    void clear_log() { log_.clear(); }

    void set_trace(std::unique_ptr<VcdWriter> trace);
    VcdWriter *trace() { return trace_.get(); }

private:
    void follow_wall_clock();

    ChannelInfo info_;
    std::unique_ptr<Bus> bus_;
    ByteQueue answers_;
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<VcdWriter> trace_;
    std::vector<std::uint8_t> log_;
    bool open_ = false;
    bool wall_clock_ = false;
    std::uint8_t bit_mode_ = 0;
    std::chrono::steady_clock::time_point opened_at_;
    Picos opened_at_virtual_ = 0;
    bool replaying_ = false;
    Picos replayed_time_ = 0;
};

}  // namespace kvsim
