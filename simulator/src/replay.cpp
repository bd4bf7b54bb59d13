#include "replay.h"

#include <cstdio>
#include <fstream>

namespace kvsim {

Replay::Replay(std::string path) : path_(std::move(path)) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        unusable_ = true;
        report("cannot be read");
        return;
    }
    try {
        calls_ = kvrec::read_recording(in);
    } catch (const kvrec::RecordingFault &fault) {
        unusable_ = true;
        report("line " + std::to_string(fault.line) + ": " + fault.what());
    }
}

KV_STATUS Replay::serve(const kvrec::Call &call) {
    if (unusable_) return KVSIM_STATUS_BAD_RECORDING;
    if (diverged_) return KVSIM_STATUS_REPLAY_MISMATCH;
    const std::string number = "call " + std::to_string(next_ + 1) + ": ";
    const kvrec::Json args = kvrec::to_json(call.args);
    if (next_ == calls_.size()) {
        diverged_ = true;
        report(number + "expected the end of the recording, got " + kvrec::describe(call.entry, args));
        return KVSIM_STATUS_REPLAY_MISMATCH;
    }
    const kvrec::RecordedCall &recorded = calls_[next_];
    if (recorded.entry != call.entry || recorded.args != args) {
        diverged_ = true;
        report(number + kvrec::describe_difference(recorded.entry, recorded.args, call.entry, args) +
               " (line " + std::to_string(recorded.line) + ")");
        return KVSIM_STATUS_REPLAY_MISMATCH;
    }
    ++next_;
    if (!recorded.results.is_null()) call.restore(recorded.results);
    return recorded.status;
}

void Replay::finish() const {
    if (!unusable_ && !diverged_ && next_ < calls_.size())
        report("the program made " + std::to_string(next_) + " of the " + std::to_string(calls_.size()) +
               " recorded calls; the next was " + kvrec::describe(calls_[next_].entry, calls_[next_].args));
}

void Replay::report(const std::string &what) const {
    std::fprintf(stderr, "kvzubr-sim: replay %s: %s\n", path_.c_str(), what.c_str());
    std::fflush(stderr);
}

}  // namespace kvsim
