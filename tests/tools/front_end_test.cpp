// The command-line conventions the three tools share: option spellings, long options, help,
// version, invalid arguments, the connection options and the radix codes.
#include <gtest/gtest.h>

#include "tool_process.h"
#include "tq_api.h"

namespace {

const char kRegisterUsage[] =
    "Usage: tqreg [options] ...\n"
    "-l [--list]\t\t\tLists channel information\n"
    "-x {RADIX} \t\t\tSets radix to RADIX. RADIX=bin,dec,hex,0b,0x\n"
    "  -xb [--radix-bin]\t\t  Sets radix to binary\n"
    "  -xd [--radix-dec]\t\t  Sets radix to decimal\n"
    "  -xh [--radix-hex]\t\t  Sets radix to hex\n"
    "  -x0b [--radix-bin-prefix]\t  Sets radix to binary with '0b' prefix\n"
    "  -x0x [--radix-hex-prefix]\t  Sets radix to hex with '0x' prefix\n"
    "-r [--read] \t\t\tReads registers specified\n"
    "-w [--write] \t\t\tWrites registers specified\n"
    "-y [--verify] \t\t\tVerifies registers written\n"
    "-h [--help]\t\t\tDisplays this help\n"
    "-v [--version]\t\t\tDisplays version information\n"
    "Build: -! [--OTP] with -k=KEY programs register 9; --r+ reads registers 0 to 8\n"
    "Report problems to the maintainers of the Torqa tools.\n";

const std::vector<std::uint8_t> kFactory = {0x21, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0};

class FrontEnd : public ::testing::Test {
protected:
    ToolSandbox box;
};

TEST_F(FrontEnd, HelpInEverySpellingPrintsTheUsageAndStopsBeforeLaterOptions) {
    for (const char *help : {"-h", "/h", "--help", "-hxyz"}) {
        SCOPED_TRACE(help);
        const ToolRun reg = box.run("tqreg", {help, "-w", "0=0x55"});
        EXPECT_EQ(reg.out, kRegisterUsage);
        EXPECT_EQ(reg.status, 0);
        const ToolRun read = box.run("tqread", {help, "-z", "-f", "out.txt"});
        EXPECT_EQ(read.out, read_usage("tqread"));
        EXPECT_EQ(read.status, 0);
    }
    EXPECT_EQ(box.registers(), kFactory);
    EXPECT_FALSE(box.exists("out.txt"));

    const ToolRun cmd = box.run("tqcmd", {"--help", "-z"});
    EXPECT_EQ(cmd.out, read_usage("tqcmd"));
    EXPECT_EQ(cmd.err, tqcmd_trace(3));
    EXPECT_EQ(cmd.status, 0);
}

TEST_F(FrontEnd, VersionBannersNameEachToolAndTheLibrary) {
    const ToolRun reg = box.run("tqreg", {"-v"});
    EXPECT_EQ(reg.out, version_banner("Torqa register utility", "2.2.0.140729.153337"));
    EXPECT_EQ(reg.status, 0);
    EXPECT_EQ(box.run("tqread", {"--version"}).out, version_banner("Torqa read utility", "2.2.0.140729.153335"));
    const ToolRun cmd = box.run("tqcmd", {"/v"});
    EXPECT_EQ(cmd.out, version_banner("Torqa read utility", "2.0.0.140415.180047"));
    EXPECT_EQ(cmd.err, tqcmd_trace(2));
}

TEST_F(FrontEnd, InvalidArgumentsAreReportedAndTheToolRunsOn) {
    const std::string empty_burst = print_data({}, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
    ToolRun read = box.run("tqread", {"-z", "--radix", "/-help", "-", "foo"});
    EXPECT_EQ(read.out, invalid_argument("-z", "tqread") + invalid_argument("--radix", "tqread") +
                            invalid_argument("/-help", "tqread") + invalid_argument("-", "tqread") +
                            invalid_argument("foo", "tqread") + empty_burst);
    EXPECT_EQ(read.status, 0);

    // tqreg has no -c; the reads still happen.
    const ToolRun reg = box.run("tqreg", {"-c2", "-r", "3"});
    EXPECT_EQ(reg.out, invalid_argument("-c2", "tqreg") + reg_print(0x40, 3, TQ_RADIX_BIN));
}

TEST_F(FrontEnd, ValueLessOptionsIgnoreAttachedText) {
    EXPECT_EQ(box.run("tqreg", {"-rxyz", "3"}).out, reg_print(0x40, 3, TQ_RADIX_BIN));
    EXPECT_EQ(box.run("tqreg", {"/r", "3"}).out, reg_print(0x40, 3, TQ_RADIX_BIN));
}

TEST_F(FrontEnd, RadixCodesCombineByOr) {
    struct Case {
        std::vector<std::string> radix;
        int code;
    };
    const Case cases[] = {
        {{"-xb"}, 0},        {{"-xd"}, 1},          {{"-xh"}, 2},           {{"-x0b"}, 3},
        {{"-x0x"}, 4},       {{"-xd", "-xh"}, 3},   {{"-x", "dec"}, 1},     {{"-x", "hex"}, 2},
        {{"-x", "0b"}, 3},   {{"-x", "0x"}, 4},     {{"-x", "bin"}, 0},     {{"-xdec"}, 0},
        {{"-x", "d"}, 0},    {{"--radix-hex"}, 2},  {{"--radix-dec"}, 1},   {{"--radix-bin-prefix"}, 3},
        {{"--radix-hex-prefix"}, 4}, {{"--radix-bin", "-xh"}, 2}, {{"/xh", "-x", "dec"}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.radix.front() + " " + std::to_string(c.code));
        std::vector<std::string> args{"-r"};
        args.insert(args.end(), c.radix.begin(), c.radix.end());
        args.push_back("0");
        const ToolRun run = box.run("tqreg", args);
        EXPECT_EQ(run.out, reg_print(0x21, 0, c.code));
    }
}

TEST_F(FrontEnd, RadixOrFormatWordMissingAtTheEndIsInvalid) {
    EXPECT_EQ(box.run("tqreg", {"-r", "0", "-x"}).out, invalid_argument("-x", "tqreg") + reg_print(0x21, 0, 0));
    const std::string empty_burst = print_data({}, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
    EXPECT_EQ(box.run("tqread", {"-x"}).out, invalid_argument("-x", "tqread") + empty_burst);
    EXPECT_EQ(box.run("tqread", {"-o"}).out, invalid_argument("-o", "tqread") + empty_burst);
}

TEST_F(FrontEnd, ListOptionListsTheChannelsBeforeTheWork) {
    const std::string plain = box.run("tqreg", {"-r", "3"}).out;
    const std::string listed = box.run("tqreg", {"-l", "-r", "3"}).out;
    ASSERT_GT(listed.size(), plain.size());
    EXPECT_EQ(listed.substr(listed.size() - plain.size()), plain);
    EXPECT_EQ(box.run("tqreg", {"/l", "-r", "3"}).out, listed);
    EXPECT_EQ(box.run("tqreg", {"--list", "-r", "3"}).out, listed);
}

TEST_F(FrontEnd, SpiModeIsTheSignedRemainderByFour) {
    const ToolRun cmd = box.run("tqcmd", {"-p5", "-p-1", "-p-9x", "-p6", "-p 7"});
    EXPECT_EQ(cmd.err, tqcmd_trace(6) +
                           "***DEBUG: Argument parser: -p: SPI mode is 1\n"
                           "***DEBUG: Argument parser: -p: SPI mode is -1\n"
                           "***DEBUG: Argument parser: -p: SPI mode is -1\n"
                           "***DEBUG: Argument parser: -p: SPI mode is 2\n"
                           "***DEBUG: Argument parser: -p: SPI mode is 3\n");
    // Mode 4 is mode 0 again: the sensor answers as without the option.
    EXPECT_EQ(box.run("tqreg", {"-p4", "-r", "0"}).out, reg_print(0x21, 0, 0));
}

TEST_F(FrontEnd, ConnectionOptionsReachTheOpen) {
    const ToolRun good = box.run("tqreg", {"-b1000000", "-r", "0"});
    EXPECT_EQ(good.out, reg_print(0x21, 0, 0));
    EXPECT_EQ(good.err, "");
    const ToolRun slow = box.run("tqreg", {"-b0", "-r", "0"});
    EXPECT_NE(slow.err.find(" 0 Hz"), std::string::npos) << slow.err;

    // No channel 99: nothing can be read, so nothing is shown.
    const ToolRun none = box.run("tqread", {"-c99", "-s4", "-op", "-xh"});
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("99"), std::string::npos) << none.err;
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(box.run("tqread", {"-c1", "-s4", "-op", "-xh"}).err, "");
}

} // namespace
