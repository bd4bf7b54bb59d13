// State file and trace of the simulated bridge.
#include <cstdlib>
#include <fstream>
#include <sstream>

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
