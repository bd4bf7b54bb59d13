// Devices that stretch the clock, with and without the adaptive-clocking option, on the
// bridge wirings that support it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device_data.h"
#include "engine_log.h"
#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using kvtest::Bytes;

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
    const Bytes memory = kvtest::device_data("eeprom", "memory");
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

// Without the option the engine clocks on while a device holds SCL low. The trace shows SCL
// staying low through the first clock pulses of the byte after each acknowledge, so the
// device samples only the later bits of that byte and the bits of what follows: every byte after an acknowledge
// arrives shifted. No status tells: the address bytes follow a start, which gives the device
// time, so they are acknowledged; an ordinary write does not examine data acknowledges and
// fast mode none; and a read's bytes come back shifted. So the result is wrong data with
// STATUS_SUCCESS, in EEPROM writes, read-backs and register reads alike.
//
// A push-pull bridge drives SCL high over the device unless a diode lets it only pull low:
// without the diode pin 7 sees SCL high, adaptive clocking never waits, and the device, busy
// during its stretch, misses those clocks all the same.
const Case kCases[] = {
    {"OpenDrainThreePhase", Wiring::OpenDrain, 0, true, {"right", "right", "right", "right"}},
    {"OpenDrainTwoPhase", Wiring::OpenDrain, I2C_CFG_NO_THREE_PHASE, true, {"right", "right", "right", "right"}},
    {"DiodeThreePhase", Wiring::Diode, 0, true, {"right", "right", "right", "right"}},
    {"DiodeTwoPhase", Wiring::Diode, I2C_CFG_NO_THREE_PHASE, true, {"right", "right", "right", "right"}},
    {"OpenDrainThreePhaseNoOption", Wiring::OpenDrain, 0, false, {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"OpenDrainTwoPhaseNoOption", Wiring::OpenDrain, I2C_CFG_NO_THREE_PHASE, false,
     {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"DiodeThreePhaseNoOption", Wiring::Diode, 0, false, {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"DiodeTwoPhaseNoOption", Wiring::Diode, I2C_CFG_NO_THREE_PHASE, false,
     {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"PushPullThreePhase", Wiring::PushPull, 0, true, {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"PushPullTwoPhase", Wiring::PushPull, I2C_CFG_NO_THREE_PHASE, true,
     {"wrong data", "wrong data", "wrong data", "wrong data"}},
    {"PushPullThreePhaseNoOption", Wiring::PushPull, 0, false, {"wrong data", "wrong data", "wrong data", "wrong data"}},
};

INSTANTIATE_TEST_SUITE_P(Wirings, StretchRoundTrips, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// SCL as the trace shows it: the times (in the trace's 10 ns units) at which the line rose and
// fell, and the longest time it stayed low.
struct SclTrace {
    int rises = 0;
    uint64_t longest_low = 0;
};

SclTrace scl_in_trace(const std::string &path) {
    std::ifstream file(path);
    std::string line, scl_id;
    SclTrace trace;
    uint64_t now = 0, fell = 0;
    bool high = true;
    while (std::getline(file, line)) {
        std::istringstream words(line);
        std::string a, b, c, d, name;
        if (line.rfind("$var", 0) == 0 && (words >> a >> b >> c >> d >> name) && name == "SCL") scl_id = d;
        if (line[0] == '#') now = std::stoull(line.substr(1));
        if (scl_id.empty() || line.size() < 2 || line.substr(1) != scl_id) continue;
        const bool level = line[0] == '1';
        if (level && !high) {
            ++trace.rises;
            trace.longest_low = std::max(trace.longest_low, now - fell);
        }
        if (!level && high) fell = now;
        high = level;
    }
    return trace;
}

// The test device stretches only after the bytes it is told to: here the address byte (0) and
// the second data byte (2) of a three-byte write. The trace shows SCL held low for the 50 us
// after those acknowledges; the device sees every clock only when the engine waits for them.
TEST(StretchTrace, DeviceHoldsSclLowAfterChosenBytes) {
    struct Case {
        uint32_t options;
        int rises;  // SCL pulses on the line: 4 x 9 clocks and the stop's rise
        const char *events;
    };
    const Case cases[] = {
        {I2C_CFG_CLOCK_STRETCHING, 37, "start\naddr 3c w\nwrite 5a ack\nwrite c3 ack\nwrite 0f ack\nstop\n"},
        {I2C_CFG_CLOCK_STRETCHING | I2C_CFG_NO_THREE_PHASE, 37,
         "start\naddr 3c w\nwrite 5a ack\nwrite c3 ack\nwrite 0f ack\nstop\n"},
        // Four pulses vanish under each stretch: the device hears the rest shifted and sees
        // only two data bytes, neither of them sent.
        {0, 29, "start\naddr 3c w\nwrite ae ack\nwrite 38 ack\nstop\n"},
    };
    for (const Case &c : cases) {
        Stretch bus(Wiring::OpenDrain, c.options,
                    R"({"kind": "i2c-test", "name": "test", "address": 60, "stretch_us": 50, "stretch_bytes": [0, 2]})");
        ASSERT_TRUE(bus.ready());
        const std::string path = std::string(KV_TEST_BUILD_DIR) + "/stretch_" + std::to_string(c.options) + ".vcd";
        ASSERT_EQ(kvsim_trace_start(0, path.c_str()), 0);
        uint8_t data[] = {0x5A, 0xC3, 0x0F};
        uint32_t count = 0;
        EXPECT_EQ(I2C_DeviceWrite(bus.handle(), 0x3C, 3, data, &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_SUCCESS);
        ASSERT_EQ(kvsim_trace_stop(0), 0);
        const SclTrace scl = scl_in_trace(path);
        EXPECT_EQ(scl.rises, c.rises) << c.options;
        EXPECT_GE(scl.longest_low, 5000u) << c.options;  // 50 us
        const Bytes events = kvtest::device_data("test", "events");
        EXPECT_EQ(std::string(events.begin(), events.end()), c.events) << c.options;
        std::remove(path.c_str());
    }
}

// A device that never lets go of SCL: with the option the engine stalls on its first rising
// clock edge and its answers never come, so each transfer ends with a status at once. The
// next I2C_InitChannel resets the engine, and once the device lets go the bus works again.
TEST(StretchStuck, TransfersEndWithAStatusAndInitRecovers) {
    Stretch bus(Wiring::OpenDrain, I2C_CFG_CLOCK_STRETCHING,
                R"({"kind": "i2c-test", "name": "test", "address": 60})");
    ASSERT_TRUE(bus.ready());
    ASSERT_EQ(kvsim_device_set(0, "test", "hold_scl", 1), 0);
    uint8_t data[2] = {0x11, 0x22};
    uint8_t acks[2] = {9, 9};
    uint32_t count = 0;
    EXPECT_EQ(I2C_DeviceWrite(bus.handle(), 0x3C, 2, data, &count, kOpen), STATUS_IO_FAILURE);
    EXPECT_EQ(I2C_DeviceRead(bus.handle(), 0x3C, 2, data, &count, kOpen), STATUS_IO_FAILURE);
    EXPECT_EQ(I2C_DeviceRead(bus.handle(), 0x3C, 2, data, &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_IO_FAILURE);
    EXPECT_EQ(I2C_FastWrite(bus.handle(), 0x3C, 2, data, acks, &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_IO_FAILURE);
    EXPECT_EQ(Bytes(acks, acks + 2), (Bytes{9, 9}));
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_TRUE(pins.stalled);
    EXPECT_EQ(pins.low_levels & 0x81, 0x00);  // SCL and its return low

    I2CChannelConfig config{100000, 1, I2C_CFG_DRIVE_ZERO_ONLY | I2C_CFG_CLOCK_STRETCHING};
    ASSERT_EQ(I2C_InitChannel(bus.handle(), &config), STATUS_SUCCESS);
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_FALSE(pins.stalled);
    EXPECT_TRUE(pins.adaptive_clocking);
    ASSERT_EQ(kvsim_device_set(0, "test", "hold_scl", 0), 0);
    ASSERT_EQ(kvsim_device_put(0, "test", "events", nullptr, 0), 0);
    EXPECT_EQ(I2C_DeviceWrite(bus.handle(), 0x3C, 2, data, &count, kOpen), STATUS_SUCCESS);
    const Bytes events = kvtest::device_data("test", "events");
    EXPECT_EQ(std::string(events.begin(), events.end()), "start\naddr 3c w\nwrite 11 ack\nwrite 22 ack\nstop\n");
}

// The option adds adaptive clocking after the usual initialisation; the full-speed bridge,
// which has none, refuses it before sending anything.
TEST(StretchInit, AdaptiveClockingComesLastAndFullSpeedRefuses) {
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
        {"type": 8, "serial": "INIT8", "channels": [{"bus": "none"}]},
        {"type": 6, "serial": "INIT6", "channels": [{"bus": "none"}, {"bus": "none"}]},
        {"type": 4, "serial": "INIT4", "channels": [{"bus": "none"}, {"bus": "none"}]}]})"), 0);
    struct Case {
        uint32_t index, position, options;
        KV_STATUS status;
        Bytes tail;  // the end of the stream sent
    };
    const Case cases[] = {
        {0, 0, I2C_CFG_CLOCK_STRETCHING, STATUS_SUCCESS, {0x80, 0x13, 0x13, 0x8C, 0x96}},
        {0, 0, I2C_CFG_CLOCK_STRETCHING | I2C_CFG_DRIVE_ZERO_ONLY | I2C_CFG_NO_THREE_PHASE, STATUS_SUCCESS,
         {0x80, 0x13, 0x13, 0x9E, 0x03, 0x00, 0x96}},
        {1, 1, I2C_CFG_CLOCK_STRETCHING | I2C_CFG_DRIVE_ZERO_ONLY, STATUS_SUCCESS, {0x80, 0x13, 0x13, 0x8C, 0x96}},
        {3, 3, I2C_CFG_CLOCK_STRETCHING, STATUS_BAD_PARAMETER, {}},
        {3, 3, 0, STATUS_SUCCESS, {0x80, 0x13, 0x13, 0x8C}},
    };
    for (const Case &c : cases) {
        KV_HANDLE handle = nullptr;
        ASSERT_EQ(I2C_OpenChannel(c.index, &handle), STATUS_SUCCESS);
        kvsim_log_clear(c.position);
        I2CChannelConfig config{100000, 1, c.options};
        EXPECT_EQ(I2C_InitChannel(handle, &config), c.status) << c.options;
        const Bytes log = kvtest::engine_log(c.position);
        if (c.tail.empty()) {
            EXPECT_TRUE(log.empty());
            EXPECT_EQ(config.ClockRate, 100000u);
        } else {
            ASSERT_GE(log.size(), c.tail.size());
            EXPECT_EQ(Bytes(log.end() - c.tail.size(), log.end()), c.tail) << c.options;
        }
        I2C_CloseChannel(handle);
    }
    // A failing device-type query is passed on, before anything is sent.
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(I2C_OpenChannel(0, &handle), STATUS_SUCCESS);
    kvsim_log_clear(0);
    ASSERT_EQ(kvsim_fail_call(KVSIM_GetDeviceInfo, 1, 77), 0);
    I2CChannelConfig config{100000, 1, I2C_CFG_CLOCK_STRETCHING};
    EXPECT_EQ(I2C_InitChannel(handle, &config), 77u);
    EXPECT_EQ(kvsim_log_size(0), 0u);
    I2C_CloseChannel(handle);
}

}  // namespace
