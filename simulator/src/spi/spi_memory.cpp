// A 25-series serial memory: read, write enable/disable, page program with wrap-around inside
// the page, read status with write-in-progress (bit 0) and write-enable-latch (bit 1). Outside a
// command, with its chip-select active, it shows ready/busy on MISO: high while a write runs.
#include <algorithm>
#include <stdexcept>
#include <vector>

#include "spi_device.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteInProgress = 0x01;
constexpr std::uint8_t kWriteEnableLatch = 0x02;
constexpr Picos kPicosPerMicro = 1000000;
constexpr std::uint64_t kMaxSize = 16u << 20;
constexpr std::uint64_t kMaxPage = 65536;

class SpiMemory : public SpiDevice {
public:
    explicit SpiMemory(const DeviceConfig &config)
        : size_(config_uint(config, "size", 65536, 1, kMaxSize)),
          page_size_(config_uint(config, "page_size", 256, 1, std::min<std::uint64_t>(size_, kMaxPage))),
          write_cycle_(config_uint(config, "write_cycle_us", 1000, 0, 60000000) * kPicosPerMicro),
          address_bytes_(size_ > 65536 ? 3 : 2),
          memory_(size_),
          page_(page_size_) {
        if (size_ % page_size_ != 0) throw std::runtime_error("\"size\" must be a multiple of \"page_size\"");
        keep(memory_);
    }

    void frame_begin(Picos t) override {
        settle(t);
        phase_ = Phase::Command;
        command_ = 0;
        frame_bytes_ = 0;
        page_bytes_ = 0;
    }

    std::uint8_t next_out(Picos t) override {
        settle(t);
        if (phase_ == Phase::Data && command_ == kRead) return memory_[address_];
        if (phase_ == Phase::Status) return status(t);
        return busy(t) ? 0xFF : 0x00;
    }

    void byte_in(Picos t, std::uint8_t value) override {
        settle(t);
        ++frame_bytes_;
        switch (phase_) {
            case Phase::Command: take_command(t, value); break;
            case Phase::Address: take_address_byte(value); break;
            case Phase::Data: take_data_byte(value); break;
            case Phase::Status:
            case Phase::Ignore: break;
        }
    }

    // Latches and programming take effect only when the frame ends on a byte boundary.
    void frame_end(Picos t, unsigned bits, std::uint8_t) override {
        settle(t);
        Phase phase = phase_;
        phase_ = Phase::Ignore;
        if (bits != 0) return;
        if (command_ == kWriteEnable && frame_bytes_ == 1) write_enabled_ = true;
        if (command_ == kWriteDisable && frame_bytes_ == 1) write_enabled_ = false;
        if (command_ == kPageProgram && phase == Phase::Data && page_bytes_ > 0) program(t);
    }

    bool takes_modes_0_and_3() const override { return true; }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override { return memory_.get(key, out); }
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        return memory_.put(key, data, length);
    }

    bool set(const std::string &key, double value) override {
        if (key != "write_cycle_us" || !(value >= 0)) return false;
        write_cycle_ = static_cast<Picos>(value * kPicosPerMicro);
        return true;
    }


private:
    enum class Phase { Command, Address, Data, Status, Ignore };

    bool busy(Picos t) const { return t < write_end_; }
    std::uint8_t status(Picos t) const {
        return static_cast<std::uint8_t>((busy(t) ? kWriteInProgress : 0) | (write_enabled_ ? kWriteEnableLatch : 0));
    }
    // The latch drops when a write cycle completes.
    void settle(Picos t) {
        if (cycle_running_ && !busy(t)) cycle_running_ = false, write_enabled_ = false;
    }

    void take_command(Picos t, std::uint8_t value) {
        command_ = value;
        address_ = 0;
        address_count_ = 0;
        // During a write cycle only the status can be read.
        if (busy(t) && value != kReadStatus) {
            phase_ = Phase::Ignore;
        } else if (value == kRead || (value == kPageProgram && write_enabled_)) {
            phase_ = Phase::Address;
        } else if (value == kReadStatus) {
            phase_ = Phase::Status;
        } else {
            phase_ = Phase::Ignore;
        }
    }

    void take_address_byte(std::uint8_t value) {
        address_ = (address_ << 8 | value) % size_;
        if (++address_count_ < address_bytes_) return;
        phase_ = Phase::Data;
        page_offset_ = address_ % page_size_;
        std::fill(page_.begin(), page_.end(), Pending{});
    }

    void take_data_byte(std::uint8_t value) {
        if (command_ == kRead) {
            address_ = (address_ + 1) % size_;
            return;
        }
        page_[page_offset_] = Pending{true, value};
        page_offset_ = (page_offset_ + 1) % page_size_;
        ++page_bytes_;
    }

    void program(Picos t) {
        std::uint64_t page_start = address_ - address_ % page_size_;
        for (std::uint64_t i = 0; i < page_size_; ++i)
            if (page_[i].written) memory_.write(page_start + i, page_[i].value);
        write_end_ = t + write_cycle_;
        cycle_running_ = true;
    }

    struct Pending {
        bool written = false;
        std::uint8_t value = 0;
    };

    std::uint64_t size_;
    std::uint64_t page_size_;
    Picos write_cycle_;
    unsigned address_bytes_;
    MemoryArray memory_;
    std::vector<Pending> page_;
    Phase phase_ = Phase::Ignore;
    std::uint8_t command_ = 0;
    std::uint64_t address_ = 0;
    unsigned address_count_ = 0;
    std::uint64_t page_offset_ = 0;
    std::uint64_t frame_bytes_ = 0;
    std::uint64_t page_bytes_ = 0;
    bool write_enabled_ = false;
    bool cycle_running_ = false;
    Picos write_end_ = 0;
};

const SpiDeviceRegistrar memory_kind("spi-memory",
                                     [](const DeviceConfig &config) { return std::make_unique<SpiMemory>(config); });

}  // namespace

}  // namespace kvsim
