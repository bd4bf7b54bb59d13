// The I2C master against the simulated I2C bus and its devices, end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device_data.h"
#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"
#include "sigrok.h"

namespace {

using kvtest::Bytes;
using kvtest::device_data;

const char *kConfig = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "I2C0001", "channels": [{"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "page_size": 32, "write_cycle_us": 2000},
    {"kind": "i2c-register", "name": "temp", "address": 72, "temperature_c": 25.5},
    {"kind": "i2c-test", "name": "test", "address": 60, "ack_bytes": 2}]}]}]})";

constexpr uint32_t kOpen = I2C_OPT_START | I2C_OPT_STOP;

class I2cDevices : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kvsim_load_config_json(kConfig), 0);
        ASSERT_EQ(I2C_OpenChannel(0, &handle_), STATUS_SUCCESS);
        I2CChannelConfig config{100000, 1, 0};
        ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    }
    void TearDown() override { I2C_CloseChannel(handle_); }
    std::string events() {
        Bytes raw = device_data("test", "events");
        return std::string(raw.begin(), raw.end());
    }
    // Acknowledge polling: the EEPROM answers its address again once its write cycle ends.
    int poll_eeprom() {
        uint8_t none = 0;
        uint32_t count = 0;
        for (int polls = 1; polls < 1000; ++polls)
            if (I2C_DeviceWrite(handle_, 0x50, 0, &none, &count, kOpen) == STATUS_SUCCESS) return polls;
            else I2C_Stop(handle_);
        return -1;
    }
    Bytes page(uint8_t seed) {
        Bytes data(32);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
        return data;
    }
    void write_then_read(uint32_t mode) {
        Bytes message = {0x01, 0x00};
        const Bytes data = page(static_cast<uint8_t>(mode));
        message.insert(message.end(), data.begin(), data.end());
        uint32_t count = 0;
        ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, message.size(), message.data(), &count, kOpen | mode), STATUS_SUCCESS);
        EXPECT_EQ(count, message.size());
        EXPECT_GT(poll_eeprom(), 1);
        // Random read: address without a stop, then a repeated start for the read.
        ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, message.data(), &count, I2C_OPT_START | mode), STATUS_SUCCESS);
        Bytes back(data.size());
        ASSERT_EQ(I2C_DeviceRead(handle_, 0x50, back.size(), back.data(), &count,
                                 kOpen | I2C_OPT_NACK_FINAL_BYTE | mode), STATUS_SUCCESS);
        EXPECT_EQ(back, data);
        const Bytes memory = device_data("eeprom", "memory");
        EXPECT_EQ(Bytes(memory.begin() + 0x100, memory.begin() + 0x120), data);
    }
    KV_HANDLE handle_ = nullptr;
};

TEST_F(I2cDevices, EepromPageWriteAndReadBackOrdinary) { write_then_read(0); }

TEST_F(I2cDevices, EepromPageWriteAndReadBackFastBytes) { write_then_read(I2C_OPT_FAST_BYTES); }

TEST_F(I2cDevices, EepromWrapsWithinThePageAndReadsAcrossTheEnd) {
    uint8_t message[] = {0x0F, 0xFE, 1, 2, 3, 4};
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, sizeof message, message, &count, kOpen), STATUS_SUCCESS);
    ASSERT_GT(poll_eeprom(), 1);
    const Bytes memory = device_data("eeprom", "memory");
    EXPECT_EQ(Bytes(memory.begin() + 0xFE0, memory.begin() + 0xFE3), (Bytes{3, 4, 0xFF}));
    EXPECT_EQ(Bytes(memory.begin() + 0xFFD, memory.end()), (Bytes{0xFF, 1, 2}));
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, message, &count, I2C_OPT_START), STATUS_SUCCESS);
    Bytes back(4);
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x50, 4, back.data(), &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(back, (Bytes{1, 2, 0xFF, 0xFF}));
}

TEST_F(I2cDevices, RegisterReadAfterPointerAndRepeatedStart) {
    uint8_t pointer = 0;
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x48, 1, &pointer, &count, I2C_OPT_START), STATUS_SUCCESS);
    uint8_t value[2] = {};
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x48, 2, value, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(value[0], 25);
    EXPECT_EQ(value[1], 0x80);
}

TEST_F(I2cDevices, AbsentAddressIsNoDevice) {
    uint8_t byte = 0;
    uint32_t count = 77;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x51, 1, &byte, &count, kOpen), STATUS_NO_DEVICE);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x51, 1, &byte, &count, kOpen), STATUS_NO_DEVICE);
    EXPECT_EQ(count, 77u);
}

TEST_F(I2cDevices, RefusedByteAbortsOnlyWithTheOption) {
    uint8_t data[] = {1, 2, 3};
    uint32_t count = 0;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x3C, 3, data, &count, kOpen | I2C_OPT_ABORT_ON_NACK), STATUS_WRITE_REFUSED);
    EXPECT_EQ(I2C_Stop(handle_), STATUS_SUCCESS);
    EXPECT_EQ(events(), "start\naddr 3c w\nwrite 01 ack\nwrite 02 ack\nwrite 03 nack\nstop\n");
    kvsim_device_put(0, "test", "events", nullptr, 0);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x3C, 3, data, &count, kOpen), STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(events(), "start\naddr 3c w\nwrite 01 ack\nwrite 02 ack\nwrite 03 nack\nstop\n");
}

TEST_F(I2cDevices, FastWriteAckBufferShowsTheRefusedByte) {
    uint8_t data[] = {1, 2, 3, 4};
    uint8_t acks[4] = {9, 9, 9, 9};
    uint32_t count = 0;
    EXPECT_EQ(I2C_FastWrite(handle_, 0x3C, 4, data, acks, &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_SUCCESS);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(Bytes(acks, acks + 4), (Bytes{0, 0, 1, 1}));
}

TEST_F(I2cDevices, BitCountedTransfers) {
    uint8_t data[] = {0xA5, 0x80};  // one byte, then the released acknowledge clock
    uint32_t count = 0;
    EXPECT_EQ(I2C_FastWrite(handle_, 0x3C, 9, data, nullptr, &count, kOpen | I2C_OPT_FAST_BITS), STATUS_SUCCESS);
    EXPECT_EQ(count, 9u);
    EXPECT_EQ(events(), "start\naddr 3c w\nwrite a5 ack\nstop\n");
}

TEST_F(I2cDevices, ReadsAreAnsweredAsAsked) {
    const Bytes script = {0x12, 0x34, 0x56};
    ASSERT_EQ(kvsim_device_put(0, "test", "read_data", script.data(), script.size()), 0);
    Bytes back(3);
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x3C, 3, back.data(), &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(back, script);
    EXPECT_EQ(events(), "start\naddr 3c r\nread 12 ack\nread 34 ack\nread 56 nack\nstop\n");

    // Fast mode acknowledges every byte, the last one included.
    kvsim_device_put(0, "test", "events", nullptr, 0);
    kvsim_device_put(0, "test", "read_data", script.data(), script.size());
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x3C, 2, back.data(), &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + 2), (Bytes{0x12, 0x34}));
    EXPECT_EQ(events(), "start\naddr 3c r\nread 12 ack\nread 34 ack\nstop\n");
}

TEST_F(I2cDevices, BitCountedRead) {
    const Bytes script = {0xA5, 0xC3};
    kvsim_device_put(0, "test", "read_data", script.data(), script.size());
    uint8_t back[2] = {};
    uint32_t count = 0;
    ASSERT_EQ(I2C_FastRead(handle_, 0x3C, 12, back, nullptr, &count, kOpen | I2C_OPT_FAST_BITS), STATUS_SUCCESS);
    EXPECT_EQ(count, 12u);
    EXPECT_EQ(back[0], 0xA5);
    // The ninth clock is the acknowledge slot; with SDA released it reads as not-acknowledge,
    // the device lets go and the last three bits read high. The engine puts a partial group
    // in the low bits of its answer.
    EXPECT_EQ(back[1], 0x0F);
    EXPECT_EQ(events(), "start\naddr 3c r\nread a5 nack\nstop\n");
}

TEST_F(I2cDevices, RegisterWriteThenReadBack) {
    const uint8_t message[] = {0x02, 0x12, 0x34};
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x48, 3, const_cast<uint8_t *>(message), &count, kOpen), STATUS_SUCCESS);
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x48, 1, const_cast<uint8_t *>(message), &count, I2C_OPT_START), STATUS_SUCCESS);
    uint8_t value[4] = {};
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x48, 4, value, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(value, value + 4), (Bytes{0x12, 0x34, 0x12, 0x34}));
    // The temperature register refuses writes.
    const uint8_t temperature[] = {0x00, 0x7F};
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x48, 2, const_cast<uint8_t *>(temperature), &count,
                              kOpen | I2C_OPT_ABORT_ON_NACK), STATUS_WRITE_REFUSED);
}

// A bridge without three-phase clocking answers its command as an unknown byte. The set-up
// collects that echo, so the first transfer reads the device and not the echo.
TEST(I2cBridgeTypes, FullSpeedBridgeLacksThreePhase) {
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
      {"type": 4, "serial": "I2C4FS01", "channels": [{"bus": "i2c", "devices": [
        {"kind": "i2c-test", "name": "test", "address": 60}]}, {"bus": "none"}]}]})"), 0);
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(I2C_OpenChannel(0, &handle), STATUS_SUCCESS);
    I2CChannelConfig config{100000, 1, 0};
    ASSERT_EQ(I2C_InitChannel(handle, &config), STATUS_SUCCESS);
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_FALSE(pins.three_phase);
    EXPECT_EQ(kvsim_pending(0), 0u);
    const Bytes script = {0x5A, 0xC3};
    kvsim_device_put(0, "test", "read_data", script.data(), script.size());
    uint8_t data[] = {0x42};
    uint8_t back[2] = {};
    const I2CMessage messages[] = {{0x3C, 0, 1, data}, {0x3C, I2C_MSG_READ, 2, back}};
    EXPECT_EQ(I2C_Transfer(handle, messages, 2, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(back, back + 2), script);
    size_t length = 0;
    char text[128] = {};
    kvsim_device_get(0, "test", "events", reinterpret_cast<uint8_t *>(text), sizeof text - 1, &length);
    EXPECT_STREQ(text, "start\naddr 3c w\nwrite 42 ack\nrestart\naddr 3c r\nread 5a ack\nread c3 nack\nstop\n");
    I2C_CloseChannel(handle);
}

// Drive-only-zero on the single-channel bridge: the lines are pulled up instead of driven
// high. Transfers work the same, but a stop no longer overrides a device that was
// acknowledged for another byte and holds SDA low for its first bit.
TEST_F(I2cDevices, DriveOnlyZeroLetsTheDeviceHoldSda) {
    I2CChannelConfig config{100000, 1, I2C_CFG_DRIVE_ZERO_ONLY};
    ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.zero_only_low & 0x03, 0x03);
    write_then_read(I2C_OPT_FAST_BYTES);

    const Bytes script = {0x12, 0x34, 0x56};
    kvsim_device_put(0, "test", "read_data", script.data(), script.size());
    kvsim_device_put(0, "test", "events", nullptr, 0);
    Bytes back(2);
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x3C, 2, back.data(), &count, kOpen | I2C_OPT_FAST_BYTES), STATUS_SUCCESS);
    EXPECT_EQ(back, (Bytes{0x12, 0x34}));
    EXPECT_EQ(events(), "start\naddr 3c r\nread 12 ack\nread 34 ack\n");
}

// The built-in configuration: the EEPROM and the temperature register on channel B of the
// high-speed dual bridge, reached through the I2C family alone.
TEST(I2cDefaultConfiguration, EepromAndRegisterOnTheDualBridge) {
    ASSERT_EQ(kvsim_reset(), 0);
    uint32_t channels = 0;
    ASSERT_EQ(I2C_GetNumChannels(&channels), STATUS_SUCCESS);
    uint32_t index = channels;
    for (uint32_t i = 0; i < channels && index == channels; ++i) {
        DeviceListEntry entry{};
        ASSERT_EQ(I2C_GetChannelInfo(i, &entry), STATUS_SUCCESS);
        if (entry.DeviceType == 6 && (entry.Location & 0xF) == 2) index = i;
    }
    ASSERT_LT(index, channels);
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(I2C_OpenChannel(index, &handle), STATUS_SUCCESS);
    I2CChannelConfig config{400000, 1, 0};
    ASSERT_EQ(I2C_InitChannel(handle, &config), STATUS_SUCCESS);

    uint8_t message[] = {0x00, 0x40, 'p', 'a', 'g', 'e'};
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle, 0x50, sizeof message, message, &count, kOpen), STATUS_SUCCESS);
    uint8_t none = 0;
    KV_STATUS polled = STATUS_NO_DEVICE;
    for (int polls = 0; polls < 1000 && polled != STATUS_SUCCESS; ++polls) {
        polled = I2C_DeviceWrite(handle, 0x50, 0, &none, &count, kOpen);
        if (polled != STATUS_SUCCESS) I2C_Stop(handle);
    }
    ASSERT_EQ(polled, STATUS_SUCCESS);
    ASSERT_EQ(I2C_DeviceWrite(handle, 0x50, 2, message, &count, I2C_OPT_START), STATUS_SUCCESS);
    uint8_t back[4] = {};
    ASSERT_EQ(I2C_DeviceRead(handle, 0x50, 4, back, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(std::string(back, back + 4), "page");

    uint8_t pointer = 0, temperature[2] = {0xEE, 0xEE};
    ASSERT_EQ(I2C_DeviceWrite(handle, 0x48, 1, &pointer, &count, I2C_OPT_START), STATUS_SUCCESS);
    ASSERT_EQ(I2C_DeviceRead(handle, 0x48, 2, temperature, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(temperature, temperature + 2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(I2C_CloseChannel(handle), STATUS_SUCCESS);
}

// An independent protocol decoder reads the trace of an EEPROM write and random read.
class I2cDecoded : public I2cDevices, public ::testing::WithParamInterface<uint32_t> {};

// The EEPROM stretching SCL for 50 us after every byte, SCL wired back to pin 7.
const char *kStretchingConfig = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "I2C0001", "channels": [{"bus": "i2c", "scl_return": true, "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "stretch_us": 50}]}]}]})";

TEST_P(I2cDecoded, TraceOfEepromWriteAndReadDecodes) {
    if (!sigrok_decodes({"i2c"})) GTEST_SKIP() << "sigrok-cli with VCD input and the I2C decoder is not installed";
    if (GetParam() & I2C_CFG_CLOCK_STRETCHING) {
        I2C_CloseChannel(handle_);
        ASSERT_EQ(kvsim_load_config_json(kStretchingConfig), 0);
        ASSERT_EQ(I2C_OpenChannel(0, &handle_), STATUS_SUCCESS);
    }
    I2CChannelConfig config{100000, 1, GetParam()};
    ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    ASSERT_EQ(kvsim_device_set(0, "eeprom", "write_cycle_us", 0), 0);
    const std::string path = std::string(KV_TEST_BUILD_DIR) + "/i2c_decode_" + std::to_string(GetParam()) + ".vcd";
    ASSERT_EQ(kvsim_trace_start(0, path.c_str()), 0);
    uint8_t message[] = {0x00, 0x10, 0xA5, 0x3C};
    uint8_t back[2] = {};
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, 4, message, &count, kOpen), STATUS_SUCCESS);
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, message, &count, I2C_OPT_START), STATUS_SUCCESS);
    ASSERT_EQ(I2C_DeviceRead(handle_, 0x50, 2, back, &count, kOpen | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(back, back + 2), (Bytes{0xA5, 0x3C}));
    KV_WriteGPIO(handle_, 0x01, 0x01);  // a later change, so the stop is not the trace's last instant
    ASSERT_EQ(kvsim_trace_stop(0), 0);

    const std::string decoded = command_output("sigrok-cli -i '" + path +
                                    "' -P i2c:scl=SCL:sda=SDA -A i2c=start:repeat-start:stop:ack:nack:"
                                    "address-read:address-write:data-read:data-write 2>&1");
    const std::string write = "Start\nWrite\nAddress write: 50\nACK\n";
    const std::string pointer = "Data write: 00\nACK\nData write: 10\nACK\n";
    std::string expected = write + pointer + "Data write: A5\nACK\nData write: 3C\nACK\nStop\n" + write + pointer +
                           "Start repeat\nRead\nAddress read: 50\nACK\nData read: A5\nACK\nData read: 3C\nNACK\nStop\n";
    std::string got;
    for (size_t at = 0; at < decoded.size();) {
        size_t end = decoded.find('\n', at);
        if (end == std::string::npos) end = decoded.size();
        std::string line = decoded.substr(at, end - at);
        const size_t colon = line.find(": ");
        if (line.rfind("i2c-1: ", 0) == 0) got += line.substr(colon + 2) + "\n";
        else got += "?? " + line + "\n";
        at = end + 1;
    }
    EXPECT_EQ(got, expected);
    std::remove(path.c_str());
}

constexpr uint32_t kStretched = I2C_CFG_CLOCK_STRETCHING | I2C_CFG_DRIVE_ZERO_ONLY;

INSTANTIATE_TEST_SUITE_P(Clocking, I2cDecoded,
                         ::testing::Values(0u, I2C_CFG_NO_THREE_PHASE, kStretched, kStretched | I2C_CFG_NO_THREE_PHASE),
                         [](const ::testing::TestParamInfo<uint32_t> &info) {
                             return std::string(info.param & I2C_CFG_NO_THREE_PHASE ? "TwoPhase" : "ThreePhase") +
                                    (info.param & I2C_CFG_CLOCK_STRETCHING ? "Stretched" : "");
                         });

}  // namespace
