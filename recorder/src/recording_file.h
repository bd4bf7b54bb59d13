// The recording file: JSON lines, one header, one line per driver call, one closing line
// (docs/recording.md). Written by the recording driver, read back by the simulated driver's
// replay.
#pragma once

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "call_shape.h"

namespace kvrec {

struct RecordedCall {
    unsigned line = 0;
    std::uint64_t micros = 0;  // since the first call
    kvsim_entry entry = KVSIM_GetLibraryVersion;
    Json args;
    KV_STATUS status = 0;
    Json results;  // null when the call kept none
};

// Names the line of the file at fault (1 for the first).
struct RecordingFault : std::runtime_error {
    RecordingFault(unsigned at, const std::string &what) : std::runtime_error(what), line(at) {}
    unsigned line;
};

std::string header_line(const std::string &driver);
// Appends the call's line to `line`.
void append_call_line(std::string &line, unsigned number, std::uint64_t micros, const Call &call,
                      KV_STATUS status);
std::string closing_line(unsigned calls);

// Reads a whole recording, checking every line; throws RecordingFault at the first fault,
// including a recording cut short (no closing line, or a last line without its end).
std::vector<RecordedCall> read_recording(std::istream &in);

}  // namespace kvrec
