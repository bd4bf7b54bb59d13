// velta decode: an engine command stream by name. The commands come from the engine
// vocabulary's own table (velta_engine.h), their answers from a recording where there is one, and
// above them the bus they make: SPI frames, I2C transactions, pin changes and clock settings.
#pragma once

#include <string>

#include "common.h"

namespace velta {

// How the input is read: hex text, or bytes as they are (a binary stream such as the
// simulator's engine log). A recording is known by its header line either way.
enum class DecodeInput { Binary, Hex };

// The decoded stream as text, or as one JSON document with `json`. `name` names the input in
// messages. Throws Failure for input that cannot be read as it claims to be (bad hex text, a
// corrupt recording line).
std::string decode_stream(const Bytes &input, DecodeInput how, bool json, const std::string &name);

}  // namespace velta
