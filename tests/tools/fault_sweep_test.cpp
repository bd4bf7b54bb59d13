// One driver fault at every call position of a tool's run, failing and short: the tool either
// does its work right and exits 0, or exits 1 with a line on standard error. It never changes a
// register it was not asked to, and never shows or files a sample the sensor did not send.
#include <gtest/gtest.h>

#include <deque>
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

// Calls per driver entry point of an undisturbed run, as the simulated driver counts them.
std::vector<std::pair<std::string, unsigned>> calls_of(const SweptRun &swept, ToolSandbox &box) {
    box.environment = {"KVZUBR_SIM_CALLS=" + box.path("calls")};
    box.set_registers(kSeeded);
    const ToolRun run = box.run(swept.tool, swept.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(swept.succeeded({run, box}), "");
    std::vector<std::pair<std::string, unsigned>> calls;
    std::ifstream in(box.path("calls"));
    std::string entry;
    unsigned count = 0;
    while (in >> entry >> count) calls.emplace_back(entry, count);
    return calls;
}

// Every fault: each call of each entry point failing with status 4, and each read delivering
// nothing, each write taking one byte.
std::vector<std::string> faults_for(const std::vector<std::pair<std::string, unsigned>> &calls) {
    std::vector<std::string> faults;
    for (const auto &[entry, count] : calls) {
        for (unsigned nth = 1; nth <= count; ++nth) {
            const std::string position = entry + ":" + std::to_string(nth);
            faults.push_back(position + ":4");
            if (entry == "Read") faults.push_back(position + ":short=0");
            if (entry == "Write") faults.push_back(position + ":short=1");
        }
    }
    return faults;
}

struct Tally {
    unsigned right = 0, reported = 0;
    std::vector<std::string> wrong;
};

void judge(const SweptRun &swept, const std::string &fault, const ToolRun &run, ToolSandbox &box, Tally &tally) {
    std::string wrong;
    if (run.status == 0) {
        wrong = swept.succeeded({run, box});
        ++tally.right;
    } else if (run.status == 1) {
        wrong = run.err.empty() ? "exit 1 without a line on standard error" : swept.failed({run, box});
        ++tally.reported;
    } else {
        wrong = "exit status " + std::to_string(run.status);
    }
    if (!wrong.empty()) tally.wrong.push_back(fault + ": " + wrong);
}

class FaultSweep : public ::testing::TestWithParam<SweptRun> {};

TEST_P(FaultSweep, EveryFaultEndsRightOrReported) {
    const SweptRun &swept = GetParam();
    std::vector<ToolSandbox> boxes(kRunsAtOnce);
    const std::vector<std::string> faults = faults_for(calls_of(swept, boxes[0]));
    ASSERT_FALSE(faults.empty());

    Tally tally;
    std::deque<std::pair<std::size_t, pid_t>> running; // box, child
    std::vector<std::string> fault_of(kRunsAtOnce);
    auto finish_oldest = [&] {
        const auto [slot, child] = running.front();
        running.pop_front();
        judge(swept, fault_of[slot], boxes[slot].finish(child), boxes[slot], tally);
        return slot;
    };
    for (std::size_t next = 0; next < faults.size(); ++next) {
        const std::size_t slot = next < kRunsAtOnce ? next : finish_oldest();
        ToolSandbox &box = boxes[slot];
        std::remove(box.path("out.txt").c_str());
        std::remove(box.path("out.txt.info").c_str());
        box.set_registers(kSeeded);
        box.environment = {"KVZUBR_SIM_FAULTS=" + faults[next]};
        fault_of[slot] = faults[next];
        running.emplace_back(slot, box.start(swept.tool, swept.args));
    }
    while (!running.empty()) finish_oldest();

    std::cout << "[ sweep    ] " << swept.name << ": " << faults.size() << " fault positions, " << tally.right
              << " right with exit 0, " << tally.reported << " reported with exit 1\n";
    EXPECT_TRUE(tally.wrong.empty()) << tally.wrong.size() << " unsound outcomes, the first:\n"
                                     << tally.wrong.front();
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweep, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<SweptRun> &info) { return std::string(info.param.name); });

} // namespace
