// The serial engine of one channel: a streaming decoder of the host's command bytes and the
// executor that clocks bits onto the wires through the channel's bus. Commands may be split
// anywhere across writes; a command runs once its last byte has arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bus.h"
#include "byte_queue.h"
#include "wires.h"

namespace kvsim {

// The answer queue's capacity. A command whose answer would not fit stalls the engine: it is
// not taken (nor anything after it) until the host has read enough.
constexpr std::size_t kAnswerCapacity = std::size_t{1} << 20;

class Engine {
public:
    // `full_speed` engines (device type 4) lack the clock, three-phase and drive-only-zero
    // commands of the high-speed ones.
    Engine(bool full_speed, Bus &bus, ByteQueue &answers);

    // Returns how many bytes were taken: fewer than `count` when the engine stalled.
    std::size_t feed(const std::uint8_t *bytes, std::size_t count);
    // Power-on state: pins released, loopback, three-phase and adaptive clocking off, divisor
    // 0, divide-by-5 on, not stalled.
    void reset();
    // Forgets a command whose bytes have not all arrived.
    void clear_partial();
    // With echo off an unknown command byte is swallowed instead of answered.
    void set_echo(bool on) { echo_ = on; }

    Wires &wires() { return wires_; }
    const Wires &wires() const { return wires_; }
    bool loopback() const { return loopback_; }
    bool three_phase() const { return three_phase_; }
    bool adaptive_clocking() const { return adaptive_; }
    // A clock edge waits for a clock return that never comes: nothing runs until a reset.
    bool stalled() const { return stalled_; }
    bool divide_by_5() const { return divide_by_5_; }
    std::uint16_t divisor() const { return divisor_; }
    // Half a period of the programmed clock, in picoseconds.
    Picos half_period() const;

private:
    enum class Phase : std::uint8_t { Opcode, Arguments, Data };

    void begin(std::uint8_t opcode);
    // Whether the answer of the command that `byte` would complete fits in the queue.
    bool answer_fits(std::uint8_t byte) const;
    void arguments_complete(const std::uint8_t *rest, std::size_t available, std::size_t *used);
    void execute();
    void unknown(std::uint8_t opcode);
    void shift_bytes(const std::uint8_t *out, std::size_t count);
    void shift_bits(unsigned bits, std::uint8_t out);
    template <class OutBit, class InBit>
    void clock(const ShiftForm &form, std::size_t bits, OutBit out_bit, InBit in_bit);
    bool sample_data_in();
    // Adaptive clocking: false (and the engine stalled) when the clock never returns.
    bool await_clock_return(bool level);
    void tick();
    ShiftForm shift_form() const;
    std::size_t byte_count() const { return (args_[0] | (std::size_t(args_[1]) << 8)) + 1; }

    const std::int8_t *argument_counts_;
    bool full_speed_;
    Bus &bus_;
    ByteQueue &answers_;
    Wires wires_;

    Phase phase_ = Phase::Opcode;
    std::uint8_t opcode_ = 0;
    std::uint8_t args_[2] = {0, 0};
    std::uint8_t have_args_ = 0, need_args_ = 0;
    std::size_t data_needed_ = 0;
    std::vector<std::uint8_t> data_;  // data bytes of a command split across writes

    bool echo_ = true;
    bool loopback_ = false;
    bool three_phase_ = false;
    bool adaptive_ = false;
    bool stalled_ = false;
    bool divide_by_5_ = true;
    std::uint16_t divisor_ = 0;
};

}  // namespace kvsim
