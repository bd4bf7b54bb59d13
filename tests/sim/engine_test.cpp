#include "sim_support.h"

namespace {

// A stream touching every kind of command: pins, loopback shifts, reads, unknown bytes.
const Bytes kStream = {0x80, 0x0B, 0x0B, 0x84, 0x31, 0x01, 0x00, 0xA5, 0x3C, 0x33, 0x04, 0xF0,
                       0xAA, 0x81, 0x82, 0x0F, 0xFF, 0x83, 0x85, 0x86, 0x05, 0x00, 0x87, 0xAB};

TEST_F(EngineChannel, EverySplitOfAStreamGivesTheSameLogAndAnswers) {
    write(kStream);
    const Bytes whole = read_all();
    ASSERT_EQ(engine_log(), kStream);
    for (size_t split = 1; split < kStream.size(); ++split) {
        open();
        write(Bytes(kStream.begin(), kStream.begin() + long(split)));
        write(Bytes(kStream.begin() + long(split), kStream.end()));
        EXPECT_EQ(read_all(), whole) << "split at " << split;
        EXPECT_EQ(engine_log(), kStream);
    }
    // loopback bytes, five loopback bits in the low bits, echo, pins (data out left at the last bit 0), echo
    EXPECT_EQ(whole, (Bytes{0xA5, 0x3C, 0x1E, 0xFA, 0xAA, 0x09, 0x0F, 0xFA, 0xAB}));
}

TEST_F(EngineChannel, UnknownBytesAreEchoedUnlessEchoIsOff) {
    write({0xAA, 0x00, 0xFA});
    EXPECT_EQ(read_all(), (Bytes{0xFA, 0xAA, 0xFA, 0x00, 0xFA, 0xFA}));
    ASSERT_EQ(kvsim_set_echo(0, 0), 0);
    write({0xAA, 0x81});
    EXPECT_EQ(read_all(), (Bytes{0x00}));
}

TEST_F(EngineChannel, HighSpeedCommandsAreUnknownOnTheFullSpeedType) {
    open("4");
    write({0x8A, 0x8B, 0x8C, 0x8D, 0x9E});
    EXPECT_EQ(read_all(), (Bytes{0xFA, 0x8A, 0xFA, 0x8B, 0xFA, 0x8C, 0xFA, 0x8D, 0xFA, 0x9E}));
    open("6");
    write({0x8A, 0x8C, 0x9E, 0x03, 0x01});
    EXPECT_TRUE(read_all().empty());
    kvsim_pins pins;
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_FALSE(pins.divide_by_5);
    EXPECT_TRUE(pins.three_phase);
    EXPECT_EQ(pins.zero_only_low, 0x03);
    EXPECT_EQ(pins.zero_only_high, 0x01);
}

// Adaptive clocking: each clock edge waits until pin 7 reads its level. With nothing on pin 7
// it reads low, so the first rising edge waits for ever: the engine stalls, takes bytes
// without running them, and only a reset brings it back. 0x97 turns the waiting off.
TEST_F(EngineChannel, AdaptiveClockingWaitsForPinSevenAndStallsWithoutIt) {
    open("4");
    write({0x96, 0x97});
    EXPECT_EQ(read_all(), (Bytes{0xFA, 0x96, 0xFA, 0x97}));

    open("8");
    write({0x80, 0x00, 0x01, 0x96, 0x97, 0x22, 0x00});
    EXPECT_EQ(read_all(), (Bytes{0x00}));
    kvsim_pins pins{};
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_FALSE(pins.adaptive_clocking);
    EXPECT_FALSE(pins.stalled);

    write({0x80, 0x00, 0x01, 0x96, 0x22, 0x00, 0x87, 0xAA});
    EXPECT_TRUE(read_all().empty());
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_TRUE(pins.adaptive_clocking);
    EXPECT_TRUE(pins.stalled);
    const uint64_t stalled_at = kvsim_time_ps(0);
    write({0xAA, 0x81});
    EXPECT_TRUE(read_all().empty());
    EXPECT_EQ(kvsim_time_ps(0), stalled_at);

    ASSERT_EQ(KV_SetBitMode(handle, 0, 0), 0u);
    ASSERT_EQ(KV_SetBitMode(handle, 0, 2), 0u);
    ASSERT_EQ(kvsim_get_pins(0, &pins), 0);
    EXPECT_FALSE(pins.adaptive_clocking);
    EXPECT_FALSE(pins.stalled);
    write({0xAA});
    EXPECT_EQ(read_all(), (Bytes{0xFA, 0xAA}));
}

TEST_F(EngineChannel, PinReadsShowDrivenOutputsAndZeroOnlyReleases) {
    write({0x80, 0xF3, 0x0F, 0x81, 0x82, 0xFF, 0x0F, 0x83, 0x9E, 0x01, 0x02, 0x81, 0x83});
    // low: outputs 0..3 read their drive, inputs read 0; then pin 0 and high pin 1 released
    EXPECT_EQ(read_all(), (Bytes{0x03, 0x0F, 0x02, 0x0D}));
}

TEST_F(EngineChannel, LoopbackReadFollowsTheDataOutPin) {
    write({0x84, 0x80, 0x02, 0x03, 0x20, 0x01, 0x00, 0x22, 0x02, 0x80, 0x00, 0x03, 0x24, 0x00, 0x00});
    EXPECT_EQ(read_all(), (Bytes{0xFF, 0xFF, 0x07, 0x00}));
}

TEST_F(EngineChannel, ClockRateSetsVirtualTime) {
    // reset state: divide-by-5 on, divisor 0 -> 6 MHz; 8 bits cost 8 periods of 166667 ps
    const uint64_t t0 = kvsim_time_ps(0);
    write({0x10, 0x00, 0x00, 0x55});
    EXPECT_EQ(kvsim_time_ps(0) - t0, 8u * 2u * 83333u);
    write({0x8A, 0x86, 0x02, 0x00});  // 30 MHz / 3 = 10 MHz, each command one period
    const uint64_t t1 = kvsim_time_ps(0);
    write({0x20, 0x01, 0x00});
    EXPECT_EQ(kvsim_time_ps(0) - t1, 16u * 2u * 50000u);
    write({0x8C});
    const uint64_t t2 = kvsim_time_ps(0);
    write({0x13, 0x07, 0x00});
    EXPECT_EQ(kvsim_time_ps(0) - t2, 8u * 3u * 50000u);
}

TEST_F(EngineChannel, PurgeDropsAnswersAndAPartialCommand) {
    write({0xAA, 0x80, 0x01});
    ASSERT_EQ(KV_Purge(handle, 3), 0u);
    uint32_t pending = 1;
    ASSERT_EQ(KV_GetQueueStatus(handle, &pending), 0u);
    EXPECT_EQ(pending, 0u);
    write({0x81});  // a new command, not the missing direction byte
    EXPECT_EQ(read_all(), (Bytes{0x00}));
}

TEST_F(EngineChannel, BytesOutsideEngineModeAreLoggedNotExecuted) {
    ASSERT_EQ(KV_SetBitMode(handle, 0, 0), 0u);
    write({0xAA, 0x81});
    EXPECT_TRUE(read_all().empty());
    EXPECT_EQ(engine_log(), (Bytes{0xAA, 0x81}));
}

}  // namespace

// Reads of 64 KiB each, never collected: the sixteenth fills the queue, the next stalls on its
// last command byte, and the rest of the stream is taken once the host has read.
TEST_F(EngineChannel, AFullAnswerQueueStallsTheWriteWithItsOwnStatus) {
    Bytes stream;
    for (int i = 0; i < 20; ++i) stream.insert(stream.end(), {0x20, 0xFF, 0xFF});
    uint32_t done = 0;
    EXPECT_EQ(KV_Write(handle, stream.data(), uint32_t(stream.size()), &done), KVSIM_STATUS_QUEUE_FULL);
    EXPECT_EQ(done, 16u * 3 + 2);
    EXPECT_EQ(kvsim_pending(0), 16u << 16);
    EXPECT_EQ(engine_log().size(), done);
    Bytes some(1u << 16);
    uint32_t got = 0;
    ASSERT_EQ(KV_Read(handle, some.data(), uint32_t(some.size()), &got), 0u);
    const uint32_t taken = done;
    EXPECT_EQ(KV_Write(handle, stream.data() + taken, uint32_t(stream.size() - taken), &done), KVSIM_STATUS_QUEUE_FULL);
    EXPECT_EQ(done, 3u);  // the stalled command completes; the next one stalls on its last byte again
    EXPECT_EQ(kvsim_pending(0), 16u << 16);
    EXPECT_EQ(engine_log().size(), taken + 3);
}
