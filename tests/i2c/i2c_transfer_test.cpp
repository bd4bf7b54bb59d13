// I2C_Transfer: the stream a message set becomes, and the transactions devices on the simulated
// bus see through it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "device_data.h"
#include "engine_log.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"
#include "velta_engine.h"

namespace {

using kvtest::Bytes;
using kvtest::device_data;

const char *kConfig = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "I2C0001", "channels": [{"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "page_size": 32, "write_cycle_us": 0},
    {"kind": "i2c-register", "name": "temp", "address": 72, "temperature_c": 25.5},
    {"kind": "i2c-test", "name": "test", "address": 60, "ack_bytes": 2}]}]}]})";

// The expected stream, written with the vocabulary's encoders: low-pin states of SCL (pin 0)
// and SDA (pin 1) with the spare pin 4 an output, and the bit shifts of bytes and acknowledges.
class Expected : public kvtest::EncodedStream {
public:
    Expected &pins(uint8_t value, uint8_t direction, int times = 1) {
        for (int i = 0; i < times; ++i)
            encode([&](uint8_t *at) { return velta_encode_pins(at, VELTA_CMD_SET_LOW_PINS, value, direction); });
        return *this;
    }
    Expected &start() { return pins(3, kDrive, 10).pins(1, kDrive, 20).pins(0, kDrive); }
    Expected &stop() { return pins(0, kDrive, 10).pins(1, kDrive, 10).pins(3, kDrive, 10).pins(3, kRelease); }
    Expected &byte_out(uint8_t byte) {
        pins(2, kDrive).bits(kOutFalling, 8, byte);
        return bits_in(1);
    }
    Expected &byte_in(bool ack) { return bits_in(8).pins(2, kDrive).bits(kOutRising, 1, ack ? 0x00 : 0x80); }
    Expected &send_immediate() {
        put(VELTA_CMD_SEND_IMMEDIATE);
        return *this;
    }

private:
    static constexpr uint8_t kDrive = VELTA_PIN_CLOCK | VELTA_PIN_DATA_OUT | VELTA_PIN_I2C_SPARE;
    static constexpr uint8_t kRelease = VELTA_PIN_I2C_SPARE;
    static constexpr uint8_t kOutFalling = VELTA_SHIFT_OUT | VELTA_SHIFT_BITS | VELTA_SHIFT_OUT_FALLING;
    static constexpr uint8_t kOutRising = VELTA_SHIFT_OUT | VELTA_SHIFT_BITS;
    Expected &bits(uint8_t opcode, unsigned count, uint8_t data) {
        encode([&](uint8_t *at) { return velta_encode_shift_bits(at, opcode, count, data); });
        return *this;
    }
    Expected &bits_in(unsigned count) {
        return pins(0, VELTA_PIN_CLOCK | VELTA_PIN_I2C_SPARE).bits(VELTA_SHIFT_IN | VELTA_SHIFT_BITS, count, 0);
    }
};

class I2cTransfer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kvsim_load_config_json(kConfig), 0);
        ASSERT_EQ(I2C_OpenChannel(0, &handle_), STATUS_SUCCESS);
        I2CChannelConfig config{400000, 1, 0};
        ASSERT_EQ(I2C_InitChannel(handle_, &config), STATUS_SUCCESS);
        kvsim_log_clear(0);
    }
    void TearDown() override { I2C_CloseChannel(handle_); }
    KV_STATUS transfer(std::vector<I2CMessage> messages, I2CTransferFault *fault = nullptr) {
        return I2C_Transfer(handle_, messages.data(), static_cast<uint32_t>(messages.size()), fault);
    }
    std::string events() {
        const Bytes raw = device_data("test", "events");
        kvsim_device_put(0, "test", "events", nullptr, 0);
        return std::string(raw.begin(), raw.end());
    }
    KV_HANDLE handle_ = nullptr;
};

uint8_t g_out[2] = {0x12, 0x34};
uint8_t g_in[2];

struct StreamCase {
    const char *name;
    std::vector<I2CMessage> messages;
    Expected expected;
};

TEST_F(I2cTransfer, StreamsAreBuiltFromTheSameBlocks) {
    const StreamCase cases[] = {
        {"write", {{0x3C, 0, 2, g_out}},
         Expected().start().byte_out(0x78).byte_out(0x12).byte_out(0x34).stop().send_immediate()},
        {"read, last byte not acknowledged", {{0x3C, I2C_MSG_READ, 2, g_in}},
         Expected().start().byte_out(0x79).byte_in(true).byte_in(false).stop().send_immediate()},
        {"write then read with a repeated start",
         {{0x3C, 0, 1, g_out}, {0x3C, I2C_MSG_READ, 1, g_in}},
         Expected().start().byte_out(0x78).byte_out(0x12).start().byte_out(0x79).byte_in(false).stop().send_immediate()},
        {"stop between messages, read continued without a start",
         {{0x3C, I2C_MSG_STOP, 0, nullptr}, {0x3C, I2C_MSG_READ, 1, g_in}, {0x3C, I2C_MSG_READ | I2C_MSG_NO_START, 1, g_in}},
         Expected().start().byte_out(0x78).stop().start().byte_out(0x79).byte_in(true).byte_in(false).stop().send_immediate()},
        {"ignored acknowledge", {{0x3C, I2C_MSG_IGNORE_NACK, 2, g_out}},
         Expected().start().byte_out(0x78).byte_out(0x12).byte_out(0x34).stop().send_immediate()},
    };
    for (const StreamCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(transfer(c.messages), STATUS_SUCCESS);
        EXPECT_EQ(kvtest::take_engine_log(), c.expected.bytes());
    }
}

TEST_F(I2cTransfer, EepromWrittenAndReadBackWithARepeatedStart) {
    Bytes page = {0x01, 0x00};
    for (uint8_t i = 0; i < 32; ++i) page.push_back(static_cast<uint8_t>(i * 5 + 3));
    ASSERT_EQ(transfer({{0x50, 0, static_cast<uint32_t>(page.size()), page.data()}}), STATUS_SUCCESS);
    Bytes back(32);
    ASSERT_EQ(transfer({{0x50, 0, 2, page.data()}, {0x50, I2C_MSG_READ, 32, back.data()}}), STATUS_SUCCESS);
    EXPECT_EQ(back, Bytes(page.begin() + 2, page.end()));
    const Bytes memory = device_data("eeprom", "memory");
    EXPECT_EQ(Bytes(memory.begin() + 0x100, memory.begin() + 0x120), back);
}

// A read longer than one piece of the stream: the EEPROM's address counter wraps at its end.
TEST_F(I2cTransfer, ReadSpanningPiecesMatchesTheMemory) {
    Bytes contents(4096);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<uint8_t>(i * 31 + i / 256);
    ASSERT_EQ(kvsim_device_put(0, "eeprom", "memory", contents.data(), contents.size()), 0);
    uint8_t zero[2] = {0, 0};
    Bytes back(10000);
    ASSERT_EQ(transfer({{0x50, 0, 2, zero}, {0x50, I2C_MSG_READ, static_cast<uint32_t>(back.size()), back.data()}}),
              STATUS_SUCCESS);
    for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], contents[i % 4096]) << i;
}

// The same through the byte-counted fast read, whose stream also goes out in pieces.
TEST_F(I2cTransfer, FastReadSpanningPiecesMatchesTheMemory) {
    Bytes contents(4096);
    for (size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<uint8_t>(i * 29 + 5);
    ASSERT_EQ(kvsim_device_put(0, "eeprom", "memory", contents.data(), contents.size()), 0);
    uint8_t zero[2] = {0, 0};
    uint32_t count = 0;
    ASSERT_EQ(I2C_DeviceWrite(handle_, 0x50, 2, zero, &count, I2C_OPT_START | I2C_OPT_FAST_BYTES), STATUS_SUCCESS);
    Bytes back(10000);
    ASSERT_EQ(I2C_FastRead(handle_, 0x50, static_cast<uint32_t>(back.size()), back.data(), nullptr, &count,
                           I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_FAST_BYTES),
              STATUS_SUCCESS);
    EXPECT_EQ(count, back.size());
    for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], contents[i % 4096]) << i;
}

TEST_F(I2cTransfer, RegisterReadInOneCall) {
    uint8_t pointer = 0, value[2] = {};
    ASSERT_EQ(transfer({{0x48, 0, 1, &pointer}, {0x48, I2C_MSG_READ, 2, value}}), STATUS_SUCCESS);
    EXPECT_EQ(value[0], 25);
    EXPECT_EQ(value[1], 0x80);
}

TEST_F(I2cTransfer, MissingAcknowledgesAreReportedWhereTheyHappened) {
    uint8_t data[] = {1, 2, 3};
    I2CTransferFault fault{99, 99};
    EXPECT_EQ(transfer({{0x3C, 0, 1, data}, {0x51, 0, 1, data}}, &fault), STATUS_NO_DEVICE);
    EXPECT_EQ(fault.message, 1u);
    EXPECT_EQ(fault.byte, I2C_FAULT_ADDRESS);
    events();
    EXPECT_EQ(transfer({{0x3C, 0, 3, data}}, &fault), STATUS_WRITE_REFUSED);
    EXPECT_EQ(fault.message, 0u);
    EXPECT_EQ(fault.byte, 2u);
    EXPECT_EQ(events(), "start\naddr 3c w\nwrite 01 ack\nwrite 02 ack\nwrite 03 nack\nstop\n");
    EXPECT_EQ(transfer({{0x3C, I2C_MSG_IGNORE_NACK, 3, data}}), STATUS_SUCCESS);
}

// After a refusal no later write reaches its device, even one that would share the stream.
TEST_F(I2cTransfer, NoWriteFollowsARefusal) {
    uint8_t page[] = {0x00, 0x10, 0x41, 0x42};
    const Bytes before = device_data("eeprom", "memory");
    I2CTransferFault fault{99, 99};
    EXPECT_EQ(transfer({{0x52, 0, 1, page}, {0x50, 0, 4, page}}, &fault), STATUS_NO_DEVICE);
    EXPECT_EQ(fault.message, 0u);
    EXPECT_EQ(device_data("eeprom", "memory"), before);
}

TEST_F(I2cTransfer, RefusedBeforeAnythingIsSent) {
    uint8_t byte = 0;
    const struct {
        std::vector<I2CMessage> messages;
        KV_STATUS status;
    } cases[] = {
        {{{0x80, 0, 1, &byte}}, STATUS_BAD_PARAMETER},
        {{{0x50, I2C_MSG_TEN_BIT, 1, &byte}}, STATUS_UNSUPPORTED},
        {{{0x50, 0, 1, nullptr}}, STATUS_BAD_PARAMETER},
        {{{0x50, I2C_MSG_NO_START, 1, &byte}}, STATUS_BAD_PARAMETER},
        {{{0x50, I2C_MSG_STOP, 1, &byte}, {0x50, I2C_MSG_NO_START, 1, &byte}}, STATUS_BAD_PARAMETER},
    };
    for (const auto &c : cases) EXPECT_EQ(transfer(c.messages), c.status);
    EXPECT_EQ(I2C_Transfer(handle_, nullptr, 1, nullptr), STATUS_BAD_PARAMETER);
    EXPECT_EQ(I2C_Transfer(handle_, nullptr, 0, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(kvsim_log_size(0), 0u);
}

}  // namespace
