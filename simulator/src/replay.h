// Serving a recording (KVZUBR_SIM_REPLAY) in place of the simulated bridge: each call must be
// the recorded one, and the recorded results and status come back. The first call that differs
// is named on standard error and fails, as does every call after it.
#pragma once

#include <string>
#include <vector>

#include "recording_file.h"

namespace kvsim {

class Replay {
public:
    // Reads the whole recording; a fault in it is named (with its line) and refuses every call.
    explicit Replay(std::string path);
    KV_STATUS serve(const kvrec::Call &call);
    // At unload: names a program that stopped before the recording's end.
    void finish() const;

private:
    void report(const std::string &what) const;

    std::string path_;
    std::vector<kvrec::RecordedCall> calls_;
    std::size_t next_ = 0;
    bool unusable_ = false;
    bool diverged_ = false;
};

}  // namespace kvsim
