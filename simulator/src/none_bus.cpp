#include "none_bus.h"

#include <stdexcept>

namespace kvsim {

void NoneBus::attach(const Json &) { throw std::runtime_error("a channel with bus \"none\" takes no devices"); }

}  // namespace kvsim
