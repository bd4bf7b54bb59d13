#include <cstring>

#include "sim_support.h"

namespace {

const char *kAllTypes = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "S8"}, {"type": 6, "serial": "S6", "description": "dual"},
  {"type": 4, "serial": "S4"}, {"type": 7, "serial": "S7"},
  {"type": 5, "serial": "S5", "channels": [{"location": 258}]}]})";

std::vector<DeviceListEntry> device_list() {
    uint32_t count = 0;
    EXPECT_EQ(KV_CreateDeviceInfoList(&count), 0u);
    std::vector<DeviceListEntry> list(count);
    EXPECT_EQ(KV_GetDeviceInfoList(list.data(), &count), 0u);
    list.resize(count);
    return list;
}

TEST(DeviceList, ChannelsPerTypeWithPositionsSerialsAndTexts) {
    ASSERT_EQ(kvsim_load_config_json(kAllTypes), 0);
    auto list = device_list();
    ASSERT_EQ(list.size(), 10u);
    const uint32_t types[] = {8, 6, 6, 4, 4, 7, 7, 7, 7, 5};
    const uint32_t low_bits[] = {1, 1, 2, 1, 2, 1, 2, 3, 4, 2};
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].DeviceType, types[i]) << i;
        EXPECT_EQ(list[i].Location & 0xF, low_bits[i]) << i;
        EXPECT_EQ(list[i].OpenHandle, nullptr);
    }
    EXPECT_STREQ(list[0].SerialText, "S8");
    EXPECT_STREQ(list[2].SerialText, "S6B");
    EXPECT_STREQ(list[2].DescriptionText, "dual B");
    EXPECT_STREQ(list[8].SerialText, "S7D");
    EXPECT_EQ(list[9].Location, 258u);
    EXPECT_NE(list[1].Location & ~0xFu, list[3].Location & ~0xFu);
}

TEST(DeviceList, EngineModeOnlyOnChannelsThatCarryTheEngine) {
    ASSERT_EQ(kvsim_load_config_json(kAllTypes), 0);
    const bool engine[] = {true, true, true, true, false, true, true, false, false, false};
    for (uint32_t i = 0; i < 10; ++i) {
        KV_HANDLE h = nullptr;
        ASSERT_EQ(KV_Open(i, &h), 0u);
        EXPECT_EQ(KV_SetBitMode(h, 0, 2), engine[i] ? 0u : KVSIM_STATUS_UNSUPPORTED) << i;
        uint32_t type = 0;
        char serial[300], description[300];
        ASSERT_EQ(KV_GetDeviceInfo(h, &type, nullptr, serial, description, nullptr), 0u);
        EXPECT_EQ(type, device_list()[i].DeviceType);
        EXPECT_EQ(KV_Close(h), 0u);
    }
}

TEST(Handles, ClosedUnknownAndDoubleOpenAreRefused) {
    ASSERT_EQ(kvsim_load_config_json(kAllTypes), 0);
    KV_HANDLE h = nullptr, other = nullptr;
    ASSERT_EQ(KV_Open(0, &h), 0u);
    EXPECT_EQ(KV_Open(0, &other), KVSIM_STATUS_ALREADY_OPEN);
    EXPECT_EQ(device_list()[0].OpenHandle, h);
    EXPECT_EQ(KV_Open(10, &other), KVSIM_STATUS_NOT_FOUND);
    ASSERT_EQ(KV_Close(h), 0u);
    uint32_t pending = 0;
    EXPECT_EQ(KV_GetQueueStatus(h, &pending), KVSIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(KV_Close(h), KVSIM_STATUS_BAD_HANDLE);
    int local = 0;
    EXPECT_EQ(KV_Purge(&local, 3), KVSIM_STATUS_BAD_HANDLE);
    EXPECT_EQ(KV_Close(nullptr), KVSIM_STATUS_BAD_HANDLE);
    ASSERT_EQ(KV_Open(0, &other), 0u);
    EXPECT_NE(other, h);  // a stale handle never names the reopened channel
    EXPECT_EQ(KV_SetBitMode(h, 0, 2), KVSIM_STATUS_BAD_HANDLE);
    ASSERT_EQ(kvsim_load_config_json(kAllTypes), 0);
    EXPECT_EQ(KV_Close(other), KVSIM_STATUS_BAD_HANDLE);  // a new configuration drops handles
}

TEST_F(EngineChannel, InjectedFailureFiresOnceOnTheNthCall) {
    ASSERT_EQ(kvsim_fail_call(KVSIM_Write, 2, 77), 0);
    const unsigned before = kvsim_call_count(KVSIM_Write);
    uint8_t byte = 0xAA;
    uint32_t done = 0;
    EXPECT_EQ(KV_Write(handle, &byte, 1, &done), 0u);
    EXPECT_EQ(KV_Write(handle, &byte, 1, &done), 77u);
    EXPECT_EQ(KV_Write(handle, &byte, 1, &done), 0u);
    EXPECT_EQ(kvsim_call_count(KVSIM_Write), before + 3);
    EXPECT_EQ(engine_log(), (Bytes{0xAA, 0xAA}));  // the failed write moved nothing
}

TEST_F(EngineChannel, ShortTransfersMoveAndReportFewerBytes) {
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Write, 1, 2), 0);
    uint8_t bytes[] = {0xAA, 0xAB, 0xAC};
    uint32_t done = 0;
    ASSERT_EQ(KV_Write(handle, bytes, 3, &done), 0u);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(engine_log(), (Bytes{0xAA, 0xAB}));
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Read, 1, 1), 0);
    uint8_t out[4] = {};
    ASSERT_EQ(KV_Read(handle, out, 4, &done), 0u);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(kvsim_pending(0), 3u);
    EXPECT_EQ(kvsim_short_transfer(KVSIM_Open, 1, 1), -1);
}

TEST_F(EngineChannel, FloodAndQueuedAnswersReachTheReader) {
    ASSERT_EQ(kvsim_flood(0, 5000), 0);
    uint8_t answer[] = {0x12, 0x34};
    ASSERT_EQ(kvsim_queue_answer(0, answer, 2), 0);
    Bytes all = read_all();
    ASSERT_EQ(all.size(), 5002u);
    EXPECT_EQ(all[5000], 0x12);
    EXPECT_EQ(all[5001], 0x34);
    uint32_t got = 9;
    uint8_t out[8];
    EXPECT_EQ(KV_Read(handle, out, 8, &got), 0u);  // nothing queued: returns at once
    EXPECT_EQ(got, 0u);
}

}  // namespace
