// SPI_Transfer: the stream a transfer set becomes, chip-select framing as devices see it, a
// serial flash driven through it, and channels used from several threads at once.
#include <random>
#include <thread>

#include "korvin_mid.h"
#include "libVELTA_i2c.h"
#include "spi_support.h"
#include "velta_engine.h"

namespace {

using namespace spitest;

constexpr uint8_t kDirection = VELTA_PIN_CLOCK | VELTA_PIN_DATA_OUT | VELTA_PIN_CHIP_SELECT_FIRST;

// The expected stream, written with the vocabulary's encoders, for an active-low chip-select
// on pin 3 in mode `mode`.
class Expected : public kvtest::EncodedStream {
public:
    explicit Expected(unsigned mode) : mode_(mode), idle_(mode >= 2 ? VELTA_PIN_CLOCK : 0) {}
    Expected &cs(bool asserted) {
        const uint8_t value = static_cast<uint8_t>(idle_ | (asserted ? 0 : VELTA_PIN_CHIP_SELECT_FIRST));
        encode([&](uint8_t *at) { return velta_encode_pins(at, VELTA_CMD_SET_LOW_PINS, value, kDirection); });
        return *this;
    }
    Expected &shift(bool in, const Bytes &out) {
        const uint8_t opcode = velta_spi_shift(VELTA_SHIFT_OUT | (in ? VELTA_SHIFT_IN : 0u), mode_);
        encode([&](uint8_t *at) { return velta_encode_shift_bytes(at, opcode, static_cast<uint32_t>(out.size())); });
        put(out);
        return *this;
    }
    Expected &send_immediate() {
        put(VELTA_CMD_SEND_IMMEDIATE);
        return *this;
    }

private:
    unsigned mode_;
    uint8_t idle_;
};

class SpiTransfer : public SpiTest, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override {
        load(bridges(8, {device("spi-test", "probe", 3, GetParam())}));
        open(options(GetParam()));
    }
    KV_STATUS run(const std::vector<SPITransfer> &set) {
        return SPI_Transfer(handle, set.data(), static_cast<uint32_t>(set.size()));
    }
};

const uint8_t kCommand[] = {0x9F};
const uint8_t kData[] = {0x12, 0x34};
uint8_t g_in[2];

TEST_P(SpiTransfer, StreamsFollowTheSetAndTheMode) {
    const unsigned mode = GetParam();
    const struct {
        const char *name;
        std::vector<SPITransfer> set;
        Expected expected;
        size_t frames;
    } cases[] = {
        {"write", {{kData, nullptr, 2, 0, 1, 0}}, Expected(mode).cs(true).shift(false, {0x12, 0x34}).cs(false), 1},
        {"exchange", {{kData, g_in, 2, 0, 1, 0}},
         Expected(mode).cs(true).shift(true, {0x12, 0x34}).cs(false).send_immediate(), 1},
        {"command then read, chip-select kept between",
         {{kCommand, nullptr, 1, 0, 0, 0}, {nullptr, g_in, 2, 0, 1, 0xFF}},
         Expected(mode).cs(true).shift(false, {0x9F}).shift(true, {0xFF, 0xFF}).cs(false).send_immediate(), 1},
        {"released between transfers",
         {{kCommand, nullptr, 1, 0, 1, 0}, {kData, nullptr, 2, 0, 1, 0}},
         Expected(mode).cs(true).shift(false, {0x9F}).cs(false).cs(true).shift(false, {0x12, 0x34}).cs(false), 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        kvsim_device_put(0, "probe", "frames", nullptr, 0);
        ASSERT_EQ(run(c.set), STATUS_SUCCESS);
        EXPECT_EQ(kvtest::take_engine_log(), c.expected.bytes());
        EXPECT_EQ(frames("probe").size(), c.frames);
    }
}

// A set that leaves chip-select asserted: the saved pin state says so, and the next call
// (here the byte-level release) continues from it, so the device sees one frame.
TEST_P(SpiTransfer, SavedPinStateFollowsTheWire) {
    script("probe", {0xA1, 0xA2});
    ASSERT_EQ(run({{kCommand, nullptr, 1, 0, 0, 0}}), STATUS_SUCCESS);
    ChannelConfig *config = nullptr;
    ASSERT_EQ(SPI_GetChannelConfig(handle, &config), STATUS_SUCCESS);
    EXPECT_EQ(config->reserved >> 8 & VELTA_PIN_CHIP_SELECT_FIRST, 0u);
    uint8_t in[1] = {};
    ASSERT_EQ(run({{nullptr, in, 1, 0, 0, 0}}), STATUS_SUCCESS);
    ASSERT_EQ(SPI_ToggleCS(handle, 0), STATUS_SUCCESS);
    EXPECT_EQ(in[0], 0xA2);
    EXPECT_EQ(frames("probe"), (std::vector<Frame>{{16, {0x9F, 0x00}}}));
}

INSTANTIATE_TEST_SUITE_P(Modes, SpiTransfer, ::testing::Values(0u, 1u, 2u, 3u),
                         [](const ::testing::TestParamInfo<unsigned> &info) { return "mode" + std::to_string(info.param); });

// A 25-series flash of 128 KiB: write enable and page program as one set, status polled, and
// the whole memory read in one set that spans several shift commands and pieces.
class Flash : public SpiTest {
protected:
    void SetUp() override {
        load(bridges(8, {device("spi-memory", "flash", 3, 0, true, R"("size": 131072, "write_cycle_us": 50)")}));
        open(options(0));
    }
    uint8_t status() {
        const uint8_t command[] = {0x05};
        uint8_t value = 0xEE;
        const SPITransfer set[] = {{command, nullptr, 1, 0, 0, 0}, {nullptr, &value, 1, 0, 1, 0}};
        EXPECT_EQ(SPI_Transfer(handle, set, 2), STATUS_SUCCESS);
        return value;
    }
};

TEST_F(Flash, PageProgramAndWholeChipRead) {
    Bytes page(256);
    for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 13 + 7);
    const uint8_t enable[] = {0x06}, program[] = {0x02, 0x01, 0x02, 0x00};
    const SPITransfer write[] = {{enable, nullptr, 1, 0, 1, 0}, {program, nullptr, 4, 0, 0, 0},
                                 {page.data(), nullptr, 256, 0, 1, 0}};
    ASSERT_EQ(SPI_Transfer(handle, write, 3), STATUS_SUCCESS);
    int polls = 0;
    while ((status() & 0x01) && polls < 1000) ++polls;
    EXPECT_LT(polls, 1000);

    const Bytes memory = device_data("flash", "memory");
    ASSERT_EQ(memory.size(), 131072u);
    EXPECT_EQ(Bytes(memory.begin() + 0x10200, memory.begin() + 0x10300), page);
    const uint8_t read[] = {0x03, 0x00, 0x00, 0x00};
    Bytes back(memory.size(), 0xEE);
    const SPITransfer whole[] = {{read, nullptr, 4, 0, 0, 0}, {nullptr, back.data(), 131072, 0, 1, 0}};
    ASSERT_EQ(SPI_Transfer(handle, whole, 2), STATUS_SUCCESS);
    EXPECT_TRUE(back == memory);
}

// Answers a failed read left behind never reach the next transfer as its own.
TEST_F(Flash, ReadAfterAShortAnswerGetsItsOwnBytes) {
    const Bytes memory = device_data("flash", "memory");
    const uint8_t read[] = {0x03, 0x00, 0x00, 0x10};
    Bytes back(64, 0xEE);
    const SPITransfer set[] = {{read, nullptr, 4, 0, 0, 0}, {nullptr, back.data(), 64, 0, 1, 0}};
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Read, 1, 10), 0);
    EXPECT_EQ(SPI_Transfer(handle, set, 2), STATUS_IO_FAILURE);
    ASSERT_EQ(SPI_Transfer(handle, set, 2), STATUS_SUCCESS);
    EXPECT_EQ(back, Bytes(memory.begin() + 0x10, memory.begin() + 0x50));
}

// Two SPI channels and an I2C channel, each opened, used and closed by a thread of its own:
// every byte comes back as sent.
TEST(TransferThreads, ChannelsOfTheirOwnRunSideBySide) {
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
      {"type": 8, "serial": "S1", "channels": [{"bus": "spi", "devices": []}]},
      {"type": 8, "serial": "S2", "channels": [{"bus": "spi", "devices": []}]},
      {"type": 8, "serial": "I1", "channels": [{"bus": "i2c", "devices": [
        {"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096, "page_size": 32, "write_cycle_us": 0}]}]}]})"),
              0);
    constexpr int kRounds = 20;
    int failures[3] = {};
    auto spi = [&](uint32_t index) {
        KV_HANDLE h = nullptr;
        open_channel(index, options(0), &h, 0x08);
        Mid_SetDeviceLoopbackState(h, 1);  // data in is data out: every byte comes back
        std::mt19937 random(index);
        Bytes out(70000), in(out.size());
        for (int round = 0; round < kRounds; ++round) {
            for (uint8_t &b : out) b = static_cast<uint8_t>(random());
            const SPITransfer set[] = {{out.data(), in.data(), static_cast<uint32_t>(out.size()), 0, 1, 0}};
            if (SPI_Transfer(h, set, 1) != STATUS_SUCCESS || in != out) ++failures[index];
        }
        SPI_CloseChannel(h);
    };
    auto i2c = [&]() {
        KV_HANDLE h = nullptr;
        I2CChannelConfig config{400000, 1, 0};
        if (I2C_OpenChannel(2, &h) != STATUS_SUCCESS || I2C_InitChannel(h, &config) != STATUS_SUCCESS) {
            failures[2] = kRounds;
            return;
        }
        for (int round = 0; round < kRounds; ++round) {
            Bytes page = {static_cast<uint8_t>(round % 16), 0x00};
            for (int i = 0; i < 32; ++i) page.push_back(static_cast<uint8_t>(round * 7 + i));
            Bytes back(32);
            const I2CMessage write[] = {{0x50, 0, 34, page.data()}};
            const I2CMessage read[] = {{0x50, 0, 2, page.data()}, {0x50, I2C_MSG_READ, 32, back.data()}};
            if (I2C_Transfer(h, write, 1, nullptr) != STATUS_SUCCESS || I2C_Transfer(h, read, 2, nullptr) != STATUS_SUCCESS ||
                back != Bytes(page.begin() + 2, page.end()))
                ++failures[2];
        }
        I2C_CloseChannel(h);
    };
    std::thread first(spi, 0u), second(spi, 1u), third(i2c);
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
}

}  // namespace
