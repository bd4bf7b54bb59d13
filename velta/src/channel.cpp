#include "channel.h"

#include <algorithm>

#include "korvin_mid.h"

namespace velta {

namespace {

constexpr std::uint8_t kLatencyMs = 2;
constexpr std::uint32_t kEngineClock = 1000000;

std::string channel_name(const char *family, unsigned channel) {
    return std::string(family) + " channel " + std::to_string(channel);
}

}  // namespace

void require_channel(unsigned channel) {
    std::uint32_t count = 0;
    check(SPI_GetNumChannels(&count), "cannot count the bridge channels");
    if (channel >= count)
        throw Failure("no channel " + std::to_string(channel) + ": there " + (count == 1 ? "is " : "are ") +
                      std::to_string(count) + " engine channel" + (count == 1 ? "" : "s") + " (see velta list)");
}

namespace {

// The engine makes base / (divisor + 1) from a 16-bit divisor: down to 92 Hz from its 6 MHz
// base, 458 Hz on a full-speed bridge whose base is always 30 MHz; up to 30 MHz. With
// three-phase clocking, which a full-speed bridge lacks, an I2C bus takes three engine clocks
// for two bit times, so its range is two thirds of that. Tells whether the bridge is full-speed.
bool check_clock(unsigned channel, std::uint32_t hz, bool i2c) {
    DeviceListEntry entry{};
    check(SPI_GetChannelInfo(channel, &entry), "cannot describe channel " + std::to_string(channel));
    const bool full_speed = entry.DeviceType == KV_DEVICE_FULL_SPEED_DUAL;
    std::uint32_t lowest = full_speed ? 458 : 92, highest = 30000000;
    if (i2c && !full_speed) lowest = (lowest * 2 + 2) / 3, highest = highest / 3 * 2;
    if (hz < lowest || hz > highest)
        throw UsageError("--clock: " + std::to_string(hz) + " Hz is outside the " + std::to_string(lowest) + " to " +
                         std::to_string(highest) + " Hz " + (i2c ? "an I2C" : "an SPI") + " bus on a " +
                         device_type_name(entry.DeviceType) + " bridge runs at");
    return full_speed;
}

}  // namespace

I2cChannel::I2cChannel(const I2cTarget &target) : index_(target.channel) {
    require_channel(index_);
    const bool full_speed = check_clock(index_, target.clock_hz, true);
    check(I2C_OpenChannel(index_, &handle_), "cannot open " + channel_name("I2C", index_));
    // Open-drain lines where the bridge offers it; three-phase clocking, where the bridge has
    // it, keeps SDA stable around SCL edges (without it the bus would run at 3/2 of --clock).
    I2CChannelConfig config{target.clock_hz, kLatencyMs,
                            I2C_CFG_DRIVE_ZERO_ONLY | (full_speed ? I2C_CFG_NO_THREE_PHASE : 0u) |
                                (target.clock_stretching ? I2C_CFG_CLOCK_STRETCHING : 0u)};
    const KV_STATUS status = I2C_InitChannel(handle_, &config);
    if (status != STATUS_SUCCESS) {
        I2C_CloseChannel(handle_);
        check(status, "cannot set up " + channel_name("I2C", index_) +
                          (status == STATUS_BAD_PARAMETER && target.clock_stretching
                               ? " (a full-speed bridge cannot follow a stretched clock)" : ""));
    }
}

I2cChannel::~I2cChannel() { I2C_CloseChannel(handle_); }

std::string I2cChannel::device_name(unsigned device) const {
    return "device " + hex_byte(device) + " on I2C channel " + std::to_string(index_);
}

SpiChannel::SpiChannel(const SpiSettings &s) {
    require_channel(s.channel);
    check_clock(s.channel, s.clock_hz, false);
    check(SPI_OpenChannel(s.channel, &handle_), "cannot open " + channel_name("SPI", s.channel));
    const std::uint32_t cs_mask = 0x08u << (s.cs - 3);
    ChannelConfig config{};
    config.ClockRate = s.clock_hz;
    config.LatencyTimer = kLatencyMs;
    config.configOptions = s.mode | (s.cs - 3) << 2 | SPI_CFG_CS_ACTIVE_LOW;
    // Chip-select starts released (high); on close every pin is let go.
    config.Pin = cs_mask << 8;
    const KV_STATUS status = SPI_InitChannel(handle_, &config);
    if (status != STATUS_SUCCESS) {
        SPI_CloseChannel(handle_);
        check(status, "cannot set up " + channel_name("SPI", s.channel));
    }
}

SpiChannel::~SpiChannel() {
    if (selected_) SPI_ToggleCS(handle_, 0);
    SPI_CloseChannel(handle_);
}

void SpiChannel::transfer(const std::vector<SPITransfer> &set) {
    if (set.empty()) return;
    // Until the set has run, a failure may leave chip-select asserted.
    selected_ = true;
    check(SPI_Transfer(handle_, set.data(), static_cast<std::uint32_t>(set.size())), "SPI transfer");
    selected_ = set.back().releaseCS == 0;
}

Bytes SpiChannel::command(const Bytes &out, std::size_t in_length) {
    Bytes in(in_length);
    std::vector<SPITransfer> set{spi_out(out.data(), out.size(), in_length == 0)};
    if (in_length != 0) set.push_back(spi_in(in.data(), in.size(), true));
    transfer(set);
    return in;
}

SPITransfer spi_out(const std::uint8_t *bytes, std::size_t length, bool release) {
    SPITransfer t{};
    t.txBuffer = bytes;
    t.length = static_cast<std::uint32_t>(length);
    t.releaseCS = release;
    return t;
}

SPITransfer spi_in(std::uint8_t *bytes, std::size_t length, bool release) {
    SPITransfer t{};
    t.rxBuffer = bytes;
    t.length = static_cast<std::uint32_t>(length);
    t.releaseCS = release;
    return t;
}

EngineChannel::EngineChannel(unsigned channel) {
    require_channel(channel);
    check(KV_OpenChannel(PROTOCOL_SPI, channel + 1, &handle_), "cannot open channel " + std::to_string(channel));
    const KV_STATUS status = KV_InitChannel(PROTOCOL_SPI, handle_, kEngineClock, std::uint32_t{kLatencyMs}, 0u);
    if (status != STATUS_SUCCESS) {
        KV_CloseChannel(PROTOCOL_SPI, handle_);
        check(status, "cannot set up channel " + std::to_string(channel));
    }
}

EngineChannel::~EngineChannel() { KV_CloseChannel(PROTOCOL_SPI, handle_); }

const char *device_type_name(std::uint32_t type) {
    switch (type) {
        case KV_DEVICE_FULL_SPEED_DUAL: return "full-speed dual";
        case KV_DEVICE_HIGH_SPEED_DUAL: return "high-speed dual";
        case KV_DEVICE_HIGH_SPEED_QUAD: return "high-speed quad";
        case KV_DEVICE_HIGH_SPEED_SINGLE: return "high-speed single";
        default: return "unknown";
    }
}

}  // namespace velta
