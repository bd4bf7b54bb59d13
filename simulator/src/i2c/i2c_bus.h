// The I2C bus on a channel's low pins: SCL on pin 0, SDA driven through pin 1 and sampled
// through pin 2 (tied together), pull-ups on both lines. Devices can only pull a line low or
// let it go; the engine's outputs at 0 pull low, and its outputs at 1 drive high (overriding
// a device) unless drive-only-zero is on for them, when they let go. A bit-level adapter
// follows the lines on the virtual timeline and turns their changes into device events.
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

    std::vector<std::unique_ptr<I2cDevice>> &devices_;
    Phase phase_ = Phase::Idle;
    I2cDevice *target_ = nullptr;
    int clocks_ = 0;  // rising SCL edges in the current byte, up to 9
    std::uint8_t shift_ = 0;
    std::uint8_t out_ = 0;
    bool reading_ = false;
    bool master_ack_ = false;
    bool pull_sda_ = false;
};

class I2cBus : public Bus {
public:
    void drive(Picos t, const LowPinDrive &drive) override;
    std::uint8_t sense(Picos t) override;
    std::string pin_name(int pin) const override;
    void attach(const Json &config) override;
    Device *find(const std::string &name) override;
    std::vector<Device *> devices() override;

private:
    bool sda_line() const;
    void settle_sda(Picos t, bool scl_high);

    std::vector<std::unique_ptr<I2cDevice>> devices_;
    I2cAdapter adapter_{devices_};
    LowPinDrive engine_;
    bool scl_ = true;  // pulled up while nobody drives
    bool sda_ = true;
    Picos rise_time_ = ~Picos{0};
};

}  // namespace kvsim
