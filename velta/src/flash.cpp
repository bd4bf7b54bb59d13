#include "flash.h"

#include <algorithm>
#include <cstdio>

namespace velta {

namespace {

constexpr std::uint8_t kReadId = 0x9F;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kSectorErase = 0x20;
constexpr std::uint8_t kBlockErase = 0xD8;
constexpr std::uint8_t kChipErase = 0xC7;
constexpr std::uint8_t kEnter4ByteAddress = 0xB7;
constexpr std::uint8_t kWriteInProgress = 0x01;
constexpr std::uint8_t kBlockProtect = 0x1C;

constexpr std::uint64_t kSector = 4096;
constexpr std::uint64_t kBlock = 65536;
constexpr std::uint64_t kReadPiece = 65536;

// Well beyond the longest times data sheets give.
constexpr std::chrono::milliseconds kProgramTimeout{1000};
constexpr std::chrono::milliseconds kEraseTimeout{10000};
constexpr std::chrono::milliseconds kChipEraseTimeout{600000};

std::string at_address(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%06llx", static_cast<unsigned long long>(address));
    return text;
}

}  // namespace

std::uint64_t JedecId::size() const {
    return capacity >= 10 && capacity <= 32 ? std::uint64_t{1} << capacity : 0;
}

std::string JedecId::text() const { return hex_bytes({manufacturer, type, capacity}).substr(0, 8); }

JedecId Flash::read_id(SpiChannel &spi) {
    const Bytes bytes = spi.command({kReadId}, 3);
    const JedecId id{bytes[0], bytes[1], bytes[2]};
    // A missing chip leaves MISO at one level.
    if ((id.manufacturer == 0 || id.manufacturer == 0xFF) && id.type == id.manufacturer && id.capacity == id.manufacturer)
        throw Failure("no flash answered (JEDEC ID " + id.text() + ")");
    return id;
}

Flash::Flash(SpiChannel &spi, std::uint32_t clock_hz, FlashGeometry geometry)
    // A status poll reads about a millisecond's worth of bytes at most.
    : spi_(spi), poll_bytes_(std::clamp<std::size_t>(clock_hz / 8000, 1, 4096)), geometry_(geometry) {
    if (geometry_.size == 0) {
        const JedecId id = read_id(spi_);
        geometry_.size = id.size();
        if (geometry_.size == 0) throw Failure("the JEDEC ID " + id.text() + " does not give the size; give --size");
    }
    if (geometry_.address_bytes == 0) geometry_.address_bytes = geometry_.size > (16u << 20) ? 4 : 3;
    const unsigned bits = 8 * geometry_.address_bytes;
    if (bits < 64 && geometry_.size > (std::uint64_t{1} << bits))
        throw UsageError("--size " + std::to_string(geometry_.size) + " needs more than " +
                         std::to_string(geometry_.address_bytes) + " address bytes");
    if (geometry_.page == 0 || geometry_.size % geometry_.page != 0) throw UsageError("--page must divide the size");
    if (geometry_.address_bytes == 4) spi_.command({kEnter4ByteAddress});
}

std::uint8_t Flash::status() { return spi_.command({kReadStatus}, 1)[0]; }

Bytes Flash::with_address(std::uint8_t opcode, std::uint64_t address) const {
    Bytes bytes{opcode};
    for (unsigned i = geometry_.address_bytes; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    return bytes;
}

void Flash::check_range(std::uint64_t length) const {
    if (length > geometry_.size)
        throw Failure(std::to_string(length) + " bytes do not fit the flash's " + std::to_string(geometry_.size));
}

Bytes Flash::read(std::uint64_t address, std::uint64_t length, Show show) {
    check_range(address + length);
    Progress progress("read", length, show);
    Bytes data(length);
    Bytes command = with_address(kFastRead, address);
    command.push_back(0x00);  // the fast read's dummy byte
    spi_.begin();
    spi_.write(command);
    for (std::uint64_t at = 0; at < length; at += kReadPiece) {
        const std::uint64_t n = std::min(kReadPiece, length - at);
        spi_.read(data.data() + at, n);
        progress.advance(n);
    }
    spi_.end();
    progress.finish();
    return data;
}

void Flash::require_writable() {
    const std::uint8_t s = status();
    if (s == 0xFF) throw Failure("the flash does not answer (status register reads 0xff)");
    if (s & kBlockProtect)
        throw Failure("the flash is write-protected: status register " + hex_byte(s) +
                      " has block-protect bits set (write status 0x01 with them cleared first)");
}

void Flash::write_enable() { spi_.command({kWriteEnable}); }

void Flash::wait_ready(std::chrono::milliseconds timeout, const std::string &what, Progress *progress) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes status(poll_bytes_);
    // Start with single bytes for short cycles and read longer runs as the wait goes on.
    std::size_t n = 1;
    spi_.begin();
    spi_.write({kReadStatus});
    for (;;) {
        spi_.read(status.data(), n);
        if (!(status[n - 1] & kWriteInProgress)) break;
        if (progress) progress->advance(0);
        if (std::chrono::steady_clock::now() > deadline) {
            spi_.end();
            throw Failure(what + " did not finish within " + std::to_string(timeout.count()) + " ms");
        }
        n = std::min(n * 2, poll_bytes_);
    }
    spi_.end();
}

void Flash::erase(std::uint8_t opcode, std::uint64_t address, std::chrono::milliseconds timeout) {
    write_enable();
    spi_.command(with_address(opcode, address));
    wait_ready(timeout, "erase at " + at_address(address));
}

void Flash::program(std::uint64_t address, const std::uint8_t *data, std::size_t length) {
    write_enable();
    Bytes command = with_address(kPageProgram, address);
    command.insert(command.end(), data, data + length);
    spi_.command(command);
    wait_ready(kProgramTimeout, "page program at " + at_address(address));
}

void Flash::write(const Bytes &data, bool erase_first, Show show) {
    check_range(data.size());
    require_writable();
    if (data.empty()) return;
    const std::uint64_t sector = std::min(kSector, geometry_.size);
    const std::uint64_t end = erase_first ? std::min(geometry_.size, (data.size() + sector - 1) / sector * sector) : data.size();
    Bytes current = read(0, end, show);
    // What the range must hold: the data, then what the last sector holds beyond it.
    Bytes target = data;
    target.insert(target.end(), current.begin() + static_cast<std::ptrdiff_t>(data.size()), current.end());

    if (erase_first) {
        auto needs_erase = [&](std::uint64_t from, std::uint64_t to) {
            for (std::uint64_t i = from; i < std::min(to, end); ++i)
                if ((current[i] & target[i]) != target[i]) return true;
            return false;
        };
        auto all_need = [&](std::uint64_t from, std::uint64_t to) {
            for (std::uint64_t s = from; s < to; s += sector)
                if (!needs_erase(s, s + sector)) return false;
            return true;
        };
        Progress progress("erase", end, show);
        for (std::uint64_t at = 0; at < end;) {
            const bool whole_block = at % kBlock == 0 && at + kBlock <= end && all_need(at, at + kBlock);
            const std::uint64_t span = whole_block ? kBlock : sector;
            if (whole_block || needs_erase(at, at + sector)) {
                erase(whole_block ? kBlockErase : kSectorErase, at, kEraseTimeout);
                std::fill(current.begin() + static_cast<std::ptrdiff_t>(at),
                          current.begin() + static_cast<std::ptrdiff_t>(std::min(at + span, end)), 0xFF);
            }
            at += span;
            progress.advance(span);
        }
        progress.finish();
    }

    Progress progress("write", end, show);
    for (std::uint64_t at = 0; at < end; at += geometry_.page) {
        const std::uint64_t n = std::min<std::uint64_t>(geometry_.page, end - at);
        const auto from = static_cast<std::ptrdiff_t>(at), to = static_cast<std::ptrdiff_t>(at + n);
        if (!std::equal(target.begin() + from, target.begin() + to, current.begin() + from)) program(at, &target[at], n);
        progress.advance(n);
    }
    progress.finish();
    compare(read(0, data.size(), show), data, 0);
}

void Flash::erase_chip(Show show) {
    require_writable();
    Progress progress("erase", 0, show);
    write_enable();
    spi_.command({kChipErase});
    wait_ready(kChipEraseTimeout, "chip erase", &progress);
    progress.finish();
}

std::string flash_command(const FlashCommand &c) {
    // The file is read, and its size checked, before the chip is touched.
    const bool takes_file = c.action == "write" || c.action == "verify";
    const Bytes data = takes_file ? read_file(c.file) : Bytes{};
    if (c.geometry.size != 0 && data.size() > c.geometry.size)
        throw Failure(c.file + " has " + std::to_string(data.size()) + " bytes, more than the flash's " +
                      std::to_string(c.geometry.size) + "; nothing written");
    SpiChannel spi(c.spi);
    if (c.action == "id") {
        const JedecId id = Flash::read_id(spi);
        const std::uint64_t size = c.geometry.size != 0 ? c.geometry.size : id.size();
        return "jedec id: " + id.text() + "\n" +
               "size: " + (size != 0 ? std::to_string(size) + " bytes" : std::string("unknown")) + "\n";
    }
    Flash flash(spi, c.spi.clock_hz, c.geometry);
    if (c.action == "read") write_file(c.file, flash.read(0, flash.geometry().size, c.show));
    if (c.action == "write") flash.write(data, c.erase, c.show);
    if (c.action == "verify") compare(flash.read(0, data.size(), c.show), data, 0);
    if (c.action == "erase") flash.erase_chip(c.show);
    return "";
}

}  // namespace velta
