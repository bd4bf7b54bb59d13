// The pins of one engine on its channel's virtual timeline: the low pin drive handed to the
// bus, the high pins (which no bus sees), and the trace that records both.
#pragma once

#include <cstdint>

#include "bus.h"
#include "vcd.h"

namespace kvsim {

class Wires {
public:
    explicit Wires(Bus &bus) : bus_(bus) {}

    Picos now() const { return now_; }
    void advance(Picos dt) { advance_to(now_ + dt); }
    // Moves time on; a trace records the changes devices make by themselves on the way.
    void advance_to(Picos t);

    const LowPinDrive &low() const { return low_; }
    // A new low drive at the current time: the bus and the trace see it.
    void drive_low(const LowPinDrive &drive);
    // The bus already holds this drive (after its byte fast path); only our copy follows.
    void adopt_low(const LowPinDrive &drive) { low_ = drive; }
    std::uint8_t sense_low() { return bus_.sense(now_); }
    // Tells the bus which answer bits come next (Bus::answer_bits); a trace sees what it puts out.
    void expect_answer_bits(std::size_t first, std::size_t bits, bool on_falling) {
        bus_.answer_bits(first, bits, on_falling);
        record();
    }

    void set_high(std::uint8_t value, std::uint8_t direction);
    void set_zero_only(std::uint8_t low_mask, std::uint8_t high_mask);
    std::uint8_t high_value() const { return high_value_; }
    std::uint8_t high_direction() const { return high_direction_; }
    std::uint8_t high_zero_only() const { return high_zero_only_; }
    // Driven high pins read their level, inputs and released drive-only-zero pins read 0.
    std::uint8_t high_levels() const { return high_value_ & high_driven(); }

    // Every pin an input, nothing driven (the engine's reset state).
    void release_all();

    void set_trace(VcdWriter *trace);
    bool tracing() const { return trace_ != nullptr; }

private:
    std::uint8_t high_driven() const {
        return static_cast<std::uint8_t>(high_direction_ & ~(high_zero_only_ & high_value_));
    }
    void record();

    Bus &bus_;
    VcdWriter *trace_ = nullptr;
    Picos now_ = 0;
    LowPinDrive low_;
    std::uint8_t high_value_ = 0, high_direction_ = 0, high_zero_only_ = 0;
};

}  // namespace kvsim
