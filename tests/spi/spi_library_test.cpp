// libVELTA's SPI family against the simulated bridge: byte logs, statuses, and end to end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvsim.h"
#include "libVELTA_spi.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char *kConfig = R"({"wall_clock": false, "bridges": [{"type": 8, "channels": [{"bus": "spi", "devices": [
  {"kind": "spi-memory", "name": "mem", "cs": 3, "mode": MODE, "size": 4096, "page_size": 32, "write_cycle_us": 100},
  {"kind": "spi-test", "name": "probe", "cs": 4, "mode": MODE, "active_low": false, "answers": [90, 165]}]}]}]})";

class Spi : public ::testing::Test {
protected:
    KV_HANDLE handle = nullptr;
    ChannelConfig config{};

    void open(unsigned mode, uint32_t cs_selector = 0) {
        std::string json = kConfig;
        for (auto at = json.find("MODE"); at != std::string::npos; at = json.find("MODE"))
            json.replace(at, 4, std::to_string(mode));
        ASSERT_EQ(kvsim_load_config_json(json.c_str()), 0);
        ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
        config.ClockRate = 1000000;
        config.LatencyTimer = 2;
        config.configOptions = mode | cs_selector << 2 | SPI_CFG_CS_ACTIVE_LOW;
        config.Pin = 0x00000000u | (0x08u << cs_selector) << 8;  // chip-select starts released
        ASSERT_EQ(SPI_InitChannel(handle, &config), STATUS_SUCCESS);
        kvsim_log_clear(0);
    }
    void TearDown() override {
        if (handle != nullptr) SPI_CloseChannel(handle);
    }
    Bytes log() {
        Bytes bytes(kvsim_log_size(0));
        kvsim_log_read(0, bytes.data(), bytes.size());
        return bytes;
    }
    Bytes device_data(const char *device, const char *key) {
        size_t length = 0;
        kvsim_device_get(0, device, key, nullptr, 0, &length);
        Bytes bytes(length);
        kvsim_device_get(0, device, key, bytes.data(), bytes.size(), &length);
        return bytes;
    }
    void frame(Bytes out, Bytes *in = nullptr) {
        Bytes answer(out.size());
        uint32_t done = 0;
        ASSERT_EQ(SPI_ReadWrite(handle, answer.data(), out.data(), uint32_t(out.size()), &done, 0x06), STATUS_SUCCESS);
        if (in) *in = answer;
    }
};

TEST_F(Spi, ByteWriteSendsHeaderThenDataAndReleases) {
    open(0);
    uint8_t data[2] = {0xAB, 0xCD};
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, data, 2, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(log(), (Bytes{0x80, 0x00, 0x0B, 0x11, 0x01, 0x00, 0xAB, 0xCD, 0x80, 0x08, 0x0B}));
}

TEST_F(Spi, BitModeWriteInModeTwoAndReadInModeThree) {
    open(2);
    uint8_t data[2] = {0x12, 0x34};
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, data, 12, &done, SPI_XFER_IN_BITS), STATUS_SUCCESS);
    EXPECT_EQ(done, 12u);
    EXPECT_EQ(log(), (Bytes{0x12, 0x07, 0x12, 0x12, 0x03, 0x34}));
}

TEST_F(Spi, RefusedArgumentsSendNothing) {
    open(0);
    uint8_t data[1] = {0};
    uint32_t done = 77;
    EXPECT_EQ(SPI_Write(handle, data, 0, &done, 0x06), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Read(handle, data, 65537, &done, 0x06), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_ReadWrite(handle, data, data, 0, &done, 0x06), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Write8bits(handle, 0, 0), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Read8bits(handle, data, 9), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_ToggleCS(handle, 2), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_ChangeCS(handle, 5u << 2), STATUS_BAD_PARAMETER);
    EXPECT_EQ(done, 77u);
    EXPECT_TRUE(log().empty());
    // Bit mode with length 0 is a transfer of nothing, chip-select still toggled.
    EXPECT_EQ(SPI_Write(handle, data, 0, &done, 0x07), STATUS_SUCCESS);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(log(), (Bytes{0x80, 0x00, 0x0B, 0x80, 0x08, 0x0B}));
}

TEST_F(Spi, UnregisteredHandleFailsBeforeSending) {
    open(0);
    uint8_t data[1] = {0};
    uint32_t done = 0;
    KV_HANDLE stranger = reinterpret_cast<KV_HANDLE>(0x1234);
    EXPECT_EQ(SPI_ReadWrite(stranger, data, data, 1, &done, 0x02), STATUS_FAILURE);
    EXPECT_EQ(SPI_Read(stranger, data, 1, &done, 0x02), STATUS_FAILURE);
    EXPECT_EQ(SPI_CloseChannel(stranger), STATUS_FAILURE);
    EXPECT_EQ(SPI_DisplayList(), STATUS_FAILURE);
    EXPECT_TRUE(log().empty());
}

TEST_F(Spi, ChangeCsKeepsOldPinAnOutputAndMovesBetweenDevices) {
    open(0);
    frame({0x06});
    // The probe's chip-select is active high, so its idle line reads low and SPI_IsBusy works.
    ASSERT_EQ(SPI_ChangeCS(handle, 1u << 2), STATUS_SUCCESS);
    EXPECT_EQ(log(), (Bytes{0x80, 0x00, 0x0B, 0x31, 0x00, 0x00, 0x06, 0x80, 0x08, 0x0B,
                            0x80, 0x08, 0x1B}));
    Bytes in;
    frame({0x01, 0x02}, &in);
    EXPECT_EQ(in, (Bytes{90, 165}));
    Bytes frames = device_data("probe", "frames");
    EXPECT_EQ(frames, (Bytes{16, 0, 0, 0, 0x01, 0x02}));
}

class SpiMemory : public Spi, public ::testing::WithParamInterface<unsigned> {};

TEST_P(SpiMemory, PageWrittenReadsBackAndBusyDuringWriteCycle) {
    open(GetParam());
    frame({0x06});
    Bytes page{0x02, 0x01, 0x00};
    for (int i = 0; i < 32; ++i) page.push_back(uint8_t(i * 7));
    frame(page);
    uint8_t busy = 0;
    if (GetParam() == 0) {  // in mode 3 the idle clock alone reads as busy
        ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
        EXPECT_EQ(busy, 1);
    }
    kvsim_advance_time(0, 200ull * 1000000);
    if (GetParam() == 0) {
        ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
        EXPECT_EQ(busy, 0);
    }
    Bytes in;
    Bytes out{0x03, 0x01, 0x00};
    out.resize(35, 0);
    frame(out, &in);
    EXPECT_EQ(Bytes(in.begin() + 3, in.end()), Bytes(page.begin() + 3, page.end()));
}

INSTANTIATE_TEST_SUITE_P(Modes, SpiMemory, ::testing::Values(0u, 3u));

}  // namespace
