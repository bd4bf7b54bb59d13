// What the engine emulator sees of the wires, and what buses and devices offer the rest of the
// simulator. The engine owns the pins' drive; a Bus turns that drive into line levels and
// lets its devices take part.
//
// Timing rule for every edge: all parties sample the lines as they were just before the
// edge; then every party's changes caused by that edge take effect. The engine therefore
// calls sense() before drive() when it samples on an edge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "saved_bytes.h"

namespace kvsim {

using Picos = std::uint64_t;  // virtual time in picoseconds
constexpr Picos kNever = ~Picos{0};
constexpr Picos kPicosPerMicro = 1000000;

// The engine's drive of the eight low pins.
struct LowPinDrive {
    std::uint8_t value = 0;      // output levels
    std::uint8_t direction = 0;  // 1 = output
    std::uint8_t zero_only = 0;  // drive-only-zero pins: an output at 1 lets the line go
};

// The pins a drive holds: its outputs, except drive-only-zero ones at 1, which let go.
inline std::uint8_t driven_pins(const LowPinDrive &drive) {
    return static_cast<std::uint8_t>(drive.direction & ~(drive.zero_only & drive.value));
}
inline bool pulls_low(const LowPinDrive &drive, std::uint8_t pin) {
    return (drive.direction & pin) && !(drive.value & pin);
}
// A push-pull high: the line is high whatever a device does (a drive-only-zero pin lets go).
inline bool drives_high(const LowPinDrive &drive, std::uint8_t pin) { return driven_pins(drive) & drive.value & pin; }

// How a shift command clocks one byte, for the optional byte fast path.
struct ShiftForm {
    bool out = false;             // drives data out (pin 1)
    bool in = false;              // samples data in (pin 2)
    bool out_on_falling = false;  // data out changes on the falling edge
    bool in_on_falling = false;   // data in sampled on the falling edge
    bool three_phase = false;
};

// A device's control surface, reached through the control API and the state file.
class Device {
public:
    virtual ~Device() = default;
    const std::string &name() const { return name_; }
    void set_name(std::string name) { name_ = std::move(name); }

    // Device data by key; false for an unknown key.
    virtual bool get(const std::string &key, std::vector<std::uint8_t> &out) const;
    virtual bool put(const std::string &key, const std::uint8_t *data, std::size_t length);
    virtual bool set(const std::string &key, double value);
    // State kept between processes: the fields the device keeps (memory contents, registers),
    // one member each in its entry of the state file. load_state and merge_state throw
    // std::runtime_error for an entry of the wrong shape.
    void load_state(Json &entry);  // takes byte images out of `entry`
    Json save_state() const;
    // Patches the bytes changed since the last load or save into the entry the file holds now.
    void merge_state(Json &entry) const;
    bool has_changes() const;
    void forget_changes();

protected:
    // A field kept in the state file; it lives as long as the device.
    void keep(SavedBytes &field) { kept_.push_back(&field); }

private:
    std::string name_;
    std::vector<SavedBytes *> kept_;
};

// How a bus's lines rest with no device taking part, so that a session replayed without its
// devices shows the same lines.
struct Wiring {
    bool open_drain = false;     // SCL (pin 0) and SDA (pins 1 and 2 tied) pulled up, pulled low only
    bool clock_return = false;   // pin 7 reads the clock line back
    std::uint8_t pulled_up = 0;  // other lines that rest high when nothing drives them
};

class Bus {
public:
    virtual ~Bus() = default;
    // The engine's low-pin drive at time t (called on every change, clock edges included).
    virtual void drive(Picos t, const LowPinDrive &drive) = 0;
    // Levels of the eight low pins as the engine reads them at time t.
    virtual std::uint8_t sense(Picos t) = 0;
    // When a device will next change the lines by itself (letting go of a clock it stretched),
    // or kNever. Such a change takes effect when the bus is next driven or sensed at or after it.
    virtual Picos next_change() const { return kNever; }
    // Byte fast path: shift `count` bytes at the given half period starting at *t, with the
    // clock at its current level. Returns false (having done nothing) unless the result on
    // every device and on `in` would be identical to edge-by-edge clocking; on true, *t has
    // advanced and the final drive equals what edge-by-edge clocking would leave.
    virtual bool shift_bytes(Picos *t, Picos half_period, const ShiftForm &form, const LowPinDrive &drive,
                             const std::uint8_t *out, std::uint8_t *in, std::size_t count) {
        (void)t, (void)half_period, (void)form, (void)drive, (void)out, (void)in, (void)count;
        return false;
    }
    // Signal names of the low pins for traces ("" keeps the default name).
    virtual std::string pin_name(int pin) const { (void)pin; return ""; }
    virtual Wiring wiring() const { return {}; }
    // The engine is about to sample `bits` bits of data in, on falling clock edges if
    // `on_falling`, into its answers from queue position `first`: a byte shift fills whole
    // bytes from their top bit, a bit shift the low bits of one byte. Devices need no notice
    // (they follow the clock); a bus that plays known answers back does.
    virtual void answer_bits(std::size_t first, std::size_t bits, bool on_falling) {
        (void)first, (void)bits, (void)on_falling;
    }
    // Adds a device described by a configuration object; throws std::runtime_error on a fault.
    virtual void attach(const Json &device) = 0;
    virtual Device *find(const std::string &name) = 0;
    virtual std::vector<Device *> devices() = 0;
};

}  // namespace kvsim
