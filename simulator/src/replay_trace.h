// A replayed session run through the simulator's own engines, so that KVZUBR_SIM_TRACE writes
// the trace a simulated run writes. Every recorded write is executed; purges, resets, bit modes,
// opens and closes are followed; the data-in line plays the recorded answers back (ReplayBus).
// What the program is given still comes from the recording alone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "channel.h"
#include "recording_file.h"
#include "replay_bus.h"

namespace kvsim {

class Simulator;

class ReplayTrace {
public:
    // `calls` outlives this.
    ReplayTrace(Simulator &sim, const std::vector<kvrec::RecordedCall> &calls);
    // Runs the recorded call at `index`, which the program has just made as recorded.
    void follow(std::size_t index);
    // Ends every trace where its channel's time stands; nothing runs after.
    void stop();

private:
    // One channel by its list position, kept across closing and opening again as a live one is.
    struct Replayed {
        AnswerStream answers;
        std::unique_ptr<Channel> channel;
        std::uint64_t opened_us = 0;
    };

    void scan();
    void open(std::size_t index);
    Replayed *by_handle(const kvrec::Json &args);

    Simulator &sim_;
    const std::vector<kvrec::RecordedCall> &calls_;
    std::map<std::uint64_t, Replayed> positions_;
    std::map<std::uint64_t, Replayed *> handles_;
    std::set<std::size_t> engine_opens_;  // KV_Open calls whose channel the session puts in engine mode
    std::map<std::size_t, std::uint32_t> types_;  // device type by list position, as last listed
    bool stopped_ = false;
};

}  // namespace kvsim
