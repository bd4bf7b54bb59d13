// A test device: acknowledges its address and the first "ack_bytes" data bytes of each
// write, refuses the rest, answers reads from "read_data" (0xFF once that runs out), and
// records everything it saw as text, one event per line (it stretches the clock by
// "stretch_us" after the bytes "stretch_bytes" lists, or after every byte when that is absent,
// and holds SCL low for good while "hold_scl" is set):
//   start | restart | stop                 bus conditions
//   addr <hh> r|w                          its address selected it for a read or a write
//   write <hh> ack|nack                    a data byte and its acknowledge
//   read <hh> ack|nack                     a byte it sent and the master's answer
#include <cstdio>
#include <limits>
#include <set>

#include "i2c_device.h"

namespace kvsim {

namespace {

class I2cTestDevice : public I2cDevice {
public:
    explicit I2cTestDevice(const DeviceConfig &config)
        : ack_bytes_(config_uint(config, "ack_bytes", std::numeric_limits<std::uint32_t>::max(), 0,
                                 std::numeric_limits<std::uint32_t>::max())) {
        set_address(config_address(config, 0x3C));
        read_stretch_bytes(config);
    }

    void start(Picos, bool repeated) override { record(repeated ? "restart" : "start"); }
    bool select(Picos, bool read) override {
        written_ = 0;
        char line[16];
        std::snprintf(line, sizeof line, "addr %02x %c", address(), read ? 'r' : 'w');
        record(line);
        return true;
    }
    bool write_byte(Picos, std::uint8_t value) override {
        const bool ack = written_ < ack_bytes_;
        ++written_;
        record_byte("write", value, ack);
        return ack;
    }
    std::uint8_t read_byte(Picos) override {
        last_read_ = next_read_ < read_data_.size() ? read_data_[next_read_++] : 0xFF;
        return last_read_;
    }
    void read_answer(Picos, bool ack) override { record_byte("read", last_read_, ack); }
    void stop(Picos) override { record("stop"); }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override {
        if (key != "events") return false;
        out.assign(events_.begin(), events_.end());
        return true;
    }
    // "events": clears the record (whatever the data); "read_data": the bytes reads return.
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        if (key == "events") {
            events_.clear();
            return true;
        }
        if (key != "read_data") return false;
        read_data_.assign(data, data + length);
        next_read_ = 0;
        return true;
    }
    bool set(const std::string &key, double value) override {
        if (key == "hold_scl") {
            hold_scl_ = value != 0;
            return true;
        }
        if (key != "ack_bytes" || value < 0) return false;
        ack_bytes_ = static_cast<std::uint64_t>(value);
        return true;
    }
    Picos stretch(unsigned index) const override {
        return stretch_bytes_.empty() || stretch_bytes_.count(index) ? I2cDevice::stretch(index) : 0;
    }
    bool holds_scl() const override { return hold_scl_; }

private:
    // Byte numbers within a transaction, the address byte being 0.
    void read_stretch_bytes(const DeviceConfig &config) {
        const Json *bytes = config.find("stretch_bytes");
        if (!bytes) return;
        if (!bytes->is_array()) throw ConfigFault("stretch_bytes", "expected an array of byte numbers");
        for (const Json &item : *bytes) {
            std::uint64_t index = 0;
            if (!json_uint(item, &index) || index > 65535)
                throw ConfigFault("stretch_bytes", "expected byte numbers from 0 to 65535");
            stretch_bytes_.insert(static_cast<unsigned>(index));
        }
    }
    void record(const char *line) {
        events_ += line;
        events_ += '\n';
    }
    void record_byte(const char *what, std::uint8_t value, bool ack) {
        char line[24];
        std::snprintf(line, sizeof line, "%s %02x %s", what, value, ack ? "ack" : "nack");
        record(line);
    }

    std::uint64_t ack_bytes_;
    std::uint64_t written_ = 0;
    std::vector<std::uint8_t> read_data_;
    std::size_t next_read_ = 0;
    std::uint8_t last_read_ = 0xFF;
    std::string events_;
    std::set<unsigned> stretch_bytes_;
    bool hold_scl_ = false;
};

const I2cDeviceRegistrar i2c_test("i2c-test", [](const DeviceConfig &config) {
    return std::unique_ptr<I2cDevice>(new I2cTestDevice(config));
});

}  // namespace

}  // namespace kvsim
