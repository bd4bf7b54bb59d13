// Devices that stretch the clock, with and without the adaptive-clocking option, on the
// bridge wirings that support it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kOpen = I2C_OPT_START | I2C_OPT_STOP;

// How SCL reaches the bridge: all three wire SCL back to pin 7 as well.
enum class Wiring { OpenDrain, Diode, PushPull };

std::string board(Wiring wiring, const std::string &devices) {
    const bool single = wiring == Wiring::OpenDrain;
    const std::string diode = wiring == Wiring::Diode ? R"("scl_diode": true, )" : "";
    return std::string(R"({"wall_clock": false, "bridges": [{"type": )") + (single ? "8" : "6") +
           R"(, "serial": "STRETCH1", "channels": [{"bus": "i2c", "scl_return": true, )" + diode +
           R"("devices": [)" + devices + "]}" + (single ? "" : R"(, {"bus": "none"})") + "]}]}";
}

const char *kStretchingDevices = R"(
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "page_size": 32, "write_cycle_us": 0,
     "stretch_us": 50},
    {"kind": "i2c-register", "name": "temp", "address": 72, "temperature_c": 25.5, "stretch_us": 50})";

class Stretch {
public:
    Stretch(Wiring wiring, uint32_t options, const char *devices = kStretchingDevices) {
        loaded_ = kvsim_load_config_json(board(wiring, devices).c_str()) == 0 &&
                  I2C_OpenChannel(0, &handle_) == STATUS_SUCCESS;
        if (wiring == Wiring::OpenDrain) options |= I2C_CFG_DRIVE_ZERO_ONLY;
        I2CChannelConfig config{100000, 1, options};
        if (loaded_) init_status_ = I2C_InitChannel(handle_, &config);
    }
    ~Stretch() { I2C_CloseChannel(handle_); }
    bool ready() const { return loaded_ && init_status_ == STATUS_SUCCESS; }
    KV_HANDLE handle() const { return handle_; }

private:
    KV_HANDLE handle_ = nullptr;
    bool loaded_ = false;
    KV_STATUS init_status_ = STATUS_FAILURE;
};

Bytes device_get(const char *device, const char *key) {
    size_t length = 0;
    kvsim_device_get(0, device, key, nullptr, 0, &length);
    Bytes out(length);
    kvsim_device_get(0, device, key, out.data(), out.size(), &length);
    return out;
}

// What a round trip gave: the first failing status, or success with the data right or wrong.
struct Outcome {
    KV_STATUS status = STATUS_SUCCESS;
    bool data_right = false;
};

std::string describe(const Outcome &o) {
    if (o.status != STATUS_SUCCESS) return "status " + std::to_string(o.status);
    return o.data_right ? "right" : "wrong data";
}

// A page written to the EEPROM, then read back after a repeated start.
Outcome eeprom_round_trip(KV_HANDLE handle, uint32_t mode) {
    const Bytes data = {0x5A, 0xC3, 0x0F, 0xF0, 0x81, 0x7E};
    Bytes message = {0x01, 0x00};
    message.insert(message.end(), data.begin(), data.end());
    uint32_t count = 0;
    Outcome o;
    o.status = I2C_DeviceWrite(handle, 0x50, message.size(), message.data(), &count, kOpen | mode);
    if (o.status != STATUS_SUCCESS) return o;
    o.status = I2C_DeviceWrite(handle, 0x50, 2, message.data(), &count, I2C_OPT_START | mode);
    if (o.status != STATUS_SUCCESS) return o;
    Bytes back(data.size());
    o.status = I2C_DeviceRead(handle, 0x50, back.size(), back.data(), &count, kOpen | I2C_OPT_NACK_FINAL_BYTE | mode);
    const Bytes memory = device_get("eeprom", "memory");
    o.data_right = back == data && Bytes(memory.begin() + 0x100, memory.begin() + 0x106) == data;
    return o;
}

// The temperature register (25.5 degC: 0x19 0x80) after a pointer write and a repeated start.
Outcome register_read(KV_HANDLE handle, uint32_t mode) {
    uint8_t pointer = 0;
    uint32_t count = 0;
    Outcome o;
    o.status = I2C_DeviceWrite(handle, 0x48, 1, &pointer, &count, I2C_OPT_START | mode);
    if (o.status != STATUS_SUCCESS) return o;
    uint8_t value[2] = {};
    o.status = I2C_DeviceRead(handle, 0x48, 2, value, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE | mode);
    o.data_right = value[0] == 0x19 && value[1] == 0x80;
    return o;
}

struct Case {
    const char *name;
    Wiring wiring;
    uint32_t clocking;  // 0 (three-phase) or I2C_CFG_NO_THREE_PHASE
    bool stretching;    // I2C_CFG_CLOCK_STRETCHING
    // Expected outcomes: EEPROM ordinary, EEPROM fast, register ordinary, register fast.
    const char *expected[4];
};

class StretchRoundTrips : public ::testing::TestWithParam<Case> {};

TEST_P(StretchRoundTrips, AsExpected) {
    const Case &c = GetParam();
    const uint32_t options = c.clocking | (c.stretching ? I2C_CFG_CLOCK_STRETCHING : 0);
    std::string got[4];
    for (int op = 0; op < 4; ++op) {
        Stretch bus(c.wiring, options);
        ASSERT_TRUE(bus.ready());
        const uint32_t mode = op % 2 ? I2C_OPT_FAST_BYTES : 0;
        const Outcome o = op < 2 ? eeprom_round_trip(bus.handle(), mode) : register_read(bus.handle(), mode);
        got[op] = describe(o);
        EXPECT_EQ(got[op], c.expected[op]) << "operation " << op;
    }
}

const Case kCases[] = {
    {"OpenDrainThreePhase", Wiring::OpenDrain, 0, true, {"right", "right", "right", "right"}},
    {"OpenDrainTwoPhase", Wiring::OpenDrain, I2C_CFG_NO_THREE_PHASE, true, {"right", "right", "right", "right"}},
    {"DiodeThreePhase", Wiring::Diode, 0, true, {"right", "right", "right", "right"}},
    {"DiodeTwoPhase", Wiring::Diode, I2C_CFG_NO_THREE_PHASE, true, {"right", "right", "right", "right"}},
    {"OpenDrainThreePhaseNoOption", Wiring::OpenDrain, 0, false, {"?", "?", "?", "?"}},
    {"OpenDrainTwoPhaseNoOption", Wiring::OpenDrain, I2C_CFG_NO_THREE_PHASE, false, {"?", "?", "?", "?"}},
    {"DiodeThreePhaseNoOption", Wiring::Diode, 0, false, {"?", "?", "?", "?"}},
    {"DiodeTwoPhaseNoOption", Wiring::Diode, I2C_CFG_NO_THREE_PHASE, false, {"?", "?", "?", "?"}},
    {"PushPullThreePhase", Wiring::PushPull, 0, true, {"?", "?", "?", "?"}},
    {"PushPullTwoPhase", Wiring::PushPull, I2C_CFG_NO_THREE_PHASE, true, {"?", "?", "?", "?"}},
    {"PushPullThreePhaseNoOption", Wiring::PushPull, 0, false, {"?", "?", "?", "?"}},
};

INSTANTIATE_TEST_SUITE_P(Wirings, StretchRoundTrips, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

}  // namespace
namespace {
TEST(StretchExplore, Events) {
    for (uint32_t opt : {0u, 1u}) {
    Stretch bus(Wiring::OpenDrain, opt, R"({"kind": "i2c-test", "name": "test", "address": 60, "stretch_us": 50})");
    ASSERT_TRUE(bus.ready());
    uint8_t data[] = {0x5A, 0xC3, 0x0F};
    uint32_t count = 0;
    kvsim_trace_start(0, ("/tmp/stretch_explore" + std::to_string(opt) + ".vcd").c_str());
    KV_STATUS s = I2C_DeviceWrite(bus.handle(), 0x3C, 3, data, &count, kOpen);
    Bytes rd = {0x12, 0x34, 0x56};
    kvsim_device_put(0, "test", "read_data", rd.data(), rd.size());
    uint8_t back[3] = {};
    KV_STATUS r = I2C_DeviceRead(bus.handle(), 0x3C, 3, back, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE);
    kvsim_trace_stop(0);
    Bytes ev = device_get("test", "events");
    printf("opt %u write %u read %u: %02x %02x %02x\n%s\n", opt, s, r, back[0], back[1], back[2], std::string(ev.begin(), ev.end()).c_str());
    }
}
}
