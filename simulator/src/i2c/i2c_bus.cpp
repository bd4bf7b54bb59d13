#include "i2c_bus.h"

#include "velta_engine.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kScl = VELTA_PIN_CLOCK;
constexpr std::uint8_t kSdaOut = VELTA_PIN_DATA_OUT;
constexpr std::uint8_t kSdaIn = VELTA_PIN_DATA_IN;
constexpr std::uint8_t kBusPins = kScl | kSdaOut | kSdaIn;
constexpr std::uint8_t kClockReturn = VELTA_PIN_CLOCK_RETURN;

// The channel object's "devices" array is attached in order.
const BusRegistrar i2c_bus_kind("i2c", [](const Json &channel) { return std::make_unique<I2cBus>(channel); });

}  // namespace

I2cDeviceKinds &i2c_device_kinds() {
    static I2cDeviceKinds kinds("I2C device");
    return kinds;
}

std::uint8_t config_address(const DeviceConfig &config, std::uint8_t fallback) {
    return static_cast<std::uint8_t>(config_uint(config, "address", fallback, 0, 127));
}

void I2cAdapter::on_start(Picos t) {
    const bool repeated = phase_ != Phase::Idle;
    for (auto &device : devices_) device->start(t, repeated);
    begin_byte(Phase::Address);
    target_ = nullptr;
    byte_index_ = 0;
}

void I2cAdapter::on_stop(Picos t) {
    for (auto &device : devices_) device->stop(t);
    phase_ = Phase::Idle;
    target_ = nullptr;
    pull_sda_ = false;
}

void I2cAdapter::on_rise(bool sda) {
    if (phase_ == Phase::Idle || phase_ == Phase::Ignore) return;
    if (clocks_ < 8 && phase_ != Phase::Read) shift_ = static_cast<std::uint8_t>(shift_ << 1 | (sda ? 1 : 0));
    if (clocks_ == 8 && phase_ == Phase::Read) master_ack_ = !sda;
    if (clocks_ < 9) ++clocks_;
}

void I2cAdapter::resample(bool sda) {
    if (phase_ == Phase::Idle || phase_ == Phase::Ignore || clocks_ == 0) return;
    if (clocks_ <= 8 && phase_ != Phase::Read) shift_ = static_cast<std::uint8_t>((shift_ & 0xFE) | (sda ? 1 : 0));
    if (clocks_ == 9 && phase_ == Phase::Read) master_ack_ = !sda;
}

void I2cAdapter::on_fall(Picos t) {
    switch (phase_) {
    case Phase::Address: address_clock_done(t); break;
    case Phase::Write: write_clock_done(t); break;
    case Phase::Read: read_clock_done(t); break;
    case Phase::Idle:
    case Phase::Ignore: break;
    }
}

void I2cAdapter::begin_byte(Phase phase) {
    phase_ = phase;
    clocks_ = 0;
    shift_ = 0;
    pull_sda_ = false;
}

I2cDevice *I2cAdapter::find(std::uint8_t address) {
    for (auto &device : devices_)
        if (device->address() == address) return device.get();
    return nullptr;
}

void I2cAdapter::address_clock_done(Picos t) {
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
        byte_done(t);
    }
}

void I2cAdapter::write_clock_done(Picos t) {
    if (clocks_ == 8)
        pull_sda_ = target_->write_byte(t, shift_);
    else if (clocks_ == 9) {
        begin_byte(Phase::Write);
        byte_done(t);
    }
}

void I2cAdapter::begin_read_byte(Picos t) {
    begin_byte(Phase::Read);
    out_ = target_->read_byte(t);
    show_bit(7);
}

void I2cAdapter::read_clock_done(Picos t) {
    if (clocks_ >= 1 && clocks_ <= 7) {
        show_bit(7 - clocks_);
    } else if (clocks_ == 8) {
        pull_sda_ = false;  // the master answers in the ninth clock
    } else if (clocks_ == 9) {
        target_->read_answer(t, master_ack_);
        if (master_ack_) {
            begin_read_byte(t);
            byte_done(t);
        } else {
            phase_ = Phase::Ignore;
            pull_sda_ = false;
        }
    }
}

// A device that needs time puts its next data bit (if it sends) on SDA, then holds SCL low.
void I2cAdapter::byte_done(Picos t) {
    const Picos stretch = target_->stretch(byte_index_++);
    if (stretch == 0) return;
    stretching_ = true;
    stretch_end_ = t + stretch;
}

I2cBus::I2cBus(const Json &channel) {
    const DeviceConfig board(channel);
    scl_diode_ = config_bool(board, "scl_diode", false);
    scl_return_ = config_bool(board, "scl_return", false);
}

void I2cBus::drive(Picos t, const LowPinDrive &drive) {
    end_stretch(t);
    engine_ = drive;
    follow(t);
}

void I2cBus::end_stretch(Picos t) {
    if (!adapter_.stretching() || adapter_.stretch_end() > t) return;
    const Picos at = adapter_.stretch_end();
    adapter_.end_stretch();
    follow(at);
}

bool I2cBus::device_holds_scl() const {
    if (adapter_.stretching()) return true;
    for (auto &device : devices_)
        if (device->holds_scl()) return true;
    return false;
}

Picos I2cBus::next_change() const {
    for (auto &device : devices_)
        if (device->holds_scl()) return kNever;
    return adapter_.stretching() ? adapter_.stretch_end() : kNever;
}

// A device holding SCL sees no clock, even where the engine drives the line high over it.
void I2cBus::follow(Picos t) {
    const bool scl = !pulls_low(engine_, kScl) && !device_holds_scl();
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

std::uint8_t I2cBus::sense(Picos t) {
    end_stretch(t);
    follow(t);  // a device may have let go of SCL through the control API
    std::uint8_t levels = engine_.direction & engine_.value & static_cast<std::uint8_t>(~kBusPins);
    if (scl_return_) levels = static_cast<std::uint8_t>((levels & ~kClockReturn) | (scl_line() ? kClockReturn : 0));
    if (scl_line()) levels |= kScl;
    if (sda_) levels |= kSdaOut | kSdaIn;
    return levels;
}

std::string I2cBus::pin_name(int pin) const {
    switch (pin) {
    case 0: return "SCL";
    case 1: return "SDA";
    case 2: return "SDA_IN";
    case 7: return scl_return_ ? "SCL_RET" : "";
    default: return "";
    }
}

void I2cBus::attach(const Json &object) {
    const DeviceConfig config(object);
    std::unique_ptr<I2cDevice> device = make_device(i2c_device_kinds(), config);
    device->set_stretch(config_uint(config, "stretch_us", 0, 0, 10000000) * kPicosPerMicro);
    config.check_all_read();
    if (find(device->name())) throw ConfigFault("name", "two I2C devices named \"" + device->name() + "\"");
    for (auto &other : devices_)
        if (other->address() == device->address())
            throw ConfigFault("address", "address " + std::to_string(device->address()) + " is taken by \"" +
                                             other->name() + "\"");
    devices_.push_back(std::move(device));
}

Device *I2cBus::find(const std::string &name) {
    for (auto &device : devices_)
        if (device->name() == name) return device.get();
    return nullptr;
}

std::vector<Device *> I2cBus::devices() {
    std::vector<Device *> all;
    for (auto &device : devices_) all.push_back(device.get());
    return all;
}

// A push-pull high wins over a device holding SCL low; through a diode it cannot.
bool I2cBus::scl_line() const { return scl_ || (drives_high(engine_, kScl) && !scl_diode_); }

bool I2cBus::sda_line() const {
    if (pulls_low(engine_, kSdaOut) || pulls_low(engine_, kSdaIn)) return false;
    return drives_high(engine_, kSdaOut) || drives_high(engine_, kSdaIn) || !adapter_.pulls_sda();
}

// Brings SDA to its new level; a change while SCL is high is a start (falling) or a stop
// (rising), unless it happens in the instant SCL rose.
void I2cBus::settle_sda(Picos t, bool scl_high) {
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

}  // namespace kvsim
