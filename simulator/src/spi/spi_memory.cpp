// A 25-series serial memory: read and fast read, write enable/disable, page program with
// wrap-around inside the page, sector, block and chip erase, read status (bit 0 write in
// progress, bit 1 write-enable latch, bits 2-4 block protect) and write status. Outside a
// command, with its chip-select active, it shows ready/busy on MISO: high while a write or
// erase runs.
// Above 64 KiB it is a flash with three address bytes: it answers the JEDEC identification
// and the discoverable-parameters read (0x5A), whose basic table gives its size and address
// bytes ("sfdp": false leaves the table out). Up to 64 KiB it has two address bytes, which the
// table cannot express, and answers neither, unless its configuration gives a "jedec_id".
#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

#include "../device_config.h"
#include "spi_device.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteStatus = 0x01;
constexpr std::uint8_t kReadId = 0x9F;
constexpr std::uint8_t kReadParameters = 0x5A;
constexpr std::uint8_t kSectorErase = 0x20;
constexpr std::uint8_t kBlockErase = 0xD8;
constexpr std::uint8_t kChipErase = 0xC7;
constexpr std::uint8_t kChipEraseToo = 0x60;

constexpr std::uint8_t kWriteInProgress = 0x01;
constexpr std::uint8_t kWriteEnableLatch = 0x02;
constexpr std::uint8_t kBlockProtectShift = 2;
// Block protect and the status-register protect bit are what write status keeps.
constexpr std::uint8_t kWritableStatus = 0x9C;

constexpr std::uint64_t kSectorSize = 4096;
constexpr std::uint64_t kBlockSize = 65536;
constexpr std::uint64_t kMaxSize = 16u << 20;
constexpr std::uint64_t kMaxPage = 65536;
constexpr std::uint64_t kMaxMicros = 600000000;
// A manufacturer byte no maker has: JEDEC codes have odd parity, 0x5A has even.
constexpr std::uint32_t kMadeUpManufacturer = 0x5A;
constexpr std::uint32_t kMemoryType = 0x40;

// The discoverable-parameters area: its header, one parameter header, and the basic table at
// kBasicTable (nine double words): 4 KiB erase 0x20, the address bytes, the density in bits,
// and erase types 4 KiB (0x20) and 64 KiB (0xD8). Reads beyond it give 0xFF.
constexpr std::size_t kBasicTable = 0x30;
constexpr std::size_t kBasicTableWords = 9;

void put_word(std::vector<std::uint8_t> &area, std::size_t at, std::uint32_t word) {
    for (unsigned i = 0; i < 4; ++i) area[at + i] = static_cast<std::uint8_t>(word >> (8 * i));
}

std::vector<std::uint8_t> parameter_area(std::uint64_t size, unsigned address_bytes) {
    std::vector<std::uint8_t> area(kBasicTable + 4 * kBasicTableWords, 0xFF);
    const std::uint8_t header[] = {'S', 'F', 'D', 'P', 0x06, 0x01, 0x00, 0xFF,
                                   0x00, 0x06, 0x01, kBasicTableWords, kBasicTable, 0x00, 0x00, 0xFF};
    std::copy(std::begin(header), std::end(header), area.begin());
    const std::uint32_t address_field = address_bytes == 4 ? 2u : 0u;  // 0: three only, 2: four only
    put_word(area, kBasicTable, 0xFF8000E5u | address_field << 17 | std::uint32_t{0x20} << 8);
    put_word(area, kBasicTable + 4, static_cast<std::uint32_t>(size * 8 - 1));
    for (std::size_t word = 2; word < 7; ++word) put_word(area, kBasicTable + 4 * word, 0);
    put_word(area, kBasicTable + 28, 0xD810200Cu);
    put_word(area, kBasicTable + 32, 0);
    return area;
}

bool is_erase(std::uint8_t command) {
    return command == kSectorErase || command == kBlockErase || command == kChipErase || command == kChipEraseToo;
}

// The capacity byte is log2 of the size where the size is a power of two, 0 otherwise.
std::uint32_t default_id(std::uint64_t size) {
    std::uint32_t capacity = 0;
    if ((size & (size - 1)) == 0)
        while ((std::uint64_t{1} << capacity) < size) ++capacity;
    return kMadeUpManufacturer << 16 | kMemoryType << 8 | capacity;
}

class SpiMemory : public SpiDevice {
public:
    explicit SpiMemory(const DeviceConfig &config)
        : size_(config_uint(config, "size", 65536, 1, kMaxSize)),
          page_size_(config_uint(config, "page_size", 256, 1, std::min<std::uint64_t>(size_, kMaxPage))),
          write_cycle_(micros(config, "write_cycle_us", 1000)),
          sector_erase_(micros(config, "sector_erase_us", 45000)),
          block_erase_(micros(config, "block_erase_us", 150000)),
          chip_erase_(micros(config, "chip_erase_us", 200000)),
          needs_erase_(config_bool(config, "needs_erase", false)),
          address_bytes_(size_ > 65536 ? 3 : 2),
          memory_(size_),
          page_(page_size_) {
        if (size_ % page_size_ != 0) throw std::runtime_error("\"size\" must be a multiple of \"page_size\"");
        const bool flash = address_bytes_ >= 3;
        has_id_ = flash || config.find("jedec_id") != nullptr;
        const auto id = static_cast<std::uint32_t>(config_uint(config, "jedec_id", default_id(size_), 0, 0xFFFFFF));
        id_ = {static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
        if (flash && config_bool(config, "sfdp", true)) parameters_ = parameter_area(size_, address_bytes_);
        keep(memory_);
        keep(status_);
    }

    void frame_begin(Picos t) override {
        settle(t);
        phase_ = Phase::Command;
        command_ = 0;
        frame_bytes_ = 0;
        page_bytes_ = 0;
        accepted_ = false;
    }

    std::uint8_t next_out(Picos t) override {
        settle(t);
        if (phase_ == Phase::Data && (command_ == kRead || command_ == kFastRead)) return memory_[address_];
        if (phase_ == Phase::Data && command_ == kReadParameters)
            return address_ < parameters_.size() ? parameters_[address_] : 0xFF;
        if (phase_ == Phase::Status) return status(t);
        if (phase_ == Phase::Id) return id_[id_index_ % id_.size()];
        return busy(t) ? 0xFF : 0x00;
    }

    void byte_in(Picos t, std::uint8_t value) override {
        settle(t);
        ++frame_bytes_;
        switch (phase_) {
            case Phase::Command: take_command(t, value); break;
            case Phase::Address: take_address_byte(value); break;
            case Phase::Dummy: phase_ = Phase::Data; break;
            case Phase::Data: take_data_byte(value); break;
            case Phase::Id: ++id_index_; break;
            case Phase::StatusValue: new_status_ = value, phase_ = Phase::Ignore; break;
            case Phase::Status:
            case Phase::Ignore: break;
        }
    }

    // Latches, programs, erases and status writes take effect only when the frame ends on a
    // byte boundary after exactly their bytes (a program after at least one data byte).
    void frame_end(Picos t, unsigned bits, std::uint8_t) override {
        settle(t);
        const Phase phase = phase_;
        phase_ = Phase::Ignore;
        if (bits != 0 || !accepted_) return;
        const std::uint64_t addressed = 1 + address_bytes_;
        if (command_ == kWriteEnable && frame_bytes_ == 1) write_enabled_ = true;
        if (command_ == kWriteDisable && frame_bytes_ == 1) write_enabled_ = false;
        if (command_ == kPageProgram && phase == Phase::Data && page_bytes_ > 0) program(t);
        if ((command_ == kSectorErase || command_ == kBlockErase) && phase == Phase::Data && frame_bytes_ == addressed)
            erase_block(t, command_ == kSectorErase ? kSectorSize : kBlockSize);
        if ((command_ == kChipErase || command_ == kChipEraseToo) && frame_bytes_ == 1) start_cycle(t, chip_erase_, 0, size_);
        if (command_ == kWriteStatus && frame_bytes_ == 2) {
            status_.write(0, new_status_ & kWritableStatus);
            write_end_ = t + write_cycle_;
            cycle_running_ = true;
        }
    }

    bool takes_modes_0_and_3() const override { return true; }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override {
        if (key == "status") {
            out.assign(1, status_[0]);
            return true;
        }
        return memory_.get(key, out);
    }
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        if (key == "status" && length == 1) {
            status_.write(0, data[0] & kWritableStatus);
            return true;
        }
        return memory_.put(key, data, length);
    }

    bool set(const std::string &key, double value) override {
        Picos *time = key == "write_cycle_us"    ? &write_cycle_
                      : key == "sector_erase_us" ? &sector_erase_
                      : key == "block_erase_us"  ? &block_erase_
                      : key == "chip_erase_us"   ? &chip_erase_
                                                 : nullptr;
        if (time == nullptr || !(value >= 0)) return false;
        *time = static_cast<Picos>(value * kPicosPerMicro);
        return true;
    }


private:
    enum class Phase { Command, Address, Dummy, Data, Status, StatusValue, Id, Ignore };

    static Picos micros(const DeviceConfig &config, const char *key, std::uint64_t fallback) {
        return config_uint(config, key, fallback, 0, kMaxMicros) * kPicosPerMicro;
    }

    bool busy(Picos t) const { return t < write_end_; }
    std::uint8_t status(Picos t) const {
        return static_cast<std::uint8_t>(status_[0] | (busy(t) ? kWriteInProgress : 0) |
                                         (write_enabled_ ? kWriteEnableLatch : 0));
    }
    // The latch drops when a write cycle completes.
    void settle(Picos t) {
        if (cycle_running_ && !busy(t)) cycle_running_ = false, write_enabled_ = false;
    }

    // Block protect n (1..6) guards the upper size / 2^(7-n) bytes, 7 all of them.
    bool is_protected(std::uint64_t from, std::uint64_t to) const {
        const unsigned level = (status_[0] >> kBlockProtectShift) & 7u;
        if (level == 0) return false;
        const std::uint64_t guarded_from = level == 7 ? 0 : size_ - (size_ >> (7 - level));
        return to > guarded_from && from < size_;
    }

    void take_command(Picos t, std::uint8_t value) {
        command_ = value;
        address_ = 0;
        address_count_ = 0;
        id_index_ = 0;
        const bool writes = value == kPageProgram || is_erase(value) || value == kWriteStatus;
        // During a write cycle only the status can be read; writes need the latch.
        accepted_ = !(busy(t) && value != kReadStatus) && !(writes && !write_enabled_);
        if (!accepted_) {
            phase_ = Phase::Ignore;
        } else if (value == kRead || value == kFastRead || value == kPageProgram || value == kSectorErase ||
                   value == kBlockErase) {
            phase_ = Phase::Address;
        } else if (value == kReadStatus) {
            phase_ = Phase::Status;
        } else if (value == kWriteStatus) {
            phase_ = Phase::StatusValue;
        } else if (value == kReadId && has_id_) {
            phase_ = Phase::Id;
        } else if (value == kReadParameters && !parameters_.empty()) {
            phase_ = Phase::Address;
        } else {
            phase_ = Phase::Ignore;
        }
    }

    // The parameters read always takes three address bytes and a dummy byte.
    void take_address_byte(std::uint8_t value) {
        const bool parameters = command_ == kReadParameters;
        address_ = parameters ? (address_ << 8 | value) & 0xFFFFFF : (address_ << 8 | value) % size_;
        if (++address_count_ < (parameters ? 3u : address_bytes_)) return;
        phase_ = command_ == kFastRead || parameters ? Phase::Dummy : Phase::Data;
        page_offset_ = address_ % page_size_;
        std::fill(page_.begin(), page_.end(), Pending{});
    }

    void take_data_byte(std::uint8_t value) {
        if (command_ == kRead || command_ == kFastRead) {
            address_ = (address_ + 1) % size_;
            return;
        }
        if (command_ == kReadParameters) {
            address_ = (address_ + 1) & 0xFFFFFF;
            return;
        }
        if (command_ != kPageProgram) return;
        page_[page_offset_] = Pending{true, value};
        page_offset_ = (page_offset_ + 1) % page_size_;
        ++page_bytes_;
    }

    void program(Picos t) {
        const std::uint64_t page_start = address_ - address_ % page_size_;
        if (is_protected(page_start, page_start + page_size_)) {
            write_enabled_ = false;
            return;
        }
        for (std::uint64_t i = 0; i < page_size_; ++i) {
            if (!page_[i].written) continue;
            const std::uint64_t at = page_start + i;
            // Flash programming only clears bits; an erase sets them again.
            memory_.write(at, needs_erase_ ? static_cast<std::uint8_t>(memory_[at] & page_[i].value) : page_[i].value);
        }
        write_end_ = t + write_cycle_;
        cycle_running_ = true;
    }

    void erase_block(Picos t, std::uint64_t block) {
        const std::uint64_t span = std::min(block, size_);
        const std::uint64_t from = address_ - address_ % span;
        start_cycle(t, block == kSectorSize ? sector_erase_ : block_erase_, from, std::min(from + span, size_));
    }

    // Erases [from, to) unless a part of it is protected; a refused command only drops the latch.
    void start_cycle(Picos t, Picos length, std::uint64_t from, std::uint64_t to) {
        if (is_protected(from, to)) {
            write_enabled_ = false;
            return;
        }
        for (std::uint64_t i = from; i < to; ++i) memory_.write(i, 0xFF);
        write_end_ = t + length;
        cycle_running_ = true;
    }

    struct Pending {
        bool written = false;
        std::uint8_t value = 0;
    };

    std::uint64_t size_;
    std::uint64_t page_size_;
    Picos write_cycle_;
    Picos sector_erase_;
    Picos block_erase_;
    Picos chip_erase_;
    bool needs_erase_;
    unsigned address_bytes_;
    MemoryArray memory_;
    std::vector<Pending> page_;
    std::array<std::uint8_t, 3> id_{};
    bool has_id_ = false;
    std::vector<std::uint8_t> parameters_;  // empty: no discoverable parameters
    Phase phase_ = Phase::Ignore;
    std::uint8_t command_ = 0;
    // The status register is non-volatile on real parts, so it is kept with the contents.
    SavedBytes status_{"status", 1, 0, SavedBytes::Form::Numbers};
    std::uint8_t new_status_ = 0;
    std::uint64_t address_ = 0;
    unsigned address_count_ = 0;
    std::size_t id_index_ = 0;
    std::uint64_t page_offset_ = 0;
    std::uint64_t frame_bytes_ = 0;
    std::uint64_t page_bytes_ = 0;
    bool accepted_ = false;
    bool write_enabled_ = false;
    bool cycle_running_ = false;
    Picos write_end_ = 0;
};

const SpiDeviceRegistrar memory_kind("spi-memory",
                                     [](const DeviceConfig &config) { return std::make_unique<SpiMemory>(config); });

}  // namespace

}  // namespace kvsim
