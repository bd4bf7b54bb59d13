// The I2C bus on a channel's low pins: SCL on pin 0, SDA driven through pin 1 and sampled
// through pin 2 (tied together), pull-ups on both lines. Devices can only pull a line low or
// let it go; the engine's outputs at 0 pull low, and its outputs at 1 drive high (overriding
// a device) unless drive-only-zero is on for them, or the board puts a diode in series with
// SCL, when they let go. A device stretching the clock holds SCL low; the board may wire SCL
// back to pin 7, the engine's clock-return input. A bit-level adapter follows the lines on
// the virtual timeline and turns their changes into device events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "i2c_device.h"

namespace kvsim {

// Follows the bit protocol for the devices. Bytes are nine clocks: eight data bits sampled on
// the rising edge, then the acknowledge bit driven by the receiver.
class I2cAdapter {
public:
    explicit I2cAdapter(std::vector<std::unique_ptr<I2cDevice>> &devices) : devices_(devices) {}

    // The selected device holds SDA low.
    bool pulls_sda() const { return pull_sda_; }
    // A stretch the selected device has begun and the bus has not yet ended.
    bool stretching() const { return stretching_; }
    Picos stretch_end() const { return stretch_end_; }
    void end_stretch() { stretching_ = false; }

    void on_start(Picos t);
    void on_stop(Picos t);
    void on_rise(bool sda);
    // SDA changed in the same instant as SCL rose: the receiver sees the new level for the
    // whole high phase, so the bit just sampled is taken again.
    void resample(bool sda);
    void on_fall(Picos t);

private:
    enum class Phase { Idle, Address, Write, Read, Ignore };

    void begin_byte(Phase phase);
    I2cDevice *find(std::uint8_t address);
    void address_clock_done(Picos t);
    void write_clock_done(Picos t);
    void begin_read_byte(Picos t);
    void show_bit(int bit) { pull_sda_ = !((out_ >> bit) & 1); }
    void read_clock_done(Picos t);
    // The acknowledge clock of a byte ended: the device may hold SCL low now.
    void byte_done(Picos t);

    std::vector<std::unique_ptr<I2cDevice>> &devices_;
    Phase phase_ = Phase::Idle;
    I2cDevice *target_ = nullptr;
    int clocks_ = 0;  // rising SCL edges in the current byte, up to 9
    std::uint8_t shift_ = 0;
    std::uint8_t out_ = 0;
    bool reading_ = false;
    bool master_ack_ = false;
    bool pull_sda_ = false;
    unsigned byte_index_ = 0;  // bytes of the transaction done, the address byte included
    bool stretching_ = false;
    Picos stretch_end_ = 0;
};

class I2cBus : public Bus {
public:
    // Reads the channel's board settings "scl_diode" and "scl_return".
    explicit I2cBus(const Json &channel);
    void drive(Picos t, const LowPinDrive &drive) override;
    std::uint8_t sense(Picos t) override;
    Picos next_change() const override;
    std::string pin_name(int pin) const override;
    Wiring wiring() const override { return {true, scl_return_, 0}; }
    void attach(const Json &config) override;
    Device *find(const std::string &name) override;
    std::vector<Device *> devices() override;

private:
    bool sda_line() const;
    bool scl_line() const;
    bool device_holds_scl() const;
    // Ends a stretch that ran out by t, at the instant it ran out.
    void end_stretch(Picos t);
    // The lines after a change at t: SCL edges as the devices see them, then SDA.
    void follow(Picos t);
    void settle_sda(Picos t, bool scl_high);

    std::vector<std::unique_ptr<I2cDevice>> devices_;
    I2cAdapter adapter_{devices_};
    LowPinDrive engine_;
    bool scl_diode_ = false;   // the engine's SCL pin can only pull low
    bool scl_return_ = false;  // pin 7 reads SCL
    bool scl_ = true;  // SCL as the devices see it: pulled up while nobody pulls it low
    bool sda_ = true;
    Picos rise_time_ = ~Picos{0};
};

}  // namespace kvsim
