// Open, initialised bridge channels, closed when they go out of scope. Channels are named by
// the 0-based index the SPI and I2C families use.
#pragma once

#include <cstdint>
#include <string>

#include "common.h"
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"

namespace velta {

// Throws Failure when no engine channel has that index.
void require_channel(unsigned channel);

constexpr std::uint32_t kDefaultI2cClock = 100000;

struct I2cTarget {
    unsigned channel = 0;
    std::uint32_t clock_hz = kDefaultI2cClock;
    bool clock_stretching = false;  // adaptive clocking, for devices that hold SCL low
};

class I2cChannel {
public:
    explicit I2cChannel(const I2cTarget &target);
    ~I2cChannel();
    I2cChannel(const I2cChannel &) = delete;
    I2cChannel &operator=(const I2cChannel &) = delete;
    KV_HANDLE handle() const { return handle_; }
    unsigned index() const { return index_; }
    std::string device_name(unsigned device) const;  // "device 0x50 on I2C channel 2"

private:
    KV_HANDLE handle_ = nullptr;
    unsigned index_;
};

struct SpiSettings {
    unsigned channel = 0;
    unsigned cs = 3;        // low pin 3..7, active low
    unsigned mode = 0;
    std::uint32_t clock_hz = 1000000;
};

// Transfer sets run as one engine stream each. A set whose last transfer keeps chip-select
// asserted leaves the frame open for the next set.
class SpiChannel {
public:
    explicit SpiChannel(const SpiSettings &settings);
    ~SpiChannel();
    SpiChannel(const SpiChannel &) = delete;
    SpiChannel &operator=(const SpiChannel &) = delete;

    void transfer(const std::vector<SPITransfer> &set);
    // A whole frame: `out` sent, then `in_length` bytes read.
    Bytes command(const Bytes &out, std::size_t in_length = 0);

private:
    KV_HANDLE handle_ = nullptr;
    bool selected_ = false;
};

// Transfers of a set: bytes out (the rest of the frame discarded), bytes in (zeros out).
SPITransfer spi_out(const std::uint8_t *bytes, std::size_t length, bool release);
SPITransfer spi_in(std::uint8_t *bytes, std::size_t length, bool release);

// Opens the channel through the channel layer and starts its engine without touching the low
// pins, for the high-pin commands.
class EngineChannel {
public:
    explicit EngineChannel(unsigned channel);
    ~EngineChannel();
    EngineChannel(const EngineChannel &) = delete;
    EngineChannel &operator=(const EngineChannel &) = delete;
    KV_HANDLE handle() const { return handle_; }

private:
    KV_HANDLE handle_ = nullptr;
};

const char *device_type_name(std::uint32_t type);

}  // namespace velta
