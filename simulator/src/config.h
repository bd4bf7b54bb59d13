// Bridges and channels from a JSON configuration.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "channel.h"

namespace kvsim {

struct Layout {
    bool wall_clock = true;
    std::vector<std::unique_ptr<Channel>> channels;  // in device-list order
};

struct ConfigError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws ConfigError naming the fault (syntax, type, unknown kind, bad value).
Layout parse_config(const std::string &text);
const char *default_config();

}  // namespace kvsim
