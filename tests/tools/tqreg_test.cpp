// tqreg as a process: what it prints, and what it leaves in the sensor's registers.
#include <gtest/gtest.h>

#include "tool_process.h"
#include "tq_api.h"

namespace {

const Registers kFactory = {0x21, 0, 0, 0x40, 0, 0, 0, 0x40, 0, 0};
// Not the reset values, so that a write of a snapshot-based value shows which bits it kept.
const Registers kPreset = {0xC2, 0x11, 0x22, 0x33, 0x44, 0xA1, 0x66, 0x77, 0x88, 0x01};

const std::string kKey = "-k=0x7A3C";

class Tqreg : public ::testing::Test {
protected:
    ToolRun run(const std::vector<std::string> &args, bool trace = false) { return box.run("tqreg", args, trace); }
    ToolSandbox box;
};

TEST_F(Tqreg, WithoutArgumentsPrintsTheFieldRegisters) {
    const ToolRun run = box.run("tqreg", {});
    EXPECT_EQ(run.out, prints(kFactory, {0, 3, 4, 5, 7}));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(Tqreg, ReadSelectorsNeedReadModeFirst) {
    box.set_registers(kPreset);
    EXPECT_EQ(run({"-r", "3"}).out, prints(kPreset, {3}));
    EXPECT_EQ(run({"3"}).out, invalid_argument("3", "tqreg"));
    EXPECT_EQ(run({"3", "-r"}).out, invalid_argument("3", "tqreg"));
    // Registers print once each, in ascending order, whatever the order of the selectors.
    EXPECT_EQ(run({"-r", "ZL", "ETX", "8", "1x", "R1B1", "XYZ"}).out,
              invalid_argument("1x", "tqreg") + prints(kPreset, {5, 8}));
    EXPECT_EQ(run({"--read", "FI"}).out, prints(kPreset, {0}));
    EXPECT_EQ(run({"--r+"}).out, prints(kPreset, {0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(box.registers(), kPreset);
}

TEST_F(Tqreg, FieldAssignmentsChangeOnlyTheirBitsOfTheSnapshot) {
    box.set_registers(kPreset);
    EXPECT_EQ(run({"-w", "FR=1"}).out, "");
    EXPECT_EQ(box.registers(), with(kPreset, 0, 0xC6));
    EXPECT_EQ(run({"-w", "FLL=7"}).out, ""); // only the low two bits of the value count
    EXPECT_EQ(box.registers(), with(kPreset, 0, 0xDE));
    EXPECT_EQ(run({"--write", "ZH=0x1FF", "BIY=0", "ETX=1"}).out, "");
    Registers expected = with(with(kPreset, 0, 0xDE), 4, 0xFF);
    EXPECT_EQ(box.registers(), with(expected, 5, 0x31));
}

TEST_F(Tqreg, WholeRegisterAndBitAssignments) {
    box.set_registers(kPreset);
    EXPECT_EQ(run({"-w", "R5B3=1", "R5B0=0", "2=-1", "6x=010", "8=0x1234"}).out, invalid_argument("6x=010", "tqreg"));
    Registers expected = with(with(kPreset, 5, 0xA8), 2, 0xFF);
    EXPECT_EQ(box.registers(), with(expected, 8, 0x34));
}

TEST_F(Tqreg, ValuesKnowOnlyTheHexAndOctalPrefixes) {
    box.set_registers(kPreset);
    EXPECT_EQ(run({"-w", "1=0b101", "2= -0x10", "3=0X1f", "4=09", "6=0x"}).out, "");
    Registers expected = with(with(with(kPreset, 1, 0x00), 2, 0xF0), 3, 0x1F);
    EXPECT_EQ(box.registers(), with(with(expected, 4, 0x00), 6, 0x00));
}

TEST_F(Tqreg, RegistersAreWrittenInAscendingOrder) {
    EXPECT_EQ(run({"-w", "1=0x34", "0=0x12"}, true).out, "");
    std::vector<std::vector<std::uint8_t>> writes;
    for (const WireFrame &frame : box.wire_frames()) {
        if (!frame.mosi.empty() && (frame.mosi[0] & 0xC0) == 0x80) writes.push_back(frame.mosi);
    }
    const std::vector<std::vector<std::uint8_t>> expected = {{0x80, 0x12}, {0x81, 0x34}};
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(box.registers(), with(with(kFactory, 0, 0x12), 1, 0x34));
}

TEST_F(Tqreg, AssignmentsWithoutWriteModeAreInvalid) {
    EXPECT_EQ(run({"EDF=1"}).out, invalid_argument("EDF=1", "tqreg"));
    EXPECT_EQ(run({"-r", "0=5", "-w"}).out, invalid_argument("0=5", "tqreg"));
    EXPECT_EQ(run({"-w", "XYZ=1", "=3", "R5=1"}).out, "");
    EXPECT_EQ(box.registers(), kFactory);
}

TEST_F(Tqreg, VerifyPrintsWhatWasReadBackAfterTheWrite) {
    EXPECT_EQ(run({"-w", "-y", "ZL=5"}).out, reg_print(0x05, 5, TQ_RADIX_BIN));
    EXPECT_EQ(run({"-w", "--verify", "-xh", "ZL=6", "ETX=1", "BCT=0x41"}).out,
              reg_print(0x41, 3, TQ_RADIX_HEX) + reg_print(0x16, 5, TQ_RADIX_HEX));
    EXPECT_EQ(box.registers(), with(with(kFactory, 3, 0x41), 5, 0x16));
    EXPECT_EQ(run({"-y"}).out, "");
    EXPECT_EQ(run({"-w", "-y", "-r", "ZL=5", "ZL"}).out, reg_print(0x15, 5, 0) + reg_print(0x15, 5, 0));
}

TEST_F(Tqreg, ProgramModeSetsRegister9BitsUnderTheKey) {
    EXPECT_EQ(run({"-w", "-!", "F1", "F2", "F1x"}).out, ""); // no key: the library refuses
    EXPECT_EQ(box.registers()[9], 0x00);
    EXPECT_EQ(run({"-w", "-!", kKey, "F1", "F2", "-y"}).out, reg_print(0x04, 9, 0));
    EXPECT_EQ(run({"-w", "--OTP", "-k=31292", "9=0x81"}).out, "");
    EXPECT_EQ(box.registers()[9], 0x85);
    EXPECT_EQ(run({"-w", "-!", "-k=075074", "R9B4=1"}).out, "");
    EXPECT_EQ(box.registers(), with(kFactory, 9, 0x95));
}

TEST_F(Tqreg, Register9IsNeverWrittenOutsideProgramMode) {
    box.set_registers(kPreset);
    const ToolRun run = box.run("tqreg", {"-w", kKey, "9=0xFF", "R9B7=1", "F3", "0=0x12"});
    EXPECT_EQ(run.out, invalid_argument("9=0xFF", "tqreg") + invalid_argument("R9B7=1", "tqreg") +
                           invalid_argument("F3", "tqreg"));
    EXPECT_EQ(box.registers(), with(kPreset, 0, 0x12));
}

TEST_F(Tqreg, SelectorsOutsideTheRegistersAreInvalid) {
    box.set_registers(kPreset);
    const ToolRun run = box.run("tqreg", {"-w", "-!", kKey, "R5B8=1", "RAB1=1", "R5B=1", "R5Bx=1", "F8", "F9", "4=9"});
    EXPECT_EQ(run.out, invalid_argument("R5B8=1", "tqreg") + invalid_argument("RAB1=1", "tqreg") +
                           invalid_argument("R5B=1", "tqreg") + invalid_argument("R5Bx=1", "tqreg") +
                           invalid_argument("F8", "tqreg") + invalid_argument("F9", "tqreg"));
    EXPECT_EQ(box.registers(), with(kPreset, 4, 9));
}

TEST_F(Tqreg, KeyNeedsAnEqualsSign) {
    const ToolRun run = box.run("tqreg", {"-w", "-!", "-k0x7A3C", "-k", "F1", "-y"});
    // Without a key the library refuses the write: nothing to verify.
    EXPECT_EQ(run.out, invalid_argument("-k0x7A3C", "tqreg") + invalid_argument("-k", "tqreg"));
    EXPECT_EQ(run.err, "tqreg: writing register 9 failed (status -1)\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(box.registers(), kFactory);
}

} // namespace
