// velta's i2c subcommands behave as the Linux I2C tools do: their options, the output of each
// access mode, masks, read-back, short writes, reserved addresses, the transfer data suffixes,
// and a confirmation read from standard input. One row per convention, each run against the
// memories board (EEPROM 0x51 of 256 bytes, register device 0x48, on I2C channel 1) after the
// same set-up: bytes 03 aa bb cc 41 from EEPROM address 0, register 1 of 0x48 set to 0xa5.
#include <gtest/gtest.h>

#include "libVELTA.h"
#include "tool_process.h"

namespace {

const std::string kMemories = std::string(KV_SOURCE_DIR) + "/simulator/boards/memories.json";
const std::string kTable = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
const std::string kFirstBytes = kTable + "00: 03 aa bb cc 41 ff " + std::string(30, ' ') + "   ????A." + std::string(10, ' ') + "\n";
std::string kBlank(std::size_t n) { return std::string(n, ' '); }
const std::string kGrid = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n00: " + kBlank(48) + "\n10: " + kBlank(48) +
                          "\n20: " + kBlank(48) + "\n30: " + kBlank(48) + "\n40: " + kBlank(48) + "\n";
const std::string kGridEnd = "\n60: " + kBlank(48) + "\n70: " + kBlank(48) + "\n";
const std::string kNotConfirmed = "velta: not confirmed; nothing was written\n";

struct Convention {
    const char *name;
    std::vector<std::string> args;
    const char *input;                // standard input; nullptr: empty
    int status;
    std::string out;
    std::string err;                  // the end of standard error
    std::vector<std::string> after;   // a run afterwards, and what it prints
    std::string after_out;
    bool default_board = false;
};

const std::vector<std::string> kRegister1 = {"i2c", "get", "1", "0x48", "1"};

const Convention kConventions[] = {
    // -y and -f everywhere, and the reads never ask.
    {"DetectTakesYAndQ", {"i2c", "detect", "-y", "-q", "1", "0x50", "0x52"}, nullptr, 0, kGrid + "50: 50 51 -- " + kBlank(39) + kGridEnd, "", {}, ""},
    {"DetectWarnsWhenEveryAddressAnswers", {"i2c", "detect", "-y", "1", "0x08", "0x0f"}, nullptr, 0,
     "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n00: " + kBlank(24) + "08 09 0a 0b 0c 0d 0e 0f \n10: " + kBlank(48) +
         "\n20: " + kBlank(48) + "\n30: " + kBlank(48) + "\n40: " + kBlank(48) + "\n50: " + kBlank(48) + "\n60: " +
         kBlank(48) + "\n70: " + kBlank(48) + "\n",
     "velta: every probed address answered: no pull-ups, or not an I2C bus?\n", {}, "", true},
    {"GetByteTakesYAndF", {"i2c", "get", "-f", "-y", "1", "0x51", "0x01"}, nullptr, 0, "0xaa\n", "", {}, ""},
    {"GetWordLowByteFirst", {"i2c", "get", "1", "0x51", "0x01", "w"}, nullptr, 0, "0xbbaa\n", "", {}, ""},
    {"GetAfterAPointerWrite", {"i2c", "get", "1", "0x51", "0x02", "c"}, nullptr, 0, "0xbb\n", "", {}, ""},
    {"GetI2cBlock", {"i2c", "get", "1", "0x51", "0x00", "i", "3"}, nullptr, 0, "0x03 0xaa 0xbb\n", "", {}, ""},
    {"GetSmbusBlock", {"i2c", "get", "1", "0x51", "0x00", "s"}, nullptr, 0, "0xaa 0xbb 0xcc\n", "", {}, ""},
    {"GetSmbusBlockOfBadLength", {"i2c", "get", "1", "0x51", "0x05", "s"}, nullptr, 1, "",
     "velta: device 0x51 on I2C channel 1 gave a block length of 255 (1 to 32 allowed)\n", {}, ""},
    {"LengthOnlyInModeI", {"i2c", "get", "1", "0x51", "0x00", "b", "3"}, nullptr, 2, "", "velta: LENGTH goes with mode i only\n", {}, ""},
    {"DumpBytes", {"i2c", "dump", "-y", "1", "0x51", "-r", "0-5"}, nullptr, 0, kFirstBytes, "", {}, ""},
    {"DumpConsecutive", {"i2c", "dump", "1", "0x51", "c", "-r", "0-5"}, nullptr, 0, kFirstBytes, "", {}, ""},
    {"DumpI2cBlocks", {"i2c", "dump", "1", "0x51", "i", "-r", "0-5"}, nullptr, 0, kFirstBytes, "", {}, ""},
    {"DumpEvenWords", {"i2c", "dump", "1", "0x51", "W", "-r", "0-5"}, nullptr, 0, kFirstBytes, "", {}, ""},
    {"DumpEvenWordsNeedsAnEvenRange", {"i2c", "dump", "1", "0x51", "W", "-r", "1-4"}, nullptr, 2, "",
     "velta: -r: mode W takes an even FIRST and an odd LAST\n", {}, ""},
    {"DumpSmbusBlock", {"i2c", "dump", "1", "0x51", "s"}, nullptr, 0,
     kTable + "00: aa bb cc " + std::string(39, ' ') + "   ???" + std::string(13, ' ') + "\n", "", {}, ""},
    {"DumpWords", {"i2c", "dump", "1", "0x51", "w", "-r", "0-3"}, nullptr, 0,
     "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n00: aa03 bbaa ccbb 41cc " + std::string(20, ' ') + "\n", "", {}, ""},
    // Writes: masks, read-back, short writes.
    {"SetWithMaskKeepsTheOtherBits", {"i2c", "set", "-y", "-r", "1", "0x48", "1", "0x0f", "-m", "0xf0"}, nullptr, 0,
     "Value 0x05 written, readback matched\n", "", kRegister1, "0x05\n"},
    {"SetWordReadBack", {"i2c", "set", "-y", "-r", "1", "0x48", "2", "0x1234", "w"}, nullptr, 0,
     "Value 0x1234 written, readback matched\n", "", {"i2c", "get", "1", "0x48", "2", "w"}, "0x1234\n"},
    // A short write sets the pointer, so the byte read back is the one it points at.
    {"ShortWriteSetsThePointer", {"i2c", "set", "-y", "-r", "1", "0x51", "0x02"}, nullptr, 1,
     "Warning - data mismatch - wrote 0x02, read back 0xbb\n",
     "velta: device 0x51 on I2C channel 1 did not keep the value written to register 0x02\n", {}, ""},
    {"MaskOnlyWithByteOrWord", {"i2c", "set", "-y", "1", "0x51", "0", "1", "2", "i", "-m", "1"}, nullptr, 2, "",
     "velta: -m goes with modes b and w only\n", {}, ""},
    {"SetI2cBlock", {"i2c", "set", "-y", "1", "0x51", "0x08", "1", "2", "3", "i"}, nullptr, 0, "", "",
     {"i2c", "get", "1", "0x51", "0x08", "i", "4"}, "0x01 0x02 0x03 0xff\n"},
    // Reserved addresses need -a.
    {"ReservedAddressRefused", {"i2c", "get", "1", "0x05"}, nullptr, 2, "",
     "velta: I2C address 0x05 is reserved (0x00-0x07, 0x78-0x7f); -a allows it\n", {}, ""},
    {"ReservedAddressWithA", {"i2c", "get", "-a", "1", "0x78"}, nullptr, 1, "", std::string("velta: no answer from device 0x78 on I2C channel 1: ") +
     VELTA_StatusText(STATUS_NO_DEVICE) + "\n", {}, ""},
    {"ReservedRangeRefused", {"i2c", "detect", "1", "0x00", "0x10"}, nullptr, 2, "",
     "velta: I2C address 0x00 is reserved (0x00-0x07, 0x78-0x7f); -a allows it\n", {}, ""},
    {"TransferToReservedRefused", {"i2c", "transfer", "-y", "1", "r1@0x7f"}, nullptr, 2, "",
     "velta: I2C address 0x7f is reserved (0x00-0x07, 0x78-0x7f); -a allows it\n", {}, ""},
    // Transfers: the p suffix, and -v.
    {"TransferPseudoRandomFill", {"i2c", "transfer", "-y", "1", "w5@0x51", "0x40", "0x01p"}, nullptr, 0, "", "",
     {"i2c", "get", "1", "0x51", "0x40", "i", "4"}, "0x01 0xb8 0x5c 0x2e\n"},
    {"TransferVerbose", {"i2c", "transfer", "-y", "-v", "1", "w1@0x51", "0x00", "r2"}, nullptr, 0,
     "msg 0: addr 0x51, write, len 1, buf 0x00\nmsg 1: addr 0x51, read, len 2, buf 0x03 0xaa\n", "", {}, ""},
    // The question is answered from standard input, a pipe or nothing at all.
    {"AnsweredNo", {"i2c", "set", "1", "0x48", "1", "0x77"}, "n\n", 1, "", kNotConfirmed, kRegister1, "0xa5\n"},
    {"AnsweredYes", {"i2c", "set", "1", "0x48", "1", "0x77"}, "y\n", 0, "", "Continue? [y/N] y\n", kRegister1, "0x77\n"},
    {"EndOfInputIsNo", {"i2c", "set", "1", "0x48", "1", "0x77"}, nullptr, 1, "", kNotConfirmed, kRegister1, "0xa5\n"},
    {"TransferAnsweredNo", {"i2c", "transfer", "1", "w2@0x51", "0", "9"}, "no\n", 1, "", kNotConfirmed,
     {"i2c", "get", "1", "0x51", "0"}, "0x03\n"},
    {"EepromWriteAnsweredNo", {"eeprom", "write", "1", "0x51", "--size", "256", "image.bin"}, "n\n", 1, "", kNotConfirmed,
     {"i2c", "get", "1", "0x51", "0"}, "0x03\n"},
};

class VeltaConvention : public ::testing::TestWithParam<Convention> {};

TEST_P(VeltaConvention, BehavesAsTheI2cToolsDo) {
    const Convention &c = GetParam();
    ToolSandbox box;
    box.write_file("image.bin", std::string(256, 'Z'));
    if (!c.default_board) box.environment = {"KVZUBR_SIM_CONFIG=" + kMemories};
    if (!c.default_board) {
        ASSERT_EQ(box.run("velta", {"i2c", "transfer", "-y", "1", "w6@0x51", "0", "3", "0xaa", "0xbb", "0xcc", "0x41"}).status, 0);
        ASSERT_EQ(box.run("velta", {"i2c", "set", "-y", "1", "0x48", "1", "0xa5"}).status, 0);
    }
    if (c.input) {
        box.write_file("answer", c.input);
        box.stdin_file = "answer";
    }
    const ToolRun run = box.run("velta", c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, c.out);
    if (c.err.empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), c.err.size())), c.err) << run.err;
    }
    if (!c.after.empty()) {
        EXPECT_EQ(box.run("velta", c.after).out, c.after_out);
    }
}

INSTANTIATE_TEST_SUITE_P(Velta, VeltaConvention, ::testing::ValuesIn(kConventions),
                         [](const ::testing::TestParamInfo<Convention> &info) { return std::string(info.param.name); });

}  // namespace
