// Value Change Dump of one channel's pins: the eight low pins as the lines carry them and the
// eight high pins as the engine drives them ('z' where nothing drives them).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bus.h"

namespace kvsim {

class VcdWriter {
public:
    // Creates the file and writes the header; throws std::runtime_error if it cannot.
    VcdWriter(const std::string &path, const std::array<std::string, 8> &low_names);
    ~VcdWriter() { end(0); }
    VcdWriter(const VcdWriter &) = delete;
    VcdWriter &operator=(const VcdWriter &) = delete;
    // The pins at time t; times must not decrease. Only changes are written.
    void record(Picos t, std::uint8_t low_levels, std::uint8_t high_levels, std::uint8_t high_driven);
    // Ends the trace so far with a timestamp after its last change, at `now` if that is later,
    // so viewers and decoders see the last change take effect; then flushes. Changes recorded
    // later follow that timestamp, at the earliest at it.
    void end(Picos now);
    const std::string &path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE *f) const { std::fclose(f); }
    };
    void write_time(Picos t);
    void write_bit(int signal, char value);

    std::string path_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool started_ = false;
    bool ended_ = false;  // nothing changed since the trace was last ended
    Picos last_time_ = 0;  // in the file's time units
    std::uint8_t low_ = 0, high_ = 0, driven_ = 0;
};

}  // namespace kvsim
