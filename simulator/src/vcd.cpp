#include "vcd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kvsim {

namespace {
// One time unit of the file. Every change on the wires lies at least half a clock period (16.7 ns
// at the fastest clock) after the one before, so 10 ns keeps every change apart, and viewers that
// expand a trace into samples (sigrok, PulseView) make 10^8 of them per second of a run, not
// 10^12 as at 1 ps.
constexpr Picos kTimeUnit = 10000;

// Identifiers of the sixteen signals: low pins 0..7, then high pins 0..7.
char signal_id(int signal) { return static_cast<char>('!' + signal); }

std::string vcd_name(const std::string &name) {
    std::string out = name;
    for (char &c : out)
        if (c == ' ' || c == '\t' || c == '$') c = '_';
    return out;
}

char level_char(std::uint8_t levels, std::uint8_t driven, int bit) {
    if (!((driven >> bit) & 1)) return 'z';
    return ((levels >> bit) & 1) ? '1' : '0';
}
}  // namespace

VcdWriter::VcdWriter(const std::string &path, const std::array<std::string, 8> &low_names)
    : path_(path), file_(std::fopen(path.c_str(), "w")) {
    if (!file_) throw std::runtime_error("cannot create trace file " + path + ": " + std::strerror(errno));
    std::FILE *f = file_.get();
    std::fputs("$version kvzubr simulated bridge $end\n$timescale 10ns $end\n$scope module engine $end\n", f);
    for (int pin = 0; pin < 8; ++pin)
        std::fprintf(f, "$var wire 1 %c %s $end\n", signal_id(pin), vcd_name(low_names[pin]).c_str());
    for (int pin = 0; pin < 8; ++pin) std::fprintf(f, "$var wire 1 %c hpin%d $end\n", signal_id(8 + pin), pin);
    std::fputs("$upscope $end\n$enddefinitions $end\n", f);
}

void VcdWriter::write_time(Picos t) {
    const Picos units = std::max(t / kTimeUnit, last_time_);
    if (started_ && units == last_time_) return;
    std::fprintf(file_.get(), "#%llu\n", static_cast<unsigned long long>(units));
    last_time_ = units;
}

void VcdWriter::write_bit(int signal, char value) {
    std::fputc(value, file_.get());
    std::fputc(signal_id(signal), file_.get());
    std::fputc('\n', file_.get());
}

void VcdWriter::record(Picos t, std::uint8_t low_levels, std::uint8_t high_levels, std::uint8_t high_driven) {
    if (!started_) {
        write_time(t);
        started_ = true;
        std::fputs("$dumpvars\n", file_.get());
        for (int pin = 0; pin < 8; ++pin) write_bit(pin, level_char(low_levels, 0xFF, pin));
        for (int pin = 0; pin < 8; ++pin) write_bit(8 + pin, level_char(high_levels, high_driven, pin));
        std::fputs("$end\n", file_.get());
    } else {
        std::uint8_t low_changed = low_levels ^ low_;
        std::uint8_t high_changed = static_cast<std::uint8_t>((high_levels ^ high_) | (high_driven ^ driven_));
        if (!low_changed && !high_changed) return;
        write_time(t);
        ended_ = false;
        for (int pin = 0; pin < 8; ++pin) {
            if ((low_changed >> pin) & 1) write_bit(pin, level_char(low_levels, 0xFF, pin));
            if ((high_changed >> pin) & 1) write_bit(8 + pin, level_char(high_levels, high_driven, pin));
        }
    }
    low_ = low_levels;
    high_ = high_levels;
    driven_ = high_driven;
}

void VcdWriter::end(Picos now) {
    if (started_ && !ended_) {
        write_time(std::max(now, (last_time_ + 1) * kTimeUnit));
        ended_ = true;
    }
    std::fflush(file_.get());
}

}  // namespace kvsim
