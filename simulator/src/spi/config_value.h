// Reading numbers and flags from a device's configuration object, with defaults and range checks.
#pragma once

#include <cstdint>
#include <string>

#include "../bus.h"

namespace kvsim {

// The value of `key`, or `fallback` when absent; throws std::runtime_error when it is not an
// integer in [low, high].
std::uint64_t config_uint(const Json &config, const std::string &key, std::uint64_t fallback, std::uint64_t low,
                          std::uint64_t high);
bool config_bool(const Json &config, const std::string &key, bool fallback);

}  // namespace kvsim
