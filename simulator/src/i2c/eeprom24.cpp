// A 24-series serial EEPROM. A write transaction carries the memory address (one byte for
// arrays of up to 256 bytes, two bytes, high first, above) and then data bytes, which land in
// the addressed page, wrapping within it. A stop starts the write cycle, during which the
// device acknowledges nothing; a repeated start instead of the stop drops the data and keeps
// the address, which is how a random read is made. Reads run sequentially through the array
// and wrap at its end.
#include <stdexcept>

#include "i2c_device.h"

namespace kvsim {

namespace {

class Eeprom24 : public I2cDevice {
public:
    explicit Eeprom24(const DeviceConfig &config)
        : size_(config_uint(config, "size", 32768, 0, 65536)),
          page_size_(config_uint(config, "page_size", 64, 0, 65536)),
          write_cycle_(config_uint(config, "write_cycle_us", 5000, 0, 10000000) * kPicosPerMicro),
          address_bytes_(size_ <= 256 ? 1 : 2),
          memory_(size_) {
        if (size_ == 0 || page_size_ == 0 || page_size_ > size_)
            throw std::runtime_error("eeprom24 needs 0 < page_size <= size");
        set_address(config_address(config, 0x50));
        keep(memory_);
    }

    void start(Picos, bool repeated) override {
        if (repeated && selected_) drop_transaction();
        selected_ = false;
    }
    bool select(Picos t, bool read) override {
        if (t < busy_until_) return false;
        selected_ = true;
        writing_ = !read;
        address_seen_ = 0;
        pending_.clear();
        return true;
    }
    bool write_byte(Picos, std::uint8_t value) override {
        if (address_seen_ < address_bytes_) {
            const std::uint64_t shifted = address_seen_ == 0 ? 0 : pointer_ << 8;
            pointer_ = (shifted | value) % size_;
            ++address_seen_;
        } else {
            pending_.push_back(value);
        }
        return true;
    }
    std::uint8_t read_byte(Picos) override {
        const std::uint8_t value = memory_[pointer_];
        pointer_ = (pointer_ + 1) % size_;
        return value;
    }
    void stop(Picos t) override {
        if (selected_ && writing_ && !pending_.empty()) {
            commit();
            busy_until_ = t + write_cycle_;
        }
        drop_transaction();
        selected_ = false;
    }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override { return memory_.get(key, out); }
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        return memory_.put(key, data, length);
    }
    bool set(const std::string &key, double value) override {
        if (key != "write_cycle_us" || value < 0) return false;
        write_cycle_ = static_cast<Picos>(value * kPicosPerMicro);
        return true;
    }

private:
    void drop_transaction() {
        pending_.clear();
        address_seen_ = 0;
    }
    // Bytes beyond a page overwrite its start again; only the last page_size bytes remain.
    // The address pointer ends after the last byte written, within the page.
    void commit() {
        const std::uint64_t page = pointer_ - pointer_ % page_size_;
        std::uint64_t offset = pointer_ % page_size_;
        for (std::uint8_t value : pending_) {
            const std::uint64_t at = page + offset;
            if (at < size_) memory_.write(at, value);
            offset = (offset + 1) % page_size_;
        }
        pointer_ = (page + offset) % size_;
    }

    std::uint64_t size_;
    std::uint64_t page_size_;
    Picos write_cycle_;
    unsigned address_bytes_;
    MemoryArray memory_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t pointer_ = 0;
    unsigned address_seen_ = 0;
    bool selected_ = false;
    bool writing_ = false;
    Picos busy_until_ = 0;
};

const I2cDeviceRegistrar eeprom24("eeprom24", [](const DeviceConfig &config) {
    return std::unique_ptr<I2cDevice>(new Eeprom24(config));
});

}  // namespace

}  // namespace kvsim
