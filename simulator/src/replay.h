// Serving a recording (KVZUBR_SIM_REPLAY) in place of the simulated bridge: each call must be
// the recorded one, and the recorded results and status come back. The first call that differs
// is named on standard error and fails, as does every call after it. With KVZUBR_SIM_TRACE set
// the session also runs through the engines and is traced (ReplayTrace) up to that call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "recording_file.h"
#include "replay_trace.h"

namespace kvsim {

class Replay {
public:
    // Reads the whole recording; a fault in it is named (with its line) and refuses every call.
    Replay(std::string path, Simulator &sim);
    KV_STATUS serve(const kvrec::Call &call);
    // At unload: names a program that stopped before the recording's end; ends the traces.
    void finish();

private:
    void report(const std::string &what) const;
    void diverge(const std::string &what);
    void trace(std::size_t index);

    std::string path_;
    std::vector<kvrec::RecordedCall> calls_;
    std::unique_ptr<ReplayTrace> trace_;
    std::size_t next_ = 0;
    bool unusable_ = false;
    bool diverged_ = false;
    int owner_;  // the process that read the recording
};

}  // namespace kvsim
