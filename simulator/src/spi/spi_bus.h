// The SPI bus on a channel's low pins: SCK on pin 0, MOSI on pin 1, MISO on pin 2, chip-select
// lines on pins 3 to 7. Each device sits on one chip-select line with its own polarity and SPI
// mode; while selected it samples MOSI and drives MISO on the edges of its mode.
//
// Undriven lines: a chip-select line with a device on it rests at that device's inactive level
// (boards pull chip-selects inactive); every other line that nobody drives reads 0, as with
// pull-downs. MISO with no device selected therefore reads 0. An engine output on pin 2 wins over
// any device; several selected devices give the OR of their outputs.
//
// A device that takes modes 0 and 3 both (SpiDevice::takes_modes_0_and_3) picks its clock
// polarity from the clock level at the moment its chip-select becomes active.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "spi_device.h"

namespace kvsim {

class SpiBus : public Bus {
public:
    void drive(Picos t, const LowPinDrive &drive) override;
    std::uint8_t sense(Picos t) override;
    bool shift_bytes(Picos *t, Picos half_period, const ShiftForm &form, const LowPinDrive &drive,
                     const std::uint8_t *out, std::uint8_t *in, std::size_t count) override;
    std::string pin_name(int pin) const override;
    Wiring wiring() const override;
    void attach(const Json &device) override;
    Device *find(const std::string &name) override;
    std::vector<Device *> devices() override;

    // Attaches an already built device; throws ConfigFault on a bad placement.
    void attach(std::unique_ptr<SpiDevice> device, int cs_pin, unsigned mode, bool active_low,
                bool modes_0_and_3 = false);

private:
    struct Slot {
        std::unique_ptr<SpiDevice> device;
        std::uint8_t cs_mask = 0;
        bool active_low = true;
        bool cpol = false, cpha = false;
        bool modes_0_and_3 = false;  // polarity and phase follow the idle clock at select
        bool selected = false;
        unsigned bits_in = 0;        // bits of the byte arriving on MOSI
        std::uint8_t shift_in = 0;
        std::uint8_t out = 0;        // byte being shifted out on MISO
        unsigned bits_out = 0;       // bits of `out` already past
        bool fetch_due = false;      // `out` is spent; the next one is asked when needed
        bool miso = false;

        bool samples_on_falling() const { return cpol != cpha; }
        bool is_leading(bool rising) const { return rising != cpol; }
    };

    std::uint8_t levels_from(const LowPinDrive &drive) const;
    void clock_edge(Slot &slot, Picos t, bool rising, bool mosi);
    void begin_frame(Slot &slot, Picos t);
    void end_frame(Slot &slot, Picos t);
    void present_bit(Slot &slot, Picos t);
    void advance_bit(Slot &slot);
    bool miso_level() const;
    Slot *only_selected(bool *none);
    bool fast_path_fits(const Slot &slot, const ShiftForm &form, const LowPinDrive &drive) const;

    std::vector<Slot> slots_;
    LowPinDrive drive_;
    std::uint8_t levels_ = 0;  // lines as the engine drives and the pulls leave them (MISO apart)
};

}  // namespace kvsim
