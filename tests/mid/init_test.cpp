// Engine initialisation: argument checks, the byte stream per device type, clock rate and
// protocol, driver failures at every step, and an engine that never echoes.
#include "mid_support.h"
#include <string>

namespace {

const Bytes kSyncStream = {0x84, 0xAA, 0xAB};
const Bytes kLoopbackOff = {0x85};
const Bytes kI2cIdle = {0x80, 0x13, 0x13};
const Bytes kDriveZeroOnly = {0x9E, 0x03, 0x00};

using InitArguments = ChannelTest;

TEST_F(InitArguments, OutOfRangeValuesAreRefusedBeforeAnyDriverCall) {
    struct Case {
        uint32_t clockRate, latencyTimer;
    };
    for (Case c : {Case{1000000, 256}, Case{30000001, 16}, Case{0, 16}, Case{91, 16}, Case{0xFFFFFFFF, 0}}) {
        unsigned before = totalDriverCalls();
        EXPECT_EQ(STATUS_BAD_PARAMETER, KV_InitChannel(PROTOCOL_SPI, handle, c.clockRate, c.latencyTimer, 0u))
            << c.clockRate << " Hz, " << c.latencyTimer << " ms";
        EXPECT_EQ(before, totalDriverCalls());
    }
    EXPECT_TRUE(engine_log(0).empty());
}

TEST_F(InitArguments, FullSpeedBridgeRefusesRatesItsDivisorCannotReach) {
    openBridge(KV_DEVICE_FULL_SPEED_DUAL);
    unsigned before = totalDriverCalls();
    EXPECT_EQ(STATUS_BAD_PARAMETER, KV_InitChannel(PROTOCOL_SPI, handle, 457u, 16u, 0u));
    EXPECT_EQ(before + 1, totalDriverCalls());  // only the device-type query
    EXPECT_EQ(1u, kvsim_call_count(KVSIM_GetDeviceInfo));
    EXPECT_TRUE(engine_log(0).empty());
}

TEST_F(InitArguments, SetClockRefusesRatesWithoutADivisor) {
    for (uint32_t rate : {0u, 91u, 30000001u}) EXPECT_EQ(STATUS_BAD_PARAMETER, Mid_SetClock(handle, 8, rate));
    EXPECT_EQ(STATUS_BAD_PARAMETER, Mid_SetClock(handle, 4, 457));
    EXPECT_TRUE(engine_log(0).empty());
}

struct StreamCase {
    unsigned deviceType;
    BusProtocol protocol;
    uint32_t clockRate, latencyTimer, options;
    Bytes clockBytes, lineBytes;
    uint16_t divisor;
};

class InitStream : public ChannelTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(InitStream, EngineReceivesTheWholeSequence) {
    const StreamCase &c = GetParam();
    openBridge(c.deviceType);
    // A fourth argument is ignored.
    ASSERT_EQ(STATUS_SUCCESS, KV_InitChannel(c.protocol, handle, c.clockRate, c.latencyTimer, c.options, 0xFFu));
    EXPECT_EQ(concat({kSyncStream, c.clockBytes, kLoopbackOff, c.lineBytes}), engine_log(0));
    kvsim_pins pins;
    ASSERT_EQ(0, kvsim_get_pins(0, &pins));
    EXPECT_EQ(2, pins.bit_mode);
    EXPECT_EQ(0, pins.loopback);
    EXPECT_EQ(c.divisor, pins.divisor);
    EXPECT_EQ(0u, kvsim_pending(0));
}

INSTANTIATE_TEST_SUITE_P(
    PerTypeAndRate, InitStream,
    ::testing::Values(StreamCase{8, PROTOCOL_SPI, 1000000, 16, 0, {0x8B, 0x86, 0x05, 0x00}, {}, 5},
                      StreamCase{6, PROTOCOL_SPI, 10000000, 255, 0, {0x8A, 0x86, 0x02, 0x00}, {}, 2},
                      StreamCase{8, PROTOCOL_SPI, 7000000, 0, 0, {0x8A, 0x86, 0x03, 0x00}, {}, 3},
                      StreamCase{8, PROTOCOL_SPI, 6000000, 1, 0, {0x8B, 0x86, 0x00, 0x00}, {}, 0},
                      StreamCase{8, PROTOCOL_SPI, 30000000, 1, 0, {0x8A, 0x86, 0x00, 0x00}, {}, 0},
                      StreamCase{7, PROTOCOL_SPI, 92, 1, 0, {0x8B, 0x86, 0xC0, 0xFE}, {}, 0xFEC0},
                      StreamCase{4, PROTOCOL_SPI, 1000000, 16, 0, {0x86, 0x1D, 0x00}, {}, 0x1D},
                      StreamCase{4, PROTOCOL_I2C, 458, 16, 2, {0x86, 0xDD, 0xFF}, kI2cIdle, 0xFFDD},
                      StreamCase{8, PROTOCOL_SPI, 100000, 16, 2, {0x8B, 0x86, 0x3B, 0x00}, {}, 0x3B},
                      StreamCase{8, PROTOCOL_I2C, 100000, 16, 0, {0x8B, 0x86, 0x3B, 0x00}, kI2cIdle, 0x3B},
                      StreamCase{8, PROTOCOL_I2C, 400000, 16, 2, {0x8B, 0x86, 0x0E, 0x00},
                                 concat({kI2cIdle, kDriveZeroOnly}), 0x0E},
                      StreamCase{6, PROTOCOL_I2C, 400000, 16, 2, {0x8B, 0x86, 0x0E, 0x00}, kI2cIdle, 0x0E}),
    [](const ::testing::TestParamInfo<StreamCase> &info) {
        const StreamCase &c = info.param;
        return std::string(c.protocol == PROTOCOL_SPI ? "Spi" : "I2c") + "Type" + std::to_string(c.deviceType) + "At" +
               std::to_string(c.clockRate) + "HzOptions" + std::to_string(c.options);
    });

TEST_F(ChannelTest, DriveZeroOnlyGoesOutWithItsMasksInOneWrite) {
    ASSERT_EQ(STATUS_SUCCESS, KV_InitChannel(PROTOCOL_I2C, handle, 100000u, 16u, 2u));
    kvsim_pins pins;
    ASSERT_EQ(0, kvsim_get_pins(0, &pins));
    EXPECT_EQ(0x03, pins.zero_only_low);
    EXPECT_EQ(0x00, pins.zero_only_high);
    EXPECT_EQ(0x13, pins.low_value);
    EXPECT_EQ(0x13, pins.low_direction);
    // The I2C bytes that follow are commands again, not masks.
    Mid_SetGPIOLow(handle, 0x12, 0x13);
    ASSERT_EQ(0, kvsim_get_pins(0, &pins));
    EXPECT_EQ(0x12, pins.low_value);
}

// Driver calls of an SPI initialisation on a single-channel bridge at 1 MHz, in order, with the
// bytes the engine has received before each.
struct FailCase {
    kvsim_entry entry;
    unsigned nth;
    unsigned callsMade;
    Bytes logBefore;
};

class InitFailure : public ChannelTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(InitFailure, StatusComesBackUnchangedAndNothingFollows) {
    const FailCase &c = GetParam();
    ASSERT_EQ(0, kvsim_fail_call(c.entry, c.nth, 0x3E0 + c.callsMade));
    unsigned before = totalDriverCalls();
    EXPECT_EQ(0x3E0 + c.callsMade, KV_InitChannel(PROTOCOL_I2C, handle, 1000000u, 16u, 2u));
    EXPECT_EQ(c.callsMade, totalDriverCalls() - before);
    EXPECT_EQ(c.logBefore, engine_log(0));
}

const Bytes kUpToClock = {0x84, 0xAA, 0xAB};
const Bytes kUpToLoopbackOff = {0x84, 0xAA, 0xAB, 0x8B, 0x86, 0x05, 0x00};
const Bytes kUpToLines = {0x84, 0xAA, 0xAB, 0x8B, 0x86, 0x05, 0x00, 0x85};

INSTANTIATE_TEST_SUITE_P(
    EveryStep, InitFailure,
    ::testing::Values(FailCase{KVSIM_GetDeviceInfo, 1, 1, {}}, FailCase{KVSIM_ResetDevice, 1, 2, {}},
                      FailCase{KVSIM_Purge, 1, 3, {}}, FailCase{KVSIM_SetUSBParameters, 1, 4, {}},
                      FailCase{KVSIM_SetChars, 1, 5, {}}, FailCase{KVSIM_SetTimeouts, 1, 6, {}},
                      FailCase{KVSIM_SetLatencyTimer, 1, 7, {}}, FailCase{KVSIM_SetBitMode, 1, 8, {}},
                      FailCase{KVSIM_SetBitMode, 2, 9, {}}, FailCase{KVSIM_Write, 1, 10, {}},
                      FailCase{KVSIM_GetQueueStatus, 1, 11, {0x84}}, FailCase{KVSIM_Write, 2, 12, {0x84}},
                      FailCase{KVSIM_GetQueueStatus, 2, 13, {0x84, 0xAA}},
                      FailCase{KVSIM_Read, 1, 14, {0x84, 0xAA}}, FailCase{KVSIM_Write, 3, 15, {0x84, 0xAA}},
                      FailCase{KVSIM_GetQueueStatus, 3, 16, kUpToClock}, FailCase{KVSIM_Read, 2, 17, kUpToClock},
                      FailCase{KVSIM_Write, 4, 18, kUpToClock}, FailCase{KVSIM_Write, 5, 19, {0x84, 0xAA, 0xAB, 0x8B}},
                      FailCase{KVSIM_Write, 6, 20, kUpToLoopbackOff},
                      FailCase{KVSIM_GetQueueStatus, 4, 21, kUpToLines}, FailCase{KVSIM_Write, 7, 22, kUpToLines},
                      FailCase{KVSIM_Write, 8, 23, concat({kUpToLines, kI2cIdle})}),
    [](const ::testing::TestParamInfo<FailCase> &info) { return "Call" + std::to_string(info.param.callsMade); });

TEST_F(ChannelTest, EngineThatNeverEchoesFailsAfterTheLastPass) {
    ASSERT_EQ(0, kvsim_set_echo(0, 0));
    EXPECT_EQ(STATUS_FAILURE, KV_InitChannel(PROTOCOL_SPI, handle, 1000000u, 16u, 0u));
    EXPECT_EQ(concat({{0x84}, Bytes(4097, 0xAA)}), engine_log(0));
}

}  // namespace
