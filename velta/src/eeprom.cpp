#include "eeprom.h"

#include <algorithm>
#include <chrono>

namespace velta {

namespace {

// Parts finish a write cycle within 5 to 10 ms; a device silent this long is not there.
constexpr auto kReadyTimeout = std::chrono::milliseconds(100);
// A pointer set-up per this many bytes read keeps every read inside one device address block.
constexpr std::uint64_t kReadBlock = 4096;

}  // namespace

void EepromGeometry::settle() {
    if (size == 0) throw UsageError("--size must be above 0");
    if (address_bytes == 0) address_bytes = size <= 256 ? 1 : 2;
    if (address_bytes != 1 && address_bytes != 2) throw UsageError("--addr-bytes must be 1 or 2");
    // Up to three memory address bits may ride in the device address (as on 24C16 or 24M02).
    if (size > (std::uint64_t{1} << (8 * address_bytes + 3)))
        throw UsageError("--size " + std::to_string(size) + " needs more than " + std::to_string(address_bytes) +
                         " address byte" + (address_bytes == 1 ? "" : "s"));
    if (page == 0) {
        page = size <= 256 ? 8 : size <= 2048 ? 16 : size <= 8192 ? 32 : size <= 32768 ? 64 : 128;
        if (size % page != 0)
            throw UsageError("--size " + std::to_string(size) + " is no multiple of the default write page of " +
                             std::to_string(page) + " bytes; give --page");
    }
    if (page > size || size % page != 0) throw UsageError("--page must divide --size");
    if (device > 0x7F) throw UsageError("the EEPROM address must be at most 0x7f");
}

Eeprom::Eeprom(I2cChannel &channel, const EepromGeometry &geometry) : bus_(channel), geometry_(geometry) {}

unsigned Eeprom::device_for(std::uint64_t address) const {
    return geometry_.device | static_cast<unsigned>(address >> (8 * geometry_.address_bytes));
}

Bytes Eeprom::address_bytes(std::uint64_t address) const {
    Bytes bytes;
    for (unsigned i = geometry_.address_bytes; i-- > 0;) bytes.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    return bytes;
}

Bytes Eeprom::read(std::uint64_t address, std::uint64_t length, Show show) {
    Progress progress("read", length, show);
    Bytes data(length);
    const std::uint64_t block = std::min(kReadBlock, std::uint64_t{1} << (8 * geometry_.address_bytes));
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t at = address + done;
        const std::uint64_t n = std::min(length - done, block - at % block);
        // A random read: the address written, then a repeated start for the read.
        const Bytes in = bus_.write_read(device_for(at), address_bytes(at), n);
        std::copy(in.begin(), in.end(), data.begin() + static_cast<std::ptrdiff_t>(done));
        done += n;
        progress.advance(n);
    }
    progress.finish();
    return data;
}

std::size_t Eeprom::wait_ready(unsigned device) {
    const auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    std::size_t unanswered = 0;
    for (; !bus_.probe(device, false); ++unanswered) {
        if (std::chrono::steady_clock::now() > deadline)
            check(STATUS_NO_DEVICE, "no answer from " + bus_.device_name(device) + " within " +
                                        std::to_string(kReadyTimeout.count()) + " ms");
    }
    return unanswered;
}

void Eeprom::write(const Bytes &data, Show show) {
    Progress progress("write", data.size(), show);
    // Address probes that cover a write cycle, learned from one polled cycle: each page goes
    // in one transaction behind them, whose own address then finds the device ready.
    std::size_t probes = 0;
    bool learned = false;
    for (std::uint64_t at = 0; at < data.size();) {
        const std::uint64_t n = std::min<std::uint64_t>(data.size() - at, geometry_.page - at % geometry_.page);
        const unsigned device = device_for(at);
        Bytes page = address_bytes(at);
        page.insert(page.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (at != 0 && !learned) {
            probes = wait_ready(device);
            learned = true;
        }
        std::vector<I2CMessage> messages(at != 0 ? probes : 0, i2c_message(device, I2C_MSG_IGNORE_NACK | I2C_MSG_STOP));
        messages.push_back(i2c_message(device, 0, page.data(), page.size()));
        if (!bus_.run(messages, messages.size() - 1)) {
            // Still busy: a device that refuses its address ignores the bytes after it.
            probes += wait_ready(device) + 1;
            messages.assign(1, messages.back());
            bus_.run(messages);
        }
        at += n;
        progress.advance(n);
    }
    progress.finish();
    // The last write cycle ends before we report success.
    if (!data.empty()) wait_ready(device_for(data.size() - 1));
}

void eeprom_command(const std::string &action, const I2cTarget &target, EepromGeometry geometry,
                    const std::string &file, Show show, bool verify) {
    geometry.settle();
    // The file is read, and its size checked, before the bus is touched.
    const Bytes data = action == "read" ? Bytes{} : read_file(file);
    if (data.size() > geometry.size)
        throw Failure(file + " has " + std::to_string(data.size()) + " bytes, more than the EEPROM's " +
                      std::to_string(geometry.size) + "; nothing written");
    I2cChannel channel(target);
    Eeprom eeprom(channel, geometry);
    if (action == "read") write_file(file, eeprom.read(0, geometry.size, show));
    if (action == "write") eeprom.write(data, show);
    if (action == "verify" || (action == "write" && verify)) compare(eeprom.read(0, data.size(), show), data, 0);
}

}  // namespace velta
