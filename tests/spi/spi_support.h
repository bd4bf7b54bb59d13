// Shared helpers of the SPI tests: simulator configurations with SPI devices, an opened and
// initialised channel, the host-to-engine byte log and the frames a test device recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "bytes.h"
#include "device_data.h"
#include "engine_log.h"
#include "frames.h"
#include "kvsim.h"
#include "libVELTA_spi.h"

namespace spitest {

using kvtest::Bytes;
using kvtest::concat;
using kvtest::device_data;
using kvtest::engine_log;
using kvtest::Frame;

// A device object for the configuration: kind, name, chip-select pin, mode, polarity, extras.
inline std::string device(const std::string &kind, const std::string &name, int cs, unsigned mode,
                          bool active_low = true, const std::string &extra = "") {
    return R"({"kind": ")" + kind + R"(", "name": ")" + name + R"(", "cs": )" + std::to_string(cs) +
           R"(, "mode": )" + std::to_string(mode) + R"(, "active_low": )" + (active_low ? "true" : "false") +
           (extra.empty() ? "" : ", " + extra) + "}";
}

// One bridge of the given type whose channels carry the given device lists.
inline std::string bridges(unsigned type, std::initializer_list<std::string> channels) {
    std::string list;
    for (const std::string &devices : channels)
        list += (list.empty() ? "" : ", ") + std::string(R"({"bus": "spi", "devices": [)") + devices + "]}";
    return R"({"wall_clock": false, "bridges": [{"type": )" + std::to_string(type) + R"(, "channels": [)" + list +
           "]}]}";
}

// The frames a test device recorded.
inline std::vector<Frame> frames(const char *name, unsigned position = 0) {
    return kvtest::decode_frames(device_data(name, "frames", position));
}

inline void script(const char *name, const Bytes &answers, unsigned position = 0) {
    ASSERT_EQ(kvsim_device_put(position, name, "answers", answers.data(), answers.size()), 0);
}

// configOptions of a channel: mode, chip-select selector, active-low chip-select.
inline std::uint32_t options(unsigned mode, unsigned selector = 0, bool active_low = true) {
    return mode | selector << 2 | (active_low ? SPI_CFG_CS_ACTIVE_LOW : 0u);
}

// Opens SPI channel `index` and initialises it; the initial value byte releases every
// chip-select line named in `released` (bits of pins 3 to 7), as a board would want.
inline void open_channel(std::uint32_t index, std::uint32_t configOptions, KV_HANDLE *handle,
                         std::uint8_t released = 0, ChannelConfig *saved = nullptr) {
    ASSERT_EQ(SPI_OpenChannel(index, handle), STATUS_SUCCESS);
    ChannelConfig config{};
    config.ClockRate = 1000000;
    config.LatencyTimer = 2;
    config.configOptions = configOptions;
    config.Pin = std::uint32_t(released) << 8;
    ASSERT_EQ(SPI_InitChannel(*handle, &config), STATUS_SUCCESS);
    if (saved) *saved = config;
}

// A fixture that closes what it opened; the configuration list is process-wide.
class SpiTest : public ::testing::Test {
protected:
    KV_HANDLE handle = nullptr;

    void load(const std::string &json) { ASSERT_EQ(kvsim_load_config_json(json.c_str()), 0); }
    // Opens channel 0 with its chip-select line starting released.
    void open(std::uint32_t configOptions) {
        bool active_low = (configOptions & SPI_CFG_CS_ACTIVE_LOW) != 0;
        std::uint8_t released = active_low ? std::uint8_t(0x08u << ((configOptions & SPI_CFG_CS_PIN_BITS) >> 2)) : 0;
        open_channel(0, configOptions, &handle, released);
        kvsim_log_clear(0);
    }
    void TearDown() override {
        kvsim_clear_faults();
        if (handle != nullptr) SPI_CloseChannel(handle);
    }
};

}  // namespace spitest
