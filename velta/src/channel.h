// Open, initialised bridge channels, closed when they go out of scope. Channels are named by
// the 0-based index the SPI and I2C families use.
#pragma once

#include <cstdint>
#include <string>

#include "common.h"

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

// One chip-select frame may span several calls: begin() asserts chip-select, end() releases it.
class SpiChannel {
public:
    explicit SpiChannel(const SpiSettings &settings);
    ~SpiChannel();
    SpiChannel(const SpiChannel &) = delete;
    SpiChannel &operator=(const SpiChannel &) = delete;

    void begin();
    void write(const Bytes &out);
    void read(std::uint8_t *in, std::size_t length);
    void exchange(const Bytes &out, std::uint8_t *in);
    void end();
    // A whole frame: `out` sent, then `in_length` bytes read.
    Bytes command(const Bytes &out, std::size_t in_length = 0);

private:
    KV_HANDLE handle_ = nullptr;
    bool selected_ = false;
};

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
