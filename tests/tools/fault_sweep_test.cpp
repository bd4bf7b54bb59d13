// One driver fault at every call position of a tool's run, failing and short: the tool either
// does its work right and exits 0, or exits 1 with a line on standard error. It never changes a
// register or memory byte it was not asked to (unless velta says which and where it saved
// them), and never shows or files a sample or byte the device did not send.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tool_process.h"
#include "tq_api.h"

namespace {

// Register 5 holds 0xF0; the others are not their reset values, so a stray write shows.
const Registers kSeeded = {0xC2, 0x11, 0x22, 0x33, 0x44, 0xF0, 0x66, 0x77, 0x88, 0x01};
const std::size_t kRunsAtOnce = 12; // the tools mostly wait on the engine's set-up pauses

struct Outcome {
    const ToolRun &run;
    ToolSandbox &box;
};

// Empty when the outcome is sound, else what is wrong with it.
using Check = std::function<std::string(const Outcome &)>;

struct SweptRun {
    const char *name;
    const char *tool;
    std::vector<std::string> args;
    Check succeeded; // exit 0
    Check failed;    // exit 1, with a line on standard error
};

std::string expect(bool ok, const std::string &what) { return ok ? "" : what; }

// Only the register named may change, and only to the value asked for.
Check registers_end_as(int reg, std::uint8_t value) {
    return [=](const Outcome &o) {
        const Registers now = o.box.registers();
        return expect(now == kSeeded || now == with(kSeeded, reg, value), "registers changed wrongly");
    };
}

Check registers_unchanged() {
    return [](const Outcome &o) { return expect(o.box.registers() == kSeeded, "registers changed"); };
}

Check both(Check first, Check second) {
    return [=](const Outcome &o) {
        const std::string wrong = first(o);
        return wrong.empty() ? second(o) : wrong;
    };
}

Check prints_exactly(const std::string &text) {
    return [=](const Outcome &o) { return expect(o.run.out == text, "printed:\n" + o.run.out); };
}

// A failed read may have shown the registers read before it, each whole and right.
Check prints_a_beginning_of(const std::string &text) {
    return [=](const Outcome &o) {
        const std::string &out = o.run.out;
        const bool whole_lines = out.empty() || out.back() == '\n';
        return expect(whole_lines && text.compare(0, out.size(), out) == 0, "printed:\n" + out);
    };
}

// 100 samples the sensor sent, in order, and nothing else.
std::string real_burst(const std::string &printed) {
    const std::vector<std::uint8_t> samples = parse_samples(printed, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
    const bool real = samples.size() == 300 && burst_is_continuous(samples) &&
                      printed == print_data(samples, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
    return expect(real, "not the sensor's burst:\n" + printed);
}

Check burst_on_stdout() {
    return [](const Outcome &o) { return o.run.err.empty() ? real_burst(o.run.out) : "standard error: " + o.run.err; };
}

Check burst_in_file() {
    return [](const Outcome &o) {
        const std::string data = o.box.read_file("out.txt");
        const std::string wrong = real_burst(data);
        if (!wrong.empty()) return wrong;
        const auto samples = parse_samples(data, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
        return expect(o.run.out.empty() && o.box.read_file("out.txt.info") ==
                                               print_error(samples, TQ_FORMAT_TEXT, TQ_RADIX_BIN),
                      "report or standard output wrong");
    };
}

Check no_files() {
    return [](const Outcome &o) {
        return expect(!o.box.exists("out.txt") && !o.box.exists("out.txt.info"), "a file was written");
    };
}

// Four "Data:" lines whose twelve bytes are four samples in order, as the sensor sends them.
Check answer_shown() {
    return [](const Outcome &o) {
        std::istringstream lines(o.run.out);
        std::vector<std::uint8_t> bytes;
        std::string word;
        while (lines >> word) {
            if (word != "Data:") bytes.push_back(static_cast<std::uint8_t>(std::stoul(word, nullptr, 2)));
        }
        const bool real = bytes.size() == 12 && burst_is_continuous(bytes) && o.run.err == tqcmd_trace(1);
        return expect(real, "answer not the sensor's:\n" + o.run.out);
    };
}

Check traced_and_reported() {
    return [](const Outcome &o) {
        const std::string trace = tqcmd_trace(1);
        return expect(o.run.out.empty() && o.run.err.size() > trace.size() && o.run.err.compare(0, trace.size(), trace) == 0,
                      "output or standard error wrong");
    };
}

const SweptRun kRuns[] = {
    {"FieldWrite", "tqreg", {"-w", "ZL=5"}, both(prints_exactly(""), registers_end_as(5, 0xF5)),
     both(prints_exactly(""), registers_end_as(5, 0xF5))},
    {"FieldRead", "tqreg", {}, both(prints_exactly(prints(kSeeded, {0, 3, 4, 5, 7})), registers_unchanged()),
     both(prints_a_beginning_of(prints(kSeeded, {0, 3, 4, 5, 7})), registers_unchanged())},
    {"VerifiedWrite", "tqreg", {"-w", "-y", "3=0x11"},
     both(prints_exactly(reg_print(0x11, 3, TQ_RADIX_BIN)), registers_end_as(3, 0x11)),
     both(prints_exactly(""), registers_end_as(3, 0x11))},
    {"Burst", "tqread", {"-s100"}, burst_on_stdout(), prints_exactly("")},
    {"BurstToFile", "tqread", {"-s100", "-f", "out.txt"}, burst_in_file(), both(prints_exactly(""), no_files())},
    {"Command", "tqcmd", {}, both(answer_shown(), registers_unchanged()), both(traced_and_reported(), registers_unchanged())},
};

using Calls = std::vector<std::pair<std::string, unsigned>>;

// Calls per driver entry point of a run, as the simulated driver counts them.
Calls calls_of(ToolSandbox &box, const std::string &tool, const std::vector<std::string> &args, ToolRun *run) {
    box.environment = {"KVZUBR_SIM_CALLS=" + box.path("calls")};
    *run = box.run(tool, args);
    Calls calls;
    std::ifstream in(box.path("calls"));
    std::string entry;
    unsigned count = 0;
    while (in >> entry >> count) calls.emplace_back(entry, count);
    return calls;
}

// Every fault: each call of each entry point failing with status 4, each read delivering
// nothing, and each write taking nothing or one byte.
std::vector<std::string> faults_for(const Calls &calls, bool empty_writes) {
    std::vector<std::string> faults;
    for (const auto &[entry, count] : calls) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            const std::string position = entry + ":" + std::to_string(nth);
            faults.push_back(position + ":4");
            if (entry == "Read") faults.push_back(position + ":short=0");
            if (entry == "Write" && empty_writes) faults.push_back(position + ":short=0");
            if (entry == "Write") faults.push_back(position + ":short=1");
        }
    }
    return faults;
}

struct Tally {
    unsigned right = 0, reported = 0;
    std::vector<std::string> wrong;
};

// Exit 0 is judged by `succeeded`, exit 1 with a line on standard error by `failed`; anything
// else (a crash, a hang killed by the time limit, a usage error) is unsound.
using Verdict = std::function<std::string()>;

void judge(const std::string &fault, const ToolRun &run, const Verdict &succeeded, const Verdict &failed, Tally &tally) {
    std::string wrong;
    if (run.status == 0) {
        wrong = succeeded();
        ++tally.right;
    } else if (run.status == 1) {
        wrong = run.err.empty() ? "exit 1 without a line on standard error" : failed();
        ++tally.reported;
    } else {
        wrong = "exit status " + std::to_string(run.status);
    }
    if (!wrong.empty()) tally.wrong.push_back(fault + ": " + wrong);
}

// Runs the tool once per fault, kRunsAtOnce at a time, each in a sandbox `prepare` readies;
// `finished` judges each run in the sandbox it ran in.
void run_faults(std::vector<ToolSandbox> &boxes, const std::vector<std::string> &faults, const std::string &tool,
                const std::vector<std::string> &args, const std::function<void(ToolSandbox &)> &prepare,
                const std::function<void(const std::string &, const ToolRun &, ToolSandbox &)> &finished) {
    std::deque<std::pair<std::size_t, pid_t>> running; // box, child
    std::vector<std::string> fault_of(boxes.size());
    auto finish_oldest = [&] {
        const auto [slot, child] = running.front();
        running.pop_front();
        finished(fault_of[slot], boxes[slot].finish(child), boxes[slot]);
        return slot;
    };
    for (std::size_t next = 0; next < faults.size(); ++next) {
        const std::size_t slot = next < boxes.size() ? next : finish_oldest();
        ToolSandbox &box = boxes[slot];
        prepare(box);
        box.environment = {"KVZUBR_SIM_FAULTS=" + faults[next]};
        fault_of[slot] = faults[next];
        running.emplace_back(slot, box.start(tool, args));
    }
    while (!running.empty()) finish_oldest();
}

void report(const std::string &name, std::size_t positions, const Tally &tally) {
    std::cout << "[ sweep    ] " << name << ": " << positions << " fault positions, " << tally.right
              << " right with exit 0, " << tally.reported << " reported with exit 1, " << tally.wrong.size()
              << " unsound\n";
    std::string first;
    for (std::size_t i = 0; i < tally.wrong.size() && i < 5; ++i) first += tally.wrong[i] + "\n";
    EXPECT_TRUE(tally.wrong.empty()) << tally.wrong.size() << " unsound outcomes, the first:\n" << first;
}

class FaultSweep : public ::testing::TestWithParam<SweptRun> {};

TEST_P(FaultSweep, EveryFaultEndsRightOrReported) {
    const SweptRun &swept = GetParam();
    std::vector<ToolSandbox> boxes(kRunsAtOnce);
    boxes[0].set_registers(kSeeded);
    ToolRun clean;
    const std::vector<std::string> faults = faults_for(calls_of(boxes[0], swept.tool, swept.args, &clean), false);
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(swept.succeeded({clean, boxes[0]}), "");
    ASSERT_FALSE(faults.empty());

    Tally tally;
    run_faults(
        boxes, faults, swept.tool, swept.args,
        [](ToolSandbox &box) {
            std::remove(box.path("out.txt").c_str());
            std::remove(box.path("out.txt.info").c_str());
            box.set_registers(kSeeded);
        },
        [&](const std::string &fault, const ToolRun &run, ToolSandbox &box) {
            const Outcome o{run, box};
            judge(fault, run, [&] { return swept.succeeded(o); }, [&] { return swept.failed(o); }, tally);
        });
    report(swept.name, faults.size(), tally);
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweep, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<SweptRun> &info) { return std::string(info.param.name); });

// ---- velta ----

// A 128 KiB NOR flash (1 KiB pages) on SPI channel 0; on I2C channel 1 a 4 KiB EEPROM at 0x50,
// a 256-byte one at 0x51 and a register device at 0x48. Virtual time follows the wires, so runs
// are repeatable and write cycles short.
const char kVeltaBoard[] = R"({"wall_clock": false, "bridges": [{"type": 6, "serial": "KV6D0009",
  "description": "Fault sweep bench", "channels": [
  {"bus": "spi", "devices": [{"kind": "spi-memory", "name": "flash", "cs": 3, "size": "0x20000", "page_size": 1024, "needs_erase": true,
    "write_cycle_us": 50, "sector_erase_us": 300, "block_erase_us": 600, "chip_erase_us": 1000}]},
  {"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": "0x50", "size": "0x1000", "page_size": 32, "write_cycle_us": 200},
    {"kind": "eeprom24", "name": "small", "address": "0x51", "size": "0x100", "page_size": 8, "write_cycle_us": 200},
    {"kind": "i2c-register", "name": "temp", "address": "0x48"}]}]}]})";

enum VeltaDevice { kFlash, kEeprom, kSmall, kTemp };
const std::vector<ToolSandbox::DeviceKey> kVeltaDevices = {
    {0, "flash", "memory"}, {1, "eeprom", "memory"}, {1, "small", "memory"}, {1, "temp", "registers"}};
using Memories = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t &b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

// The flash's first two sectors hold data, so writing 300 bytes erases what follows them in
// sector 0; the memories hold data, so a stray write shows.
Memories velta_seed() {
    std::vector<std::uint8_t> flash = pattern(8192, 1);
    flash.resize(0x20000, 0xFF);
    return {flash, pattern(0x1000, 2), pattern(0x100, 3), {0x80, 0x15, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
}

const std::vector<std::uint8_t> kImage = pattern(300, 4);
const std::string kRescueLine = "could not be written back";

struct Target {
    VeltaDevice device;
    std::size_t from, to; // the bytes a failed run may leave changed
};

struct VeltaRun {
    const char *name;
    std::vector<std::string> args;
    std::vector<Target> targets;
};

const VeltaRun kVeltaRuns[] = {
    {"I2cGetWord", {"i2c", "get", "1", "0x48", "0", "w"}, {}},
    {"I2cSet", {"i2c", "set", "-y", "1", "0x48", "1", "0x55"}, {{kTemp, 2, 4}}},
    {"I2cDump", {"i2c", "dump", "1", "0x51", "-r", "0x00-0x07"}, {}},
    {"I2cTransfer", {"i2c", "transfer", "-y", "1", "w1@0x51", "0", "r4"}, {}},
    {"SpiTransfer", {"spi", "transfer", "0", "--hex", "9f000000"}, {}},
    {"EepromWrite", {"eeprom", "write", "-y", "1", "0x50", "--size", "4096", "image.bin"}, {{kEeprom, 0, 300}}},
    {"FlashWrite", {"flash", "write", "-y", "0", "--page", "1024", "image.bin"}, {{kFlash, 0, 300}}},
    {"FlashErase", {"flash", "erase", "-y", "0"}, {{kFlash, 0, 0x20000}}},
};

// Which bytes differ from the seed outside the targets, as "device@offset", or "".
std::string changed_outside(const Memories &now, const Memories &seed, const std::vector<Target> &targets) {
    for (std::size_t d = 0; d < seed.size(); ++d) {
        for (std::size_t i = 0; i < seed[d].size(); ++i) {
            if (now[d][i] == seed[d][i]) continue;
            const bool targeted = std::any_of(targets.begin(), targets.end(), [&](const Target &t) {
                return t.device == static_cast<VeltaDevice>(d) && i >= t.from && i < t.to;
            });
            if (!targeted) return kVeltaDevices[d].device + "@" + std::to_string(i) + " changed";
        }
    }
    return "";
}

// The file a failed flash write names for the bytes it could not put back must hold the image
// and then what the seed held up to the end of the sector.
std::string rescue_file_wrong(const ToolRun &run, ToolSandbox &box, const Memories &seed) {
    const std::size_t at = run.err.find("image.bin.kept");
    if (at == std::string::npos) return "no file named in: " + run.err;
    const std::string name = run.err.substr(at, run.err.find(' ', at) - at);
    std::vector<std::uint8_t> expected = kImage;
    expected.insert(expected.end(), seed[kFlash].begin() + 300, seed[kFlash].begin() + 4096);
    const std::string saved = box.read_file(name);
    return expect(saved == std::string(expected.begin(), expected.end()), name + " does not hold the erased bytes");
}

class VeltaFaultSweep : public ::testing::TestWithParam<VeltaRun> {};

TEST_P(VeltaFaultSweep, EveryFaultEndsRightOrReported) {
    const VeltaRun &swept = GetParam();
    std::vector<ToolSandbox> boxes(kRunsAtOnce);
    // Only the swept channel's devices are seeded and looked at, which keeps the judging quick.
    const bool spi = swept.args[0] == "spi" || swept.args[0] == "flash";
    Memories seed = velta_seed();
    std::vector<ToolSandbox::DeviceKey> devices = kVeltaDevices;
    for (std::size_t d = seed.size(); d-- > 0;)
        if ((d == kFlash) != spi) devices[d].key = "none", seed[d].clear();
    ToolSandbox &first = boxes[0];
    first.use_board(kVeltaBoard);
    first.set_device_data(devices, seed);
    ASSERT_EQ(first.device_data(devices), seed);
    std::filesystem::copy_file(first.path(".state.json"), first.path("seed.json")); // kept aside for every run
    auto prepare = [&](ToolSandbox &box) {
        box.use_board(kVeltaBoard);
        box.write_file("image.bin", std::string(kImage.begin(), kImage.end()));
        std::filesystem::copy_file(first.path("seed.json"), box.path(".state.json"),
                                   std::filesystem::copy_options::overwrite_existing);
        for (const auto &entry : std::filesystem::directory_iterator(box.path("")))
            if (entry.path().filename().string().rfind("image.bin.kept", 0) == 0) std::filesystem::remove(entry.path());
    };
    prepare(first);
    ToolRun clean;
    const std::vector<std::string> faults = faults_for(calls_of(first, "velta", swept.args, &clean), true);
    ASSERT_EQ(clean.status, 0) << clean.err;
    ASSERT_EQ(clean.err, "");
    const Memories right = first.device_data(devices);
    for (ToolSandbox &box : boxes) box.time_limit_s = 60;

    Tally tally;
    run_faults(boxes, faults, "velta", swept.args, prepare, [&](const std::string &fault, const ToolRun &run, ToolSandbox &box) {
        const Memories now = box.device_data(devices);
        judge(
            fault, run,
            [&] {
                if (run.out != clean.out || !run.err.empty()) return "printed:\n" + run.out + run.err;
                return expect(now == right, "exit 0 with memory not as a clean run leaves it");
            },
            [&] {
                if (!run.out.empty()) return "printed on failure:\n" + run.out;
                if (run.err.find(kRescueLine) != std::string::npos) return rescue_file_wrong(run, box, seed);
                return changed_outside(now, seed, swept.targets);
            },
            tally);
    });
    report(swept.name, faults.size(), tally);
}

INSTANTIATE_TEST_SUITE_P(Velta, VeltaFaultSweep, ::testing::ValuesIn(kVeltaRuns),
                         [](const ::testing::TestParamInfo<VeltaRun> &info) { return std::string(info.param.name); });

} // namespace
