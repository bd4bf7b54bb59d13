// What velta once got wrong, one row each: a driver fault or a bad option that made it exit 0
// with a wrong answer or changed memory, or lose bytes without saying so. Each run now either
// ends right or fails (exit 1, or 2 for an option) and leaves the memory as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "tool_process.h"

namespace {

const std::string kBoards = std::string(KV_SOURCE_DIR) + "/simulator/boards/";
const std::string kImage(300, '\x5a');

std::string bytes_of(std::size_t n, unsigned seed) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}
const std::string kOldData = bytes_of(8192, 9);

std::string faults_from(const char *entry, unsigned first, unsigned last) {
    std::string faults;
    for (unsigned n = first; n <= last; ++n) faults += (faults.empty() ? "" : ",") + std::string(entry) + ":" + std::to_string(n) + ":4";
    return faults;
}

// Reads a memory back through velta itself, with no fault planned.
std::string read_back(ToolSandbox &box, std::vector<std::string> args) {
    args.push_back("back.bin");
    const ToolRun run = box.run("velta", args);
    return run.status == 0 ? box.read_file("back.bin") : "read back failed: " + run.err;
}

std::vector<std::string> memory_read() { return {"flash", "read", "1", "--size", "65536", "--addr-bytes", "2"}; }

struct Finding {
    const char *name;
    const char *board;                               // under simulator/boards, "" for the default
    std::vector<std::vector<std::string>> setup;     // velta runs before, each exiting 0
    std::string faults;                              // KVZUBR_SIM_FAULTS of the run
    std::vector<std::string> args;
    int status;                                      // -1: 0 with `clean_out` printed, or 1
    std::string clean_out;                           // what a fault-free run prints
    std::string err;                                 // a part of standard error ("": any)
    std::function<std::string(ToolSandbox &, const ToolRun &)> memory; // "" when the memory is right
};

const std::vector<std::string> kSmallEeprom = {"eeprom", "read", "1", "0x51", "--size", "256"};

const Finding kFindings[] = {
    {"DumpAfterADroppedStartWritesNothing", "memories.json", {{"i2c", "transfer", "-y", "1", "w5@0x51", "0", "1", "2", "3", "4"}},
     "Write:15:short=0", {"i2c", "dump", "1", "0x51", "-r", "0x00-0x07"}, -1,
     "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n"
     "00: 01 02 03 04 ff ff ff ff                            ????....        \n", "",
     [](ToolSandbox &box, const ToolRun &) {
         return read_back(box, kSmallEeprom) == std::string("\x01\x02\x03\x04", 4) + std::string(252, '\xff') ? "" : "EEPROM changed";
     }},
    {"EepromWriteWithLoopbackLeftOnFails", "", {}, "Write:6:short=0",
     {"eeprom", "write", "-y", "2", "0x50", "--size", "32768", "image.bin"}, -1, "", "",
     [](ToolSandbox &box, const ToolRun &run) {
         const std::string now = read_back(box, {"eeprom", "read", "2", "0x50", "--size", "32768"});
         if (run.status == 0 && now.substr(0, 300) != kImage) return "exit 0 with the EEPROM not holding the file";
         return now.substr(300) == std::string(32768 - 300, '\xff') ? "" : "bytes beyond the file changed";
     }},
    {"SpiTransferShowsNoLoopbackEcho", "", {}, "Write:6:short=0", {"spi", "transfer", "1", "--hex", "03000000"}, -1,
     "00 00 00 ff\n", "", nullptr},
    {"I2cGetWordOfAShortReadFails", "memories.json", {}, "Read:7:short=0", {"i2c", "get", "1", "0x48", "0", "w"}, -1,
     "0x8015\n", "", nullptr},
    {"FlashWriteFailingAfterTheEraseSavesWhatItErased", "", {{"flash", "write", "-y", "1", "--size", "65536", "--addr-bytes", "2", "old.bin"}},
     faults_from("Write", 25, 200), {"flash", "write", "-y", "1", "--size", "65536", "--addr-bytes", "2", "image.bin"}, 1, "",
     "velta: the flash's bytes 0x00012c-0x000fff beyond the file were erased and could not be written back",
     [](ToolSandbox &box, const ToolRun &) {
         return box.read_file("image.bin.kept") == kImage + kOldData.substr(300, 4096 - 300) ? "" : "image.bin.kept wrong";
     }},
    {"EepromWriteToAnSpiChannelFails", "", {}, "", {"eeprom", "write", "-y", "1", "0x50", "--size", "32768", "image.bin"}, 1, "",
     "velta: verify failed at 0x000000", nullptr},
    {"FlashOfUnknownGeometryIsRefused", "", {}, "", {"flash", "read", "1", "x.bin"}, 1, "",
     "has no parameter table and no ID velta knows; give its size and address bytes with --size and --addr-bytes",
     [](ToolSandbox &box, const ToolRun &) { return box.exists("x.bin") ? "x.bin written" : ""; }},
    {"FlashWriteOfUnknownGeometryChangesNothing", "", {}, "", {"flash", "write", "-y", "1", "image.bin"}, 1, "",
     "--size and --addr-bytes",
     [](ToolSandbox &box, const ToolRun &) { return read_back(box, memory_read()) == std::string(65536, '\xff') ? "" : "memory changed"; }},
    {"ModeAboveThreeIsRefused", "", {}, "", {"spi", "transfer", "1", "--mode", "4", "--hex", "00"}, 2, "",
     "velta: --mode: 4 is above 3 (see velta --help)\n", nullptr},
    {"ChipSelectAboveSevenIsRefused", "", {}, "", {"spi", "transfer", "1", "--cs", "8", "--hex", "00"}, 2, "",
     "velta: --cs: 8 is above 7 (see velta --help)\n", nullptr},
    {"FiveAddressBytesAreRefused", "", {}, "", {"flash", "write", "1", "--addr-bytes", "5", "image.bin"}, 2, "",
     "velta: --addr-bytes: 5 is above 4 (see velta --help)\n", nullptr},
    {"ClockBeyondTheBridgeIsRefused", "", {}, "", {"spi", "transfer", "3", "--clock", "400", "--hex", "00"}, 2, "",
     "velta: --clock: 400 Hz is outside the 458 to 30000000 Hz an SPI bus on a full-speed dual bridge runs at\n", nullptr},
    {"ListOfARefusedConfigurationFails", "missing.json", {}, "", {"list"}, 1, "", "velta: no bridge channel with the engine found\n",
     nullptr},
};

class VeltaFinding : public ::testing::TestWithParam<Finding> {};

TEST_P(VeltaFinding, EndsRightOrFailsWithTheMemoryKept) {
    const Finding &f = GetParam();
    ToolSandbox box;
    if (*f.board) box.environment = {"KVZUBR_SIM_CONFIG=" + kBoards + f.board};
    const std::vector<std::string> board = box.environment;
    box.write_file("image.bin", kImage);
    box.write_file("old.bin", kOldData);
    for (const std::vector<std::string> &args : f.setup) ASSERT_EQ(box.run("velta", args).status, 0);
    box.environment.push_back("KVZUBR_SIM_FAULTS=" + f.faults);
    box.environment.push_back("KVZUBR_SIM_CALLS=" + box.path("calls"));
    const ToolRun run = box.run("velta", f.args);
    if (f.status == -1) {
        EXPECT_TRUE(run.status == 1 || (run.status == 0 && run.out == f.clean_out)) << run.status << ": " << run.out << run.err;
    } else {
        EXPECT_EQ(run.status, f.status) << run.err;
    }
    if (run.status != 0) {
        EXPECT_EQ(run.out, "");
    }
    EXPECT_NE(run.err.find(f.err), std::string::npos) << run.err;
    // A refused option sends nothing: the driver saw no write.
    if (f.status == 2) {
        EXPECT_EQ(box.read_file("calls").find("Write"), std::string::npos);
    }
    box.environment = board;
    if (f.memory) {
        EXPECT_EQ(f.memory(box, run), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Velta, VeltaFinding, ::testing::ValuesIn(kFindings),
                         [](const ::testing::TestParamInfo<Finding> &info) { return std::string(info.param.name); });

}  // namespace
