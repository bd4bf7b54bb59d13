// Echo scan, draining, command transport, GPIO, and operations whose driver slot is empty.
#include "mid_support.h"

namespace {

constexpr KV_STATUS kStop = 0x5E;  // a driver failure used to end a poll that would run on

struct EchoCase {
    const char *name;
    Bytes answers;
    uint32_t firstReadLimit;  // 0: the first read delivers everything
    bool echo;
};

// The answers arrive in two parts: the first poll sees only the first `g_first_part` bytes.
KV_STATUS (*g_real_queue_status)(KV_HANDLE, uint32_t *) = nullptr;
uint32_t g_first_part = 0;
KV_STATUS arrivingInTwoParts(KV_HANDLE handle, uint32_t *pending) {
    KV_STATUS status = g_real_queue_status(handle, pending);
    if (g_first_part != 0) *pending = std::min(*pending, g_first_part);
    g_first_part = 0;
    return status;
}

class EchoScan : public ChannelTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(EchoScan, FindsTheEchoOnlyRightAfterAMarker) {
    const EchoCase &c = GetParam();
    silentEngine();
    ASSERT_EQ(0, kvsim_queue_answer(0, c.answers.data(), c.answers.size()));
    DriverTableGuard restore;
    g_real_queue_status = varFunctionPtrLst.KV_GetQueueStatus;
    g_first_part = c.firstReadLimit;
    varFunctionPtrLst.KV_GetQueueStatus = arrivingInTwoParts;
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_GetQueueStatus, 3, kStop));
    uint8_t echoSeen = 0xEE;
    KV_STATUS status = Mid_SendReceiveCmdFromVELTA(handle, 0, 0xAB, &echoSeen);
    EXPECT_EQ(c.echo ? STATUS_SUCCESS : kStop, status);
    EXPECT_EQ(c.echo ? 1 : 0, echoSeen);
    EXPECT_EQ(Bytes{0xAB}, engine_log(0));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EchoScan,
    ::testing::Values(EchoCase{"InOneRead", {0x00, 0xFA, 0xAB}, 0, true},
                      EchoCase{"MarkerEndsTheFirstRead", {0x00, 0xFA, 0xAB}, 2, true},
                      EchoCase{"OtherByteAfterMarker", {0xFA, 0x01, 0xAB}, 0, false},
                      EchoCase{"OtherByteStartsTheNextRead", {0xFA, 0x01, 0xAB}, 1, false},
                      EchoCase{"CommandWithoutMarker", {0xAB, 0xAB}, 0, false},
                      EchoCase{"RepeatedMarkers", {0xFA, 0xFA, 0xAB}, 1, true},
                      EchoCase{"EarlierEchoOfAnotherCommand", {0xFA, 0xAA, 0xFA, 0xAA, 0xFA, 0xAB}, 0, true}),
    [](const ::testing::TestParamInfo<EchoCase> &info) { return std::string(info.param.name); });

TEST_F(ChannelTest, ResendingSendsTheCommandInEveryPass) {
    silentEngine();
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_GetQueueStatus, 3, kStop));
    uint8_t echoSeen = 0xEE;
    EXPECT_EQ(kStop, Mid_SendReceiveCmdFromVELTA(handle, 1, 0xAA, &echoSeen));
    EXPECT_EQ(0, echoSeen);
    EXPECT_EQ((Bytes{0xAA, 0xAA, 0xAA}), engine_log(0));
}

TEST_F(ChannelTest, EchoWaitAcceptsAFullScratchBufferButNotMore) {
    silentEngine();
    const Bytes echo = {0xFA, 0xAB};
    ASSERT_EQ(0, kvsim_flood(0, 4094));
    ASSERT_EQ(0, kvsim_queue_answer(0, echo.data(), echo.size()));
    uint8_t echoSeen = 0;
    EXPECT_EQ(STATUS_SUCCESS, Mid_SendReceiveCmdFromVELTA(handle, 0, 0xAB, &echoSeen));
    EXPECT_EQ(1, echoSeen);
    EXPECT_EQ(1u, kvsim_call_count(KVSIM_Read));

    ASSERT_EQ(0, kvsim_flood(0, 4097));
    EXPECT_EQ(STATUS_NO_RESOURCES, Mid_SendReceiveCmdFromVELTA(handle, 0, 0xAB, &echoSeen));
    EXPECT_EQ(0, echoSeen);
    EXPECT_EQ(1u, kvsim_call_count(KVSIM_Read));
}

TEST_F(ChannelTest, SyncFailsWhenTheSecondPhaseSeesNoEcho) {
    ASSERT_EQ(STATUS_SUCCESS, Mid_EnableVELTAIn(handle));
    ASSERT_EQ(STATUS_SUCCESS, Mid_SyncVELTA(handle));
    EXPECT_EQ((Bytes{0xAA, 0xAB}), engine_log(0));
    kvsim_log_clear(0);
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Write, 2, kStop));  // the 0xAB
    EXPECT_EQ(kStop, Mid_SyncVELTA(handle));
    EXPECT_EQ(Bytes{0xAA}, engine_log(0));
}

TEST_F(ChannelTest, DrainReadsInScratchSizedPiecesWhatWasPendingAtTheStart) {
    ASSERT_EQ(0, kvsim_flood(0, 10000));
    EXPECT_EQ(STATUS_SUCCESS, Mid_EmptyDeviceInputBuff(handle));
    EXPECT_EQ(3u, kvsim_call_count(KVSIM_Read));  // 4096 + 4096 + 1808
    EXPECT_EQ(1u, kvsim_call_count(KVSIM_GetQueueStatus));
    EXPECT_EQ(0u, kvsim_pending(0));
    EXPECT_TRUE(engine_log(0).empty());
}

TEST_F(ChannelTest, DrainStopsAtAShortRead) {
    for (uint32_t delivered : {0u, 30u}) {
        ASSERT_EQ(0, kvsim_flood(0, 100));
        ASSERT_EQ(0, kvsim_short_transfer(KVSIM_Read, 1, delivered));
        EXPECT_EQ(STATUS_IO_FAILURE, Mid_EmptyDeviceInputBuff(handle));
        EXPECT_EQ(100u - delivered, kvsim_pending(0));
        ASSERT_EQ(STATUS_SUCCESS, Mid_PurgeDevice(handle));
    }
}

TEST_F(ChannelTest, DrainPassesDriverFailuresThrough) {
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_GetQueueStatus, 1, 0x61));
    EXPECT_EQ(0x61u, Mid_EmptyDeviceInputBuff(handle));
    ASSERT_EQ(0, kvsim_flood(0, 5000));
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Read, 2, 0x62));
    EXPECT_EQ(0x62u, Mid_EmptyDeviceInputBuff(handle));
    EXPECT_EQ(5000u - 4096u, kvsim_pending(0));
}

// A driver whose reads claim more bytes than were asked for.
uint32_t g_pending = 0;
KV_STATUS fakeQueueStatus(KV_HANDLE, uint32_t *pending) {
    *pending = g_pending;
    return STATUS_SUCCESS;
}
KV_STATUS overclaimingRead(KV_HANDLE, void *buffer, uint32_t count, uint32_t *countRead) {
    std::memset(buffer, 0xFA, count);
    *countRead = count + 100000;
    return STATUS_SUCCESS;
}

TEST_F(ChannelTest, ReadCountsBeyondTheRequestAreNotTrusted) {
    DriverTableGuard restore;
    varFunctionPtrLst.KV_GetQueueStatus = fakeQueueStatus;
    varFunctionPtrLst.KV_Read = overclaimingRead;
    g_pending = 10;
    EXPECT_EQ(STATUS_SUCCESS, Mid_EmptyDeviceInputBuff(handle));
    g_pending = 4096;
    uint8_t echoSeen = 0xEE;
    silentEngine();
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Write, 3, kStop));
    EXPECT_EQ(kStop, Mid_SendReceiveCmdFromVELTA(handle, 1, 0xAB, &echoSeen));
    EXPECT_EQ(0, echoSeen);
}

TEST_F(ChannelTest, GpioCommands) {
    ASSERT_EQ(STATUS_SUCCESS, Mid_EnableVELTAIn(handle));
    kvsim_log_clear(0);
    EXPECT_EQ(STATUS_SUCCESS, KV_WriteGPIO(handle, 0xFF, 0x0F));
    EXPECT_EQ(STATUS_SUCCESS, Mid_SetGPIOLow(handle, 0x02, 0x13));
    EXPECT_EQ((Bytes{0x82, 0x0F, 0xFF, 0x80, 0x02, 0x13}), engine_log(0));
    kvsim_pins pins;
    ASSERT_EQ(0, kvsim_get_pins(0, &pins));
    EXPECT_EQ(0x0F, pins.high_value);
    EXPECT_EQ(0xFF, pins.high_direction);
    EXPECT_EQ(0x02, pins.low_value);
    EXPECT_EQ(0x13, pins.low_direction);

    kvsim_log_clear(0);
    ASSERT_EQ(STATUS_SUCCESS, KV_WriteGPIO(handle, 0xFF, 0x5A));
    uint8_t value = 0;
    EXPECT_EQ(STATUS_SUCCESS, KV_ReadGPIO(handle, &value));
    EXPECT_EQ(0x5A, value);
    EXPECT_EQ((Bytes{0x82, 0x5A, 0xFF, 0x83, 0x87}), engine_log(0));
}

TEST_F(ChannelTest, ReadGpioWithoutAnAnswerByte) {
    ASSERT_EQ(STATUS_SUCCESS, Mid_EnableVELTAIn(handle));
    uint8_t value = 0x77;
    ASSERT_EQ(0, kvsim_short_transfer(KVSIM_Read, 1, 0));
    EXPECT_EQ(STATUS_IO_FAILURE, KV_ReadGPIO(handle, &value));
    EXPECT_EQ(0x77, value);
    ASSERT_EQ(STATUS_SUCCESS, Mid_PurgeDevice(handle));  // drop the answer the short read left
    ASSERT_EQ(STATUS_SUCCESS, Mid_ResetVELTA(handle));   // no engine: nothing answers at all
    EXPECT_EQ(STATUS_IO_FAILURE, KV_ReadGPIO(handle, &value));
    EXPECT_EQ(0x77, value);

    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Write, 1, 0x41));
    EXPECT_EQ(0x41u, KV_ReadGPIO(handle, &value));
    unsigned reads = kvsim_call_count(KVSIM_Read);
    EXPECT_EQ(2u, reads);
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Read, 1, 0x42));
    EXPECT_EQ(0x42u, KV_ReadGPIO(handle, &value));
    EXPECT_EQ(0x77, value);
}

TEST_F(ChannelTest, ChannelTransportIgnoresTheProtocol) {
    uint8_t command[] = {0x80, 0x08, 0x0B};
    uint32_t done = 0;
    EXPECT_EQ(STATUS_SUCCESS, KV_Channel_Write(PROTOCOL_SPI, handle, 3, command, &done));
    EXPECT_EQ(3u, done);
    done = 0;
    EXPECT_EQ(STATUS_SUCCESS, KV_Channel_Write(PROTOCOL_I2C, handle, 3, command, &done));
    EXPECT_EQ(3u, done);
    EXPECT_EQ(concat({Bytes(command, command + 3), Bytes(command, command + 3)}), engine_log(0));

    const Bytes answers = {1, 2, 3};
    ASSERT_EQ(0, kvsim_queue_answer(0, answers.data(), answers.size()));
    uint8_t buffer[8] = {};
    EXPECT_EQ(STATUS_SUCCESS, KV_Channel_Read(PROTOCOL_I2C, handle, 2, buffer, &done));
    EXPECT_EQ(2u, done);
    EXPECT_EQ(STATUS_IO_FAILURE, KV_Channel_Read(PROTOCOL_SPI, handle, 8, buffer + 2, &done));
    EXPECT_EQ(1u, done);
    EXPECT_EQ(answers, Bytes(buffer, buffer + 3));

}

// Each operation whose driver slot is empty refuses with STATUS_FAILURE and calls nothing.
struct SlotCase {
    const char *name;
    kvsim_entry slot;
    KV_STATUS (*operation)(KV_HANDLE);
};

KV_STATUS countChannels(KV_HANDLE) {
    uint32_t count = 7;
    KV_STATUS status = KV_GetNumChannels(PROTOCOL_SPI, &count);
    return count == 0 ? status : 0xBAD;
}
KV_STATUS describeChannel(KV_HANDLE) {
    DeviceListEntry info;
    return KV_GetChannelInfo(PROTOCOL_SPI, 1, &info);
}
KV_STATUS openChannel(KV_HANDLE) {
    KV_HANDLE other = nullptr;
    return KV_OpenChannel(PROTOCOL_SPI, 1, &other);
}
KV_STATUS closeChannel(KV_HANDLE handle) { return KV_CloseChannel(PROTOCOL_SPI, handle); }
KV_STATUS usbParameters(KV_HANDLE handle) { return Mid_SetUSBParameters(handle, 65536, 65536); }
KV_STATUS specialChars(KV_HANDLE handle) { return Mid_SetDeviceSpecialChar(handle, 0, 0, 0, 0); }
KV_STATUS timeouts(KV_HANDLE handle) { return Mid_SetDeviceTimeOut(handle, 5000, 5000); }
KV_STATUS latency(KV_HANDLE handle) { return Mid_SetLatencyTimer(handle, 16); }
KV_STATUS deviceType(KV_HANDLE handle) {
    uint32_t type = 0;
    return Mid_GetKvDeviceType(handle, &type);
}
KV_STATUS readBytes(KV_HANDLE handle) {
    uint8_t buffer[4];
    uint32_t done = 0;
    return KV_Channel_Read(PROTOCOL_SPI, handle, sizeof buffer, buffer, &done);
}
KV_STATUS readGpio(KV_HANDLE handle) {
    uint8_t value = 0;
    return KV_ReadGPIO(handle, &value);
}
KV_STATUS writeGpio(KV_HANDLE handle) { return KV_WriteGPIO(handle, 0xFF, 0); }
KV_STATUS init(KV_HANDLE handle) { return KV_InitChannel(PROTOCOL_I2C, handle, 100000u, 16u, 2u); }

class EmptyDriverSlot : public ChannelTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(EmptyDriverSlot, RefusesWithoutCalling) {
    const SlotCase &c = GetParam();
    unsigned before = kvsim_call_count(c.slot);
    EmptySlot empty(c.slot);
    EXPECT_EQ(STATUS_FAILURE, c.operation(handle));
    EXPECT_EQ(before, kvsim_call_count(c.slot));
}

INSTANTIATE_TEST_SUITE_P(
    Slots, EmptyDriverSlot,
    ::testing::Values(SlotCase{"CreateDeviceInfoList", KVSIM_CreateDeviceInfoList, countChannels},
                      SlotCase{"GetDeviceInfoList", KVSIM_GetDeviceInfoList, describeChannel},
                      SlotCase{"Open", KVSIM_Open, openChannel}, SlotCase{"Close", KVSIM_Close, closeChannel},
                      SlotCase{"ResetDevice", KVSIM_ResetDevice, Mid_ResetDevice},
                      SlotCase{"Purge", KVSIM_Purge, Mid_PurgeDevice},
                      SlotCase{"SetUSBParameters", KVSIM_SetUSBParameters, usbParameters},
                      SlotCase{"SetChars", KVSIM_SetChars, specialChars},
                      SlotCase{"SetTimeouts", KVSIM_SetTimeouts, timeouts},
                      SlotCase{"SetLatencyTimer", KVSIM_SetLatencyTimer, latency},
                      SlotCase{"SetBitMode", KVSIM_SetBitMode, Mid_EnableVELTAIn},
                      SlotCase{"GetQueueStatus", KVSIM_GetQueueStatus, Mid_EmptyDeviceInputBuff},
                      SlotCase{"Read", KVSIM_Read, readGpio}, SlotCase{"ReadBytes", KVSIM_Read, readBytes},
                      SlotCase{"Write", KVSIM_Write, writeGpio}, SlotCase{"WriteDuringInit", KVSIM_Write, init},
                      SlotCase{"GetDeviceInfo", KVSIM_GetDeviceInfo, deviceType}),
    [](const ::testing::TestParamInfo<SlotCase> &info) { return std::string(info.param.name); });

}  // namespace
