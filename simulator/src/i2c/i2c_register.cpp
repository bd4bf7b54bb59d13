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
    explicit I2cRegister(const DeviceConfig &config) : registers_(config_uint(config, "register_count", 4, 0, 256), 0) {
        if (registers_.empty()) throw std::runtime_error("i2c-register needs at least one register");
        set_address(config_address(config, 0x48));
        set_temperature(config_number(config, "temperature_c", 0.0, -127.99, 127.99));
    }

    bool select(Picos, bool read) override {
        byte_index_ = 0;
        pointer_written_ = read;
        return true;
    }
    bool write_byte(Picos, std::uint8_t value) override {
        if (!pointer_written_) {
            if (value >= registers_.size()) return false;
            pointer_ = value;
            pointer_written_ = true;
            return true;
        }
        if (pointer_ == 0) return false;
        std::uint16_t &reg = registers_[pointer_];
        reg = byte_index_ % 2 == 0 ? static_cast<std::uint16_t>((reg & 0x00FF) | value << 8)
                                   : static_cast<std::uint16_t>((reg & 0xFF00) | value);
        ++byte_index_;
        return true;
    }
    std::uint8_t read_byte(Picos) override {
        const std::uint16_t reg = registers_[pointer_];
        const std::uint8_t value = byte_index_ % 2 == 0 ? reg >> 8 : reg & 0xFF;
        ++byte_index_;
        return value;
    }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override {
        if (key != "registers") return false;
        out.clear();
        for (std::uint16_t reg : registers_) {
            out.push_back(static_cast<std::uint8_t>(reg >> 8));
            out.push_back(static_cast<std::uint8_t>(reg & 0xFF));
        }
        return true;
    }
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        if (key != "registers" || length % 2 || length / 2 > registers_.size()) return false;
        for (std::size_t i = 0; i < length / 2; ++i)
            registers_[i] = static_cast<std::uint16_t>(data[2 * i] << 8 | data[2 * i + 1]);
        return true;
    }
    bool set(const std::string &key, double value) override {
        if (key != "temperature_c" || !(value > -128.0 && value < 128.0)) return false;
        set_temperature(value);
        return true;
    }
    Json save_state() const override {
        std::vector<std::uint8_t> bytes;
        get("registers", bytes);
        return Json{{"registers", to_hex(bytes.data(), bytes.size())}};
    }
    void load_state(const Json &state) override {
        std::vector<std::uint8_t> bytes;
        if (!state.is_object() || !state.contains("registers") || !state["registers"].is_string()) return;
        if (from_hex(state["registers"].get<std::string>(), bytes) && bytes.size() == registers_.size() * 2)
            put("registers", bytes.data(), bytes.size());
    }

private:
    void set_temperature(double celsius) {
        const long raw = std::lround(celsius * 256.0);
        registers_[0] = static_cast<std::uint16_t>(raw & 0xFFFF);
    }

    std::vector<std::uint16_t> registers_;
    std::uint8_t pointer_ = 0;
    bool pointer_written_ = false;
    unsigned byte_index_ = 0;
};

const I2cDeviceRegistrar i2c_register("i2c-register", [](const DeviceConfig &config) {
    return std::unique_ptr<I2cDevice>(new I2cRegister(config));
});

}  // namespace

}  // namespace kvsim
