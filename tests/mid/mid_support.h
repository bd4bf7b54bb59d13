// Shared helpers of the channel-layer tests: simulator configurations, an opened channel, the
// host-to-engine byte log, and a way to empty one driver slot for the length of a test.
#ifndef MID_SUPPORT_H
#define MID_SUPPORT_H

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "bytes.h"
#include "engine_log.h"
#include "korvin_infra.h"
#include "korvin_mid.h"
#include "kvsim.h"

using kvtest::Bytes;
using kvtest::concat;
using kvtest::engine_log;

// One bridge of the given type with one channel per location word (no devices on its bus).
inline std::string bridgeJson(unsigned type, const std::string &serial, std::initializer_list<unsigned> locations) {
    std::string channels;
    for (unsigned location : locations) {
        if (!channels.empty()) channels += ", ";
        channels += "{\"bus\": \"none\", \"location\": " + std::to_string(location) + "}";
    }
    return "{\"type\": " + std::to_string(type) + ", \"serial\": \"" + serial + "\", \"description\": \"Bridge " +
           serial + "\", \"channels\": [" + channels + "]}";
}

inline std::string configJson(std::initializer_list<std::string> bridges) {
    std::string list;
    for (const std::string &bridge : bridges) list += (list.empty() ? "" : ", ") + bridge;
    return "{\"wall_clock\": false, \"bridges\": [" + list + "]}";
}

inline unsigned totalDriverCalls() {
    unsigned total = 0;
    for (int entry = 0; entry < KVSIM_ENTRY_COUNT; ++entry) total += kvsim_call_count(static_cast<kvsim_entry>(entry));
    return total;
}

// A test on one opened channel at list position 0 of the given bridge type.
class ChannelTest : public ::testing::Test {
protected:
    void openBridge(unsigned type) {
        ASSERT_EQ(0, kvsim_load_config_json(configJson({bridgeJson(type, "T1", {1})}).c_str()));
        ASSERT_EQ(STATUS_SUCCESS, KV_OpenChannel(PROTOCOL_SPI, 1, &handle));
        kvsim_log_clear(0);
    }
    void SetUp() override { openBridge(KV_DEVICE_HIGH_SPEED_SINGLE); }
    void TearDown() override {
        if (handle) KV_CloseChannel(PROTOCOL_SPI, handle);
    }
    // The engine in its own mode, answering only what the test queues.
    void silentEngine() {
        ASSERT_EQ(STATUS_SUCCESS, Mid_EnableVELTAIn(handle));
        ASSERT_EQ(0, kvsim_set_echo(0, 0));
        kvsim_log_clear(0);
    }
    KV_HANDLE handle = nullptr;
};

// Puts the driver table back, when it goes, as it was when it was made.
class DriverTableGuard {
public:
    DriverTableGuard() : saved_(varFunctionPtrLst) {}
    ~DriverTableGuard() { varFunctionPtrLst = saved_; }
    DriverTableGuard(const DriverTableGuard &) = delete;
    DriverTableGuard &operator=(const DriverTableGuard &) = delete;

private:
    varFunctionPtrLst_t saved_;
};

// Empties one slot of the driver table while it lives.
class EmptySlot : DriverTableGuard {
public:
    explicit EmptySlot(kvsim_entry slot) {
        void (*none)(void) = nullptr;
        std::memcpy(reinterpret_cast<unsigned char *>(&varFunctionPtrLst) + slot * sizeof none, &none, sizeof none);
    }
};

#endif
