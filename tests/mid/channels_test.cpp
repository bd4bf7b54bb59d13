// Channel counting, index mapping and channel information against the simulated bridge, and
// device lists whose counts the driver misreports.
#include "mid_support.h"

namespace {

class ChannelList : public ::testing::Test {
protected:
    void load(std::initializer_list<std::string> bridges) {
        ASSERT_EQ(0, kvsim_load_config_json(configJson(bridges).c_str()));
    }
    uint32_t count() {
        uint32_t channels = 12345;
        EXPECT_EQ(STATUS_SUCCESS, KV_GetNumChannels(PROTOCOL_SPI, &channels));
        return channels;
    }
    // Opens channel index and tells which list position received the handle, by writing a byte.
    int openedPosition(uint32_t index) {
        KV_HANDLE handle = nullptr;
        if (KV_OpenChannel(PROTOCOL_I2C, index, &handle) != STATUS_SUCCESS) return -1;
        uint8_t marker = 0x87;
        uint32_t done = 0;
        EXPECT_EQ(STATUS_SUCCESS, KV_Channel_Write(PROTOCOL_I2C, handle, 1, &marker, &done));
        int position = -1;
        for (unsigned p = 0; p < kvsim_channel_count(); ++p) {
            if (engine_log(p) == Bytes{0x87}) position = static_cast<int>(p);
            kvsim_log_clear(p);
        }
        EXPECT_EQ(STATUS_SUCCESS, KV_CloseChannel(PROTOCOL_I2C, handle));
        return position;
    }
};

TEST_F(ChannelList, NoDeviceCountsZeroWithoutAskingForTheList) {
    load({});
    EXPECT_EQ(0u, count());
    EXPECT_EQ(0u, kvsim_call_count(KVSIM_GetDeviceInfoList));
}

TEST_F(ChannelList, MixedTypesCountAndMapOnlyEngineChannels) {
    load({bridgeJson(5, "A", {1}), bridgeJson(6, "B", {2, 3}), bridgeJson(8, "C", {1})});
    EXPECT_EQ(2u, count());
    EXPECT_EQ(1, openedPosition(1));
    EXPECT_EQ(3, openedPosition(2));
}

TEST_F(ChannelList, QualifyingChannelsPerDeviceType) {
    load({bridgeJson(7, "Q", {1, 2, 3, 4})});
    EXPECT_EQ(2u, count());
    load({bridgeJson(4, "F", {2})});
    EXPECT_EQ(0u, count());
    load({bridgeJson(4, "F", {1, 2}), bridgeJson(6, "H", {1, 2}), bridgeJson(7, "Q", {0x11, 0x12, 0x13, 0x14})});
    EXPECT_EQ(5u, count());
    EXPECT_EQ(0, openedPosition(1));
    EXPECT_EQ(2, openedPosition(2));
    EXPECT_EQ(3, openedPosition(3));
    EXPECT_EQ(4, openedPosition(4));
    EXPECT_EQ(5, openedPosition(5));
}

TEST_F(ChannelList, IndexesNamingNoEngineChannelOpenNothing) {
    load({bridgeJson(5, "A", {1}), bridgeJson(6, "B", {2, 3}), bridgeJson(8, "C", {1})});
    KV_HANDLE handle = reinterpret_cast<KV_HANDLE>(0x5A5A);
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_OpenChannel(PROTOCOL_SPI, 5, &handle));  // beyond the device count
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_OpenChannel(PROTOCOL_SPI, 4, &handle));  // passes it, matches nothing
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_OpenChannel(PROTOCOL_SPI, 3, &handle));
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_OpenChannel(PROTOCOL_SPI, 0, &handle));
    EXPECT_EQ(reinterpret_cast<KV_HANDLE>(0x5A5A), handle);
    EXPECT_EQ(0u, kvsim_call_count(KVSIM_Open));
}

TEST_F(ChannelList, ChannelInfoCopiesTheWholeEntry) {
    load({bridgeJson(4, "F", {2}), bridgeJson(6, "SER-01234", {1, 2})});
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, KV_OpenChannel(PROTOCOL_SPI, 2, &handle));  // fills the handle slot
    uint32_t devices = 0;
    ASSERT_EQ(STATUS_SUCCESS, varFunctionPtrLst.KV_CreateDeviceInfoList(&devices));
    ASSERT_EQ(4u, devices);
    std::vector<DeviceListEntry> list(devices);
    ASSERT_EQ(STATUS_SUCCESS, varFunctionPtrLst.KV_GetDeviceInfoList(list.data(), &devices));

    DeviceListEntry info;
    std::memset(&info, 0xCD, sizeof info);
    ASSERT_EQ(STATUS_SUCCESS, KV_GetChannelInfo(PROTOCOL_SPI, 2, &info));
    EXPECT_EQ(0, std::memcmp(&list[3], &info, sizeof info));
    EXPECT_EQ(0, std::strncmp("SER-01234", info.SerialText, 9));
    EXPECT_EQ(handle, info.OpenHandle);

    DeviceListEntry untouched;
    std::memset(&untouched, 0xCD, sizeof untouched);
    std::memset(&info, 0xCD, sizeof info);
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_GetChannelInfo(PROTOCOL_SPI, 3, &info));
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_GetChannelInfo(PROTOCOL_SPI, 0, &info));
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_GetChannelInfo(PROTOCOL_SPI, 5, &info));
    EXPECT_EQ(0, std::memcmp(&untouched, &info, sizeof info));
    EXPECT_EQ(STATUS_SUCCESS, KV_CloseChannel(PROTOCOL_SPI, handle));
}

TEST_F(ChannelList, DriverFailuresPassThrough) {
    load({bridgeJson(8, "C", {1})});
    uint32_t channels = 0;
    DeviceListEntry info;
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_CreateDeviceInfoList, 1, 0x71));
    EXPECT_EQ(0x71u, KV_GetNumChannels(PROTOCOL_SPI, &channels));
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_GetDeviceInfoList, 1, 0x72));
    EXPECT_EQ(0x72u, KV_GetNumChannels(PROTOCOL_SPI, &channels));
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_CreateDeviceInfoList, 1, 0x73));
    EXPECT_EQ(0x73u, KV_GetChannelInfo(PROTOCOL_SPI, 1, &info));
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_GetDeviceInfoList, 1, 0x74));
    EXPECT_EQ(0x74u, KV_OpenChannel(PROTOCOL_SPI, 1, &handle));
    ASSERT_EQ(0, kvsim_fail_call(KVSIM_Open, 1, 0x75));
    EXPECT_EQ(0x75u, KV_OpenChannel(PROTOCOL_SPI, 1, &handle));
    EXPECT_EQ(nullptr, handle);
}

// A driver that lists more devices than the array it was given holds.
uint32_t g_reportedDevices = 0;
uint32_t g_listedDevices = 0;

KV_STATUS fakeCreateList(uint32_t *deviceCount) {
    *deviceCount = g_reportedDevices;
    return STATUS_SUCCESS;
}

KV_STATUS fakeGetList(DeviceListEntry *list, uint32_t *deviceCount) {
    for (uint32_t i = 0; i < *deviceCount; ++i) {
        list[i] = DeviceListEntry{};
        list[i].DeviceType = KV_DEVICE_HIGH_SPEED_SINGLE;
    }
    *deviceCount = g_listedDevices;
    return STATUS_SUCCESS;
}

TEST(ChannelListBounds, WalksStopAtTheAllocatedArray) {
    DriverTableGuard restore;
    varFunctionPtrLst.KV_CreateDeviceInfoList = fakeCreateList;
    varFunctionPtrLst.KV_GetDeviceInfoList = fakeGetList;
    g_reportedDevices = 3;
    g_listedDevices = 4000;
    uint32_t channels = 0;
    EXPECT_EQ(STATUS_SUCCESS, KV_GetNumChannels(PROTOCOL_SPI, &channels));
    EXPECT_EQ(3u, channels);
    DeviceListEntry info;
    EXPECT_EQ(STATUS_SUCCESS, KV_GetChannelInfo(PROTOCOL_SPI, 3, &info));
    EXPECT_EQ(KV_DEVICE_HIGH_SPEED_SINGLE, info.DeviceType);
    g_listedDevices = 1;  // fewer than reported: only the listed entries count
    EXPECT_EQ(STATUS_SUCCESS, KV_GetNumChannels(PROTOCOL_SPI, &channels));
    EXPECT_EQ(1u, channels);
    EXPECT_EQ(STATUS_BAD_HANDLE, KV_GetChannelInfo(PROTOCOL_SPI, 2, &info));
}

}  // namespace
