// An SPI device on the simulated bus. The bus knows the pins and the edges of the device's
// mode; the device sees whole bytes of one chip-select frame.
#pragma once

#include <cstdint>

#include "../registry.h"

namespace kvsim {

class SpiDevice : public Device {
public:
    // Chip-select became active at time t: a frame begins.
    virtual void frame_begin(Picos t) = 0;
    // The byte the device shifts out next, asked when its first bit must go onto MISO (at
    // frame begin or after the previous byte); while the device is selected and no clock
    // runs, MISO shows that byte's current bit. A device that shows a status level on MISO
    // outside a command returns 0xFF or 0x00 here.
    virtual std::uint8_t next_out(Picos t) = 0;
    // A whole byte arrived on MOSI.
    virtual void byte_in(Picos t, std::uint8_t value) = 0;
    // Chip-select went inactive: the frame ends. `bits` (0..7) bits of a last, partial byte
    // arrived, in the low bits of `partial`.
    virtual void frame_end(Picos t, unsigned bits, std::uint8_t partial) = 0;
    // True for a device that takes modes 0 and 3 alike (as serial memories do): it picks its
    // clock polarity from the clock level at the moment its chip-select becomes active.
    virtual bool takes_modes_0_and_3() const { return false; }
};

// Device kinds by configuration name ("spi-memory", "spi-test", "torqa"). The factory gets the
// device's configuration object; it throws std::runtime_error on a malformed one.
using SpiDeviceKinds = Registry<SpiDevice, DeviceConfig>;
SpiDeviceKinds &spi_device_kinds();
using SpiDeviceRegistrar = Registrar<SpiDevice, DeviceConfig, spi_device_kinds>;

}  // namespace kvsim
