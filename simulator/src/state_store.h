// Files the simulator reads and the state file it keeps devices' state in between processes.
#pragma once

#include <string>

#include "bus.h"

namespace kvsim {

constexpr std::size_t kMaxConfigSize = 16u << 20;
constexpr std::size_t kMaxStateSize = std::size_t{1} << 30;

enum class FileRead { Read, Missing, Failed };
// Reads a regular file of at most `limit` bytes. Failed leaves the reason in `fault` ("not a
// regular file", "too large ...", or the system's reason).
FileRead read_small_file(const std::string &path, std::size_t limit, std::string *text, std::string *fault);

// The state file's path: $KVZUBR_SIM_STATE, or a per-user default; "" means no state file.
std::string state_file_path();
// The stored state, devices' byte images as binary values: an empty object for a missing file;
// false with `fault` set for one that cannot be read or is not a JSON object.
bool read_state_file(const std::string &path, Json *state, std::string *fault);
// Writes through a temporary file in the same directory, flushed to disk, which then replaces
// the file in one step. The binary values are moved out of `state` into the file.
bool write_state_file(const std::string &path, Json &state);

// Holds the advisory lock of a state file while alive: an exclusive lock on "<path>.lock", a
// file that stays in place, since the state file itself is replaced by every save.
class StateLock {
public:
    explicit StateLock(const std::string &path);
    ~StateLock();
    StateLock(const StateLock &) = delete;
    StateLock &operator=(const StateLock &) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace kvsim
