// Byte streams, statuses and counts of the I2C master, checked against the simulated bridge's
// host-to-engine log; the engine's answers are queued by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "engine_log.h"
#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using kvtest::Bytes;
using kvtest::repeat;

Bytes operator+(const Bytes &a, const Bytes &b) { return kvtest::concat({a, b}); }

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
    Bytes log() { return kvtest::take_engine_log(position_); }
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
    I2CChannelConfig config{100000, 1, 0};
    uint8_t byte = 0;
    uint32_t count = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(I2C_GetNumChannels(nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_GetChannelInfo(0, nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_OpenChannel(0, nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_InitChannel(nullptr, nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_InitChannel(nullptr, &config), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_CloseChannel(nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(nullptr, 0x50, 1, &byte, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, nullptr, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, &byte, nullptr, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceWrite(nullptr, 0x50, 1, &byte, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 1, nullptr, &count, 3), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 1, &byte, nullptr, 3), STATUS_BAD_PARAMETER);
    const std::string where = "../../TopLayer/I2C/src/korvin_i2c:";
    const std::string tail = "(): NULL expression encountered\n";
    std::string expected;
    for (const char *line : {"154:I2C_GetNumChannels", "183:I2C_GetChannelInfo", "209:I2C_OpenChannel",
                             "238:I2C_InitChannel", "239:I2C_InitChannel", "287:I2C_CloseChannel",
                             "324:I2C_DeviceRead", "325:I2C_DeviceRead", "326:I2C_DeviceRead",
                             "427:I2C_DeviceWrite", "428:I2C_DeviceWrite", "429:I2C_DeviceWrite"})
        expected += where + line + tail;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    EXPECT_EQ(config.ClockRate, 100000u);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(log().empty());
}

TEST_F(I2cStreams, ChannelIndexesCountFromZero) {
    DeviceListEntry entry{};
    ASSERT_EQ(I2C_GetChannelInfo(0, &entry), STATUS_SUCCESS);
    EXPECT_STREQ(entry.SerialText, "I2CLOG01");
    ASSERT_EQ(I2C_GetChannelInfo(1, &entry), STATUS_SUCCESS);
    EXPECT_STREQ(entry.SerialText, "I2CLOG02");
    uint32_t channels = 0;
    ASSERT_EQ(I2C_GetNumChannels(&channels), STATUS_SUCCESS);
    EXPECT_EQ(channels, 2u);
    // An index beyond the channels opens nothing and registers nothing.
    KV_HANDLE other = nullptr;
    EXPECT_EQ(I2C_OpenChannel(kvsim_channel_count() + 5, &other), STATUS_BAD_HANDLE);
    EXPECT_EQ(other, nullptr);
}

// The end of the initialisation stream: the idle pin state, then three-phase clocking if on.
Bytes init_tail(bool three_phase) { return three_phase ? Bytes{0x80, 0x13, 0x13, 0x8C} : Bytes{0x80, 0x13, 0x13}; }
unsigned base(const kvsim_pins &pins) { return pins.divide_by_5 ? 6000000 : 30000000; }
Bytes tail_of(const Bytes &bytes, size_t n) { return bytes.size() < n ? bytes : Bytes(bytes.end() - n, bytes.end()); }

TEST_F(I2cStreams, InitScalesTheRateForThreePhaseAndWritesItBack) {
    I2CChannelConfig config{100000, 1, 0};
    kvsim_pins pins{};
    ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    EXPECT_EQ(config.ClockRate, 150000u);
    EXPECT_EQ(tail_of(log(), 4), init_tail(true));
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.divisor, base(pins) / 150000 - 1);
    EXPECT_TRUE(pins.three_phase);
    // The record keeps the programmed rate, so a second call scales again.
    ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    EXPECT_EQ(config.ClockRate, 225000u);

    config = {100000, 1, I2C_CFG_NO_THREE_PHASE};
    ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
    EXPECT_EQ(config.ClockRate, 100000u);
    EXPECT_EQ(tail_of(log(), 3), init_tail(false));
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.divisor, base(pins) / 100000 - 1);
    EXPECT_FALSE(pins.three_phase);
}

TEST_F(I2cStreams, InitRateEdges) {
    struct Case {
        uint32_t requested, programmed;
        KV_STATUS status;
    };
    // The highest rates: 30 MHz is the fastest clock; a product beyond 32 bits saturates
    // rather than wrapping to a small rate that would be accepted.
    for (const Case &c : {Case{100001, 150001, STATUS_SUCCESS}, Case{20000000, 30000000, STATUS_SUCCESS},
                          Case{20000001, 30000001, STATUS_BAD_PARAMETER},
                          Case{0xC0000000u, 0xFFFFFFFFu, STATUS_BAD_PARAMETER}}) {
        I2CChannelConfig config{c.requested, 1, 0};
        EXPECT_EQ(I2C_InitChannel(handle_, &config), c.status) << c.requested;
        EXPECT_EQ(config.ClockRate, c.programmed);
    }
}

TEST_F(I2cStreams, DriverFailuresPassThroughUnchanged) {
    uint8_t ack = 7, data = 7;
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_Start(handle_), 77u);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_Stop(handle_), 77u);
    const unsigned reads = kvsim_call_count(KVSIM_Read);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_WriteDeviceAddress(handle_, 0x50, 0, 0, &ack), 77u);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_Read8bitsAndGiveAck(handle_, &data, 1), 77u);
    EXPECT_EQ(kvsim_call_count(KVSIM_Read), reads);  // no read after a failed write
    answer({0x00, 0x00});
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 1, 78), 0);
    EXPECT_EQ(I2C_Write8bitsAndGetAck(handle_, 1, &ack), 78u);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 1, 78), 0);
    EXPECT_EQ(I2C_Read8bitsAndGiveAck(handle_, &data, 1), 78u);
    EXPECT_EQ(ack, 7);
    EXPECT_EQ(data, 7);
    kvsim_short_transfer(KVSIM_Write, 1, 11);
    EXPECT_EQ(I2C_Read8bitsAndGiveAck(handle_, &data, 1), STATUS_IO_FAILURE);
    EXPECT_EQ(data, 7);
    EXPECT_EQ(kvsim_call_count(KVSIM_Read), reads + 2);

    // A transaction whose start fails ends there, the count untouched.
    uint32_t count = 99;
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, &data, &count, I2C_OPT_START | I2C_OPT_STOP), 77u);
    EXPECT_EQ(count, 99u);
    log();
    answer({0x00});
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 1, 78), 0);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, &data, &count, I2C_OPT_START | I2C_OPT_STOP), 78u);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(log(), kStart + write_byte(0xA1));
}

TEST_F(I2cStreams, FastTransfersWriteTheCountWhateverTheStatus) {
    uint32_t count = 99;
    uint8_t data[2] = {1, 2};
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, nullptr, &count, 0x13), 77u);
    EXPECT_EQ(count, 2u);
    count = 99;
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 1, 77), 0);
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 2, data, nullptr, &count, 0x13), 77u);
    EXPECT_EQ(count, 2u);
    // The address acknowledge read failing ends the write before the data acknowledges.
    answer({0x00, 0x00, 0x00});
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 1, 78), 0);
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, nullptr, &count, 0x13), 78u);
    EXPECT_EQ(kvsim_pending(0), 3u);
}

TEST_F(I2cStreams, SkipAddressOnlyInFastMode) {
    uint32_t count = 0;
    uint8_t data[2] = {0x11, 0x22};
    uint8_t acks[2] = {9, 9};
    answer({0x00, 0x01});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, acks, &count, I2C_OPT_FAST_BYTES | I2C_OPT_SKIP_ADDRESS),
              STATUS_SUCCESS);
    EXPECT_EQ(log(), fast_write_byte(0x11) + fast_write_byte(0x22));
    EXPECT_EQ(Bytes(acks, acks + 2), (Bytes{0x00, 0x01}));  // no address acknowledge taken first

    answer({0x5A});
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 8, data, nullptr, &count, I2C_OPT_FAST_BITS | I2C_OPT_SKIP_ADDRESS),
              STATUS_SUCCESS);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[1], 0x22);  // one group, one answer byte
    EXPECT_EQ(log(), (Bytes{0x80, 0x00, 0x11, 0x22, 0x07}));

    answer({0x00, 0x33});
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 1, data, &count, I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_SKIP_ADDRESS),
              STATUS_SUCCESS);
    EXPECT_EQ(data[0], 0x33);
    EXPECT_EQ(log(), kStart + write_byte(0xA1) + read_byte(true) + kStop);
}

// A stop that succeeds after the last byte failed must not turn the transfer into a success.
TEST_F(I2cWriteStreams, LastByteFailureOutranksASuccessfulStop) {
    uint32_t count = 99;
    uint8_t data[] = {1, 2, 3, 4};
    const Bytes sent = kStart + write_byte(0xA0) + write_byte(1) + write_byte(2) + write_byte(3) + write_byte(4);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 5, 78), 0);  // the fourth data byte's acknowledge
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 4, data, &count, I2C_OPT_START), 78u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(log(), sent);
    I2C_Stop(handle_);
    log();

    count = 99;
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 5, 78), 0);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 4, data, &count, I2C_OPT_START | I2C_OPT_STOP), 78u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(log(), sent + kStop);

    count = 99;
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 7, 77), 0);  // the stop
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 4, data, &count, I2C_OPT_START | I2C_OPT_STOP), 77u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(log(), sent);
}

TEST_F(I2cStreams, LastByteReadFailureOutranksASuccessfulStop) {
    uint32_t count = 99;
    uint8_t data[3] = {};
    answer({0x00, 0x11, 0x22});  // the address acknowledge and two of the three bytes
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 3, data, &count, I2C_OPT_START | I2C_OPT_STOP), STATUS_IO_FAILURE);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(data[1], 0x22);
    EXPECT_EQ(log(), kStart + write_byte(0xA1) + read_byte(true) + read_byte(true) + read_byte(true) + kStop);
}

TEST_F(I2cWriteStreams, EmptyWriteIsStartAddressStop) {
    uint32_t count = 99;
    uint8_t none = 0;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 0, &none, &count, I2C_OPT_START | I2C_OPT_STOP), STATUS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(log(), kStart + write_byte(0xA0) + kStop);
    count = 99;
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 0, &none, &count, I2C_OPT_START | I2C_OPT_SKIP_ADDRESS), STATUS_SUCCESS);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(log(), kStart + write_byte(0xA0));  // the address goes out in ordinary mode regardless
}

TEST_F(I2cWriteStreams, OnlyDeviceWritesPurge) {
    uint32_t count = 0;
    uint8_t data[2] = {0x11, 0x22};
    const unsigned purges = kvsim_call_count(KVSIM_Purge);
    EXPECT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, data, &count, 0x13), STATUS_SUCCESS);
    EXPECT_EQ(kvsim_call_count(KVSIM_Purge), purges + 1);
    EXPECT_EQ(log(), kStart + fast_write_byte(0xA0) + fast_write_byte(0x11) + fast_write_byte(0x22) + kStop);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 2, data, &count, 0x03), STATUS_SUCCESS);
    EXPECT_EQ(I2C_DeviceRead(handle_, 0x50, 2, data, &count, 0x13), STATUS_SUCCESS);
    answer({0x00, 0x00, 0x00});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, nullptr, &count, 0x13), STATUS_SUCCESS);
    EXPECT_EQ(kvsim_call_count(KVSIM_Purge), purges + 1);
}

}  // namespace
