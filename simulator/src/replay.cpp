#include "replay.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kvsim {

namespace {

bool tracing() {
    const char *name = std::getenv("KVZUBR_SIM_TRACE");
    return name && *name;
}

}  // namespace

Replay::Replay(std::string path, Simulator &sim) : path_(std::move(path)), owner_(::getpid()) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        unusable_ = true;
        report(std::string("cannot be read: ") + std::strerror(errno));
        return;
    }
    try {
        calls_ = kvrec::read_recording(in);
    } catch (const kvrec::RecordingFault &fault) {
        unusable_ = true;
        report("line " + std::to_string(fault.line) + ": " + fault.what());
        return;
    }
    if (tracing()) trace_ = std::make_unique<ReplayTrace>(sim, calls_);
}

KV_STATUS Replay::serve(const kvrec::Call &call) {
    if (unusable_) return KVSIM_STATUS_BAD_RECORDING;
    if (diverged_) return KVSIM_STATUS_REPLAY_MISMATCH;
    const std::string number = "call " + std::to_string(next_ + 1) + ": ";
    const kvrec::Json args = kvrec::to_json(call.args);
    if (next_ == calls_.size()) {
        diverge(number + "expected the end of the recording, got " + kvrec::describe(call.entry, args));
        return KVSIM_STATUS_REPLAY_MISMATCH;
    }
    const kvrec::RecordedCall &recorded = calls_[next_];
    if (recorded.entry != call.entry || recorded.args != args) {
        diverge(number + kvrec::describe_difference(recorded.entry, recorded.args, call.entry, args) + " (line " +
                std::to_string(recorded.line) + ")");
        return KVSIM_STATUS_REPLAY_MISMATCH;
    }
    try {
        if (!recorded.results.is_null()) call.restore(recorded.results);
    } catch (const kvrec::ShapeFault &fault) {
        // Results that fit the recorded arguments but not the program's pointers (a buffer
        // missing now): the recording cannot serve this program.
        unusable_ = true;
        report("line " + std::to_string(recorded.line) + ": " + fault.what());
        if (trace_) trace_->stop();
        return KVSIM_STATUS_BAD_RECORDING;
    }
    trace(next_++);
    return recorded.status;
}

void Replay::finish() {
    // A forked child that exits shares the recording and the traces, not the session.
    if (::getpid() != owner_) return;
    if (!unusable_ && !diverged_ && next_ < calls_.size())
        report("the program made " + std::to_string(next_) + " of the " + std::to_string(calls_.size()) +
               " recorded calls; the next was " + kvrec::describe(calls_[next_].entry, calls_[next_].args));
    if (trace_) trace_->stop();
}

// The session ends here: the traces show it up to the last call that matched.
void Replay::diverge(const std::string &what) {
    diverged_ = true;
    report(what);
    if (trace_) trace_->stop();
}

// A trace that cannot follow the recording stops; the replay itself goes on.
void Replay::trace(std::size_t index) {
    if (!trace_) return;
    try {
        trace_->follow(index);
    } catch (const std::exception &e) {
        report("the trace stops at call " + std::to_string(index + 1) + ": " + e.what());
        trace_->stop();
    }
}

void Replay::report(const std::string &what) const {
    std::fprintf(stderr, "kvzubr-sim: replay %s: %s\n", path_.c_str(), what.c_str());
    std::fflush(stderr);
}

}  // namespace kvsim
