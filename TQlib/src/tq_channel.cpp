// Finding, opening and closing the sensor's channel.
#include <cstdio>

#include "tq_api.h"
#include "tq_guard.h"
#include "tq_wire.h"

namespace {

constexpr std::uint8_t kLatencyMs = 2;
constexpr std::uint8_t kClockPin = 0x01, kDataOutPin = 0x02, kChipSelectPin = 0x08;  // low pin 3
constexpr int kProbeClockRate = 1000000;

std::uint32_t mode_options(int spimode) { return static_cast<std::uint32_t>(spimode) | SPI_CFG_CS_ACTIVE_LOW; }

// Chip-select released (high) before and after, clock idle at the mode's level at close.
ChannelConfig channel_config(int spimode, int baudrate) {
    std::uint32_t idle_clock = (spimode & 0x02) ? kClockPin : 0;
    std::uint32_t outputs = kClockPin | kDataOutPin | kChipSelectPin;
    ChannelConfig config{};
    config.ClockRate = static_cast<std::uint32_t>(baudrate);
    config.LatencyTimer = kLatencyMs;
    config.configOptions = mode_options(spimode);
    config.Pin = outputs | kChipSelectPin << 8 | outputs << 16 | (kChipSelectPin | idle_clock) << 24;
    return config;
}

std::uint32_t channel_count() {
    std::uint32_t count = 0;
    return SPI_GetNumChannels(&count) == STATUS_SUCCESS ? count : 0;
}

void list_channels(std::uint32_t count) {
    std::printf("SPI channels found: %u\n", count);
    for (std::uint32_t index = 0; index < count; ++index) {
        DeviceListEntry info{};
        if (SPI_GetChannelInfo(index, &info) != STATUS_SUCCESS) continue;
        std::printf("  Channel %u: type %u, serial %.*s, description %.*s\n", index + 1, info.DeviceType,
                    static_cast<int>(sizeof info.SerialText), info.SerialText,
                    static_cast<int>(sizeof info.DescriptionText), info.DescriptionText);
    }
}

// Opens and initialises channel (from 1); closes it again when initialising fails.
KV_STATUS open_channel(std::uint32_t channel, ChannelConfig *config, KV_HANDLE *handle) {
    KV_HANDLE opened = nullptr;
    KV_STATUS status = SPI_OpenChannel(channel - 1, &opened);
    if (status == STATUS_SUCCESS && opened == nullptr) status = STATUS_BAD_HANDLE;
    if (status != STATUS_SUCCESS) return status;
    status = SPI_InitChannel(opened, config);
    if (status != STATUS_SUCCESS) {
        SPI_CloseChannel(opened);
        return status;
    }
    *handle = opened;
    return STATUS_SUCCESS;
}

// The SPI mode, 0 or 3, in which a sensor answers on the channel; -1 for none. A sensor sees
// the identify command alike in both; only its answer comes back shifted in the wrong one.
int sensor_mode(std::uint32_t channel) {
    ChannelConfig config = channel_config(0, kProbeClockRate);
    KV_HANDLE handle = nullptr;
    if (open_channel(channel, &config, &handle) != STATUS_SUCCESS) return -1;
    int mode = tq::identify(handle) == STATUS_SUCCESS ? 0 : -1;
    if (mode < 0 && SPI_ChangeCS(handle, mode_options(3)) == STATUS_SUCCESS && tq::identify(handle) == STATUS_SUCCESS)
        mode = 3;
    SPI_CloseChannel(handle);
    return mode;
}

// Reports, in one line on standard error, a request TQlib refuses before touching a channel.
// Which clock rates a channel can make is libVELTA's business (see report_open_failure).
bool refused(std::uint32_t channel, int spimode, std::uint32_t count) {
    if (spimode < 0 || spimode > 3) {
        std::fprintf(stderr, "TQlib: SPI mode %d is not supported (0 to 3)\n", spimode);
    } else if (count == 0) {
        std::fprintf(stderr, "TQlib: channel %u does not exist: no SPI channel found\n", channel);
    } else if (channel < 1 || channel > count) {
        std::fprintf(stderr, "TQlib: channel %u does not exist (channels 1 to %u)\n", channel, count);
    } else {
        return false;
    }
    return true;
}

void report_open_failure(std::uint32_t channel, int baudrate, KV_STATUS status) {
    if (status == STATUS_BAD_PARAMETER)
        std::fprintf(stderr, "TQlib: clock rate %d Hz is not supported by channel %u\n", baudrate, channel);
    else
        std::fprintf(stderr, "TQlib: channel %u could not be opened (status %u)\n", channel, status);
}

}  // namespace

extern "C" {

int TQ_AutoChannel(GEN_PARAM *param) {
    return tq::guarded([&] {
        if (param == nullptr) return tq::kNullArgument;
        auto found = [&](std::uint32_t channel) {
            int mode = sensor_mode(channel);
            if (mode < 0) return false;
            param->channel = channel;
            if (mode != 0) param->spimode = mode;  // a sensor that answers in mode 3 only
            return true;
        };
        std::uint32_t count = channel_count();
        // The channel already chosen goes first; then every channel in order.
        if (param->channel >= 1 && param->channel <= count && found(param->channel)) return 0;
        for (std::uint32_t channel = 1; channel <= count; ++channel)
            if (channel != param->channel && found(channel)) return 0;
        return 1;
    });
}

int TQ_Open(KV_HANDLE *handle, uint32_t channel, int muted, int spimode, int baudrate, ChannelConfig *channelConf) {
    return tq::guarded([&] {
        if (handle == nullptr || channelConf == nullptr) return tq::kNullArgument;
        *handle = nullptr;  // until the channel is open, later calls refuse the handle
        std::uint32_t count = channel_count();
        if (muted == 0) list_channels(count);
        if (refused(channel, spimode, count)) return tq::kRefused;
        *channelConf = channel_config(spimode, baudrate);
        KV_HANDLE opened = nullptr;
        KV_STATUS status = open_channel(channel, channelConf, &opened);
        if (status != STATUS_SUCCESS) {
            report_open_failure(channel, baudrate, status);
            return tq::result(status);
        }
        // A handle is only worth having when the sensor answers in this mode: otherwise every
        // later read would bring shifted bits or nothing.
        status = tq::identify(opened);
        if (status != STATUS_SUCCESS) {
            SPI_CloseChannel(opened);
            std::fprintf(stderr, "TQlib: no Torqa sensor answers on channel %u in SPI mode %d (status %u)\n", channel,
                         spimode, status);
            return tq::result(status);
        }
        *handle = opened;
        return 0;
    });
}

int TQ_Close(KV_HANDLE handle) {
    return tq::guarded([&] { return handle == nullptr ? tq::kRefused : tq::result(SPI_CloseChannel(handle)); });
}

int TQ_LibVer(char *version) {
    return tq::guarded([&] {
        if (version == nullptr) return tq::kNullArgument;
        std::snprintf(version, 30, "TQlib 1.0.0 (protocol %u)", tq::kProtocolVersion);
        return 0;
    });
}

}  // extern "C"
