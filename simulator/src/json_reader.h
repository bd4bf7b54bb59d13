// JSON text into a document, with limits no hostile file gets past: nesting at most 32 levels
// (the document's copies and destruction recurse), no key twice in one object (no silent
// "last one wins"), no number beyond the range of a double.
#pragma once

#include <stdexcept>
#include <string>

#include "bus.h"

namespace kvsim {

constexpr std::size_t kMaxJsonDepth = 32;

// Its text names the JSON path ("top level" for the document) and the fault.
struct JsonFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Json parse_json(const std::string &text);

}  // namespace kvsim
