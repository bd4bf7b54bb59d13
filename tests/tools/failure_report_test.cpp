// Failures of the work as a user meets them: a channel that cannot be opened, a sensor that
// answers only in another SPI mode, output that is lost, register numbers that name none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_process.h"
#include "tq_api.h"

namespace {

const Registers kSeeded = {0xC2, 0x11, 0x22, 0x33, 0x44, 0xF0, 0x66, 0x77, 0x88, 0x01};

// The default bridge with the sensor answering in SPI mode 2 only, under the same serial,
// position and name, so it keeps the registers the sandbox gives it.
const char kMode2Sensor[] = R"({"wall_clock": true, "bridges": [{"type": 8, "serial": "KV8S0001",
  "channels": [{"bus": "spi", "devices": [{"kind": "torqa", "name": "torqa", "cs": 3, "mode": 2}]}]}]})";

struct Failing {
    const char *tool;
    std::vector<std::string> args;
    bool mode2_sensor;
};

class FailureReport : public ::testing::Test {
protected:
    void SetUp() override { box.set_registers(kSeeded); }
    void use_mode2_sensor() {
        box.write_file("mode2.json", kMode2Sensor);
        box.environment = {"KVZUBR_SIM_CONFIG=" + box.path("mode2.json")};
    }
    ToolSandbox box;
};

// Status 1, one line of the tool's own on standard error with the status, no data shown, and
// the registers as they were.
TEST_F(FailureReport, WorkThatCannotBeDoneEndsWithStatus1AndNoData) {
    const Failing cases[] = {
        {"tqread", {"-c9", "-s3"}, false},  {"tqread", {"-b0", "-s3"}, false},
        {"tqcmd", {"-c9"}, false},          {"tqreg", {"-b0", "-w", "3=0x11", "-y"}, false},
        {"tqread", {"-s3", "-f", "out.txt"}, true}, {"tqcmd", {}, true},
        {"tqreg", {"-w", "ZL=5"}, true},    {"tqreg", {"-r", "5"}, true},
    };
    for (const Failing &c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + (c.args.empty() ? "" : c.args[0]) + (c.mode2_sensor ? " mode 2" : ""));
        box.environment.clear();
        if (c.mode2_sensor) use_mode2_sensor();
        const ToolRun run = box.run(c.tool, c.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        const std::string own = std::string(c.tool) + ": opening channel ";
        EXPECT_NE(run.err.find(own), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(" failed (status "), std::string::npos) << run.err;
        EXPECT_FALSE(box.exists("out.txt"));
        EXPECT_EQ(box.registers(), kSeeded);
    }
}

// Without a snapshot (the probe finds no sensor in modes 0 and 3) a field is merged into the
// register as read through the working open.
TEST_F(FailureReport, FieldWritesWithoutASnapshotKeepTheOtherBits) {
    use_mode2_sensor();
    const ToolRun run = box.run("tqreg", {"-p2", "-w", "-y", "ZL=5", "R3B0=0", "2=0x5A"});
    EXPECT_EQ(run.out, reg_print(0x5A, 2, 0) + reg_print(0x32, 3, 0) + reg_print(0xF5, 5, 0));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(box.registers(), with(with(with(kSeeded, 2, 0x5A), 3, 0x32), 5, 0xF5));
}

TEST_F(FailureReport, RegisterNumbersAreOneDigitAlone) {
    const std::vector<std::string> cases[] = {{"-w", "10=0xAB"}, {"-w", "5x=1"}, {"-r", "42"}, {"-r", "5x"}};
    for (const auto &args : cases) {
        SCOPED_TRACE(args[1]);
        const ToolRun run = box.run("tqreg", args);
        EXPECT_EQ(run.out, invalid_argument(args[1], "tqreg"));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(box.registers(), kSeeded);
    }
}

TEST_F(FailureReport, LostStandardOutputIsAFailure) {
    box.stdout_file = "/dev/full";
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"tqread", {"-s10"}}, {"tqreg", {}}, {"tqcmd", {}}, {"tqreg", {"-h"}}};
    for (const auto &[tool, args] : cases) {
        SCOPED_TRACE(std::string(tool) + (args.empty() ? "" : " " + args[0]));
        const ToolRun run = box.run(tool, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(std::string(tool) + ": writing standard output failed: "), std::string::npos)
            << run.err;
    }
}

} // namespace
