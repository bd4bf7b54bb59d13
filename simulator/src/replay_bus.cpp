#include "replay_bus.h"

#include <algorithm>
#include <stdexcept>

#include "velta_engine.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kClock = VELTA_PIN_CLOCK;
constexpr std::uint8_t kDataOut = VELTA_PIN_DATA_OUT;
constexpr std::uint8_t kDataIn = VELTA_PIN_DATA_IN;
constexpr std::uint8_t kClockReturn = VELTA_PIN_CLOCK_RETURN;

}  // namespace

ReplayBus::ReplayBus(const Bus *board, const AnswerStream &answers) : answers_(answers) {
    if (!board) return;
    for (int pin = 0; pin < 8; ++pin) names_[pin] = board->pin_name(pin);
    wiring_ = board->wiring();
}

void ReplayBus::attach(const Json &) { throw std::runtime_error("a replayed channel takes no devices"); }

std::uint8_t ReplayBus::resting() const {
    const std::uint8_t driven = driven_pins(drive_);
    return static_cast<std::uint8_t>((drive_.value & driven) | (wiring_.pulled_up & ~driven));
}

bool ReplayBus::clock_line() const {
    return wiring_.open_drain ? !pulls_low(drive_, kClock) : (resting() & kClock) != 0;
}

void ReplayBus::drive(Picos, const LowPinDrive &drive) {
    const bool before = clock_line();
    drive_ = drive;
    const bool high = clock_line();
    if (!armed_ || before == high) return;
    if (high != on_falling_) {
        ++sampled_;  // the engine took the bit before this edge
    } else if (sampled_ >= bits_) {
        armed_ = driving_ = false;
    } else if (shown_ == sampled_) {
        show(shown_++);
    }
}

std::uint8_t ReplayBus::sense(Picos) {
    const std::uint8_t driven = driven_pins(drive_);
    std::uint8_t levels = resting();
    if (wiring_.open_drain) {
        const bool sda = !pulls_low(drive_, kDataOut) && !pulls_low(drive_, kDataIn) &&
                         (drives_high(drive_, kDataOut) || drives_high(drive_, kDataIn) || !driving_ || level_);
        levels = static_cast<std::uint8_t>((levels & ~(kClock | kDataOut | kDataIn)) |
                                           (pulls_low(drive_, kClock) ? 0 : kClock) | (sda ? kDataOut | kDataIn : 0));
    } else if (!(driven & kDataIn)) {
        levels = static_cast<std::uint8_t>((levels & ~kDataIn) | (driving_ && level_ ? kDataIn : 0));
    }
    if (wiring_.clock_return && !(driven & kClockReturn))
        levels = static_cast<std::uint8_t>((levels & ~kClockReturn) | (levels & kClock ? kClockReturn : 0));
    return levels;
}

void ReplayBus::answer_bits(std::size_t first, std::size_t bits, bool on_falling) {
    armed_ = bits > 0;
    first_ = first;
    bits_ = bits;
    on_falling_ = on_falling;
    sampled_ = shown_ = 0;
    if (armed_ && clock_line() == on_falling_) show(shown_++);
}

void ReplayBus::show(std::size_t k) {
    const std::size_t at = answers_.consumed + first_ + k / 8;
    driving_ = at < answers_.bytes.size();
    if (!driving_) return;
    const std::size_t bits_in_byte = std::min<std::size_t>(8, bits_ - 8 * (k / 8));
    level_ = (answers_.bytes[at] >> (bits_in_byte - 1 - k % 8)) & 1;
}

}  // namespace kvsim
