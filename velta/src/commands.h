// The small subcommands: list, spi transfer, gpio.
#pragma once

#include <string>

#include "channel.h"

namespace velta {

// Every engine channel: index, channel-layer index, device type, serial, description, location.
std::string list_channels(bool json);

// One chip-select frame, full duplex; returns the bytes received.
Bytes spi_transfer(const SpiSettings &settings, const Bytes &out);

// The high pins: their levels as "0x.." and a line, and setting direction (1 = output) and value.
std::string gpio_get(unsigned channel);
void gpio_set(unsigned channel, unsigned direction, unsigned value);

}  // namespace velta
