// A driver write or read that reports success having moved fewer bytes than asked is an I/O
// failure of whichever library call made it, on every path of every family.
#include <cctype>
#include <functional>
#include <set>
#include <string>

#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"
#include "mid_support.h"

namespace {

const char *kBoard = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "S1", "channels": [{"bus": "spi", "devices": [
    {"kind": "spi-test", "name": "probe", "cs": 3, "mode": 0, "active_low": true}]}]},
  {"type": 8, "serial": "I1", "channels": [{"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "page_size": 32}]}]}]})";

enum Bus { kSpi, kI2c };

struct ShortCase {
    const char *call;
    uint32_t length;  // bytes of the transfer cut short (or fewer)
    Bus bus;
    kvsim_entry entry;  // the driver call cut short
    unsigned nth;       // which of them, counted from the call's start
    std::function<KV_STATUS(KV_HANDLE)> run;
};

uint8_t g_data[8] = {0x5A, 1, 2, 3, 4, 5, 6, 7};
uint8_t g_in[8];
uint32_t g_count;
uint8_t g_byte;

constexpr uint32_t kTransaction = I2C_OPT_START | I2C_OPT_STOP;
const SPITransfer g_set[] = {{g_data, g_in, 8, 0, 1, 0}};
const I2CMessage g_messages[] = {{0x50, 0, 3, g_data}};

const ShortCase kCases[] = {
    {"loopback", 1, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return Mid_SetDeviceLoopbackState(h, 0); }},
    {"clock divide", 1, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return Mid_SetClock(h, 8, 1000000); }},
    {"clock divisor", 3, kSpi, KVSIM_Write, 2, [](KV_HANDLE h) { return Mid_SetClock(h, 8, 1000000); }},
    {"low pins", 3, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return Mid_SetGPIOLow(h, 0x08, 0x0B); }},
    {"high pins", 3, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return KV_WriteGPIO(h, 0xFF, 0x01); }},
    {"high pin read", 1, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return KV_ReadGPIO(h, &g_byte); }},
    {"channel write", 3, kSpi, KVSIM_Write, 1,
     [](KV_HANDLE h) { return KV_Channel_Write(PROTOCOL_SPI, h, 3, g_data, &g_count); }},
    {"chip select", 3, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return SPI_ToggleCS(h, 1); }},
    {"bit write", 3, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return SPI_Write8bits(h, 0x5A, 8); }},
    {"bit read", 1, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return SPI_Read8bits(h, &g_byte, 8); }},
    {"write header", 3, kSpi, KVSIM_Write, 2, [](KV_HANDLE h) { return SPI_Write(h, g_data, 8, &g_count, 6); }},
    {"write data", 8, kSpi, KVSIM_Write, 3, [](KV_HANDLE h) { return SPI_Write(h, g_data, 8, &g_count, 6); }},
    {"bit-mode write", 3, kSpi, KVSIM_Write, 2, [](KV_HANDLE h) { return SPI_Write(h, g_data, 12, &g_count, 7); }},
    {"read", 8, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return SPI_Read(h, g_in, 8, &g_count, 6); }},
    {"exchange data", 8, kSpi, KVSIM_Write, 3, [](KV_HANDLE h) { return SPI_ReadWrite(h, g_in, g_data, 8, &g_count, 6); }},
    {"exchange answer", 8, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return SPI_ReadWrite(h, g_in, g_data, 8, &g_count, 6); }},
    {"busy poll", 1, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return SPI_IsBusy(h, &g_byte); }},
    {"transfer set stream", 18, kSpi, KVSIM_Write, 1, [](KV_HANDLE h) { return SPI_Transfer(h, g_set, 1); }},
    {"transfer set answers", 8, kSpi, KVSIM_Read, 1, [](KV_HANDLE h) { return SPI_Transfer(h, g_set, 1); }},
    {"start", 93, kI2c, KVSIM_Write, 1, [](KV_HANDLE h) { return I2C_Start(h); }},
    {"stop", 93, kI2c, KVSIM_Write, 1, [](KV_HANDLE h) { return I2C_Stop(h); }},
    {"address", 12, kI2c, KVSIM_Write, 1, [](KV_HANDLE h) { return I2C_WriteDeviceAddress(h, 0x50, 0, 0, &g_byte); }},
    {"acknowledge", 1, kI2c, KVSIM_Read, 1, [](KV_HANDLE h) { return I2C_Write8bitsAndGetAck(h, 0, &g_byte); }},
    {"byte read", 1, kI2c, KVSIM_Read, 1, [](KV_HANDLE h) { return I2C_Read8bitsAndGiveAck(h, &g_byte, 1); }},
    {"device write start", 93, kI2c, KVSIM_Write, 1,
     [](KV_HANDLE h) { return I2C_DeviceWrite(h, 0x50, 3, g_data, &g_count, kTransaction); }},
    {"device write data", 12, kI2c, KVSIM_Write, 3,
     [](KV_HANDLE h) { return I2C_DeviceWrite(h, 0x50, 3, g_data, &g_count, kTransaction); }},
    {"device write stop", 93, kI2c, KVSIM_Write, 6,
     [](KV_HANDLE h) { return I2C_DeviceWrite(h, 0x50, 3, g_data, &g_count, kTransaction); }},
    {"device read byte", 1, kI2c, KVSIM_Read, 2,
     [](KV_HANDLE h) { return I2C_DeviceRead(h, 0x50, 3, g_in, &g_count, kTransaction); }},
    {"fast write stream", 50, kI2c, KVSIM_Write, 1,
     [](KV_HANDLE h) { return I2C_FastWrite(h, 0x50, 3, g_data, g_in, &g_count, kTransaction | I2C_OPT_FAST_BYTES); }},
    {"fast write acknowledges", 3, kI2c, KVSIM_Read, 2,
     [](KV_HANDLE h) { return I2C_FastWrite(h, 0x50, 3, g_data, g_in, &g_count, kTransaction | I2C_OPT_FAST_BYTES); }},
    {"fast read stream", 50, kI2c, KVSIM_Write, 1,
     [](KV_HANDLE h) { return I2C_FastRead(h, 0x50, 3, g_in, nullptr, &g_count, kTransaction | I2C_OPT_FAST_BYTES); }},
    {"fast read data", 3, kI2c, KVSIM_Read, 2,
     [](KV_HANDLE h) { return I2C_FastRead(h, 0x50, 3, g_in, nullptr, &g_count, kTransaction | I2C_OPT_FAST_BYTES); }},
    {"message stream", 231, kI2c, KVSIM_Write, 1, [](KV_HANDLE h) { return I2C_Transfer(h, g_messages, 1, nullptr); }},
    {"message answers", 4, kI2c, KVSIM_Read, 1, [](KV_HANDLE h) { return I2C_Transfer(h, g_messages, 1, nullptr); }},
};

class ShortTransfer : public ::testing::TestWithParam<ShortCase> {
protected:
    void SetUp() override { ASSERT_EQ(0, kvsim_load_config_json(kBoard)); }
    void TearDown() override {
        kvsim_clear_faults();
        if (spi_) SPI_CloseChannel(spi_);
        if (i2c_) I2C_CloseChannel(i2c_);
    }
    KV_HANDLE open(Bus bus) {
        if (bus == kSpi) {
            EXPECT_EQ(STATUS_SUCCESS, SPI_OpenChannel(0, &spi_));
            ChannelConfig config{1000000, 2, SPI_CFG_CS_ACTIVE_LOW, 0x0800, 0};
            EXPECT_EQ(STATUS_SUCCESS, SPI_InitChannel(spi_, &config));
            return spi_;
        }
        EXPECT_EQ(STATUS_SUCCESS, I2C_OpenChannel(1, &i2c_));
        I2CChannelConfig config{100000, 1, 0};
        EXPECT_EQ(STATUS_SUCCESS, I2C_InitChannel(i2c_, &config));
        return i2c_;
    }
    KV_HANDLE spi_ = nullptr;
    KV_HANDLE i2c_ = nullptr;
};

TEST_P(ShortTransfer, IsAnIoFailure) {
    const ShortCase &c = GetParam();
    for (uint32_t delivered : std::set<uint32_t>{0u, c.length - 1}) {
        SCOPED_TRACE(delivered);
        KV_HANDLE handle = open(c.bus);
        ASSERT_EQ(0, kvsim_short_transfer(c.entry, c.nth, delivered));
        EXPECT_EQ(STATUS_IO_FAILURE, c.run(handle));
        TearDown();
        spi_ = i2c_ = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, ShortTransfer, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ShortCase> &info) {
                             std::string name = info.param.call;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Every write of a channel's initialisation, each in turn cut short, fails it.
TEST(ShortTransferInInit, EveryWriteOfAnInitialisationCounts) {
    ASSERT_EQ(0, kvsim_load_config_json(kBoard));
    const std::function<KV_STATUS(KV_HANDLE *)> inits[] = {
        [](KV_HANDLE *h) {
            EXPECT_EQ(STATUS_SUCCESS, SPI_OpenChannel(0, h));
            ChannelConfig config{1000000, 2, SPI_CFG_CS_ACTIVE_LOW, 0x0800, 0};
            return SPI_InitChannel(*h, &config);
        },
        [](KV_HANDLE *h) {
            EXPECT_EQ(STATUS_SUCCESS, I2C_OpenChannel(1, h));
            I2CChannelConfig config{100000, 1, I2C_CFG_DRIVE_ZERO_ONLY | I2C_CFG_CLOCK_STRETCHING};
            return I2C_InitChannel(*h, &config);
        },
    };
    const std::function<void(KV_HANDLE)> closes[] = {[](KV_HANDLE h) { SPI_CloseChannel(h); },
                                                     [](KV_HANDLE h) { I2C_CloseChannel(h); }};
    for (int family = 0; family < 2; ++family) {
        KV_HANDLE handle = nullptr;
        const unsigned before = kvsim_call_count(KVSIM_Write);
        ASSERT_EQ(STATUS_SUCCESS, inits[family](&handle));
        const unsigned writes = kvsim_call_count(KVSIM_Write) - before;
        closes[family](handle);
        for (unsigned nth = 1; nth <= writes; ++nth) {
            SCOPED_TRACE("family " + std::to_string(family) + ", write " + std::to_string(nth));
            ASSERT_EQ(0, kvsim_short_transfer(KVSIM_Write, nth, 0));
            EXPECT_EQ(STATUS_IO_FAILURE, inits[family](&handle));
            kvsim_clear_faults();
            closes[family](handle);
        }
    }
}

}  // namespace
