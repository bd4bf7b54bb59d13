// State file and trace of the simulated bridge.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_data.h"
#include "libVELTA_i2c.h"
#include "sigrok.h"
#include "sim_support.h"

namespace {

std::string path_in_build(const char *name) { return std::string(KV_TEST_BUILD_DIR) + "/" + name; }

std::string slurp(const std::string &path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

}  // namespace

TEST(StateFile, SurvivesAReloadAndAMalformedFileWarnsOnce) {
    const std::string state = path_in_build("state_test.json");
    setenv("KVZUBR_SIM_STATE", state.c_str(), 1);
    std::remove(state.c_str());
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [{"type": 8, "serial": "KVC0001"}]})"), 0);
    EXPECT_EQ(kvsim_save_state(), 0);  // nothing to keep: no file is needed
    std::ofstream(state) << "{ torn";
    testing::internal::CaptureStderr();
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [{"type": 8, "serial": "KVC0001"}]})"), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("unreadable"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    setenv("KVZUBR_SIM_STATE", "", 1);
}

// A large memory keeps only the pages that hold data: three bytes written across 16 MiB make a
// small file, and they are what the memory holds when the configuration loads again.
TEST(StateFile, LargeMemoryKeepsOnlyPagesThatHoldData) {
    const std::string state = path_in_build("state_sparse.json");
    setenv("KVZUBR_SIM_STATE", state.c_str(), 1);
    std::remove(state.c_str());
    const char *board = R"({"wall_clock": false, "bridges": [{"type": 8, "serial": "KVC0002", "channels": [
      {"bus": "spi", "devices": [{"kind": "spi-memory", "name": "mem", "cs": 3, "size": 16777216}]}]}]})";
    ASSERT_EQ(kvsim_load_config_json(board), 0);
    Bytes data((8u << 20) + 1, 0xFF);
    data[0] = 0x12;
    data[(4u << 20) + 5] = 0x34;
    data.back() = 0x56;
    ASSERT_EQ(kvsim_device_put(0, "mem", "memory", data.data(), data.size()), 0);
    ASSERT_EQ(kvsim_save_state(), 0);
    EXPECT_LT(std::filesystem::file_size(state), 3 * 4096u + 1024u);
    ASSERT_EQ(kvsim_load_config_json(board), 0);
    data.resize(16u << 20, 0xFF);
    EXPECT_TRUE(kvtest::device_data("mem", "memory") == data);
    setenv("KVZUBR_SIM_STATE", "", 1);
    std::remove(state.c_str());
}

// EEPROM page writes, each a start and a stop, traced until the channel closes or the trace is
// stopped: the final stop is the trace's last change, and a decoder still sees it.
TEST(Trace, DecodesAStopForEveryStartUpToTheLastChange) {
    if (!sigrok_decodes({"i2c"})) GTEST_SKIP() << "sigrok-cli with its VCD input and I2C decoder is not installed";
    const char *board = R"({"wall_clock": false, "bridges": [{"type": 8, "serial": "KVC0003", "channels": [
      {"bus": "i2c", "devices": [{"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 4096,
                                  "page_size": 8, "write_cycle_us": 0}]}]}]})";
    for (bool close_first : {true, false}) {
        ASSERT_EQ(kvsim_load_config_json(board), 0);
        KV_HANDLE handle = nullptr;
        ASSERT_EQ(I2C_OpenChannel(0, &handle), STATUS_SUCCESS);
        I2CChannelConfig config{400000, 1, 0};
        ASSERT_EQ(I2C_InitChannel(handle, &config), STATUS_SUCCESS);
        const std::string path = path_in_build("trace_stops.vcd");
        ASSERT_EQ(kvsim_trace_start(0, path.c_str()), 0);
        for (uint8_t page = 0; page < 8; ++page) {
            uint8_t message[] = {0x00, static_cast<uint8_t>(8 * page), page, 0x5A};
            uint32_t count = 0;
            ASSERT_EQ(I2C_DeviceWrite(handle, 0x50, sizeof message, message, &count, I2C_OPT_START | I2C_OPT_STOP),
                      STATUS_SUCCESS);
        }
        if (close_first) {
            EXPECT_EQ(I2C_CloseChannel(handle), STATUS_SUCCESS);
        }
        ASSERT_EQ(kvsim_trace_stop(0), 0);
        if (!close_first) {
            EXPECT_EQ(I2C_CloseChannel(handle), STATUS_SUCCESS);
        }
        const std::string decoded =
            command_output("sigrok-cli -i '" + path + "' -P i2c:scl=SCL:sda=SDA -A i2c=start:stop 2>&1");
        size_t starts = 0, stops = 0;
        std::istringstream lines(decoded);
        for (std::string line; std::getline(lines, line);) {
            starts += line == "i2c-1: Start";
            stops += line == "i2c-1: Stop";
        }
        EXPECT_EQ(starts, 8u) << decoded;
        EXPECT_EQ(stops, starts) << (close_first ? "closed, then stopped" : "stopped while open");
        std::remove(path.c_str());
    }
}

TEST(Trace, ValueChangeDumpHasHeaderAndClockEdges) {
    ASSERT_EQ(kvsim_load_config_json(kOneBridge("8")), 0);
    KV_HANDLE h = nullptr;
    ASSERT_EQ(KV_Open(0, &h), 0u);
    ASSERT_EQ(KV_SetBitMode(h, 0, 2), 0u);
    const std::string path = path_in_build("trace_test.vcd");
    ASSERT_EQ(kvsim_trace_start(0, path.c_str()), 0);
    uint8_t cmd[] = {0x80, 0x00, 0x0B, 0x8A, 0x11, 0x00, 0x00, 0x81};
    uint32_t done = 0;
    ASSERT_EQ(KV_Write(h, cmd, sizeof cmd, &done), 0u);
    ASSERT_EQ(kvsim_trace_stop(0), 0);
    const std::string vcd = slurp(path);
    EXPECT_NE(vcd.find("$timescale 10ns $end"), std::string::npos);
    EXPECT_NE(vcd.find("$var wire 1 ! pin0 $end"), std::string::npos);
    EXPECT_NE(vcd.find("$var wire 1 ) hpin0 $end"), std::string::npos);
    EXPECT_NE(vcd.find("$enddefinitions $end"), std::string::npos);
    // one byte shifted: the clock pin rises and falls eight times
    size_t rises = 0, falls = 0;
    std::istringstream lines(vcd.substr(vcd.find("$end\n", vcd.find("$dumpvars"))));
    uint64_t last_time = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == "1!") ++rises;
        if (line == "0!") ++falls;
        if (!line.empty() && line[0] == '#') {
            uint64_t t = std::stoull(line.substr(1));
            EXPECT_GT(t, last_time);
            last_time = t;
        }
    }
    EXPECT_EQ(rises, 8u);
    EXPECT_EQ(falls, 8u);
    std::remove(path.c_str());
}
