#include "engine.h"

#include <algorithm>
#include <array>

#include "velta_engine.h"

namespace kvsim {

namespace {

constexpr std::uint32_t kFastBaseHz = 30000000;
constexpr std::uint32_t kSlowBaseHz = 6000000;
// Argument bytes after each opcode; -1 marks a byte that is no command.
using ArgumentTable = std::array<std::int8_t, 256>;

ArgumentTable argument_table(bool full_speed) {
    ArgumentTable t;
    for (unsigned op = 0; op < t.size(); ++op)
        t[op] = static_cast<std::int8_t>(velta_argument_length(static_cast<std::uint8_t>(op), full_speed));
    return t;
}

const ArgumentTable kFullSpeed = argument_table(true);
const ArgumentTable kHighSpeed = argument_table(false);

bool is_shift(std::uint8_t op) { return velta_is_shift(op) != 0; }
bool carries_data(std::uint8_t op) { return is_shift(op) && (op & VELTA_SHIFT_OUT) && !(op & VELTA_SHIFT_BITS); }

std::uint8_t with_bit(std::uint8_t value, std::uint8_t mask, bool on) {
    return static_cast<std::uint8_t>(on ? value | mask : value & ~mask);
}

}  // namespace

Engine::Engine(bool full_speed, Bus &bus, ByteQueue &answers)
    : argument_counts_(full_speed ? kFullSpeed.data() : kHighSpeed.data()),
      full_speed_(full_speed),
      bus_(bus),
      answers_(answers),
      wires_(bus) {
    reset();
}

void Engine::reset() {
    clear_partial();
    loopback_ = false;
    three_phase_ = false;
    adaptive_ = stalled_ = false;
    divide_by_5_ = !full_speed_;
    divisor_ = 0;
    wires_.release_all();
}

void Engine::clear_partial() {
    phase_ = Phase::Opcode;
    have_args_ = need_args_ = 0;
    data_needed_ = 0;
    data_.clear();
}

Picos Engine::half_period() const {
    const std::uint64_t base = divide_by_5_ ? kSlowBaseHz : kFastBaseHz;
    const std::uint64_t picos_per_period_times_base = 1000000000000ULL * (divisor_ + 1ULL);
    return (picos_per_period_times_base + base) / (2 * base);
}

bool Engine::answer_fits(std::uint8_t byte) const {
    std::size_t answer = 0;
    if (phase_ == Phase::Opcode) {
        const int arguments = argument_counts_[byte];
        if (arguments < 0) answer = echo_ ? 2 : 0;
        if (byte == VELTA_CMD_READ_LOW_PINS || byte == VELTA_CMD_READ_HIGH_PINS) answer = 1;
    } else if (phase_ == Phase::Arguments && have_args_ + 1 == need_args_ && is_shift(opcode_) &&
               (opcode_ & VELTA_SHIFT_IN)) {
        const std::uint8_t high = need_args_ == 2 ? byte : args_[1];
        answer = (opcode_ & VELTA_SHIFT_BITS) ? 1 : (args_[0] | (std::size_t(high) << 8)) + 1;
    }
    return answers_.size() + answer <= kAnswerCapacity;
}

std::size_t Engine::feed(const std::uint8_t *bytes, std::size_t count) {
    std::size_t i = 0;
    while (i < count) {
        if (stalled_) return count;  // taken into the bridge's buffer, never run
        if (phase_ != Phase::Data && !answer_fits(bytes[i])) return i;
        switch (phase_) {
        case Phase::Opcode:
            begin(bytes[i++]);
            break;
        case Phase::Arguments:
            args_[have_args_++] = bytes[i++];
            if (have_args_ == need_args_) {
                std::size_t used = 0;
                arguments_complete(bytes + i, count - i, &used);
                i += used;
            }
            break;
        case Phase::Data: {
            std::size_t take = std::min(count - i, data_needed_ - data_.size());
            data_.insert(data_.end(), bytes + i, bytes + i + take);
            i += take;
            if (data_.size() == data_needed_) {
                shift_bytes(data_.data(), data_.size());
                clear_partial();
            }
            break;
        }
        }
    }
    return count;
}

void Engine::begin(std::uint8_t opcode) {
    const int arguments = argument_counts_[opcode];
    if (arguments < 0) {
        unknown(opcode);
        return;
    }
    opcode_ = opcode;
    if (arguments == 0) {
        execute();
        return;
    }
    need_args_ = static_cast<std::uint8_t>(arguments);
    have_args_ = 0;
    phase_ = Phase::Arguments;
}

// The command's fixed bytes are in. A data-carrying command runs straight from the write's
// buffer when all its data is there; otherwise its data is collected first.
void Engine::arguments_complete(const std::uint8_t *rest, std::size_t available, std::size_t *used) {
    if (!carries_data(opcode_)) {
        clear_partial();
        execute();
        return;
    }
    data_needed_ = byte_count();
    if (available >= data_needed_) {
        *used = data_needed_;
        clear_partial();
        shift_bytes(rest, *used);
        return;
    }
    phase_ = Phase::Data;
}

void Engine::unknown(std::uint8_t opcode) {
    if (echo_) {
        answers_.push(VELTA_ECHO_MARKER);
        answers_.push(opcode);
    }
    tick();
}

void Engine::tick() { wires_.advance(2 * half_period()); }

void Engine::execute() {
    if (is_shift(opcode_)) {
        if (opcode_ & VELTA_SHIFT_BITS)
            shift_bits((args_[0] & 7u) + 1, args_[1]);
        else
            shift_bytes(nullptr, byte_count());
        return;
    }
    switch (opcode_) {
    case VELTA_CMD_SET_LOW_PINS: {
        // The pins change half a period into the command, so a device sampling on a shift's
        // last edge still sees its chip-select held.
        LowPinDrive drive = wires_.low();
        drive.value = args_[0];
        drive.direction = args_[1];
        wires_.advance(half_period());
        wires_.drive_low(drive);
        wires_.advance(half_period());
        return;
    }
    case VELTA_CMD_READ_LOW_PINS: answers_.push(wires_.sense_low()); break;
    case VELTA_CMD_SET_HIGH_PINS: wires_.set_high(args_[0], args_[1]); break;
    case VELTA_CMD_READ_HIGH_PINS: answers_.push(wires_.high_levels()); break;
    case VELTA_CMD_LOOPBACK_ON: loopback_ = true; break;
    case VELTA_CMD_LOOPBACK_OFF: loopback_ = false; break;
    case VELTA_CMD_SET_DIVISOR: divisor_ = static_cast<std::uint16_t>(args_[0] | (args_[1] << 8)); break;
    case VELTA_CMD_SEND_IMMEDIATE: break;  // answers are always delivered at once
    case VELTA_CMD_DIVIDE_BY_5_OFF: divide_by_5_ = false; break;
    case VELTA_CMD_DIVIDE_BY_5_ON: divide_by_5_ = true; break;
    case VELTA_CMD_THREE_PHASE_ON: three_phase_ = true; break;
    case VELTA_CMD_THREE_PHASE_OFF: three_phase_ = false; break;
    case VELTA_CMD_DRIVE_ZERO_ONLY: wires_.set_zero_only(args_[0], args_[1]); break;
    case VELTA_CMD_ADAPTIVE_CLOCKING_ON: adaptive_ = true; break;
    case VELTA_CMD_ADAPTIVE_CLOCKING_OFF: adaptive_ = false; break;
    default: break;
    }
    tick();
}

ShiftForm Engine::shift_form() const {
    ShiftForm form;
    form.out = opcode_ & VELTA_SHIFT_OUT;
    form.in = opcode_ & VELTA_SHIFT_IN;
    form.out_on_falling = opcode_ & VELTA_SHIFT_OUT_FALLING;
    form.in_on_falling = opcode_ & VELTA_SHIFT_IN_FALLING;
    form.three_phase = three_phase_;
    return form;
}

// A device stretching SCL holds pin 7 low: time passes until it lets go. A clock held low for
// good stalls the engine, as on hardware.
bool Engine::await_clock_return(bool level) {
    while (bool(wires_.sense_low() & VELTA_PIN_CLOCK_RETURN) != level) {
        const Picos at = bus_.next_change();
        if (at == kNever || at <= wires_.now()) {
            stalled_ = true;
            clear_partial();
            return false;
        }
        wires_.advance_to(at);
    }
    return true;
}

bool Engine::sample_data_in() {
    if (loopback_) return wires_.low().value & VELTA_PIN_DATA_OUT;
    return wires_.sense_low() & VELTA_PIN_DATA_IN;
}

// Clocks `bits` bits edge by edge. A bit has two clock edges, the first leaving the clock's
// idle level. Data out changes on the edge the command names; when that is the second edge
// the first bit is put out before the first edge. With three-phase clocking data changes
// half a period before the first edge and is held half a period after the second.
template <class OutBit, class InBit>
void Engine::clock(const ShiftForm &form, std::size_t bits, OutBit out_bit, InBit in_bit) {
    const Picos half = half_period();
    LowPinDrive drive = wires_.low();
    const bool idle_high = drive.value & VELTA_PIN_CLOCK;
    const bool first_edge_rising = !idle_high;
    const bool out_on_first = form.out && (form.out_on_falling != first_edge_rising);
    const bool in_on_first = form.in && (form.in_on_falling != first_edge_rising);

    auto put_data = [&](std::size_t k) {
        std::uint8_t value = with_bit(drive.value, VELTA_PIN_DATA_OUT, out_bit(k));
        if (value == drive.value) return;
        drive.value = value;
        wires_.drive_low(drive);
    };
    auto edge = [&](bool clock_high, bool samples, bool puts, std::size_t k) {
        wires_.advance(half);
        if (samples) in_bit(sample_data_in());
        drive.value = with_bit(drive.value, VELTA_PIN_CLOCK, clock_high);
        if (puts) drive.value = with_bit(drive.value, VELTA_PIN_DATA_OUT, out_bit(k));
        wires_.drive_low(drive);
        return !adaptive_ || await_clock_return(clock_high);
    };

    if (form.three_phase) {
        for (std::size_t k = 0; k < bits; ++k) {
            if (form.out) put_data(k);
            if (!edge(!idle_high, in_on_first, false, k) || !edge(idle_high, form.in && !in_on_first, false, k))
                return;
            wires_.advance(half);
        }
        return;
    }
    const bool out_on_second = form.out && !out_on_first;
    if (out_on_second && bits) put_data(0);
    for (std::size_t k = 0; k < bits; ++k) {
        if (!edge(!idle_high, in_on_first, out_on_first, k) ||
            !edge(idle_high, form.in && !in_on_first, out_on_second && k + 1 < bits, k + 1))
            return;
    }
}

void Engine::shift_bytes(const std::uint8_t *out, std::size_t count) {
    const ShiftForm form = shift_form();
    if (form.in && !loopback_) wires_.expect_answer_bits(answers_.size(), 8 * count, form.in_on_falling);
    std::uint8_t *in = form.in ? answers_.extend(count) : nullptr;

    if (!loopback_ && !adaptive_ && !wires_.tracing()) {
        Picos t = wires_.now();
        if (bus_.shift_bytes(&t, half_period(), form, wires_.low(), out, in, count)) {
            LowPinDrive final_drive = wires_.low();
            if (form.out) final_drive.value = with_bit(final_drive.value, VELTA_PIN_DATA_OUT, out[count - 1] & 1);
            wires_.advance_to(t);
            wires_.adopt_low(final_drive);
            return;
        }
    }

    std::uint8_t acc = 0;
    std::size_t filled = 0;
    clock(
        form, count * 8, [out](std::size_t k) { return bool((out[k >> 3] >> (7 - (k & 7))) & 1); },
        [&](bool bit) {
            acc = static_cast<std::uint8_t>((acc << 1) | bit);
            if (++filled % 8 == 0) in[filled / 8 - 1] = acc;
        });
    if (stalled_ && in) answers_.drop_back(count - filled / 8);  // only whole bytes came in
}

// Bits go out from the most significant end; bits read are shifted in at the least
// significant end, so n bits read land in the low n bits of the answer.
void Engine::shift_bits(unsigned bits, std::uint8_t out) {
    const ShiftForm form = shift_form();
    if (form.in && !loopback_) wires_.expect_answer_bits(answers_.size(), bits, form.in_on_falling);
    std::uint8_t acc = 0;
    clock(
        form, bits, [out](std::size_t k) { return bool((out >> (7 - k)) & 1); },
        [&](bool bit) { acc = static_cast<std::uint8_t>((acc << 1) | bit); });
    if (form.in && !stalled_) answers_.push(acc);
}

}  // namespace kvsim
