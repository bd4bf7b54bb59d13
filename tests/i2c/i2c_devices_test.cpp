// The I2C master against the simulated I2C bus and its devices, end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using Bytes = std::vector<uint8_t>;

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
    Bytes device_get(const char *device, const char *key) {
        size_t length = 0;
        kvsim_device_get(0, device, key, nullptr, 0, &length);
        Bytes out(length);
        kvsim_device_get(0, device, key, out.data(), out.size(), &length);
        return out;
    }
    std::string events() {
        Bytes raw = device_get("test", "events");
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
        const Bytes memory = device_get("eeprom", "memory");
        EXPECT_EQ(Bytes(memory.begin() + 0x100, memory.begin() + 0x120), data);
    }
    KV_HANDLE handle_ = nullptr;
};

TEST_F(I2cDevices, EepromPageWriteAndReadBackOrdinary) { write_then_read(0); }

TEST_F(I2cDevices, EepromPageWriteAndReadBackFastBytes) { write_then_read(I2C_OPT_FAST_BYTES); }

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

}  // namespace
