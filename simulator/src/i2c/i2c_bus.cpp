// The I2C bus on a channel's low pins: SCL on pin 0, SDA driven through pin 1 and sampled
// through pin 2 (tied together), pull-ups on both lines. Devices can only pull a line low or
// let it go; the engine's outputs at 0 pull low, and its outputs at 1 drive high (overriding
// a device) unless drive-only-zero is on for them, when they let go. A bit-level adapter
// follows the lines on the virtual timeline and turns their changes into device events.
#include <map>
#include <stdexcept>

#include "i2c_device.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kScl = 0x01;
constexpr std::uint8_t kSdaOut = 0x02;
constexpr std::uint8_t kSdaIn = 0x04;
constexpr std::uint8_t kBusPins = kScl | kSdaOut | kSdaIn;

std::map<std::string, I2cDeviceFactory> &device_kinds() {
    static std::map<std::string, I2cDeviceFactory> kinds;
    return kinds;
}

bool pulls_low(const LowPinDrive &drive, std::uint8_t pin) { return (drive.direction & pin) && !(drive.value & pin); }
// A push-pull high: the line is high whatever a device does. With drive-only-zero the pin
// lets go instead and the line is up to the pull-up and the devices.
bool drives_high(const LowPinDrive &drive, std::uint8_t pin) {
    return (drive.direction & pin) && (drive.value & pin) && !(drive.zero_only & pin);
}

// Follows the bit protocol for the devices. Bytes are nine clocks: eight data bits sampled
// on the rising edge, then the acknowledge bit driven by the receiver.
class Adapter {
public:
    explicit Adapter(std::vector<std::unique_ptr<I2cDevice>> &devices) : devices_(devices) {}

    bool pulls_sda() const { return pull_sda_; }

    void on_start(Picos t) {
        const bool repeated = phase_ != Phase::Idle;
        for (auto &device : devices_) device->start(t, repeated);
        begin_byte(Phase::Address);
        target_ = nullptr;
    }
    void on_stop(Picos t) {
        for (auto &device : devices_) device->stop(t);
        phase_ = Phase::Idle;
        target_ = nullptr;
        pull_sda_ = false;
    }
    void on_rise(bool sda) {
        if (phase_ == Phase::Idle || phase_ == Phase::Ignore) return;
        if (clocks_ < 8 && phase_ != Phase::Read) shift_ = static_cast<std::uint8_t>(shift_ << 1 | (sda ? 1 : 0));
        if (clocks_ == 8 && phase_ == Phase::Read) master_ack_ = !sda;
        if (clocks_ < 9) ++clocks_;
    }
    // SDA changed in the same instant as SCL rose: the receiver sees the new level for the
    // whole high phase, so the bit just sampled is taken again.
    void resample(bool sda) {
        if (phase_ == Phase::Idle || phase_ == Phase::Ignore || clocks_ == 0) return;
        if (clocks_ <= 8 && phase_ != Phase::Read) shift_ = static_cast<std::uint8_t>((shift_ & 0xFE) | (sda ? 1 : 0));
        if (clocks_ == 9 && phase_ == Phase::Read) master_ack_ = !sda;
    }
    void on_fall(Picos t) {
        switch (phase_) {
        case Phase::Address: address_clock_done(t); break;
        case Phase::Write: write_clock_done(t); break;
        case Phase::Read: read_clock_done(t); break;
        case Phase::Idle:
        case Phase::Ignore: break;
        }
    }

private:
    enum class Phase { Idle, Address, Write, Read, Ignore };

    void begin_byte(Phase phase) {
        phase_ = phase;
        clocks_ = 0;
        shift_ = 0;
        pull_sda_ = false;
    }
    I2cDevice *find(std::uint8_t address) {
        for (auto &device : devices_)
            if (device->address() == address) return device.get();
        return nullptr;
    }
    void address_clock_done(Picos t) {
        if (clocks_ == 8) {
            const bool read = shift_ & 1;
            target_ = find(static_cast<std::uint8_t>(shift_ >> 1));
            if (!target_ || !target_->select(t, read)) {
                phase_ = Phase::Ignore;  // nobody acknowledges; wait for the next condition
                target_ = nullptr;
                return;
            }
            reading_ = read;
            pull_sda_ = true;
        } else if (clocks_ == 9) {
            if (reading_)
                begin_read_byte(t);
            else
                begin_byte(Phase::Write);
        }
    }
    void write_clock_done(Picos t) {
        if (clocks_ == 8)
            pull_sda_ = target_->write_byte(t, shift_);
        else if (clocks_ == 9)
            begin_byte(Phase::Write);
    }
    void begin_read_byte(Picos t) {
        begin_byte(Phase::Read);
        out_ = target_->read_byte(t);
        show_bit(7);
    }
    void show_bit(int bit) { pull_sda_ = !((out_ >> bit) & 1); }
    void read_clock_done(Picos t) {
        if (clocks_ >= 1 && clocks_ <= 7) {
            show_bit(7 - clocks_);
        } else if (clocks_ == 8) {
            pull_sda_ = false;  // the master answers in the ninth clock
        } else if (clocks_ == 9) {
            target_->read_answer(t, master_ack_);
            if (master_ack_) {
                begin_read_byte(t);
            } else {
                phase_ = Phase::Ignore;
                pull_sda_ = false;
            }
        }
    }

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
    void drive(Picos t, const LowPinDrive &drive) override {
        engine_ = drive;
        const bool scl = !pulls_low(engine_, kScl);
        if (scl == scl_) {
            settle_sda(t, scl_);
        } else if (scl) {
            settle_sda(t, false);  // data set up in the same instant counts as before the edge
            scl_ = true;
            rise_time_ = t;
            adapter_.on_rise(sda_);
        } else {
            scl_ = false;
            adapter_.on_fall(t);
            settle_sda(t, false);
        }
    }

    std::uint8_t sense(Picos) override {
        std::uint8_t levels = engine_.direction & engine_.value & static_cast<std::uint8_t>(~kBusPins);
        if (scl_) levels |= kScl;
        if (sda_) levels |= kSdaOut | kSdaIn;
        return levels;
    }

    std::string pin_name(int pin) const override {
        switch (pin) {
        case 0: return "SCL";
        case 1: return "SDA";
        case 2: return "SDA_IN";
        default: return "";
        }
    }

    void attach(const Json &config) override {
        if (!config.is_object()) throw std::runtime_error("an I2C device must be a JSON object");
        const std::string kind = config.value("kind", config.value("type", std::string()));
        auto device = make_i2c_device(kind, config);
        device->set_name(config.value("name", kind));
        if (find(device->name())) throw std::runtime_error("two I2C devices named \"" + device->name() + "\"");
        devices_.push_back(std::move(device));
    }

    Device *find(const std::string &name) override {
        for (auto &device : devices_)
            if (device->name() == name) return device.get();
        return nullptr;
    }

    std::vector<Device *> devices() override {
        std::vector<Device *> all;
        for (auto &device : devices_) all.push_back(device.get());
        return all;
    }

private:
    bool sda_line() const {
        if (pulls_low(engine_, kSdaOut) || pulls_low(engine_, kSdaIn)) return false;
        return drives_high(engine_, kSdaOut) || drives_high(engine_, kSdaIn) || !adapter_.pulls_sda();
    }
    // Brings SDA to its new level; a change while SCL is high is a start (falling) or a stop
    // (rising), unless it happens in the instant SCL rose.
    void settle_sda(Picos t, bool scl_high) {
        const bool sda = sda_line();
        if (sda == sda_) return;
        sda_ = sda;
        if (!scl_high) return;
        if (t == rise_time_) {
            adapter_.resample(sda_);
            return;
        }
        if (sda_)
            adapter_.on_stop(t);
        else
            adapter_.on_start(t);
        sda_ = sda_line();  // a device lets go at a condition; that is no new condition
    }

    std::vector<std::unique_ptr<I2cDevice>> devices_;
    Adapter adapter_{devices_};
    LowPinDrive engine_;
    bool scl_ = true;  // pulled up while nobody drives
    bool sda_ = true;
    Picos rise_time_ = ~Picos{0};
};

// The channel object's "devices" array is attached in order.
BusRegistrar i2c_bus("i2c", [](const Json &channel) {
    auto bus = std::unique_ptr<Bus>(new I2cBus());
    if (channel.contains("devices"))
        for (const Json &device : channel["devices"]) bus->attach(device);
    return bus;
});

}  // namespace

void register_i2c_device(const std::string &kind, I2cDeviceFactory factory) {
    device_kinds()[kind] = std::move(factory);
}

std::unique_ptr<I2cDevice> make_i2c_device(const std::string &kind, const Json &config) {
    auto it = device_kinds().find(kind);
    if (it == device_kinds().end()) throw std::runtime_error("unknown I2C device type \"" + kind + "\"");
    return it->second(config);
}

std::uint8_t config_address(const Json &config, std::uint8_t fallback) {
    return static_cast<std::uint8_t>(config_uint(config, "address", fallback, 0, 127));
}

}  // namespace kvsim
