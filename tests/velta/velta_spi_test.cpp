// velta's SPI, flash and gpio subcommands as processes: the default board's 64 KiB memory on SPI
// channel 1 (two address bytes, which it does not tell), and the example board's 16 MiB flash on
// channel 4.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

#include "sigrok.h"
#include "tool_process.h"

namespace {

const std::string kBoard16M = std::string(KV_SOURCE_DIR) + "/simulator/boards/flash16m.json";

std::string random_bytes(std::size_t n, unsigned seed) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

class Velta : public ::testing::Test {
protected:
    ToolRun velta(std::vector<std::string> args, bool trace = false) { return box.run("velta", args, trace); }
    std::string ok(std::vector<std::string> args, bool trace = false) {
        const ToolRun run = velta(args, trace);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.status, 0);
        return run.out;
    }
    // The default board's memory, by its channel, size and address width.
    std::vector<std::string> memory(std::vector<std::string> args) {
        args.insert(args.begin() + 1, "1");
        args.insert(args.begin(), "flash");
        args.insert(args.end(), {"--size", "65536", "--addr-bytes", "2"});
        return args;
    }
    ToolSandbox box;
};

TEST_F(Velta, FlashIdGivesTheJedecIdAndTheGeometryTheChipTells) {
    for (const char *channel : {"1", "5"}) {
        const ToolRun nothing = velta({"flash", "id", channel});
        EXPECT_EQ(nothing.err, "velta: no flash answered (JEDEC ID 00 00 00)\n");
        EXPECT_EQ(nothing.status, 1);
    }
    box.environment.push_back("KVZUBR_SIM_CONFIG=" + kBoard16M);
    EXPECT_EQ(ok({"flash", "id", "4"}), "jedec id: 5a 40 18\nsize: 16777216 bytes\naddress bytes: 3\n");
    EXPECT_EQ(ok({"flash", "id", "4", "--size", "1024"}), "jedec id: 5a 40 18\nsize: 1024 bytes\naddress bytes: 3\n");
}

TEST_F(Velta, FlashRoundTripKeepsWhatLiesBeyondTheFileInItsSector) {
    const std::string first = random_bytes(10000, 1), second = random_bytes(5000, 2);
    box.write_file("first.bin", first);
    box.write_file("second.bin", second);
    EXPECT_EQ(ok(memory({"erase", "-y"})), "");
    EXPECT_EQ(ok(memory({"write", "-y", "first.bin"})), "");
    EXPECT_EQ(ok(memory({"verify", "first.bin"})), "");
    EXPECT_EQ(ok(memory({"write", "-y", "second.bin"})), "");
    EXPECT_EQ(ok(memory({"read", "back.bin"})), "");
    EXPECT_EQ(box.read_file("back.bin"), second + first.substr(5000) + std::string(65536 - 10000, '\xff'));

    const ToolRun differs = velta(memory({"verify", "first.bin"}));
    EXPECT_EQ(differs.err.rfind("velta: verify failed at 0x000000: ", 0), 0u) << differs.err;
    EXPECT_EQ(differs.status, 1);
}

TEST_F(Velta, NorFlashIsErasedWhereProgrammingCannotSetBits) {
    box.environment.push_back("KVZUBR_SIM_CONFIG=" + kBoard16M);
    const std::string first = random_bytes(6000, 3), second = random_bytes(5000, 4);
    box.write_file("first.bin", first);
    box.write_file("expected.bin", second + first.substr(5000));
    box.write_file("second.bin", second);
    EXPECT_EQ(ok({"flash", "write", "-y", "4", "first.bin"}), "");
    EXPECT_EQ(ok({"flash", "write", "-y", "4", "second.bin"}), "");
    EXPECT_EQ(ok({"flash", "verify", "4", "expected.bin"}), "");
    // Without the erase the programmed bits only clear, and the read-back says so.
    box.write_file("ones.bin", std::string(100, '\xff'));
    const ToolRun kept = velta({"flash", "write", "-y", "4", "--no-erase", "ones.bin"});
    EXPECT_EQ(kept.err.rfind("velta: verify failed at 0x0000", 0), 0u) << kept.err;
    EXPECT_EQ(kept.status, 1);
}

TEST_F(Velta, ProtectedFlashIsReportedAndKeepsItsContents) {
    const std::string data = random_bytes(3000, 5);
    box.write_file("data.bin", data);
    box.write_file("other.bin", random_bytes(3000, 6));
    EXPECT_EQ(ok(memory({"write", "-y", "data.bin"})), "");
    // Block protect 3 guards the upper sixteenth; velta refuses to write while any is set.
    EXPECT_EQ(ok({"spi", "transfer", "1", "--hex", "06", "--hex", "01 0c"}), "00\n00 00\n");
    for (const char *action : {"write", "erase"}) {
        const ToolRun refused = velta(memory(action == std::string("write") ? std::vector<std::string>{"write", "-y", "other.bin"}
                                                                            : std::vector<std::string>{"erase", "-y"}));
        EXPECT_EQ(refused.err,
                  "velta: the flash is write-protected: status register 0x0c has block-protect bits set "
                  "(write status 0x01 with them cleared first)\n");
        EXPECT_EQ(refused.status, 1);
    }
    EXPECT_EQ(ok(memory({"verify", "data.bin"})), "");
    // The memory itself refuses a program in the guarded range.
    EXPECT_EQ(ok({"spi", "transfer", "1", "--hex", "06", "--hex", "02 ff00 55", "--hex", "05 00"}),
              "00\n00 00 00 00\n00 0c\n");
    EXPECT_EQ(ok({"spi", "transfer", "1", "--hex", "03 ff00 00"}), "00 00 00 ff\n");
}

// A page program of 30 ms outlasts the first status batches, so readiness turns up in a later
// one; one of 2 s outlasts the time-out, which the status bytes clocked meanwhile show even
// when the host is far quicker than the wires.
TEST_F(Velta, FlashWriteWaitsOutLongProgramCyclesAndGivesUpOnStuckOnes) {
    box.write_file("data.bin", random_bytes(700, 9));  // two whole pages and a part of a third
    box.write_file("other.bin", random_bytes(700, 10));
    for (const char *cycle_us : {"30000", "2000000"}) {
        box.use_board(std::string(R"({"wall_clock": false, "bridges": [{"type": 8, "channels": [{"bus": "spi",
            "devices": [{"kind": "spi-memory", "name": "flash", "cs": 3, "size": 65536, "needs_erase": true,
            "jedec_id": 5914640, "write_cycle_us": )") + cycle_us + "}]}]}]}");
        const bool slow = cycle_us == std::string("30000");
        const ToolRun run = velta({"flash", "write", "-y", "0", "--size", "65536", "--addr-bytes", "2", slow ? "data.bin" : "other.bin"});
        if (slow) {
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(ok({"flash", "verify", "0", "--size", "65536", "--addr-bytes", "2", "data.bin"}), "");
        } else {
            EXPECT_EQ(run.err, "velta: page program at 0x000000 did not finish within 1000 ms\n");
            EXPECT_EQ(run.status, 1);
        }
    }
}

TEST_F(Velta, SpiTransferIsOneFullDuplexFrame) {
    box.write_file("data.bin", "hello");
    EXPECT_EQ(ok(memory({"write", "-y", "data.bin"})), "");
    box.write_file("command.bin", std::string("\x0b\x00\x00\x00\x00\x00\x00\x00\x00", 9));
    EXPECT_EQ(ok({"spi", "transfer", "1", "--in", "command.bin", "--out", "answer.bin"}), "");
    EXPECT_EQ(box.read_file("answer.bin"), std::string(4, '\0') + "hello");
    EXPECT_EQ(ok({"spi", "transfer", "1", "--clock", "30000000", "--hex", "03:00:01:00:00"}), "00 00 00 65 6c\n");
    EXPECT_EQ(ok({"spi", "transfer", "1", "--cs", "4", "--hex", "9f 00 00 00"}), "00 00 00 00\n");
}

// The last level of each high pin in the trace: '0', '1' or 'z'.
std::map<std::string, char> high_pins(const std::string &vcd) {
    std::map<std::string, std::string> names;
    std::map<std::string, char> levels;
    std::istringstream lines(vcd);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string var, type, width, id, name;
        if (line.rfind("$var", 0) == 0 && (words >> var >> type >> width >> id >> name) && name.rfind("hpin", 0) == 0)
            names[id] = name;
        else if (line.size() > 1 && names.count(line.substr(1)))
            levels[names[line.substr(1)]] = line[0];
    }
    return levels;
}

TEST_F(Velta, GpioSetDrivesTheHighPinsAndGetReadsThem) {
    EXPECT_EQ(ok({"gpio", "set", "-y", "0", "4=1", "5=active", "6=0", "7=inactive"}, true), "");
    const std::map<std::string, char> expected{{"hpin0", 'z'}, {"hpin1", 'z'}, {"hpin2", 'z'}, {"hpin3", 'z'},
                                               {"hpin4", '1'}, {"hpin5", '1'}, {"hpin6", '0'}, {"hpin7", '0'}};
    EXPECT_EQ(high_pins(box.read_file(".wire.vcd")), expected);
    // A fresh engine has every high pin an input, which reads 0 on the simulated board.
    EXPECT_EQ(ok({"gpio", "get", "0", "7", "4"}), "\"7\"=inactive \"4\"=inactive\n");
    EXPECT_EQ(ok({"gpio", "get", "0", "--numeric"}), "0 0 0 0 0 0 0 0\n");
}

TEST_F(Velta, GpioHoldKeepsThePinsUntilTimeOrASignal) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ok({"gpio", "set", "-y", "0", "2=1", "--hold", "0.3"}), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    // With SIGINT blocked before velta starts, the signal waits for the hold however early it comes.
    sigset_t interrupt, old;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &old);
    box.time_limit_s = 20;
    const pid_t child = box.start("velta", {"gpio", "set", "-y", "0", "2=1", "--hold"});
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::kill(child, SIGINT);
    const ToolRun held = box.finish(child);
    EXPECT_EQ(held.status, 0) << held.err;
    EXPECT_EQ(held.err, "");
}

// What sigrok-cli prints, or "" when it is missing.
std::string sigrok(const std::string &arguments) { return command_output("sigrok-cli " + arguments + " 2>/dev/null"); }

// The bytes of every "<operation> (addr X, N bytes): hex..." line, placed at their addresses.
std::string decoded_image(const std::string &annotations, const std::string &operation, std::size_t size) {
    std::string image(size, '\xff');
    std::istringstream lines(annotations);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(operation + " (addr");
        const std::size_t colon = line.find("): ");
        if (at == std::string::npos || colon == std::string::npos) continue;
        std::size_t address = std::stoul(line.substr(line.find_first_of("0123456789abcdefABCDEF", at + operation.size() + 6)), nullptr, 16);
        std::istringstream hex(line.substr(colon + 3));
        for (std::string byte; hex >> byte && address < size; ++address) image[address] = static_cast<char>(std::stoul(byte, nullptr, 16));
    }
    return image;
}

TEST_F(Velta, TracedFlashWriteDecodesToTheFilesBytes) {
    if (!sigrok_decodes({"spiflash"})) GTEST_SKIP() << "sigrok-cli with its VCD input and spiflash decoder is not installed";
    box.environment.push_back("KVZUBR_SIM_CONFIG=" + kBoard16M);
    const std::string data = random_bytes(300, 7);
    box.write_file("data.bin", data);
    EXPECT_EQ(ok({"flash", "write", "-y", "4", "--clock", "1000000", "data.bin"}, true), "");
    // At 1 MHz a bit lasts 1,000,000 ps; sampling every 100 ns gives ten samples a bit.
    const std::string annotations = sigrok("-I vcd:downsample=10 -i " + box.path(".wire.vcd") +
                                           " -P spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS3,spiflash -A spiflash");
    EXPECT_EQ(decoded_image(annotations, "Page program", 512), data + std::string(212, '\xff'));
}

TEST_F(Velta, TracedEepromWriteDecodesToTheFilesBytes) {
    if (!sigrok_decodes({"eeprom24xx"})) GTEST_SKIP() << "sigrok-cli with its VCD input and eeprom24xx decoder is not installed";
    const std::string data = random_bytes(300, 8);
    box.write_file("data.bin", data);
    EXPECT_EQ(ok({"eeprom", "write", "-y", "2", "0x50", "--size", "32768", "data.bin"}, true), "");
    const std::string annotations = sigrok("-I vcd:downsample=20 -i " + box.path(".wire.vcd") +
                                           " -P i2c:scl=SCL:sda=SDA,eeprom24xx:chip=onsemi_cat24c256 -A eeprom24xx=ops");
    EXPECT_EQ(decoded_image(annotations, "Page write", 300), data);
}

}  // namespace
