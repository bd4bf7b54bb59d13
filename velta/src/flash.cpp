#include "flash.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace velta {

namespace {

constexpr std::uint8_t kReadId = 0x9F;
constexpr std::uint8_t kReadParameters = 0x5A;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kSectorErase = 0x20;
constexpr std::uint8_t kBlockErase = 0xD8;
constexpr std::uint8_t kChipErase = 0xC7;
constexpr std::uint8_t kEnter4ByteAddress = 0xB7;
constexpr std::uint8_t kWriteInProgress = 0x01;
constexpr std::uint8_t kWriteEnableLatch = 0x02;
constexpr std::uint8_t kBlockProtect = 0x1C;

constexpr std::uint64_t kSector = 4096;
constexpr std::uint64_t kBlock = 65536;
// A read is one command; its bytes come in calls of this many, between progress updates.
constexpr std::uint64_t kReadPiece = 256 * 1024;

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

bool JedecId::silent() const {
    return (manufacturer == 0 || manufacturer == 0xFF) && type == manufacturer && capacity == manufacturer;
}

std::string JedecId::text() const { return hex_bytes({manufacturer, type, capacity}).substr(0, 8); }

namespace {

std::uint32_t little_endian(const Bytes &bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 | std::uint32_t{bytes[at + 2]} << 16 |
           std::uint32_t{bytes[at + 3]} << 24;
}

// Three address bytes up to 16 MiB, four above.
unsigned address_bytes_for(std::uint64_t size) { return size > (std::uint64_t{16} << 20) ? 4 : 3; }

// The size and address bytes of the basic parameter table; zeros where the chip has none.
FlashGeometry read_parameter_table(SpiChannel &spi) {
    FlashGeometry g{0, 0, 256};
    const Bytes header = spi.command({kReadParameters, 0, 0, 0, 0}, 16);
    // The first parameter header must be the basic table's (ID 0x00 ... 0xFF), two words at least.
    if (Bytes(header.begin(), header.begin() + 4) != Bytes{'S', 'F', 'D', 'P'} || header[8] != 0x00 ||
        header[15] != 0xFF || header[11] < 2)
        return g;
    const Bytes table = spi.command({kReadParameters, header[14], header[13], header[12], 0}, 8);
    const std::uint32_t first = little_endian(table, 0), density = little_endian(table, 4);
    if (density & 0x80000000u) {
        const std::uint32_t log2_bits = density & 0x7FFFFFFFu;
        if (log2_bits >= 3 && log2_bits <= 35) g.size = std::uint64_t{1} << (log2_bits - 3);
    } else {
        g.size = (std::uint64_t{density} + 1) / 8;
    }
    const unsigned field = (first >> 17) & 3u;  // 0: three, 1: three or four, 2: four
    if (field < 2 && g.size != 0) g.address_bytes = field == 0 ? 3 : address_bytes_for(g.size);
    if (field == 2) g.address_bytes = 4;
    return g;
}

// JEDEC ID families whose capacity byte is log2 of the size: the simulated bridge's flash
// parts, whose maker byte 0x5A no real maker has.
struct KnownFamily {
    std::uint8_t manufacturer, type, smallest, largest;
};
constexpr KnownFamily kKnownFamilies[] = {{0x5A, 0x40, 0x11, 0x1F}};

FlashGeometry known_geometry(const JedecId &id) {
    for (const KnownFamily &f : kKnownFamilies) {
        if (id.manufacturer == f.manufacturer && id.type == f.type && id.capacity >= f.smallest && id.capacity <= f.largest) {
            const std::uint64_t size = std::uint64_t{1} << id.capacity;
            return {size, address_bytes_for(size), 256};
        }
    }
    return {0, 0, 256};
}

// Usage errors of a geometry: a size its address bytes cannot reach, a page not dividing it.
void check_geometry(const FlashGeometry &g) {
    const unsigned bits = 8 * g.address_bytes;
    if (g.size != 0 && g.address_bytes != 0 && bits < 64 && g.size > (std::uint64_t{1} << bits))
        throw UsageError("--size " + std::to_string(g.size) + " needs more than " + std::to_string(g.address_bytes) +
                         " address bytes");
    if (g.size != 0 && (g.page == 0 || g.size % g.page != 0)) throw UsageError("--page must divide the size");
}

}  // namespace

FlashIdentity Flash::identify(SpiChannel &spi) {
    FlashIdentity who;
    const Bytes bytes = spi.command({kReadId}, 3);
    who.id = JedecId{bytes[0], bytes[1], bytes[2]};
    who.geometry = read_parameter_table(spi);
    if (who.geometry.size == 0 || who.geometry.address_bytes == 0) who.geometry = known_geometry(who.id);
    return who;
}

Flash::Flash(SpiChannel &spi, std::uint32_t clock_hz, FlashGeometry geometry)
    // A status batch reads at most about 10 ms worth of bytes.
    : spi_(spi), clock_hz_(clock_hz), poll_(std::clamp<std::size_t>(clock_hz / 800, 16, 65536)), geometry_(geometry) {
    if (geometry_.size == 0 || geometry_.address_bytes == 0) {
        const FlashIdentity who = identify(spi_);
        if (geometry_.size == 0) geometry_.size = who.geometry.size;
        if (geometry_.address_bytes == 0) geometry_.address_bytes = who.geometry.address_bytes;
        if (geometry_.size == 0 || geometry_.address_bytes == 0)
            throw Failure("the memory (JEDEC ID " + who.id.text() +
                          ") has no parameter table and no ID velta knows; give its size and address bytes "
                          "with --size and --addr-bytes");
    }
    check_geometry(geometry_);
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
    // One read command; chip-select stays asserted from one piece to the next.
    spi_.transfer({spi_out(command.data(), command.size(), length == 0)});
    for (std::uint64_t at = 0; at < length; at += kReadPiece) {
        const std::uint64_t n = std::min(kReadPiece, length - at);
        spi_.transfer({spi_in(data.data() + at, n, at + n == length)});
        progress.advance(n);
    }
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

std::size_t Flash::first_batch(std::uint8_t opcode) const {
    // What the last cycle of this kind took, and a little more; short at first.
    const auto learned = cycle_bytes_.find(opcode);
    if (learned == cycle_bytes_.end()) return std::clamp<std::size_t>(clock_hz_ / 80000, 1, poll_.size());  // 100 us
    return std::min(learned->second + learned->second / 32 + 1, poll_.size());
}

void Flash::carry_out(const Bytes &command, const std::uint8_t *data, std::size_t length,
                      std::chrono::milliseconds timeout, const std::string &what, Progress *progress) {
    // Write enable, its check, the command and the first status batch in one stream.
    std::uint8_t latch = 0;
    const std::size_t batch = first_batch(command[0]);
    std::vector<SPITransfer> set{spi_out(&kWriteEnable, 1, true), spi_out(&kReadStatus, 1, false),
                                 spi_in(&latch, 1, true), spi_out(command.data(), command.size(), length == 0)};
    if (length != 0) set.push_back(spi_out(data, length, true));
    set.push_back(spi_out(&kReadStatus, 1, false));
    set.push_back(spi_in(poll_.data(), batch, true));
    spi_.transfer(set);
    // Without the latch the chip ignores the command.
    if ((latch & kWriteEnableLatch) == 0 || latch == 0xFF)
        throw Failure("the flash did not take write enable (status register " + hex_byte(latch) + ")");
    wait_ready(timeout, what, progress, command[0], batch);
}

void Flash::wait_ready(std::chrono::milliseconds timeout, const std::string &what, Progress *progress,
                       std::uint8_t opcode, std::size_t batch) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint64_t polled = 0;  // status bytes read before this batch
    std::size_t next = std::clamp<std::size_t>(batch / 8, 16, poll_.size());
    for (bool first = true;; first = false) {
        if (batch == 0) {
            batch = next;
            next = std::min(next * 2, poll_.size());
            spi_.transfer({spi_out(&kReadStatus, 1, false), spi_in(poll_.data(), batch, true)});
        }
        const auto ready = std::find_if(poll_.begin(), poll_.begin() + static_cast<std::ptrdiff_t>(batch),
                                        [](std::uint8_t s) { return !(s & kWriteInProgress); });
        if (ready != poll_.begin() + static_cast<std::ptrdiff_t>(batch)) {
            const std::uint64_t took = polled + static_cast<std::uint64_t>(ready - poll_.begin()) + 1;
            // A cycle that outlasted the first batch may have run on between batches: allow more.
            cycle_bytes_[opcode] = static_cast<std::size_t>(first ? took : took + took / 8);
            // A write the chip took ends with the latch cleared.
            if (*ready & kWriteEnableLatch) throw Failure("the flash did not take the " + what);
            return;
        }
        polled += batch;
        batch = 0;
        if (progress) progress->advance(0);
        // Both the host's clock and the status bytes clocked meanwhile tell the time gone.
        const double wire_ms = static_cast<double>(polled) * 8000 / clock_hz_;
        if (std::chrono::steady_clock::now() > deadline || wire_ms > static_cast<double>(timeout.count()))
            throw Failure(what + " did not finish within " + std::to_string(timeout.count()) + " ms");
    }
}

void Flash::erase(std::uint8_t opcode, std::uint64_t address, std::chrono::milliseconds timeout) {
    carry_out(with_address(opcode, address), nullptr, 0, timeout, "erase at " + at_address(address));
}

void Flash::program(std::uint64_t address, const std::uint8_t *data, std::size_t length) {
    carry_out(with_address(kPageProgram, address), data, length, kProgramTimeout, "page program at " + at_address(address));
}

void Flash::program_range(std::uint64_t from, const Bytes &bytes, const Bytes &now, Progress *progress) {
    for (std::uint64_t at = from; at < from + bytes.size();) {
        const std::uint64_t n = std::min<std::uint64_t>(geometry_.page - at % geometry_.page, from + bytes.size() - at);
        const auto begin = static_cast<std::ptrdiff_t>(at - from), end = begin + static_cast<std::ptrdiff_t>(n);
        if (!std::equal(bytes.begin() + begin, bytes.begin() + end, now.begin() + begin)) program(at, &bytes[at - from], n);
        at += n;
        if (progress) progress->advance(n);
    }
}

void Flash::write(const Bytes &data, bool erase_first, Show show, const std::string &rescue_file) {
    check_range(data.size());
    require_writable();
    if (data.empty()) return;
    const std::uint64_t sector = std::min(kSector, geometry_.size);
    const std::uint64_t end = erase_first ? std::min(geometry_.size, (data.size() + sector - 1) / sector * sector) : data.size();
    Bytes current = read(0, end, show);
    // What the range must hold: the data, then what the last sector holds beyond it.
    Bytes target = data;
    target.insert(target.end(), current.begin() + static_cast<std::ptrdiff_t>(data.size()), current.end());
    bool erased = false;
    try {
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
                    erased = true;
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
        program_range(0, target, current, &progress);
        progress.finish();
        compare(read(0, end, show), target, 0);
    } catch (const Failure &failure) {
        if (erased && end > data.size()) restore(target, data.size(), failure.what(), rescue_file);
        throw;
    }
}

namespace {

// A name beside `image` that no file has yet.
std::string free_name(const std::string &image) {
    for (unsigned n = 0;; ++n) {
        const std::string name = image + ".kept" + (n == 0 ? "" : "." + std::to_string(n));
        if (!std::ifstream(name)) return name;
    }
}

}  // namespace

void Flash::restore(const Bytes &target, std::uint64_t from, const std::string &failure, const std::string &rescue_file) {
    const Bytes kept(target.begin() + static_cast<std::ptrdiff_t>(from), target.end());
    try {
        wait_ready(kEraseTimeout, "write", nullptr, 0, 0);
    } catch (const Failure &) {
        // A latch left set by the failed step says nothing about the bytes; read them.
    }
    std::string why;
    try {
        Bytes now = read(from, kept.size(), Show::Never);
        if (now == kept) return;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if ((now[i] & kept[i]) == kept[i]) continue;
            erase(kSectorErase, from, kEraseTimeout);
            now.assign(kept.size(), 0xFF);
            break;
        }
        program_range(from, kept, now, nullptr);
        if (read(from, kept.size(), Show::Never) == kept) return;
        why = "they read back wrong";
    } catch (const Failure &again) {
        why = again.what();
    }
    const std::string range = at_address(from) + "-" + at_address(target.size() - 1);
    std::string saved;
    try {
        saved = free_name(rescue_file);
        write_file(saved, target);
    } catch (const Failure &not_saved) {
        throw Failure(failure + "\nvelta: the flash's bytes " + range + " beyond the file were erased and could not be "
                      "written back (" + why + ") nor saved (" + not_saved.what() + ")");
    }
    throw Failure(failure + "\nvelta: the flash's bytes " + range + " beyond the file were erased and could not be "
                  "written back (" + why + "); " + saved + " holds the file with them: write it back with the same "
                  "velta flash write command, naming " + saved + " instead");
}

void Flash::erase_chip(Show show) {
    require_writable();
    Progress progress("erase", 0, show);
    carry_out({kChipErase}, nullptr, 0, kChipEraseTimeout, "chip erase", &progress);
    progress.finish();
}

std::string flash_command(const FlashCommand &c) {
    check_geometry(c.geometry);
    // The file is read, and its size checked, before the chip is touched.
    const bool takes_file = c.action == "write" || c.action == "verify";
    const Bytes data = takes_file ? read_file(c.file) : Bytes{};
    if (c.geometry.size != 0 && data.size() > c.geometry.size)
        throw Failure(c.file + " has " + std::to_string(data.size()) + " bytes, more than the flash's " +
                      std::to_string(c.geometry.size) + "; nothing written");
    SpiChannel spi(c.spi);
    if (c.action == "id") {
        const FlashIdentity who = Flash::identify(spi);
        if (who.id.silent()) throw Failure("no flash answered (JEDEC ID " + who.id.text() + ")");
        const std::uint64_t size = c.geometry.size != 0 ? c.geometry.size : who.geometry.size;
        const unsigned address_bytes = c.geometry.address_bytes != 0 ? c.geometry.address_bytes : who.geometry.address_bytes;
        return "jedec id: " + who.id.text() + "\n" +
               "size: " + (size != 0 ? std::to_string(size) + " bytes" : std::string("unknown")) + "\n" +
               "address bytes: " + (address_bytes != 0 ? std::to_string(address_bytes) : std::string("unknown")) + "\n";
    }
    Flash flash(spi, c.spi.clock_hz, c.geometry);
    if (c.action == "read") write_file(c.file, flash.read(0, flash.geometry().size, c.show));
    if (c.action == "write") flash.write(data, c.erase, c.show, c.file);
    if (c.action == "verify") compare(flash.read(0, data.size(), c.show), data, 0);
    if (c.action == "erase") flash.erase_chip(c.show);
    return "";
}

}  // namespace velta
