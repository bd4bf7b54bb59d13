// A recording file as a replay reads it: any content is read whole or refused with the line at
// fault, never crashes, and what is read describes each call again without fault.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "recording_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char *>(data), size));
    try {
        for (const kvrec::RecordedCall &call : kvrec::read_recording(in)) {
            if (call.line < 2) __builtin_trap();  // a call is never the header line
            kvrec::describe(call.entry, call.args);
        }
    } catch (const kvrec::RecordingFault &fault) {
        if (fault.line == 0) __builtin_trap();  // a refusal names a line of the file
    }
    return 0;
}
