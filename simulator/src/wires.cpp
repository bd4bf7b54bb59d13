#include "wires.h"

#include <algorithm>

namespace kvsim {

void Wires::advance_to(Picos t) {
    if (t <= now_) return;
    for (Picos at; trace_ && (at = bus_.next_change()) <= t;) {
        now_ = std::max(now_, at);
        record();
        if (bus_.next_change() == at) break;
    }
    now_ = t;
}

void Wires::drive_low(const LowPinDrive &drive) {
    low_ = drive;
    bus_.drive(now_, low_);
    record();
}

void Wires::set_high(std::uint8_t value, std::uint8_t direction) {
    high_value_ = value;
    high_direction_ = direction;
    record();
}

void Wires::set_zero_only(std::uint8_t low_mask, std::uint8_t high_mask) {
    high_zero_only_ = high_mask;
    LowPinDrive drive = low_;
    drive.zero_only = low_mask;
    drive_low(drive);
}

void Wires::release_all() {
    high_value_ = high_direction_ = high_zero_only_ = 0;
    drive_low(LowPinDrive{});
}

void Wires::set_trace(VcdWriter *trace) {
    trace_ = trace;
    record();
}

void Wires::record() {
    if (trace_) trace_->record(now_, bus_.sense(now_), high_levels(), high_driven());
}

}  // namespace kvsim
