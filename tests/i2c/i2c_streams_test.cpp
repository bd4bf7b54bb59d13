// Byte streams, statuses and counts of the I2C master, checked against the simulated bridge's
// host-to-engine log; the engine's answers are queued by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes repeat(const Bytes &block, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), block.begin(), block.end());
    return out;
}
Bytes operator+(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kStart = repeat({0x80, 0x03, 0x13}, 10) + repeat({0x80, 0x01, 0x13}, 20) + Bytes{0x80, 0x00, 0x13};
const Bytes kStop = repeat({0x80, 0x00, 0x13}, 10) + repeat({0x80, 0x01, 0x13}, 10) +
                    repeat({0x80, 0x03, 0x13}, 10) + Bytes{0x80, 0x03, 0x10};
Bytes write_byte(uint8_t d) { return {0x80, 0x02, 0x13, 0x13, 0x07, d, 0x80, 0x00, 0x11, 0x22, 0x00, 0x87}; }
Bytes read_byte(bool ack) { return {0x80, 0x00, 0x11, 0x22, 0x07, 0x87, 0x80, 0x02, 0x13, 0x12, 0x00, uint8_t(ack ? 0x00 : 0x80)}; }
Bytes fast_write_byte(uint8_t d) { return {0x80, 0x02, 0x13, 0x13, 0x07, d, 0x80, 0x00, 0x11, 0x22, 0x00}; }

class I2cStreams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
            {"type": 8, "serial": "I2CLOG01", "channels": [{"bus": "none"}]},
            {"type": 8, "serial": "I2CLOG02", "channels": [{"bus": "i2c", "devices": [
              {"kind": "i2c-test", "name": "test", "address": 80}]}]}]})"), 0);
        ASSERT_EQ(I2C_OpenChannel(position_, &handle_), STATUS_SUCCESS);
        kvsim_log_clear(position_);
    }
    void TearDown() override { I2C_CloseChannel(handle_); }
    Bytes log() {
        Bytes bytes(kvsim_log_size(position_));
        kvsim_log_read(position_, bytes.data(), bytes.size());
        kvsim_log_clear(position_);
        return bytes;
    }
    void answer(const Bytes &bytes) { kvsim_queue_answer(0, bytes.data(), bytes.size()); }
    unsigned position_ = 0;
    KV_HANDLE handle_ = nullptr;
};

// Device writes purge the answer queue first, so their acknowledges come from a test device
// on an I2C bus (acknowledging everything unless told otherwise) rather than from the queue.
class I2cWriteStreams : public I2cStreams {
protected:
    I2cWriteStreams() { position_ = 1; }
    void SetUp() override {
        I2cStreams::SetUp();
        I2CChannelConfig config{100000, 1, I2C_CFG_NO_THREE_PHASE};
        ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
        kvsim_log_clear(position_);
    }
    void ack_bytes(unsigned n) { kvsim_device_set(1, "test", "ack_bytes", n); }
};

TEST_F(I2cStreams, StartAndStopAreFixedSequences) {
    EXPECT_EQ(I2C_Start(handle_), STATUS_SUCCESS);
    EXPECT_EQ(log(), kStart);
    EXPECT_EQ(I2C_Stop(handle_), STATUS_SUCCESS);
    EXPECT_EQ(log(), kStop);
}

TEST_F(I2cStreams, AddressByteCarriesDirectionAndLosesHighBits) {
    uint8_t ack = 7;
    answer({0xFE, 0x01, 0x00});
    EXPECT_EQ(I2C_WriteDeviceAddress(handle_, 0x50, 0, 0, &ack), STATUS_SUCCESS);
    EXPECT_EQ(ack, 0);
    EXPECT_EQ(I2C_WriteDeviceAddress(handle_, 0x50, 1, 0, &ack), STATUS_SUCCESS);
    EXPECT_EQ(ack, 1);
    EXPECT_EQ(I2C_WriteDeviceAddress(handle_, 0xD0, 0, 0, &ack), STATUS_SUCCESS);
    EXPECT_EQ(log(), write_byte(0xA0) + write_byte(0xA1) + write_byte(0xA0));
    ack = 7;
    EXPECT_EQ(I2C_WriteDeviceAddress(handle_, 0x50, 0, 1, &ack), STATUS_UNSUPPORTED);
    EXPECT_EQ(ack, 7);
    EXPECT_TRUE(log().empty());
}

TEST_F(I2cStreams, ReadByteGivesAckOrNack) {
    uint8_t data = 0;
    answer({0x5A, 0xA5});
    EXPECT_EQ(I2C_Read8bitsAndGiveAck(handle_, &data, 1), STATUS_SUCCESS);
    EXPECT_EQ(data, 0x5A);
    EXPECT_EQ(I2C_Read8bitsAndGiveAck(handle_, &data, 0), STATUS_SUCCESS);
    EXPECT_EQ(data, 0xA5);
    EXPECT_EQ(log(), read_byte(true) + read_byte(false));
}

TEST_F(I2cStreams, ShortWriteOrMissingAnswerIsIoFailureAndLeavesOutputs) {
    uint8_t ack = 7;
    kvsim_short_transfer(KVSIM_Write, 1, 11);
    EXPECT_EQ(I2C_Write8bitsAndGetAck(handle_, 0x12, &ack), STATUS_IO_FAILURE);
    EXPECT_EQ(ack, 7);
    EXPECT_EQ(kvsim_pending(0), 0u);
    EXPECT_EQ(I2C_Write8bitsAndGetAck(handle_, 0x12, &ack), STATUS_IO_FAILURE);  // no answer queued
    EXPECT_EQ(ack, 7);
}

TEST_F(I2cWriteStreams, OrdinaryWriteOfTwoBytes) {
    uint32_t count = 99;
    uint8_t data[] = {0x11, 0x22};
    const unsigned purges = kvsim_call_count(KVSIM_Purge);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, data, &count, I2C_OPT_START | I2C_OPT_STOP), STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(kvsim_call_count(KVSIM_Purge), purges + 1);
    EXPECT_EQ(log(), kStart + write_byte(0xA0) + write_byte(0x11) + write_byte(0x22) + kStop);
}

TEST_F(I2cWriteStreams, UnacknowledgedAddressLeavesBusOpen) {
    uint32_t count = 99;
    uint8_t data[] = {0x11};
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x51, 1, data, &count, I2C_OPT_START | I2C_OPT_STOP), STATUS_NO_DEVICE);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(log(), kStart + write_byte(0xA2));
}

TEST_F(I2cStreams, RefusedArgumentsSendNothing) {
    uint32_t count = 99;
    uint8_t data[4] = {};
    const unsigned purges = kvsim_call_count(KVSIM_Purge);
    const uint32_t both = I2C_OPT_FAST_BYTES | I2C_OPT_FAST_BITS | I2C_OPT_START;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x80, 1, data, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x80, 1, data, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 1, data, &count, both), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, data, &count, both), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 1, data, nullptr, &count, both), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 1, data, nullptr, &count, both), STATUS_BAD_PARAMETER);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(kvsim_call_count(KVSIM_Purge), purges);
    EXPECT_TRUE(log().empty());
}

TEST_F(I2cWriteStreams, AbortOnNackStopsAtRefusedByte) {
    uint32_t count = 99;
    uint8_t data[] = {1, 2, 3};
    ack_bytes(1);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 3, data, &count, 3 | I2C_OPT_ABORT_ON_NACK), STATUS_WRITE_REFUSED);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(log(), kStart + write_byte(0xA0) + write_byte(1) + write_byte(2));
    I2C_Stop(handle_);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 3, data, &count, 3), STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
}

TEST_F(I2cWriteStreams, FailingMiddleByteCountsItAndSendsNoStop) {
    uint32_t count = 99;
    uint8_t data[] = {1, 2, 3, 4};
    kvsim_short_transfer(KVSIM_Read, 4, 0);  // the third data byte's acknowledge never arrives
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 4, data, &count, 3), STATUS_IO_FAILURE);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(log(), kStart + write_byte(0xA0) + write_byte(1) + write_byte(2) + write_byte(3));
}

TEST_F(I2cStreams, ReadAnswersLastByteByOption) {
    uint32_t count = 0;
    uint8_t data[3] = {};
    answer({0x00, 1, 2, 3});
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 3, data, &count, 3 | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(log(), kStart + write_byte(0xA1) + read_byte(true) + read_byte(true) + read_byte(false) + kStop);
}

TEST_F(I2cStreams, FastWriteIsOneStreamAndCopiesAcks) {
    uint32_t count = 0;
    uint8_t data[] = {0x11, 0x22};
    uint8_t acks[2] = {9, 9};
    answer({0x00, 0x00, 0x01});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, acks, &count, 0x13), STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(acks[0], 0);
    EXPECT_EQ(acks[1], 1);
    const Bytes stream = log();
    EXPECT_EQ(stream.size(), 219u);
    EXPECT_EQ(stream, kStart + fast_write_byte(0xA0) + fast_write_byte(0x11) + fast_write_byte(0x22) + kStop);
}

TEST_F(I2cStreams, FastBitsSendPartialLastGroup) {
    uint32_t count = 0;
    uint8_t data[] = {0xD0, 0xD1};
    answer({0x00});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 12, data, nullptr, &count, I2C_OPT_FAST_BITS), STATUS_SUCCESS);
    EXPECT_EQ(count, 12u);
    EXPECT_EQ(log(), fast_write_byte(0xA0) + (Bytes{0x80, 0x02, 0x13, 0x13, 0x07, 0xD0, 0x80, 0x02, 0x13, 0x13, 0x03, 0xD1}));
    EXPECT_EQ(kvsim_pending(0), 0u);

    answer({0x00, 0xAB, 0xC0});
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 12, data, nullptr, &count, I2C_OPT_FAST_BITS), STATUS_SUCCESS);
    EXPECT_EQ(log(), fast_write_byte(0xA1) + (Bytes{0x80, 0x00, 0x11, 0x22, 0x07, 0x80, 0x00, 0x11, 0x22, 0x03}));
    EXPECT_EQ(data[0], 0xAB);
    EXPECT_EQ(data[1], 0xC0);
}

TEST_F(I2cStreams, FastReadBytesAcknowledgesEveryByte) {
    uint32_t count = 0;
    uint8_t data[3] = {};
    answer({0x00, 7, 8, 9});
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x48, 3, data, &count, I2C_OPT_FAST_BYTES | I2C_OPT_NACK_FINAL_BYTE), STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{7, 8, 9}));
    const Bytes block = {0x80, 0x00, 0x11, 0x22, 0x07, 0x80, 0x02, 0x13, 0x12, 0x00, 0x00};
    EXPECT_EQ(log(), fast_write_byte(0x91) + repeat(block, 3));
}

TEST_F(I2cStreams, NullPointersAreReportedWithTheirLines) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(I2C_GetNumChannels(nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_InitChannel(nullptr, nullptr), STATUS_BAD_PARAMETER);
    uint8_t byte = 0;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 1, &byte, nullptr, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(nullptr, 0x50, 1, &byte, nullptr, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "../../TopLayer/I2C/src/korvin_i2c:154:I2C_GetNumChannels(): NULL expression encountered\n"
              "../../TopLayer/I2C/src/korvin_i2c:238:I2C_InitChannel(): NULL expression encountered\n"
              "../../TopLayer/I2C/src/korvin_i2c:429:I2C_DeviceWrite(): NULL expression encountered\n"
              "../../TopLayer/I2C/src/korvin_i2c:324:I2C_DeviceRead(): NULL expression encountered\n");
    EXPECT_TRUE(log().empty());
}

TEST_F(I2cStreams, OpenBeyondTheChannelsRegistersNothing) {
    KV_HANDLE other = nullptr;
    EXPECT_EQ(I2C_OpenChannel(kvsim_channel_count() + 5, &other), STATUS_BAD_HANDLE);
    EXPECT_EQ(other, nullptr);
}

}  // namespace
