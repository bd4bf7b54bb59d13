// A register-file device in the manner of a temperature sensor: 16-bit registers behind a
// pointer register. The first byte of a write sets the pointer, the following bytes fill the
// pointed register high byte first; a read returns the pointed register high byte first and
// repeats it. Register 0 holds the temperature in 1/256 degC (two's complement) and is read-only.
#include <cmath>
#include <stdexcept>

#include "i2c_device.h"

namespace kvsim {

namespace {

class I2cRegister : public I2cDevice {
public:
    explicit I2cRegister(const DeviceConfig &config)
        : count_(config_uint(config, "register_count", 4, 1, 256)), bytes_("registers", 2 * count_, 0) {
        set_address(config_address(config, 0x48));
        set_temperature(config_number(config, "temperature_c", 0.0, -127.99, 127.99));
        keep(bytes_);
    }

    bool select(Picos, bool read) override {
        byte_index_ = 0;
        pointer_written_ = read;
        return true;
    }
    bool write_byte(Picos, std::uint8_t value) override {
        if (!pointer_written_) {
            if (value >= count_) return false;
            pointer_ = value;
            pointer_written_ = true;
            return true;
        }
        if (pointer_ == 0) return false;
        bytes_.write(2 * pointer_ + byte_index_ % 2, value);
        ++byte_index_;
        return true;
    }
    std::uint8_t read_byte(Picos) override { return bytes_[2 * pointer_ + byte_index_++ % 2]; }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override {
        if (key != "registers") return false;
        out = bytes_.bytes();
        return true;
    }
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        if (key != "registers" || length % 2 || length > bytes_.size()) return false;
        bytes_.write(0, data, length);
        return true;
    }
    bool set(const std::string &key, double value) override {
        if (key != "temperature_c" || !(value > -128.0 && value < 128.0)) return false;
        set_temperature(value);
        return true;
    }

private:
    void set_temperature(double celsius) {
        const long raw = std::lround(celsius * 256.0);
        bytes_.write(0, static_cast<std::uint8_t>(raw >> 8 & 0xFF));
        bytes_.write(1, static_cast<std::uint8_t>(raw & 0xFF));
    }

    std::size_t count_;
    SavedBytes bytes_;  // the registers, high byte first
    std::uint8_t pointer_ = 0;
    bool pointer_written_ = false;
    unsigned byte_index_ = 0;
};

const I2cDeviceRegistrar i2c_register("i2c-register", [](const DeviceConfig &config) {
    return std::unique_ptr<I2cDevice>(new I2cRegister(config));
});

}  // namespace

}  // namespace kvsim
