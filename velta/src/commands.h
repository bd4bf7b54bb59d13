// The small subcommands: list, spi transfer, gpio.
#pragma once

#include <string>

#include "channel.h"

namespace velta {

// Every engine channel: velta's index, the tq tools' -c and the channel layer's index (both the
// index plus 1), device type, serial, description, location.
std::string list_channels(bool json);

// Chip-select frames, full duplex, one after the other; returns the bytes each received.
std::vector<Bytes> spi_transfer(const SpiSettings &settings, const std::vector<Bytes> &frames);

// The eight high pins. Opening the channel sets them all to inputs, so a get reads what drives
// them from outside, and a set lasts only until the channel is next opened.
struct PinValue {
    unsigned pin = 0;  // 0 to 7
    bool high = false;
};
// The levels of `pins`, as "4"=active "5"=inactive, or numeric as 1 0, on one line.
std::string gpio_get(unsigned channel, const std::vector<unsigned> &pins, bool numeric);
// Makes `pins` outputs at their values (the others inputs), then keeps the channel open for
// `hold_seconds` (infinite: until SIGINT, SIGTERM or SIGHUP; 0: not at all).
void gpio_set(unsigned channel, const std::vector<PinValue> &pins, double hold_seconds);

}  // namespace velta
