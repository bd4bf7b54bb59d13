// velta's command line as a process: the channel list, and what bad input gives (message,
// exit status, and nothing written).
#include <gtest/gtest.h>

#include "libVELTA.h"
#include "tool_process.h"

namespace {

std::string text(KV_STATUS status) { return VELTA_StatusText(status); }

TEST(VeltaList, ListsEveryEngineChannelOfTheDefaultBoard) {
    ToolSandbox box;
    const ToolRun run = box.run("velta", {"list"});
    EXPECT_EQ(run.out,
              "CH  -c  LAYER TYPE               SERIAL           DESCRIPTION                      LOCATION\n"
              "0   1   1     high-speed single  KV8S0001         VELTA single bridge              0x11\n"
              "1   2   2     high-speed dual    KV6D0001A        VELTA dual bridge A              0x21\n"
              "2   3   3     high-speed dual    KV6D0001B        VELTA dual bridge B              0x22\n"
              "3   4   4     full-speed dual    KV4D0001A        VELTA full-speed dual bridge A   0x31\n"
              "4   5   5     high-speed quad    KV7Q0001A        VELTA quad bridge A              0x41\n"
              "5   6   6     high-speed quad    KV7Q0001B        VELTA quad bridge B              0x42\n");
    EXPECT_EQ(run.status, 0);
    const ToolRun json = box.run("velta", {"list", "--json"});
    EXPECT_NE(json.out.find("{\n    \"description\": \"VELTA dual bridge B\",\n    \"index\": 2,\n    \"layer_index\": 3,\n"
                            "    \"location\": 34,\n    \"serial\": \"KV6D0001B\",\n    \"tq_channel\": 3,\n    \"type\": 6,\n"
                            "    \"type_name\": \"high-speed dual\"\n  }"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(json.status, 0);
}

struct BadInput {
    std::vector<std::string> args;
    int status;
    std::string err;
};

class VeltaBadInput : public ::testing::Test {
protected:
    void expect(const std::vector<BadInput> &cases) {
        for (const BadInput &c : cases) {
            const ToolRun run = box.run("velta", c.args);
            std::string line;
            for (const std::string &a : c.args) line += a + " ";
            EXPECT_EQ(run.err, c.err) << line;
            EXPECT_EQ(run.status, c.status) << line;
            EXPECT_EQ(run.out, "") << line;
        }
    }
    ToolSandbox box;
};

TEST_F(VeltaBadInput, UsageErrorsExitWithTwoBeforeTouchingABus) {
    expect({
        {{"i2c", "get", "2", "0x80"}, 2, "velta: ADDR: 0x80 is above 0x7f (see velta --help)\n"},
        {{"i2c", "get", "2", "128"}, 2, "velta: ADDR: 128 is above 127 (see velta --help)\n"},
        {{"i2c", "get", "2", "0x5g"}, 2, "velta: ADDR: not a number: '0x5g' (see velta --help)\n"},
        {{"i2c", "get", "2", "0x50", "0", "q"}, 2, "velta: MODE: must be b, w, c, i or s, not 'q' (see velta --help)\n"},
        {{"i2c", "set", "-y", "2", "0x48", "1", "0x100"}, 2, "velta: VALUE: 0x100 is above 0xff\n"},
        {{"i2c", "detect", "2", "0x10"}, 2, "velta: give both FIRST and LAST\n"},
        {{"i2c", "transfer", "2", "r2"}, 2, "velta: the first message needs an address: 'r2@ADDRESS'\n"},
        {{"i2c", "transfer", "2", "w2@0x50", "1"}, 2, "velta: a write of 2 bytes got 1\n"},
        {{"i2c", "transfer", "2", "x2@0x50"}, 2,
         "velta: not a message: 'x2@0x50' (r<length>[@address] or w<length>[@address] and its bytes)\n"},
        {{"spi", "transfer", "1", "--hex", "9f0"}, 2, "velta: --hex: odd number of hex digits (bytes are two digits each)\n"},
        {{"spi", "transfer", "1", "--hex", "9x"}, 2, "velta: --hex: not a hex digit: 'x'\n"},
        {{"spi", "transfer", "1", "--hex", "00", "--cs", "2"}, 2, "velta: --cs: 2 is below 3 (see velta --help)\n"},
        {{"spi", "transfer", "1", "--hex", "00", "--clock", "30000001"}, 2,
         "velta: --clock: 30000001 is above 30000000 (see velta --help)\n"},
        {{"eeprom", "read", "2", "0x50", "--size", "0", "x.bin"}, 2, "velta: --size: 0 is below 1 (see velta --help)\n"},
        {{"eeprom", "read", "2", "0x50", "--size", "300", "--addr-bytes", "1", "x.bin"}, 2,
         "velta: --size 300 is no multiple of the default write page of 16 bytes; give --page\n"},
        {{"eeprom", "read", "2", "0x50", "--size", "300", "--page", "32", "x.bin"}, 2, "velta: --page must divide --size\n"},
        {{"flash", "id", "1", "--addr-bytes", "1"}, 2, "velta: --addr-bytes: 1 is below 2 (see velta --help)\n"},
        {{"gpio", "set", "0", "8=1"}, 2, "velta: PIN=VALUE: pin 8 is above 7 (see velta --help)\n"},
        {{"gpio", "set", "0", "1=high"}, 2, "velta: PIN=VALUE: 'high' is not 0, 1, active or inactive (see velta --help)\n"},
        {{"gpio", "set", "-y", "0", "1=1", "1=0"}, 2, "velta: pin 1 is given twice\n"},
        {{"gpio", "set", "0", "1=1", "--hold", "-2"}, 2, "velta: --hold: not a number of seconds: '-2' (see velta --help)\n"},
        {{"i2c"}, 2, "velta: A subcommand is required (see velta --help)\n"},
        {{"i2c", "get", "2", "0x50", "--bogus"}, 2,
         "velta: The following argument was not expected: --bogus (see velta --help)\n"},
    });
}

TEST_F(VeltaBadInput, FailedOperationsExitWithOneAndSayWhy) {
    const std::string no_device = text(STATUS_NO_DEVICE);
    expect({
        {{"i2c", "detect", "6"}, 1, "velta: no channel 6: there are 6 engine channels (see velta list)\n"},
        {{"spi", "transfer", "99", "--hex", "00"}, 1, "velta: no channel 99: there are 6 engine channels (see velta list)\n"},
        {{"i2c", "get", "2", "0x51"}, 1, "velta: no answer from device 0x51 on I2C channel 2: " + no_device + "\n"},
        {{"i2c", "dump", "2", "0x51"}, 1, "velta: no answer from device 0x51 on I2C channel 2: " + no_device + "\n"},
        {{"i2c", "transfer", "-y", "2", "w1@0x50", "0", "r1@0x51"}, 1,
         "velta: message 2: no answer from device 0x51 on I2C channel 2: " + no_device + "\n"},
        {{"eeprom", "read", "2", "0x51", "--size", "256", "x.bin"}, 1,
         "velta: no answer from device 0x51 on I2C channel 2: " + no_device + "\n"},
        {{"eeprom", "write", "-y", "2", "0x50", "--size", "256", "missing.bin"}, 1, "velta: missing.bin: No such file or directory\n"},
    });
    EXPECT_FALSE(box.exists("x.bin"));
}

TEST_F(VeltaBadInput, AFileLargerThanTheMemoryIsRefusedBeforeAnythingIsWritten) {
    box.write_file("big.bin", std::string(257, 'A'));
    expect({{{"eeprom", "write", "-y", "2", "0x50", "--size", "256", "big.bin"}, 1,
             "velta: big.bin has 257 bytes, more than the EEPROM's 256; nothing written\n"},
            {{"flash", "write", "-y", "1", "--size", "256", "--addr-bytes", "2", "big.bin"}, 1,
             "velta: big.bin has 257 bytes, more than the flash's 256; nothing written\n"}});
    EXPECT_EQ(box.run("velta", {"eeprom", "read", "2", "0x50", "--size", "32768", "e.bin"}).status, 0);
    EXPECT_EQ(box.read_file("e.bin"), std::string(32768, '\xff'));
    EXPECT_EQ(box.run("velta", {"spi", "transfer", "1", "--hex", "03 0000 00000000"}).out, "00 00 00 ff ff ff ff\n");
}

TEST(VeltaHelp, HelpAndVersionExitWithZero) {
    ToolSandbox box;
    const ToolRun help = box.run("velta", {"--help"});
    EXPECT_NE(help.out.find("Subcommands:"), std::string::npos);
    EXPECT_EQ(help.status, 0);
    const ToolRun version = box.run("velta", {"--version"});
    EXPECT_EQ(version.out, std::string("velta ") + VELTA_VERSION_TEXT + " (libVELTA " + VELTA_VERSION_TEXT + ")\n");
    EXPECT_EQ(version.status, 0);
}

}  // namespace
