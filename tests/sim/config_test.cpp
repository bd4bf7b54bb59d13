#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim_support.h"

namespace {

std::string load_fails(const char *json) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(kvsim_load_config_json(json), -1) << json;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(kvsim_channel_count(), 0u) << json;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    return err;
}

TEST(Config, MalformedConfigurationsGiveOneClearMessageAndNoBridges) {
    EXPECT_NE(load_fails(R"({"bridges": [)").find("syntax error"), std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [{"type": "8"}]})").find("bridges[0].type"), std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [{"type": 8, "channels": [{"bus": "can"}]}]})").find("can"),
              std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [{"type": 8, "channels": [{}, {}]}]})").find("2 channels"),
              std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [{"type": 8, "serial": "S"}, {"type": 8, "serial": "S"}]})").find("twice"),
              std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [{"type": 8, "serial": "0123456789ABCDEF"}]})").find("too long"),
              std::string::npos);
    EXPECT_NE(load_fails(R"({"bridges": [], "wall_clock": 1})").find("wall_clock"), std::string::npos);
    EXPECT_NE(load_fails(R"({"bridgez": []})").find("bridgez"), std::string::npos);
    load_fails(R"({"bridges": [{"type": 8, "channels": [{"bus": "none", "devices": [{"kind": "x"}]}]}]})");
    load_fails(R"({"bridges": [{"type": 4, "channels": [{}, {"bus": "spi"}]}]})");
}

// Each fault names the JSON path and the fault on one line, and leaves no bridges.
TEST(Config, FaultsNameTheirPath) {
    const std::string spi = R"({"bridges": [{"type": 8, "channels": [{"bus": "spi", "devices": [)";
    const std::string i2c = R"({"bridges": [{"type": 8, "channels": [{"bus": "i2c", "devices": [)";
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    const std::pair<std::string, const char *> cases[] = {
        {R"({"bridges": [{"type": 8, "channels": [{"bus": "spi", "devics": []}]}]})",
         "bridges[0].channels[0].devics: unknown key"},
        {spi + R"({"kind": "spi-memory", "sise": 4096}]}]}]})", "bridges[0].channels[0].devices[0].sise: unknown key"},
        {R"({"bridges": [], "bridges": []})", "bridges: duplicate key"},
        {R"({"bridges": [{"type": 6, "serial": "X"}, {"type": 8, "serial": "XA"}]})", "bridges[1].serial: channel serial"},
        {i2c + R"({"kind": "eeprom24"}, {"kind": "eeprom24", "name": "b", "address": "0x50"}]}]}]})",
         "bridges[0].channels[0].devices[1].address: address 80 is taken"},
        {spi + R"({"kind": "spi-test"}, {"kind": "spi-test", "name": "b"}]}]}]})",
         "bridges[0].channels[0].devices[1].cs: chip-select pin 3"},
        {spi + R"({"kind": "torqa", "rpm": 1e308}]}]}]})", "bridges[0].channels[0].devices[0].rpm: must lie between"},
        {spi + R"({"kind": "torqa", "rpm": 1e999}]}]}]})", "bridges[0].channels[0].devices[0].rpm: number overflow"},
        {spi + R"({"kind": "spi-memory", "size": "0x1000000", "page_size": "0x10"}]}]}]})", nullptr},
        {spi + R"({"kind": "spi-memory", "size": "0x1000001"}]}]}]})", "devices[0].size: must lie between"},
        {spi + R"({"kind": "spi-memory", "size": "0xZZ"}]}]}]})", "devices[0].size: expected a non-negative"},
        {R"({"bridges": )" + deep + "}", "nested deeper than 32 levels"},
        {R"({"bridges": [{"type": 5, "channels": [)" + std::string(20 * 3, ' ') + "{}" +
             [] { std::string more; for (int i = 0; i < 19; ++i) more += ",{}"; return more; }() + "]}]}",
         "bridges[0].channels: 20 channels given"},
        {R"({"bridges": [{"type": 8, "channels": [{"bus": "spi", "scl_diode": true}]}]})",
         "bridges[0].channels[0].scl_diode: only an I2C channel takes it"},
        {R"({"bridges": [{"type": 8, "channels": [{"bus": "i2c", "scl_return": 1}]}]})",
         "bridges[0].channels[0].scl_return: expected true or false"},
        {i2c + R"({"kind": "eeprom24", "stretch_us": 10000001}]}]}]})", "devices[0].stretch_us: must lie between"},
        {i2c + R"({"kind": "i2c-test", "stretch_bytes": 2}]}]}]})", "devices[0].stretch_bytes: expected an array"},
        {i2c + R"({"kind": "i2c-register", "stretch_bytes": [1]}]}]}]})", "devices[0].stretch_bytes: unknown key"},
    };
    for (const auto &[json, expected] : cases) {
        if (!expected) {
            EXPECT_EQ(kvsim_load_config_json(json.c_str()), 0) << json;
            continue;
        }
        const std::string err = load_fails(json.c_str());
        EXPECT_NE(err.find(expected), std::string::npos) << json << "\n" << err;
    }
}

TEST(Config, OnlySmallRegularFilesAreRead) {
    const std::string big = std::string(KV_TEST_BUILD_DIR) + "/big_config.json";
    { std::ofstream(big).close(); }
    std::filesystem::resize_file(big, (16u << 20) + 1);
    for (auto [path, expected] : {std::pair{std::string(KV_TEST_BUILD_DIR), "not a regular file"},
                                  {std::string("/dev/zero"), "not a regular file"}, {big, "too large"}}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(kvsim_load_config_file(path.c_str()), -1);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(path + ": " + expected), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    std::remove(big.c_str());
}

TEST(Config, FileFaultsNameTheFile) {
    const std::string path = std::string(KV_TEST_BUILD_DIR) + "/bad_config.json";
    std::ofstream(path) << "[1, 2";
    testing::internal::CaptureStderr();
    EXPECT_EQ(kvsim_load_config_file(path.c_str()), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kvsim_load_config_file("/nonexistent/config.json"), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent/config.json"), std::string::npos);
    EXPECT_EQ(kvsim_channel_count(), 0u);
    std::remove(path.c_str());
}

TEST(Config, DefaultConfigurationListsItsBridgesInOrder) {
    testing::internal::CaptureStderr();
    const int loaded = kvsim_reset();
    const std::string err = testing::internal::GetCapturedStderr();
    if (loaded != 0 && err.find("unknown") != std::string::npos) GTEST_SKIP() << err;
    ASSERT_EQ(loaded, 0) << err;
    ASSERT_EQ(kvsim_channel_count(), 9u);
    uint32_t count = 9;
    DeviceListEntry list[9];
    ASSERT_EQ(KV_GetDeviceInfoList(list, &count), 0u);
    EXPECT_STREQ(list[0].SerialText, "KV8S0001");
    EXPECT_STREQ(list[1].SerialText, "KV6D0001A");
    EXPECT_STREQ(list[4].SerialText, "KV4D0001B");
    EXPECT_STREQ(list[8].SerialText, "KV7Q0001D");
}

std::vector<DeviceListEntry> device_list() {
    uint32_t count = kvsim_channel_count();
    std::vector<DeviceListEntry> list(count);
    EXPECT_EQ(KV_GetDeviceInfoList(list.data(), &count), 0u);
    return list;
}

// Every board in the tree loads, and the built-in default is the default board's file.
TEST(Config, BoardsInTheTreeLoadAndTheDefaultIsBuiltIn) {
    const std::filesystem::path boards = std::string(KV_SOURCE_DIR) + "/simulator/boards";
    int loaded = 0;
    for (const auto &entry : std::filesystem::directory_iterator(boards)) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(kvsim_load_config_file(entry.path().c_str()), 0) << entry.path();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << entry.path();
        EXPECT_GT(kvsim_channel_count(), 0u) << entry.path();
        ++loaded;
    }
    EXPECT_GE(loaded, 3);
    ASSERT_EQ(kvsim_load_config_file((boards / "default.json").c_str()), 0);
    const std::vector<DeviceListEntry> from_file = device_list();
    ASSERT_EQ(kvsim_reset(), 0);
    const std::vector<DeviceListEntry> built_in = device_list();
    ASSERT_EQ(built_in.size(), from_file.size());
    for (size_t i = 0; i < built_in.size(); ++i) {
        EXPECT_STREQ(built_in[i].SerialText, from_file[i].SerialText);
        EXPECT_EQ(built_in[i].Location, from_file[i].Location);
    }
    EXPECT_EQ(kvsim_device_set(0, "torqa", "rpm", 60), 0);
    EXPECT_EQ(kvsim_device_set(2, "temp", "temperature_c", 20), 0);
}

}  // namespace
