// End to end: libVELTA's SPI transfers against devices on the simulated bus, checking what the
// devices saw and what came back.
#include <string>

#include "spi_support.h"

using namespace spitest;

namespace {

const Bytes kAnswers{0x5A, 0xC3, 0x0F, 0x96};

// The test device on pin 3 (active low) in the channel's own mode.
class ProbeInMode : public SpiTest, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override {
        load(bridges(8, {device("spi-test", "probe", 3, GetParam())}));
        open(options(GetParam()));
        script("probe", kAnswers);
    }
};

std::string mode_name(const ::testing::TestParamInfo<unsigned> &info) { return "Mode" + std::to_string(info.param); }

TEST_P(ProbeInMode, FullDuplexBytes) {
    Bytes out{0xA5, 0x3C, 0x01}, in(3);
    uint32_t done = 0;
    ASSERT_EQ(SPI_ReadWrite(handle, in.data(), out.data(), 3, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(in, (Bytes{0x5A, 0xC3, 0x0F}));
    EXPECT_EQ(frames("probe"), (std::vector<Frame>{{24, out}}));
}

TEST_P(ProbeInMode, WriteThenReadBytesInTwoFrames) {
    Bytes out{0x81, 0x7E}, in(2);
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, out.data(), 2, &done, 0x06), STATUS_SUCCESS);
    ASSERT_EQ(SPI_Read(handle, in.data(), 2, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(in, (Bytes{0x0F, 0x96}));  // answers go by byte position, across frames
    // While reading, the engine leaves data out at the last bit it wrote (0).
    EXPECT_EQ(frames("probe"), (std::vector<Frame>{{16, out}, {16, {0x00, 0x00}}}));
}

// Bit mode: chunks of up to 8 bits; a partial chunk's bits are the top bits of its byte going
// out, and the low bits of the answer coming back.
TEST_P(ProbeInMode, FullDuplexBits) {
    Bytes out{0xA5, 0xB0}, in{0xEE, 0xEE};
    uint32_t done = 0;
    ASSERT_EQ(SPI_ReadWrite(handle, in.data(), out.data(), 12, &done, 0x07), STATUS_SUCCESS);
    EXPECT_EQ(done, 12u);
    EXPECT_EQ(in, (Bytes{0x5A, 0xC3 >> 4}));
    EXPECT_EQ(frames("probe"), (std::vector<Frame>{{12, {0xA5, 0xB0}}}));
}

TEST_P(ProbeInMode, WriteBitsThenReadBits) {
    Bytes out{0xC0}, in{0xEE, 0xEE};
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, out.data(), 3, &done, 0x03), STATUS_SUCCESS);
    ASSERT_EQ(SPI_Read(handle, in.data(), 13, &done, 0x05), STATUS_SUCCESS);
    EXPECT_EQ(done, 13u);
    // The device counts byte positions: its first answer went out while the 3 bits came in,
    // and the 16 bits clocked in total span bytes 0x5A and 0xC3.
    // Bits on MISO: 0x5A 0xC3 = 010 | 11010 110 | 00011; the read takes the last 13 bits.
    EXPECT_EQ(in, (Bytes{0xD6, 0x03}));
    // One frame: 3 bits 110, then 13 bits at data out's resting level (0).
    EXPECT_EQ(frames("probe"), (std::vector<Frame>{{16, {0xC0, 0x00}}}));
}

INSTANTIATE_TEST_SUITE_P(AllModes, ProbeInMode, ::testing::Values(0u, 1u, 2u, 3u), mode_name);

// Two devices on one channel: pin 3 (mode 0, active low) and pin 4 (mode 3, active high).
class TwoProbes : public SpiTest {
protected:
    void SetUp() override {
        load(bridges(8, {device("spi-test", "low", 3, 0) + ", " + device("spi-test", "high", 4, 3, false)}));
        open(options(0));
        script("low", {0x11, 0x12});
        script("high", {0x21, 0x22});
    }
    Bytes exchange(Bytes out, uint32_t transferOptions = 0x06) {
        Bytes in(out.size());
        uint32_t done = 0;
        EXPECT_EQ(SPI_ReadWrite(handle, in.data(), out.data(), uint32_t(out.size()), &done, transferOptions),
                  STATUS_SUCCESS);
        return in;
    }
};

TEST_F(TwoProbes, ChangeCsMovesBetweenDevicesAndModes) {
    EXPECT_EQ(exchange({0x01}), Bytes{0x11});
    ASSERT_EQ(SPI_ChangeCS(handle, options(3, 1, false)), STATUS_SUCCESS);
    EXPECT_EQ(exchange({0x02, 0x03}), (Bytes{0x21, 0x22}));
    ASSERT_EQ(SPI_ChangeCS(handle, options(0)), STATUS_SUCCESS);
    EXPECT_EQ(exchange({0x04}), Bytes{0x12});
    EXPECT_EQ(frames("low"), (std::vector<Frame>{{8, {0x01}}, {8, {0x04}}}));
    EXPECT_EQ(frames("high"), (std::vector<Frame>{{16, {0x02, 0x03}}}));
    // Pin 4 stayed an output after the move back, at its released level.
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.low_direction, 0x1B);
    EXPECT_EQ(pins.low_value, 0x08);
}

// Assert in one call, release in a later one: one frame, chip-select low once and high once.
TEST_F(TwoProbes, TransactionSpanningCallsIsOneFrame) {
    script("low", {0x11, 0x12, 0x13, 0x14});
    uint32_t done = 0;
    Bytes command{0x9F, 0x02};
    ASSERT_EQ(SPI_Write(handle, command.data(), 2, &done, 0x02), STATUS_SUCCESS);
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.low_levels & 0x08, 0);
    EXPECT_TRUE(frames("low").empty());  // still open
    EXPECT_EQ(exchange({0x33}, 0), Bytes{0x13});
    Bytes in(2);
    ASSERT_EQ(SPI_Read(handle, in.data(), 2, &done, 0x04), STATUS_SUCCESS);
    EXPECT_EQ(in, (Bytes{0x14, 0xFF}));  // then the script is spent
    EXPECT_EQ(frames("low"), (std::vector<Frame>{{40, {0x9F, 0x02, 0x33, 0xFF, 0xFF}}}));
    EXPECT_TRUE(frames("high").empty());
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_EQ(pins.low_levels & 0x08, 0x08);
}

// A device kept strictly to its mode, driven in another: shifted or wrong bits, as on hardware.
TEST(SpiWrongMode, StrictDeviceSeesOrAnswersShiftedBits) {
    const Bytes out{0x12, 0x34};
    struct Case {
        unsigned device, master;
        Bytes answer;
        Frame seen;
    } cases[] = {
        // Both sample on the rising edge, so data out arrives; the idle-high clock's extra first
        // fall moves the answer on a bit early, and the next answer byte is taken before the
        // byte it answers is complete: 0x5A twice, one bit early, then the top bit of 0xC3.
        {0, 3, {0xB4, 0xB5}, {16, out}},
        // The idle-low clock's extra last fall comes after the data; the answer's first bit
        // shows twice: 0x5A 0xC3 one bit late.
        {3, 0, {0x2D, 0x61}, {16, out}},
        // The other opcode set: data in is sampled on the falling edge, before the device moves
        // on, so the answer arrives; data out changes on the rising edge the device samples on,
        // so the device sees it one bit late.
        {0, 1, {0x5A, 0xC3}, {16, {0x09, 0x1A}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("device mode " + std::to_string(c.device) + ", master mode " + std::to_string(c.master));
        ASSERT_EQ(kvsim_load_config_json(bridges(8, {device("spi-test", "probe", 3, c.device)}).c_str()), 0);
        script("probe", {0x5A, 0xC3, 0x80});
        KV_HANDLE handle = nullptr;
        open_channel(0, options(c.master), &handle, 0x08);
        Bytes in(2);
        uint32_t done = 0;
        EXPECT_EQ(SPI_ReadWrite(handle, in.data(), const_cast<uint8_t *>(out.data()), 2, &done, 0x06),
                  STATUS_SUCCESS);
        EXPECT_EQ(in, c.answer);
        EXPECT_EQ(frames("probe"), std::vector<Frame>{c.seen});
        EXPECT_EQ(SPI_CloseChannel(handle), STATUS_SUCCESS);
    }
}

// Two channels of one bridge, each with its own device, open at once.
TEST(SpiTwoChannels, ClosingTheFirstLeavesTheSecondWorking) {
    ASSERT_EQ(kvsim_load_config_json(bridges(6, {device("spi-test", "a", 3, 0), device("spi-test", "b", 5, 1)}).c_str()),
              0);
    KV_HANDLE first = nullptr, second = nullptr;
    open_channel(0, options(0), &first, 0x08);
    open_channel(1, options(1, 2), &second, 0x20);
    script("b", {0x42}, 1);
    ASSERT_EQ(SPI_CloseChannel(first), STATUS_SUCCESS);
    Bytes out{0x99}, in(1);
    uint32_t done = 0;
    ASSERT_EQ(SPI_ReadWrite(second, in.data(), out.data(), 1, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(in, Bytes{0x42});
    EXPECT_EQ(frames("b", 1), (std::vector<Frame>{{8, {0x99}}}));
    EXPECT_TRUE(frames("a", 0).empty());
    ChannelConfig *config = nullptr;
    ASSERT_EQ(SPI_GetChannelConfig(second, &config), STATUS_SUCCESS);
    EXPECT_EQ(config->configOptions, options(1, 2));
    EXPECT_EQ(SPI_CloseChannel(second), STATUS_SUCCESS);
    EXPECT_EQ(SPI_CloseChannel(first), STATUS_FAILURE);
}

// The serial memory on pin 3, its mode as configured; the master in `GetParam()`.
class Memory : public SpiTest, public ::testing::WithParamInterface<unsigned> {
protected:
    void load_memory(unsigned deviceMode, const std::string &extra = "") {
        std::string settings = R"("size": 4096, "page_size": 32, "write_cycle_us": 100)";
        load(bridges(8, {device("spi-memory", "mem", 3, deviceMode, true, settings + (extra.empty() ? "" : ", " + extra))}));
        open(options(GetParam()));
    }
    Bytes frame(Bytes out) {
        Bytes in(out.size());
        uint32_t done = 0;
        EXPECT_EQ(SPI_ReadWrite(handle, in.data(), out.data(), uint32_t(out.size()), &done, 0x06), STATUS_SUCCESS);
        return in;
    }
    Bytes page() {
        Bytes bytes{0x02, 0x01, 0x00};
        for (int i = 0; i < 32; ++i) bytes.push_back(uint8_t(i * 7 + 1));
        return bytes;
    }
    Bytes written() {
        Bytes bytes = page();
        return Bytes(bytes.begin() + 3, bytes.end());
    }
    void program_page() {
        frame({0x06});
        frame(page());
        kvsim_advance_time(0, 200ull * 1000000);
    }
    Bytes read_back() {
        Bytes out{0x03, 0x01, 0x00};
        out.resize(35, 0);
        Bytes in = frame(out);
        return Bytes(in.begin() + 3, in.end());
    }
};

TEST_P(Memory, PageWrittenReadsBackAndShowsBusyDuringTheWriteCycle) {
    load_memory(GetParam());
    frame({0x06});
    frame(page());
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x03);  // write in progress, latch set
    uint8_t busy = 0;
    ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, 1);
    kvsim_advance_time(0, 200ull * 1000000);
    ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, GetParam() == 3 ? 1 : 0);  // in mode 3 the idle-high clock alone reads busy
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x00);
    EXPECT_EQ(read_back(), written());
}

// A serial memory takes modes 0 and 3 whichever of the two it was configured with; kept to its
// configured mode it still takes the data (both sample on the rising edge) but answers wrongly.
TEST_P(Memory, TakesModesZeroAndThreeAlike) {
    load_memory(GetParam() == 0 ? 3 : 0);
    program_page();
    EXPECT_EQ(read_back(), written());
}

TEST_P(Memory, KeptToItsConfiguredModeAnswersWrongBits) {
    load_memory(GetParam() == 0 ? 3 : 0, R"("modes_0_and_3": false)");
    program_page();
    Bytes contents = device_data("mem", "memory");
    EXPECT_EQ(Bytes(contents.begin() + 256, contents.begin() + 288), written());
    EXPECT_NE(read_back(), written());
}

INSTANTIATE_TEST_SUITE_P(Modes, Memory, ::testing::Values(0u, 3u), mode_name);

// The sensor's identify command in modes 0 and 3: 'T', 'Q', protocol version 1.
class Sensor : public SpiTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(Sensor, IdentifiesInModesZeroAndThree) {
    load(bridges(8, {device("torqa", "torqa", 3, GetParam())}));
    open(options(GetParam()));
    Bytes out{0x7F, 0, 0, 0}, in(4);
    uint32_t done = 0;
    ASSERT_EQ(SPI_ReadWrite(handle, in.data(), out.data(), 4, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(Bytes(in.begin() + 1, in.end()), (Bytes{0x54, 0x51, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(Modes, Sensor, ::testing::Values(0u, 3u), mode_name);

}  // namespace
