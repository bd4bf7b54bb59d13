// The lines of a channel replayed from a recording: the engine's drive as the board's bus would
// carry it with no device on it, and a data-in line that plays the recorded answers back bit by
// bit, so a trace of the replay decodes to what the devices answered.
//
// Each answer bit is put on the line on the clock edge opposite the one the engine samples on,
// as a device does (the first bit at once when the next edge samples). After the last bit the
// line is let go on the next such edge: it then rests as the bus leaves it, high on an
// open-drain (I2C) bus, low on any other. Answers the recording does not hold (bytes never
// read) also leave the line resting.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bus.h"

namespace kvsim {

// The bytes a program read from one channel over the whole recording, and how many it has read.
struct AnswerStream {
    std::vector<std::uint8_t> bytes;
    std::size_t consumed = 0;
};

class ReplayBus : public Bus {
public:
    // Names and wiring are the board's bus (null: a channel without a bus).
    ReplayBus(const Bus *board, const AnswerStream &answers);

    void drive(Picos t, const LowPinDrive &drive) override;
    std::uint8_t sense(Picos t) override;
    void answer_bits(std::size_t first, std::size_t bits, bool on_falling) override;
    std::string pin_name(int pin) const override { return names_[pin]; }
    Wiring wiring() const override { return wiring_; }
    void attach(const Json &device) override;
    Device *find(const std::string &) override { return nullptr; }
    std::vector<Device *> devices() override { return {}; }

private:
    // The lines as the engine's drive and the pulls leave them, data in apart.
    std::uint8_t resting() const;
    bool clock_line() const;
    // Puts answer bit k on the line, or lets go of it when the recording lacks that answer.
    void show(std::size_t k);

    std::array<std::string, 8> names_;
    Wiring wiring_;
    const AnswerStream &answers_;
    LowPinDrive drive_;
    bool armed_ = false;       // answer bits are due or the last one is still shown
    bool on_falling_ = false;  // the engine samples on falling clock edges
    std::size_t first_ = 0, bits_ = 0;
    std::size_t sampled_ = 0, shown_ = 0;
    bool driving_ = false;  // the answer side drives data in
    bool level_ = false;    // ... at this level
};

}  // namespace kvsim
