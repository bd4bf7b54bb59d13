// 24-series I2C EEPROMs: whole-memory read, page-wise write with acknowledge polling, verify.
#pragma once

#include <cstdint>
#include <string>

#include "i2c.h"

namespace velta {

struct EepromGeometry {
    unsigned device = 0x50;
    std::uint64_t size = 0;
    unsigned page = 0;        // 0: the usual page of a part of that size
    unsigned address_bytes = 0;  // 0: one up to 256 bytes, two above

    // Fills in the defaults; throws UsageError for a geometry no part has.
    void settle();
};

class Eeprom {
public:
    Eeprom(I2cChannel &channel, const EepromGeometry &geometry);
    Bytes read(std::uint64_t address, std::uint64_t length, Show show);
    // Writes from address 0, page by page, and waits until the last write cycle ends.
    void write(const Bytes &data, Show show);

private:
    // Memory address bits beyond the address bytes travel in the device address.
    unsigned device_for(std::uint64_t address) const;
    Bytes address_bytes(std::uint64_t address) const;
    // Acknowledge polling, one address per transaction: returns how many went unanswered
    // before the device answered; Failure after the time-out.
    std::size_t wait_ready(unsigned device);

    I2cBus bus_;
    EepromGeometry geometry_;
};

// "read" (the whole memory into the file), "write" or "verify" (the file's length from address
// 0). A write reads its bytes back unless `verify` is false.
void eeprom_command(const std::string &action, const I2cTarget &target, EepromGeometry geometry,
                    const std::string &file, Show show, bool verify = true);

}  // namespace velta
