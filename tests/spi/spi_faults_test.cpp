// Driver failures during SPI operations: statuses pass through unchanged, the steps after the
// failing one are not taken, and what was done stays done.
#include <functional>
#include <string>

#include "korvin_mid.h"
#include "spi_support.h"

using namespace spitest;

// The library's diagnostic hook has no effect of its own; this program's definition takes its
// place, so that the tests can see which failures reach it and how often.
static std::vector<KV_STATUS> g_reports;
extern "C" KV_API void Infra_DbgPrintStatus(KV_STATUS status) { g_reports.push_back(status); }

namespace {

constexpr KV_STATUS kFault = 0x77;

class SpiFaults : public SpiTest {
protected:
    void SetUp() override {
        load(bridges(8, {device("spi-test", "probe", 3, 0)}));
        open(options(0));
    }
    ChannelConfig &saved() {
        ChannelConfig *config = nullptr;
        EXPECT_EQ(SPI_GetChannelConfig(handle, &config), STATUS_SUCCESS);
        return *config;
    }
    // The driver's nth write (or read) from now fails.
    void fail_write(unsigned nth) { ASSERT_EQ(kvsim_fail_call(KVSIM_Write, nth, kFault), 0); }
    void fail_read(unsigned nth) { ASSERT_EQ(kvsim_fail_call(KVSIM_Read, nth, kFault), 0); }
    void no_answer(unsigned nth) { ASSERT_EQ(kvsim_short_transfer(KVSIM_Read, nth, 0), 0); }
};

TEST_F(SpiFaults, FailedStepEndsTheTransferAndLeavesChipSelectAsserted) {
    uint8_t data[2] = {1, 2};
    uint32_t done = 99;
    fail_write(2);  // the write header, after the chip-select assertion
    EXPECT_EQ(SPI_Write(handle, data, 2, &done, 0x06), kFault);
    EXPECT_EQ(done, 99u);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B}));
    EXPECT_EQ(saved().reserved, 0x000B);

    kvsim_log_clear(0);
    fail_write(2);  // the data
    EXPECT_EQ(SPI_Write(handle, data, 2, &done, 0x04), kFault);
    EXPECT_EQ(done, 99u);  // the failing call reported nothing
    EXPECT_EQ(engine_log(), (Bytes{0x11, 0x01, 0x00}));

    kvsim_log_clear(0);
    fail_write(1);  // the release itself; the state it tried to send is kept
    EXPECT_EQ(SPI_ToggleCS(handle, 0), kFault);
    EXPECT_EQ(saved().reserved, 0x080B);
    EXPECT_TRUE(engine_log().empty());
}

// A failure is reported once, where it is found, whichever step of the write finds it.
TEST_F(SpiFaults, WriteReportsEachFailureOnce) {
    struct Case {
        const char *step;
        void (*fault)();
        uint32_t length, options;
        KV_STATUS status;
    };
    const Case cases[] = {
        {"chip-select assertion", [] { kvsim_fail_call(KVSIM_Write, 1, kFault); }, 2, 0x06, kFault},
        {"byte data", [] { kvsim_fail_call(KVSIM_Write, 2, kFault); }, 2, 0x04, kFault},
        {"second bit chunk", [] { kvsim_fail_call(KVSIM_Write, 2, kFault); }, 12, SPI_XFER_IN_BITS, kFault},
        {"short bit chunk", [] { kvsim_short_transfer(KVSIM_Write, 1, 1); }, 4, SPI_XFER_IN_BITS, STATUS_IO_FAILURE},
        {"release", [] { kvsim_fail_call(KVSIM_Write, 3, kFault); }, 2, 0x06, kFault},
    };
    uint8_t data[2] = {1, 2};
    uint32_t done = 0;
    for (const Case &c : cases) {
        ASSERT_EQ(SPI_ToggleCS(handle, 0), STATUS_SUCCESS);
        g_reports.clear();
        c.fault();
        EXPECT_EQ(SPI_Write(handle, data, c.length, &done, c.options), c.status) << c.step;
        EXPECT_EQ(g_reports, std::vector<KV_STATUS>{c.status}) << c.step;
    }
    g_reports.clear();
    EXPECT_EQ(SPI_Write(handle, data, 2, &done, 0x06), STATUS_SUCCESS);
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(SpiFaults, ExchangeCountsFromZeroOnceChipSelectIsAsserted) {
    uint8_t in[2], out[2] = {1, 2};
    uint32_t done = 99;
    fail_write(1);
    EXPECT_EQ(SPI_ReadWrite(handle, in, out, 2, &done, 0x02), kFault);
    EXPECT_EQ(done, 99u);
    fail_write(1);
    EXPECT_EQ(SPI_ReadWrite(handle, in, out, 2, &done, 0), kFault);
    EXPECT_EQ(done, 0u);
    fail_read(1);
    EXPECT_EQ(SPI_ReadWrite(handle, in, out, 2, &done, 0x04), kFault);
    EXPECT_EQ(engine_log(), (Bytes{0x31, 0x01, 0x00, 1, 2}));  // no release
}

// A short read or write is an I/O failure that keeps its count. A data write the driver cut
// short is completed, so the engine takes the release as a pin command and the chip-select
// pin, released on the wire, agrees with the saved state.
TEST_F(SpiFaults, ShortByteTransfersFailAndLeaveTheWireAsRecorded) {
    uint8_t data[4] = {1, 2, 3, 4}, in[4];
    uint32_t done = 0;
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Read, 1, 1), 0);
    EXPECT_EQ(SPI_Read(handle, in, 4, &done, 0x02), STATUS_IO_FAILURE);
    EXPECT_EQ(done, 1u);
    ASSERT_EQ(SPI_ToggleCS(handle, 0), STATUS_SUCCESS);
    ASSERT_EQ(Mid_PurgeDevice(handle), STATUS_SUCCESS);

    struct Case {
        const char *call;
        uint32_t delivered;
        std::function<KV_STATUS()> transfer;
        uint8_t opcode;
    };
    const Case cases[] = {
        {"write", 0, [&] { return SPI_Write(handle, data, 4, &done, 0x06); }, 0x11},
        {"write", 3, [&] { return SPI_Write(handle, data, 4, &done, 0x06); }, 0x11},
        {"exchange", 0, [&] { return SPI_ReadWrite(handle, in, data, 4, &done, 0x06); }, 0x31},
        {"exchange", 2, [&] { return SPI_ReadWrite(handle, in, data, 4, &done, 0x06); }, 0x31},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.call) + " cut to " + std::to_string(c.delivered));
        kvsim_log_clear(0);
        ASSERT_EQ(kvsim_short_transfer(KVSIM_Write, 3, c.delivered), 0);  // after assertion and header
        EXPECT_EQ(c.transfer(), STATUS_IO_FAILURE);
        EXPECT_EQ(done, c.delivered);
        EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, c.opcode, 0x03, 0x00, 1, 2, 3, 4, 0x80, 0x08, 0x0B}));
        kvsim_pins pins;
        ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
        EXPECT_EQ(pins.low_value & 0x08, 0x08) << "chip-select released on the wire";
        EXPECT_EQ(saved().reserved, 0x080B);
        EXPECT_EQ(kvsim_pending(0), 0u) << "no answer left for the next read";
    }
}

TEST_F(SpiFaults, MissingOneByteAnswerIsAnIoFailure) {
    uint8_t answer = 0x42;
    no_answer(1);
    EXPECT_EQ(SPI_Read8bits(handle, &answer, 8), STATUS_IO_FAILURE);
    EXPECT_EQ(answer, 0x42);

    uint8_t in[2] = {0xEE, 0xEE}, out[2] = {0xA0, 0xB0};
    uint32_t done = 0;
    kvsim_log_clear(0);
    no_answer(2);  // the second chunk's answer
    EXPECT_EQ(SPI_ReadWrite(handle, in, out, 12, &done, 0x03), STATUS_IO_FAILURE);
    EXPECT_EQ(done, 8u);
    EXPECT_EQ(in[1], 0xEE);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, 0x33, 0x07, 0xA0, 0x33, 0x03, 0xB0}));

    ASSERT_EQ(SPI_ToggleCS(handle, 0), STATUS_SUCCESS);
    kvsim_log_clear(0);
    uint8_t busy = 7;
    no_answer(1);
    EXPECT_EQ(SPI_IsBusy(handle, &busy), STATUS_IO_FAILURE);
    EXPECT_EQ(busy, 7);
    EXPECT_EQ(engine_log(), (Bytes{0x80, 0x00, 0x0B, 0x81, 0x87}));  // chip-select left asserted
}

TEST_F(SpiFaults, BitModeReadCountsTheChunksCompleted) {
    uint8_t in[3];
    uint32_t done = 99;
    fail_write(1);
    EXPECT_EQ(SPI_Read(handle, in, 20, &done, 0), kFault);
    EXPECT_EQ(done, 99u);  // byte mode: unchanged
    fail_write(3);  // the third chunk
    EXPECT_EQ(SPI_Read(handle, in, 20, &done, SPI_XFER_IN_BITS), kFault);
    EXPECT_EQ(done, 16u);
}

TEST_F(SpiFaults, ChangeCsFailureKeepsTheNewSettings) {
    fail_write(1);
    EXPECT_EQ(SPI_ChangeCS(handle, options(3, 1)), kFault);
    EXPECT_EQ(saved().configOptions, options(3, 1));
    EXPECT_EQ(saved().reserved, 0x091B);
}

TEST_F(SpiFaults, CloseFailuresKeepTheChannelRegistered) {
    fail_write(1);
    EXPECT_EQ(SPI_CloseChannel(handle), kFault);
    uint8_t data[1] = {5};
    uint32_t done = 0;
    EXPECT_EQ(SPI_Write(handle, data, 1, &done, 0x06), STATUS_SUCCESS);  // still open and found
    ASSERT_EQ(kvsim_fail_call(KVSIM_Close, 1, kFault), 0);
    EXPECT_EQ(SPI_CloseChannel(handle), kFault);
    EXPECT_EQ(saved().configOptions, options(0));
    EXPECT_EQ(SPI_CloseChannel(handle), STATUS_SUCCESS);
    handle = nullptr;
}

TEST_F(SpiFaults, InitPinFailureSavesNothing) {
    ChannelConfig config{1000000, 2, options(2), 0, 0};
    // The pin command is the last write of the set-up.
    unsigned before = kvsim_call_count(KVSIM_Write);
    ChannelConfig probe = config;
    ASSERT_EQ(SPI_InitChannel(handle, &probe), STATUS_SUCCESS);
    unsigned writes = kvsim_call_count(KVSIM_Write) - before;
    fail_write(writes);
    EXPECT_EQ(SPI_InitChannel(handle, &config), kFault);
    EXPECT_EQ(config.reserved, 0x010B);
    EXPECT_EQ(saved().configOptions, options(2));  // from the first, successful one
    EXPECT_EQ(saved().reserved, 0x010B);
    config.configOptions = options(1);
    fail_write(writes);
    EXPECT_EQ(SPI_InitChannel(handle, &config), kFault);
    EXPECT_EQ(saved().configOptions, options(2));
}

// A channel open in the channel layer but not registered: the chip-select changes fail and are
// ignored, the pin read runs as usual.
TEST(SpiIsBusy, IgnoresAFailedChipSelectLookUp) {
    ASSERT_EQ(kvsim_load_config_json(bridges(8, {""}).c_str()), 0);
    KV_HANDLE raw = nullptr;
    ASSERT_EQ(KV_OpenChannel(PROTOCOL_SPI, 1, &raw), STATUS_SUCCESS);
    ASSERT_EQ(KV_InitChannel(PROTOCOL_SPI, raw, 1000000u, 2u, 0u), STATUS_SUCCESS);
    kvsim_log_clear(0);
    uint8_t busy = 7;
    EXPECT_EQ(SPI_IsBusy(raw, &busy), STATUS_SUCCESS);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(engine_log(), (Bytes{0x81, 0x87}));
    EXPECT_EQ(KV_CloseChannel(PROTOCOL_SPI, raw), STATUS_SUCCESS);
}

}  // namespace
