// libVELTA's SPI family: the engine byte streams and statuses of every operation.
#include <functional>
#include <string>
#include <utility>

#include "korvin_mid.h"
#include "spi_support.h"

using namespace spitest;

namespace {

// A channel with no device on its bus, so answers are the idle lines.
const std::string kEmptyBus = bridges(8, {""});

class SpiBytes : public SpiTest {
protected:
    void SetUp() override { load(kEmptyBus); }
    ChannelConfig &saved() {
        ChannelConfig *config = nullptr;
        EXPECT_EQ(SPI_GetChannelConfig(handle, &config), STATUS_SUCCESS);
        static ChannelConfig none{};
        return config ? *config : none;
    }
};

// What KV_InitChannel alone sends on a freshly opened channel.
Bytes engine_init_bytes(uint32_t clockRate, uint32_t latency, uint32_t configOptions) {
    KV_HANDLE raw = nullptr;
    EXPECT_EQ(KV_OpenChannel(PROTOCOL_SPI, 1, &raw), STATUS_SUCCESS);
    kvsim_log_clear(0);
    EXPECT_EQ(KV_InitChannel(PROTOCOL_SPI, raw, clockRate, latency, configOptions), STATUS_SUCCESS);
    Bytes bytes = engine_log();
    EXPECT_EQ(KV_CloseChannel(PROTOCOL_SPI, raw), STATUS_SUCCESS);
    return bytes;
}

struct InitCase {
    uint32_t configOptions, pin, adjustedPin;
    Bytes pinCommand;
};

class SpiInit : public SpiBytes, public ::testing::WithParamInterface<InitCase> {};

TEST_P(SpiInit, AdjustsPinsSendsEngineSetUpThenPinStateAndSaves) {
    const InitCase &c = GetParam();
    Bytes engine = engine_init_bytes(1000000, 2, c.configOptions);
    ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
    kvsim_log_clear(0);
    ChannelConfig config{1000000, 2, c.configOptions, c.pin, 0x5555};
    ASSERT_EQ(SPI_InitChannel(handle, &config), STATUS_SUCCESS);
    EXPECT_EQ(config.Pin, c.adjustedPin);
    EXPECT_EQ(config.reserved, uint16_t(c.adjustedPin));
    EXPECT_EQ(engine_log(), concat({engine, c.pinCommand}));
    ChannelConfig &s = saved();
    EXPECT_EQ(s.ClockRate, 1000000u);
    EXPECT_EQ(s.LatencyTimer, 2);
    EXPECT_EQ(s.configOptions, c.configOptions);
    EXPECT_EQ(s.Pin, c.adjustedPin);
    EXPECT_EQ(s.reserved, uint16_t(c.adjustedPin));
}

INSTANTIATE_TEST_SUITE_P(Examples, SpiInit,
                         ::testing::Values(
                             // mode 3, pin 3, active low: clock idles high
                             InitCase{0x23, 0, 0x10B, {0x80, 0x01, 0x0B}},
                             // mode 0, pin 5: final bytes kept, data-in forced to an input
                             InitCase{0x08, 0x00F80000, 0x00F80023, {0x80, 0x00, 0x23}},
                             InitCase{0x02, 0x00000000, 0x0000010B, {0x80, 0x01, 0x0B}},
                             InitCase{0x01, 0x000001FF, 0x000000FB, {0x80, 0x00, 0xFB}},
                             // pin 7: its level is the caller's own bit, other pins as given
                             InitCase{0x30, 0xAB55FF04, 0xAB55FE83, {0x80, 0xFE, 0x83}}));

TEST_F(SpiBytes, InitRefusesSelectorsNamingNoPinBeforeAnything) {
    ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
    unsigned writes = kvsim_call_count(KVSIM_Write);
    for (uint32_t selector = 5; selector <= 7; ++selector) {
        ChannelConfig config{1000000, 2, selector << 2, 0x12345678, 0x4321};
        EXPECT_EQ(SPI_InitChannel(handle, &config), STATUS_BAD_PARAMETER);
        EXPECT_EQ(config.Pin, 0x12345678u);
        EXPECT_EQ(config.reserved, 0x4321);
    }
    EXPECT_EQ(kvsim_call_count(KVSIM_Write), writes);
    EXPECT_EQ(kvsim_call_count(KVSIM_ResetDevice), 0u);
    EXPECT_EQ(saved().configOptions, 0u);
}

TEST_F(SpiBytes, InitFailureInEngineSetUpStillAdjustsCallersRecordButSavesNothing) {
    ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
    kvsim_log_clear(0);
    ChannelConfig config{30000001, 2, 0x22, 0, 0};
    EXPECT_EQ(SPI_InitChannel(handle, &config), STATUS_BAD_PARAMETER);
    EXPECT_EQ(config.Pin, 0x10Bu);
    EXPECT_EQ(config.reserved, 0x10B);
    EXPECT_TRUE(engine_log().empty());
    EXPECT_EQ(saved().Pin, 0u);
}

TEST_F(SpiBytes, InitOnAChannelNotOpenedThroughSpiSetsItUpThenFails) {
    Bytes engine = engine_init_bytes(1000000, 2, 0x20);
    KV_HANDLE raw = nullptr;
    ASSERT_EQ(KV_OpenChannel(PROTOCOL_SPI, 1, &raw), STATUS_SUCCESS);
    kvsim_log_clear(0);
    ChannelConfig config{1000000, 2, 0x20, 0, 0};
    EXPECT_EQ(SPI_InitChannel(raw, &config), STATUS_FAILURE);
    EXPECT_EQ(engine_log(), concat({engine, {0x80, 0x00, 0x0B}}));
    EXPECT_EQ(KV_CloseChannel(PROTOCOL_SPI, raw), STATUS_SUCCESS);
}

TEST_F(SpiBytes, ByteWritesAnnounceLengthMinusOne) {
    open(options(0));
    std::vector<uint8_t> data(65536);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, data.data(), 2, &done, 0x06), STATUS_SUCCESS);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, 0x11, 0x01, 0x00, data[0], data[1], 0x80, 0x08, 0x0B}));
    kvsim_log_clear(0);
    ASSERT_EQ(SPI_Write(handle, data.data(), 1, &done, 0), STATUS_SUCCESS);
    EXPECT_EQ(engine_log(), (Bytes{0x11, 0x00, 0x00, data[0]}));
    kvsim_log_clear(0);
    ASSERT_EQ(SPI_Write(handle, data.data(), 65536, &done, 0), STATUS_SUCCESS);
    EXPECT_EQ(done, 65536u);
    EXPECT_EQ(engine_log(), concat({{0x11, 0xFF, 0xFF}, data}));
}

TEST_F(SpiBytes, ByteReadsAndExchangesUseTheOpcodesOfTheMode) {
    open(options(3));
    uint8_t in[256] = {1, 2, 3, 4};
    uint32_t done = 0;
    ASSERT_EQ(SPI_Read(handle, in, 4, &done, 0), STATUS_SUCCESS);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(Bytes(in, in + 4), Bytes(4, 0x00));  // no device selected: MISO reads low
    EXPECT_EQ(engine_log(), (Bytes{0x20, 0x03, 0x00, 0x87}));

    ASSERT_EQ(SPI_ChangeCS(handle, options(1)), STATUS_SUCCESS);
    kvsim_log_clear(0);
    Bytes out(256);
    for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(255 - i);
    ASSERT_EQ(SPI_ReadWrite(handle, in, out.data(), 256, &done, 0), STATUS_SUCCESS);
    EXPECT_EQ(done, 256u);
    EXPECT_EQ(engine_log(), concat({{0x34, 0xFF, 0x00}, out}));
    ASSERT_EQ(SPI_Read(handle, in, 2, &done, 0), STATUS_SUCCESS);
    ASSERT_EQ(SPI_ChangeCS(handle, options(2)), STATUS_SUCCESS);
    ASSERT_EQ(SPI_ReadWrite(handle, in, out.data(), 1, &done, 0), STATUS_SUCCESS);
    ASSERT_EQ(SPI_Write(handle, out.data(), 1, &done, 0), STATUS_SUCCESS);
    EXPECT_EQ(engine_log(), concat({{0x34, 0xFF, 0x00}, out, {0x24, 0x01, 0x00, 0x87}, {0x80, 0x09, 0x0B},
                                    {0x34, 0x00, 0x00, out[0]}, {0x10, 0x00, 0x00, out[0]}}));
}

TEST_F(SpiBytes, BitModeRunsInChunksOfEightBitsAndCountsBits) {
    open(options(2));
    uint8_t data[2] = {0x12, 0x34};
    uint32_t done = 0;
    ASSERT_EQ(SPI_Write(handle, data, 12, &done, SPI_XFER_IN_BITS), STATUS_SUCCESS);
    EXPECT_EQ(done, 12u);
    EXPECT_EQ(engine_log(), (Bytes{0x12, 0x07, 0x12, 0x12, 0x03, 0x34}));
    kvsim_log_clear(0);

    ASSERT_EQ(SPI_ChangeCS(handle, options(0)), STATUS_SUCCESS);
    uint8_t in[3] = {0xEE, 0xEE, 0xEE};
    ASSERT_EQ(SPI_Read(handle, in, 17, &done, SPI_XFER_IN_BITS), STATUS_SUCCESS);
    EXPECT_EQ(done, 17u);
    EXPECT_EQ(Bytes(in, in + 3), Bytes(3, 0x00));
    ASSERT_EQ(SPI_ReadWrite(handle, in, data, 9, &done, SPI_XFER_IN_BITS), STATUS_SUCCESS);
    EXPECT_EQ(done, 9u);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x08, 0x0B, 0x22, 0x07, 0x87, 0x22, 0x07, 0x87, 0x22, 0x00, 0x87,
                                   0x33, 0x07, 0x12, 0x33, 0x00, 0x34}));
}

TEST_F(SpiBytes, BitPrimitivesSendOneCommand) {
    open(options(1));
    uint8_t answer = 0xEE;
    ASSERT_EQ(SPI_Read8bits(handle, &answer, 5), STATUS_SUCCESS);
    EXPECT_EQ(answer, 0x00);
    ASSERT_EQ(SPI_Write8bits(handle, 0xA5, 8), STATUS_SUCCESS);
    EXPECT_EQ(engine_log(), (Bytes{0x26, 0x04, 0x87, 0x12, 0x07, 0xA5}));
}

TEST_F(SpiBytes, BitModeLengthZeroOnlyTogglesChipSelect) {
    open(options(0));
    uint8_t data[1] = {0};
    uint32_t done = 77;
    EXPECT_EQ(SPI_Write(handle, data, 0, &done, 0x07), STATUS_SUCCESS);
    EXPECT_EQ(done, 0u);
    done = 77;
    EXPECT_EQ(SPI_Read(handle, data, 0, &done, 0x01), STATUS_SUCCESS);
    EXPECT_EQ(done, 0u);
    done = 77;
    EXPECT_EQ(SPI_ReadWrite(handle, data, data, 0, &done, 0x01), STATUS_SUCCESS);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, 0x80, 0x08, 0x0B}));
}

TEST_F(SpiBytes, ToggleCsFollowsPolarityAndKeepsStateInReserved) {
    open(options(0));
    EXPECT_EQ(saved().reserved, 0x080B);
    ASSERT_EQ(SPI_ToggleCS(handle, 1), STATUS_SUCCESS);
    EXPECT_EQ(saved().reserved, 0x000B);
    ASSERT_EQ(SPI_ToggleCS(handle, 0), STATUS_SUCCESS);
    EXPECT_EQ(saved().reserved, 0x080B);
    // Active high on the same pin, from a released (low) line.
    ASSERT_EQ(SPI_ChangeCS(handle, options(0, 0, false)), STATUS_SUCCESS);
    saved().reserved = 0x000B;
    ASSERT_EQ(SPI_ToggleCS(handle, 1), STATUS_SUCCESS);
    EXPECT_EQ(saved().reserved, 0x080B);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, 0x80, 0x08, 0x0B, 0x80, 0x08, 0x0B, 0x80, 0x08, 0x0B}));
}

TEST_F(SpiBytes, ChangeCsMakesTheNewPinAnOutputAndSetsTheIdleClock) {
    ChannelConfig mine{};
    open_channel(0, options(0, 0, false), &handle, 0, &mine);
    kvsim_log_clear(0);
    ASSERT_EQ(SPI_ChangeCS(handle, options(0, 1, false)), STATUS_SUCCESS);
    EXPECT_EQ(saved().configOptions, options(0, 1, false));
    EXPECT_EQ(saved().reserved, 0x001B);
    ASSERT_EQ(SPI_ChangeCS(handle, options(3, 4)), STATUS_SUCCESS);
    EXPECT_EQ(saved().reserved, 0x019B);
    ASSERT_EQ(SPI_ChangeCS(handle, options(1, 4)), STATUS_SUCCESS);
    // Selectors naming no pin change nothing.
    EXPECT_EQ(SPI_ChangeCS(handle, options(2, 6)), STATUS_BAD_PARAMETER);
    EXPECT_EQ(saved().configOptions, options(1, 4));
    EXPECT_EQ(saved().Pin, mine.Pin);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x1B, 0x80, 0x01, 0x9B, 0x80, 0x00, 0x9B}));
}

TEST_F(SpiBytes, IsBusyReadsTheLowPinsAroundAChipSelectPulse) {
    // Mode 0, active-high chip-select: every line low while released, but asserted CS is high.
    open(options(0, 0, false));
    uint8_t busy = 7;
    ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x08, 0x0B, 0x81, 0x87, 0x80, 0x00, 0x0B}));
    // Active low: asserted, all eight lines low.
    ASSERT_EQ(SPI_ChangeCS(handle, options(0)), STATUS_SUCCESS);
    ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, 0);
    // Mode 2: the clock idles high, and that alone reads as busy.
    ASSERT_EQ(SPI_ChangeCS(handle, options(2)), STATUS_SUCCESS);
    ASSERT_EQ(SPI_IsBusy(handle, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, 1);
}

TEST_F(SpiBytes, OutOfContractArgumentsAreRefusedAndSendNothing) {
    open(options(0));
    uint8_t data[1] = {0};
    uint32_t done = 77;
    for (uint32_t opts : {0u, 0x06u}) {
        EXPECT_EQ(SPI_Write(handle, data, 0, &done, opts), STATUS_BAD_PARAMETER);
        EXPECT_EQ(SPI_Read(handle, data, 65537, &done, opts), STATUS_BAD_PARAMETER);
        EXPECT_EQ(SPI_ReadWrite(handle, data, data, 0, &done, opts), STATUS_BAD_PARAMETER);
        EXPECT_EQ(SPI_ReadWrite(handle, data, data, 0xFFFFFFFFu, &done, opts), STATUS_BAD_PARAMETER);
    }
    uint8_t answer = 0x42;
    EXPECT_EQ(SPI_Write8bits(handle, 0, 0), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Write8bits(handle, 0, 9), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Read8bits(handle, &answer, 0), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_Read8bits(handle, &answer, 9), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_ToggleCS(handle, 2), STATUS_BAD_PARAMETER);
    EXPECT_EQ(SPI_ToggleCS(handle, 255), STATUS_BAD_PARAMETER);
    EXPECT_EQ(done, 77u);
    EXPECT_EQ(answer, 0x42);
    EXPECT_EQ(saved().reserved, 0x080B);
    EXPECT_TRUE(engine_log().empty());
}

TEST_F(SpiBytes, UnregisteredHandleFailsFromTheLookUp) {
    open(options(0));
    uint8_t data[2] = {0, 0};
    uint32_t done = 5;
    KV_HANDLE stranger = reinterpret_cast<KV_HANDLE>(0x1234);
    EXPECT_EQ(SPI_ReadWrite(stranger, data, data, 1, &done, 0x02), STATUS_FAILURE);
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(SPI_Read(stranger, data, 1, &done, 0x02), STATUS_FAILURE);
    EXPECT_EQ(SPI_Read(stranger, data, 1, &done, 0), STATUS_FAILURE);
    EXPECT_EQ(SPI_Read(stranger, data, 9, &done, 0x01), STATUS_FAILURE);
    EXPECT_EQ(done, 0u);  // bit mode starts its count before the first chunk
    EXPECT_EQ(SPI_Write(stranger, data, 1, &done, 0), STATUS_FAILURE);
    EXPECT_EQ(SPI_Write8bits(stranger, 0, 8), STATUS_FAILURE);
    EXPECT_EQ(SPI_Read8bits(stranger, data, 8), STATUS_FAILURE);
    EXPECT_EQ(SPI_ToggleCS(stranger, 0), STATUS_FAILURE);
    EXPECT_EQ(SPI_ChangeCS(stranger, 0), STATUS_FAILURE);
    EXPECT_EQ(SPI_CloseChannel(stranger), STATUS_FAILURE);
    EXPECT_TRUE(engine_log().empty());
}

// Every tested pointer, in the order the operation tests them, with the line the report names.
TEST(SpiNullReport, NamesSourceLineAndOperationAndSendsNothing) {
    ASSERT_EQ(kvsim_load_config_json(kEmptyBus.c_str()), 0);
    KV_HANDLE h = reinterpret_cast<KV_HANDLE>(0x1234);
    uint8_t b[1];
    ChannelConfig config{};
    struct Case {
        int line;
        const char *name;
        KV_STATUS status;
    };
    ::testing::internal::CaptureStdout();
    // A braced list runs the calls in order, so the reports come in this order too.
    const Case cases[] = {
        {105, "SPI_GetNumChannels", SPI_GetNumChannels(nullptr)},
        {134, "SPI_GetChannelInfo", SPI_GetChannelInfo(0, nullptr)},
        {159, "SPI_OpenChannel", SPI_OpenChannel(0, nullptr)},
        {196, "SPI_InitChannel", SPI_InitChannel(nullptr, nullptr)},
        {196, "SPI_InitChannel", SPI_InitChannel(h, nullptr)},
        {197, "SPI_InitChannel", SPI_InitChannel(nullptr, &config)},
        {285, "SPI_CloseChannel", SPI_CloseChannel(nullptr)},
        {341, "SPI_Read", SPI_Read(nullptr, nullptr, 1, nullptr, 0)},
        {342, "SPI_Read", SPI_Read(h, nullptr, 1, nullptr, 0)},
        {343, "SPI_Read", SPI_Read(h, b, 1, nullptr, 0)},
        {465, "SPI_Write", SPI_Write(nullptr, nullptr, 1, nullptr, 0)},
        {466, "SPI_Write", SPI_Write(h, nullptr, 1, nullptr, 0)},
        {467, "SPI_Write", SPI_Write(h, b, 1, nullptr, 0)},
        {594, "SPI_ReadWrite", SPI_ReadWrite(nullptr, nullptr, nullptr, 1, nullptr, 0)},
        {595, "SPI_ReadWrite", SPI_ReadWrite(h, nullptr, nullptr, 1, nullptr, 0)},
        {596, "SPI_ReadWrite", SPI_ReadWrite(h, b, nullptr, 1, nullptr, 0)},
        {597, "SPI_ReadWrite", SPI_ReadWrite(h, b, b, 1, nullptr, 0)},
        {803, "SPI_ChangeCS", SPI_ChangeCS(nullptr, 0)},
    };
    // Nothing else prints, the placeholder included.
    EXPECT_EQ(SPI_DisplayList(), STATUS_FAILURE);
    std::string printed = ::testing::internal::GetCapturedStdout();
    std::string expected;
    for (const Case &c : cases) {
        EXPECT_EQ(c.status, STATUS_BAD_PARAMETER) << c.name << " line " << c.line;
        expected += "../../TopLayer/SPI/src/korvin_spi:" + std::to_string(c.line) + ":" + c.name +
                    "(): NULL expression encountered\n";
    }
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(kvsim_call_count(KVSIM_Write), 0u);
    EXPECT_EQ(kvsim_call_count(KVSIM_CreateDeviceInfoList), 0u);
}

}  // namespace

// Every chip-select release comes at least 2 ms after the call that makes it began, as the
// device sees it: on the wires, in virtual time that follows the wall clock.
TEST(SpiReleasePause, EveryReleaseWaitsTwoMillisecondsOnTheWires) {
    using namespace spitest;
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": true, "bridges": [{"type": 8, "channels": [
        {"bus": "spi", "devices": [{"kind": "spi-test", "name": "dev", "cs": 3, "mode": 0}]}]}]})"), 0);
    KV_HANDLE handle = nullptr;
    open_channel(0, options(0), &handle, 0x08);
    uint8_t in[1] = {}, out[1] = {0x5A}, busy = 0;
    uint32_t done = 0;
    const std::pair<const char *, std::function<KV_STATUS()>> releases[] = {
        {"SPI_ToggleCS", [&] { return SPI_ToggleCS(handle, 0); }},
        {"SPI_Write", [&] { return SPI_Write(handle, out, 1, &done, 0x06); }},
        {"SPI_Read", [&] { return SPI_Read(handle, in, 1, &done, 0x06); }},
        {"SPI_ReadWrite", [&] { return SPI_ReadWrite(handle, in, out, 1, &done, 0x06); }},
        {"SPI_IsBusy", [&] { return SPI_IsBusy(handle, &busy); }},
    };
    // Short transfers keep virtual time at the wall clock's; each command adds microseconds.
    const uint64_t two_ms_less_commands = 1'900'000'000;
    for (const auto &[name, release] : releases) {
        const uint64_t before = kvsim_time_ps(0);
        ASSERT_EQ(release(), STATUS_SUCCESS) << name;
        EXPECT_GE(kvsim_time_ps(0) - before, two_ms_less_commands) << name;
    }
    SPI_CloseChannel(handle);
}
