// SPI channel management: the configuration list, opening and closing, channel numbering.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "korvin_mid.h"
#include "spi_support.h"

using namespace spitest;

namespace {

KV_HANDLE fake(uintptr_t value) { return reinterpret_cast<KV_HANDLE>(value); }

ChannelConfig *lookup(KV_HANDLE handle) {
    ChannelConfig *config = nullptr;
    return SPI_GetChannelConfig(handle, &config) == STATUS_SUCCESS ? config : nullptr;
}

TEST(SpiList, LastMatchWinsOnLookUpAndFirstMatchIsRemoved) {
    KV_HANDLE a = fake(0xA0), b = fake(0xB0);
    ChannelConfig some{1, 2, 3, 4, 5};
    ChannelConfig *out = &some;
    EXPECT_EQ(SPI_GetChannelConfig(a, &out), STATUS_FAILURE);
    EXPECT_EQ(out, &some);  // untouched
    EXPECT_EQ(SPI_SaveChannelConfig(a, &some), STATUS_FAILURE);
    EXPECT_EQ(SPI_DelChannelConfig(a), STATUS_SUCCESS);  // empty list: nothing to do

    ASSERT_EQ(SPI_AddChannelConfig(a), STATUS_SUCCESS);
    ASSERT_EQ(SPI_AddChannelConfig(b), STATUS_SUCCESS);
    ChannelConfig *first = lookup(a);
    ASSERT_NE(first, nullptr);
    // A new node starts zero-filled.
    const ChannelConfig zero{};
    EXPECT_EQ(std::memcmp(first, &zero, sizeof zero), 0);
    ASSERT_EQ(SPI_AddChannelConfig(a), STATUS_SUCCESS);
    ChannelConfig *second = lookup(a);
    EXPECT_NE(second, first);

    ChannelConfig saved{1000000, 7, 0x2B, 0xAABBCCDD, 0x1234};
    ASSERT_EQ(SPI_SaveChannelConfig(a, &saved), STATUS_SUCCESS);
    EXPECT_EQ(second->Pin, 0xAABBCCDDu);
    EXPECT_EQ(first->Pin, 0xAABBCCDDu);  // every matching node gets the copy
    EXPECT_EQ(lookup(b)->Pin, 0u);

    // The first node of `a` goes; the lookup still finds the later one, at the same place.
    ASSERT_EQ(SPI_DelChannelConfig(a), STATUS_SUCCESS);
    EXPECT_EQ(lookup(a), second);
    EXPECT_EQ(SPI_DelChannelConfig(fake(0xC0)), STATUS_SUCCESS);
    ASSERT_EQ(SPI_DelChannelConfig(a), STATUS_SUCCESS);
    EXPECT_EQ(lookup(a), nullptr);
    ASSERT_NE(lookup(b), nullptr);
    ASSERT_EQ(SPI_DelChannelConfig(b), STATUS_SUCCESS);
    EXPECT_EQ(lookup(b), nullptr);
}

// Two bridges of one channel each, told apart by their serials.
const char *kTwoBridges = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "FIRST", "channels": [{"bus": "spi"}]},
  {"type": 8, "serial": "SECOND", "channels": [{"bus": "spi"}]}]})";

TEST(SpiChannels, IndexesCountFromZero) {
    ASSERT_EQ(kvsim_load_config_json(kTwoBridges), 0);
    uint32_t count = 0;
    ASSERT_EQ(SPI_GetNumChannels(&count), STATUS_SUCCESS);
    EXPECT_EQ(count, 2u);
    for (uint32_t index = 0; index < 2; ++index) {
        DeviceListEntry spi{}, layer{};
        ASSERT_EQ(SPI_GetChannelInfo(index, &spi), STATUS_SUCCESS);
        ASSERT_EQ(KV_GetChannelInfo(PROTOCOL_SPI, index + 1, &layer), STATUS_SUCCESS);
        EXPECT_EQ(std::memcmp(&spi, &layer, sizeof spi), 0);
        EXPECT_STREQ(spi.SerialText, index == 0 ? "FIRST" : "SECOND");
    }
    DeviceListEntry info{};
    EXPECT_EQ(SPI_GetChannelInfo(2, &info), STATUS_BAD_HANDLE);
}

TEST(SpiChannels, FailedOpenRegistersNothing) {
    ASSERT_EQ(kvsim_load_config_json(kTwoBridges), 0);
    KV_HANDLE sentinel = fake(0x5E);
    KV_HANDLE handle = sentinel;
    EXPECT_EQ(SPI_OpenChannel(2, &handle), STATUS_BAD_HANDLE);  // no such channel
    EXPECT_EQ(handle, sentinel);
    EXPECT_EQ(lookup(sentinel), nullptr);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Open, 1, 0x77), 0);
    EXPECT_EQ(SPI_OpenChannel(0, &handle), 0x77u);  // driver status passes unchanged
    EXPECT_EQ(lookup(handle), nullptr);

    ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
    KV_HANDLE again = sentinel;
    EXPECT_EQ(SPI_OpenChannel(0, &again), KVSIM_STATUS_ALREADY_OPEN);
    EXPECT_EQ(lookup(sentinel), nullptr);
    ASSERT_NE(lookup(handle), nullptr);
    EXPECT_EQ(SPI_CloseChannel(handle), STATUS_SUCCESS);
    EXPECT_EQ(lookup(handle), nullptr);
}

// Runs the node probe on this build's libVELTA and returns what it printed.
std::string probe(const char *mode) {
    std::string command = "env -u LD_PRELOAD " + std::string(KV_BIN_DIR) + "/spi_node_probe " + KV_LIB_DIR +
                          "/libVELTA.so " + mode + " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    return out;
}

TEST(SpiChannels, OpenClosesTheChannelAgainWhenRegistrationFails) {
    std::string out = probe("refuse");
    if (out == "skip\n") GTEST_SKIP() << "calloc cannot be refused under AddressSanitizer";
    EXPECT_EQ(out, "open 5, registered 18, closes 1\nreopen 0\n");
}

TEST(SpiChannels, NodesLeftRegisteredAreFreedAtUnload) {
    std::string out = probe("unload");
    if (out == "skip\n") GTEST_SKIP() << "calloc cannot be watched under AddressSanitizer";
    EXPECT_EQ(out, "open 0 0, nodes 2\nafter unload 0\n");
}

}  // namespace
