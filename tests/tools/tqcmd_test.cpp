// tqcmd as a process: its trace on standard error, the frames it puts on the wire and the
// answer it shows.
#include <gtest/gtest.h>

#include "tool_process.h"
#include "tq_api.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string bits(std::uint8_t byte) {
    std::string text;
    for (int bit = 7; bit >= 0; --bit) text += static_cast<char>('0' + ((byte >> bit) & 1));
    return text;
}

// The frames after the channel set-up: the command word onwards.
std::vector<WireFrame> from_command(const std::vector<WireFrame> &frames) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (!frames[i].mosi.empty() && frames[i].mosi[0] == 0xE0) {
            return std::vector<WireFrame>(frames.begin() + static_cast<long>(i), frames.end());
        }
    }
    return {};
}

class Tqcmd : public ::testing::Test {
protected:
    ToolRun run(const std::vector<std::string> &args) { return box.run("tqcmd", args, true); }
    ToolSandbox box;
};

TEST_F(Tqcmd, WithoutArgumentsSendsCommand0AndShowsTwelveBytesReadBack) {
    const ToolRun cmd = run({});
    EXPECT_EQ(cmd.err, tqcmd_trace(1));
    EXPECT_EQ(cmd.status, 0);
    const std::vector<WireFrame> frames = from_command(box.wire_frames());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].mosi, (Bytes{0xE0, 0x00, 0x00}));
    EXPECT_EQ(frames[1].mosi, Bytes(12, 0));
    std::string shown;
    for (std::size_t i = 0; i < 12; i += 3) {
        const Bytes &m = frames[1].miso;
        shown += "Data: " + bits(m[i]) + " " + bits(m[i + 1]) + " " + bits(m[i + 2]) + "\n";
    }
    EXPECT_EQ(cmd.out, shown);
}

TEST_F(Tqcmd, DataWordFollowsTheCommandHighByteFirst) {
    const std::pair<const char *, Bytes> cases[] = {
        {"-.0x1234", {0x12, 0x34}}, {"-.-1", {0xFF, 0xFF}}, {"-.010", {0x00, 0x08}}, {"-.", {0x00, 0x00}},
        {"-.0b11", {0x00, 0x00}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        const ToolRun cmd = run({c.first});
        EXPECT_EQ(cmd.out, "");
        const int word = c.second[0] == 0xFF ? -1 : c.second[0] << 8 | c.second[1];
        EXPECT_EQ(cmd.err, tqcmd_trace(2) + "***DEBUG: Argument parser: -.: Data is " + std::to_string(word) + "\n");
        const std::vector<WireFrame> frames = from_command(box.wire_frames());
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].mosi, (Bytes{0xE0, c.second[0], c.second[1]}));
        EXPECT_EQ(frames[1].mosi, c.second);
    }
}

TEST_F(Tqcmd, ResetCommandActsOnTheSensor) {
    box.set_registers({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x03});
    EXPECT_EQ(run({"-.0xA55A"}).status, 0);
    EXPECT_EQ(box.registers(), (Bytes{0x21, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0x03}));
}

TEST_F(Tqcmd, ConnectionOptionsAreTraced) {
    const ToolRun cmd = run({"-b1000000", "-c1", "-lxyz", "-p7"});
    EXPECT_EQ(cmd.err, tqcmd_trace(5) +
                           "***DEBUG: Argument parser: -b: Baudrate is 1000000\n"
                           "***DEBUG: Argument parser: -c: Channel 1\n"
                           "***DEBUG: Argument parser: -l: List channels\n"
                           "***DEBUG: Argument parser: -p: SPI mode is 3\n");
    EXPECT_EQ(cmd.status, 0);
}

TEST_F(Tqcmd, ReadToolOptionsAreInvalidUnderTheirShortForms) {
    const ToolRun cmd = run({"--file", "out", "-xh", "--output-csv", "--report", "-a", "-s5"});
    const std::string invalid = invalid_argument("-f", "tqcmd") + invalid_argument("out", "tqcmd") +
                                invalid_argument("-xh", "tqcmd") + invalid_argument("-oc", "tqcmd") +
                                invalid_argument("-e", "tqcmd") + invalid_argument("-a", "tqcmd") +
                                invalid_argument("-s5", "tqcmd");
    ASSERT_EQ(cmd.out.substr(0, invalid.size()), invalid);
    EXPECT_EQ(cmd.out.size() - invalid.size(), 4 * std::string("Data: 00000000 00000000 00000000\n").size());
    EXPECT_EQ(cmd.err, tqcmd_trace(8));
    EXPECT_FALSE(box.exists("out"));
}

} // namespace
