// velta's I2C subcommands as processes against the default board: an EEPROM at 0x50 and a
// register device at 0x48 on I2C channel 2.
#include <gtest/gtest.h>

#include "libVELTA.h"
#include "tool_process.h"

namespace {

const char kChannel[] = "2";

std::string spaces(std::size_t n) { return std::string(n, ' '); }

class VeltaI2c : public ::testing::Test {
protected:
    ToolRun velta(std::vector<std::string> args) { return box.run("velta", args); }
    // Runs velta and expects success with nothing on standard error.
    std::string ok(std::vector<std::string> args) {
        const ToolRun run = velta(args);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        return run.out;
    }
    ToolSandbox box;
};

TEST_F(VeltaI2c, DetectShowsTheAcknowledgingAddressesInTheGrid) {
    const std::string header = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    const std::string empty = " -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n";
    const std::string middle = "10:" + empty + "20:" + empty + "30:" + empty +
                               "40: -- -- -- -- -- -- -- -- 48 -- -- -- -- -- -- -- \n"
                               "50: 50 -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- \n" + "60:" + empty;
    EXPECT_EQ(ok({"i2c", "detect", kChannel}),
              header + "00:                         -- -- -- -- -- -- -- -- \n" + middle +
                  "70: -- -- -- -- -- -- -- --                         \n");
    EXPECT_EQ(ok({"i2c", "detect", kChannel, "-a"}), header + "00:" + empty + middle + "70:" + empty);
    const std::string blank = spaces(48) + "\n";
    EXPECT_EQ(ok({"i2c", "detect", "-r", kChannel, "0x48", "0x50"}),
              header + "00: " + blank + "10: " + blank + "20: " + blank + "30: " + blank + "40: " + spaces(24) +
                  "48 -- -- -- -- -- -- -- \n" + "50: 50 " + spaces(45) + "\n" + "60: " + blank + "70: " + blank);
}

TEST_F(VeltaI2c, GetAndSetReadAndWriteRegistersAsSmbusDoes) {
    EXPECT_EQ(ok({"i2c", "get", kChannel, "0x50"}), "0xff\n");
    EXPECT_EQ(ok({"i2c", "get", kChannel, "0x48", "0"}), "0x00\n");
    EXPECT_EQ(ok({"i2c", "set", "-y", kChannel, "0x48", "1", "0xa5"}), "");
    EXPECT_EQ(ok({"i2c", "get", kChannel, "0x48", "1"}), "0xa5\n");
    // Words travel low byte first; the device keeps its registers high byte first.
    EXPECT_EQ(ok({"i2c", "set", "-y", kChannel, "0x48", "2", "0x1234", "w"}), "");
    EXPECT_EQ(ok({"i2c", "get", kChannel, "0x48", "2", "w"}), "0x1234\n");
    EXPECT_EQ(ok({"i2c", "get", kChannel, "0x48", "2", "b"}), "0x34\n");
    // Register 0 refuses writes: its data byte is not acknowledged.
    const ToolRun refused = velta({"i2c", "set", "-y", kChannel, "0x48", "0", "1"});
    EXPECT_EQ(refused.err, std::string("velta: device 0x48 on I2C channel 2 refused data byte 2 of 2: ") +
                               VELTA_StatusText(STATUS_WRITE_REFUSED) + "\n");
    EXPECT_EQ(refused.status, 1);
}

TEST_F(VeltaI2c, DumpShowsReadableRegistersAndXxForTheOthers) {
    EXPECT_EQ(ok({"i2c", "set", "-y", kChannel, "0x48", "3", "0x4142", "w"}), "");
    EXPECT_EQ(ok({"i2c", "dump", kChannel, "0x48", "-r", "0-0x13"}),
              "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n"
              "00: 00 00 00 42 XX XX XX XX XX XX XX XX XX XX XX XX    ...BXXXXXXXXXXXX\n"
              "10: XX XX XX XX                                        XXXX            \n");
    EXPECT_EQ(ok({"i2c", "dump", kChannel, "0x48", "w", "-r", "2-9"}),
              "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n"
              "00: " + spaces(10) + "0000 4142 XXXX XXXX XXXX XXXX \n" +
              "08: XXXX XXXX " + spaces(30) + "\n");
    ok({"i2c", "transfer", "-y", kChannel, "w5@0x50", "0x00", "0x20", "0x41", "0x7f", "0x0a"});
    EXPECT_EQ(ok({"i2c", "dump", kChannel, "0x50", "-r", "0x1e-0x23"}),
              "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n"
              "10: " + spaces(42) + "ff ff " + spaces(3 + 14) + "..\n" +
              "20: 41 7f 0a ff " + spaces(36 + 3) + "A??." + spaces(12) + "\n");
}

TEST_F(VeltaI2c, TransferJoinsMessagesAndPrintsWhatWasRead) {
    // A write lands when its stop comes, so each write here ends a transfer.
    EXPECT_EQ(ok({"i2c", "transfer", "-y", kChannel, "w6@0x50", "0x01", "0x00", "0x10+"}), "");
    EXPECT_EQ(ok({"i2c", "transfer", "-y", kChannel, "w2@0x50", "0x01", "0x01", "r3", "w1@0x48", "0", "r2@0x48"}),
              "0x11 0x12 0x13\n0x00 0x00\n");
    EXPECT_EQ(ok({"i2c", "transfer", "-y", kChannel, "w4@0x50", "0x01", "0x00", "0xee="}), "");
    EXPECT_EQ(ok({"i2c", "transfer", "-y", kChannel, "w2@0x50", "0x01", "0x00", "r4"}), "0xee 0xee 0x12 0x13\n");
}

TEST_F(VeltaI2c, EepromRoundTripOfARandomFile) {
    std::string data;
    unsigned seed = 12345;
    for (int i = 0; i < 3000; ++i) data += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    box.write_file("data.bin", data);
    EXPECT_EQ(ok({"eeprom", "write", "-y", kChannel, "0x50", "--size", "32768", "data.bin"}), "");
    EXPECT_EQ(ok({"eeprom", "verify", kChannel, "0x50", "--size", "32768", "data.bin"}), "");
    EXPECT_EQ(ok({"eeprom", "read", kChannel, "0x50", "--size", "32768", "back.bin"}), "");
    const std::string back = box.read_file("back.bin");
    ASSERT_EQ(back.size(), 32768u);
    EXPECT_EQ(back.substr(0, data.size()), data);
    EXPECT_EQ(back.substr(data.size()), std::string(32768 - data.size(), '\xff'));

    std::string changed = data;
    changed[1234] = static_cast<char>(changed[1234] ^ 0x10);
    box.write_file("changed.bin", changed);
    const ToolRun run = velta({"eeprom", "verify", kChannel, "0x50", "--size", "32768", "changed.bin"});
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "velta: verify failed at 0x0004d2: read 0x%02x, expected 0x%02x (1 of 3000 bytes differ)\n",
                  static_cast<unsigned char>(data[1234]), static_cast<unsigned char>(changed[1234]));
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(run.status, 1);
}

TEST_F(VeltaI2c, ProgressShowsOnlyWhenAskedForOffTerminal) {
    box.write_file("small.bin", std::string(200, 'x'));
    EXPECT_EQ(velta({"eeprom", "write", "-y", kChannel, "0x50", "--size", "32768", "small.bin"}).err, "");
    const ToolRun run = velta({"eeprom", "verify", kChannel, "0x50", "--size", "32768", "--progress", "small.bin"});
    EXPECT_NE(run.err.find("100% 200 B/200 B"), std::string::npos) << run.err;
    EXPECT_EQ(run.status, 0);
}

// The stretching board: the register device holds SCL 50 us after each byte, on an open-drain
// bridge and on a push-pull one with a diode. Only with --clock-stretching does the word come
// back right (25.5 degC: 0x19 0x80, shown low byte first). A full-speed bridge refuses it.
TEST_F(VeltaI2c, ClockStretchingWaitsForTheDevice) {
    box.environment.push_back("KVZUBR_SIM_CONFIG=" + std::string(KV_SOURCE_DIR) + "/simulator/boards/stretching.json");
    for (const std::string channel : {"0", "1"}) {
        // Without it the device's answer is lost: a wrong value or a refused byte, never the right one.
        const ToolRun plain = velta({"i2c", "get", channel, "0x48", "0", "w"});
        EXPECT_NE(plain.out, "0x8019\n") << channel;
        EXPECT_EQ(ok({"i2c", "get", channel, "0x48", "0", "w", "--clock-stretching"}), "0x8019\n") << channel;
    }
    box.environment.pop_back();
    const ToolRun refused = velta({"i2c", "get", "3", "0x48", "--clock-stretching"});
    EXPECT_EQ(refused.err, std::string("velta: cannot set up I2C channel 3 (a full-speed bridge cannot follow a "
                                       "stretched clock): ") + VELTA_StatusText(STATUS_BAD_PARAMETER) + "\n");
    EXPECT_EQ(refused.status, 1);
}

// A full-speed bridge has no three-phase clocking: registers still read back what was written.
TEST_F(VeltaI2c, FullSpeedBridgeReadsAndWritesRegisters) {
    box.use_board(R"({"wall_clock": false, "bridges": [{"type": 4, "channels": [{"bus": "i2c", "devices": [
        {"kind": "i2c-register", "name": "temp", "address": "0x48"}]}, {"bus": "none"}]}]})");
    EXPECT_EQ(ok({"i2c", "set", "-y", "0", "0x48", "1", "0xa5"}), "");
    EXPECT_EQ(ok({"i2c", "get", "0", "0x48", "1"}), "0xa5\n");
    EXPECT_EQ(ok({"i2c", "transfer", "-y", "0", "w1@0x48", "1", "r1"}), "0xa5\n");
}

}  // namespace
