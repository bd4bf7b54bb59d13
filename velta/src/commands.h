// The small subcommands: list, spi transfer, gpio.
#pragma once

#include <string>

#include "channel.h"

namespace velta {

// Every engine channel: index, channel-layer index, device type, serial, description, location.
std::string list_channels(bool json);

// Chip-select frames, full duplex, one after the other; returns the bytes each received.
std::vector<Bytes> spi_transfer(const SpiSettings &settings, const std::vector<Bytes> &frames);

// The high pins: their levels as "0x.." and a line, and setting direction (1 = output) and value.
std::string gpio_get(unsigned channel);
void gpio_set(unsigned channel, unsigned direction, unsigned value);

}  // namespace velta
