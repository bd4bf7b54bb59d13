// Devices' state kept between processes in one JSON file, replaced atomically.
#pragma once

#include <string>

#include "bus.h"

namespace kvsim {

// The state file's path: $KVZUBR_SIM_STATE, or a per-user default; "" means no state file.
std::string state_file_path();
// The stored state; a missing file gives an empty object, an unreadable or malformed one too,
// with a one-line warning when `warn` is set.
Json read_state_file(const std::string &path, bool warn);
// Writes through a temporary file in the same directory and a rename.
bool write_state_file(const std::string &path, const Json &state);

}  // namespace kvsim
