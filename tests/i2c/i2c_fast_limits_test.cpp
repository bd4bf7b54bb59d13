// What fast mode refuses before it sends anything, and the stream it cannot send whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "bytes.h"
#include "i2c_fast_stream.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

using kvtest::Bytes;

class I2cFastLimits : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
            {"type": 8, "serial": "FAST0001", "channels": [{"bus": "none"}]}]})"), 0);
        ASSERT_EQ(I2C_OpenChannel(0, &handle_), STATUS_SUCCESS);
        kvsim_log_clear(0);
    }
    void TearDown() override {
        kvsim_clear_faults();
        I2C_CloseChannel(handle_);
    }
    void answer(const Bytes &bytes) { kvsim_queue_answer(0, bytes.data(), bytes.size()); }
    KV_HANDLE handle_ = nullptr;
};

// As I2C_DeviceRead does: a wider address would reach the device at its low seven bits.
TEST_F(I2cFastLimits, AddressesAboveSevenBitsAreRefusedUnsent) {
    uint8_t data[2] = {1, 2};
    for (uint32_t address : {0x80u, 0xD0u, 0xFFFFFFFFu}) {
        uint32_t count = 99;
        EXPECT_EQ(I2C_FastWrite(handle_, address, 2, data, nullptr, &count, 0x13), STATUS_BAD_PARAMETER) << address;
        EXPECT_EQ(I2C_FastRead(handle_, address, 2, data, nullptr, &count, 0x13), STATUS_BAD_PARAMETER) << address;
        EXPECT_EQ(count, 99u);
    }
    EXPECT_EQ(kvsim_log_size(0), 0u);
    uint32_t count = 0;
    answer({0x00, 0x00, 0x00});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x7F, 2, data, nullptr, &count, 0x13), STATUS_SUCCESS);
}

TEST_F(I2cFastLimits, StreamsCutShortAreIoFailures) {
    uint8_t data[2] = {1, 2};
    uint32_t count = 0;
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Write, 1, 100), 0);
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, nullptr, &count, 0x13), STATUS_IO_FAILURE);
    EXPECT_EQ(kvsim_call_count(KVSIM_Read), 0u) << "no acknowledge read after a short stream";
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Write, 1, 100), 0);
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 2, data, nullptr, &count, 0x13), STATUS_IO_FAILURE);
    // The stream went out whole, but one data byte never came back.
    answer({0x00, 0x5A});
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 2, data, nullptr, &count, I2C_OPT_FAST_BYTES), STATUS_IO_FAILURE);
    EXPECT_EQ(data[0], 0x5A);
}

// Acknowledges that never come back mean the engine did not run the stream: a stalled clock
// takes the bytes and answers nothing.
TEST_F(I2cFastLimits, WriteAcknowledgesThatNeverCameAreIoFailures) {
    uint8_t data[2] = {1, 2};
    uint8_t acks[2] = {7, 7};
    uint32_t count = 0;
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, acks, &count, 0x13), STATUS_IO_FAILURE) << "no answers";
    answer({0x00, 0x00});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, acks, &count, 0x13), STATUS_IO_FAILURE) << "one data ack";
    EXPECT_EQ(acks[0], 0x00);
    EXPECT_EQ(acks[1], 7) << "an acknowledge that never came is left as it was";
    answer({0x00, 0x00, 0x01});
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 2, data, acks, &count, 0x13), STATUS_SUCCESS);
    EXPECT_EQ(acks[1], 0x01);
}

// The stream length is counted in 64 bits: 390,451,600 bytes in fast-byte mode with start and
// stop would be 4 GiB + 501 bytes, which a 32-bit count would turn into 501.
TEST(I2cFastStream, LengthBeyondOneDriverWriteIsNotCut) {
    struct Case {
        uint32_t size, options;
        bool read;
        uint64_t length;
    };
    const Case cases[] = {
        {2, 0x13, false, 93 + 11 + 2 * 11 + 93},
        {12, I2C_OPT_FAST_BITS, false, 11 + 2 * 6},
        {12, I2C_OPT_FAST_BITS, true, 11 + 2 * 5},
        {3, I2C_OPT_FAST_BYTES | I2C_OPT_SKIP_ADDRESS, true, 3 * 11},
        {390451554, 0x13, false, 4294967291},
        {390451600, 0x13, false, 4294967797},
        {0xFFFFFFFF, 0x13, true, 11ull * 0xFFFFFFFF + 197},
        {0xFFFFFFFF, I2C_OPT_FAST_BITS, false, 6ull * 0x20000000 + 11},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(i2c_fast::stream_length(c.size, c.options, c.read), c.length) << c.size;
        EXPECT_EQ(i2c_fast::fits_one_write(c.length), c.length <= 0xFFFFFFFFu) << c.size;
    }
}

TEST_F(I2cFastLimits, StreamBeyondOneDriverWriteIsRefusedUnsent) {
    uint8_t data[1] = {0};
    uint32_t count = 99;
    EXPECT_EQ(I2C_FastWrite(handle_, 0x50, 390451600, data, nullptr, &count, 0x13), STATUS_NO_RESOURCES);
    EXPECT_EQ(I2C_FastRead(handle_, 0x50, 0xFFFFFFFF, data, nullptr, &count, 0x13), STATUS_NO_RESOURCES);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(kvsim_log_size(0), 0u);
}

} // namespace
