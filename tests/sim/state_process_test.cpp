// The state file between processes: a device's state written by one process is what the next
// one finds, concurrent writers merge what they changed, and a broken file or entry gives
// factory state with one warning and is never replaced. Also the trace named by the environment.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "sim_support.h"

namespace {

namespace fs = std::filesystem;

const char kMemoryBridge[] = R"({"wall_clock": false, "bridges": [{"type": 8, "serial": "%s", "channels": [
  {"bus": "spi", "devices": [{"kind": "spi-memory", "name": "mem", "cs": 3, "size": %u}]}]}]})";

std::string slurp(const fs::path &path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

const std::string kStateMagic = "kvzubr-sim state 2 ";

// A state file in the current form: the first line with the JSON text's length, the text, then
// the bytes of its {"$binary": length} values in the order the text gives them.
std::string state_file(const std::string &json, const std::string &binary) {
    return kStateMagic + std::to_string(json.size()) + "\n" + json + binary;
}

void fill_binaries(nlohmann::json &value, const std::string &text, size_t &at) {
    if (value.is_object() && value.size() == 1 && value.contains("$binary")) {
        const size_t length = value["$binary"];
        const size_t n = std::min(length, text.size() - std::min(at, text.size()));
        value = nlohmann::json::binary(std::vector<uint8_t>(text.begin() + at, text.begin() + at + n));
        at += length;
    } else if (value.is_structured()) {
        for (auto &member : value) fill_binaries(member, text, at);
    }
}

// The document a state file holds, binary values in place; discarded if it is not whole.
nlohmann::json read_state(const std::string &text) {
    if (text.compare(0, kStateMagic.size(), kStateMagic) != 0) return nlohmann::json::parse(text, nullptr, false);
    const size_t line = text.find('\n');
    const size_t length = std::stoul(text.substr(kStateMagic.size()));
    nlohmann::json state = nlohmann::json::parse(text.substr(line + 1, length), nullptr, false);
    size_t at = line + 1 + length;
    fill_binaries(state, text, at);
    return at == text.size() ? state : nlohmann::json(nlohmann::json::value_t::discarded);
}

// A memory's bytes from its stored image: the ranges' data, 0xFF between them.
std::string memory_image(const nlohmann::json &image) {
    if (!image.is_object() || !image.contains("data")) return "";
    std::string bytes(image.value("size", size_t{0}), '\xff');
    const auto &data = image["data"].get_binary();
    size_t from = 0;
    for (const auto &range : image["ranges"]) {
        const size_t at = range[0], length = range[1];
        std::copy(data.begin() + from, data.begin() + from + length, bytes.begin() + at);
        from += length;
    }
    return bytes;
}

struct Outcome {
    std::string out, err;
    int status = -1;
};

// A temporary directory with a configuration, a state path, and the helper process.
class StateProcess : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kvsim_state_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        state_ = dir_ / "state.json";
        writeConfig("config.json", "KVST0001", 256);
        config_ = dir_ / "config.json";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeConfig(const char *name, const char *serial, unsigned size) {
        std::vector<char> text(sizeof kMemoryBridge + 64);
        std::snprintf(text.data(), text.size(), kMemoryBridge, serial, size);
        std::ofstream(dir_ / name) << text.data();
    }
    std::string command(const std::string &args) const {
        return "env KVZUBR_SIM_CONFIG=" + config_.string() + " KVZUBR_SIM_STATE=" + state_.string() +
               " KVZUBR_SIM_TRACE=" + trace_ + " " + KV_BIN_DIR + "/sim_state_helper " + args;
    }
    Outcome run(const std::string &args) const {
        const fs::path err = dir_ / "stderr.txt";
        Outcome result;
        FILE *pipe = popen((command(args) + " 2>" + err.string()).c_str(), "r");
        if (!pipe) return result;
        char buffer[512];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, got);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = slurp(err);
        return result;
    }
    std::string dump(size_t count) const {
        Outcome result = run("dump " + std::to_string(count));
        EXPECT_EQ(result.status, 0) << result.err;
        return result.out;
    }
    // A shell command line started in the background; -1 if it could not be.
    static pid_t spawn(const std::string &line) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        return pid;
    }
    static int lines(const std::string &text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

    fs::path dir_, state_, config_;
    std::string trace_;
};

TEST_F(StateProcess, ProgrammedMemoryIsWhatTheNextProcessFinds) {
    for (const char *finish : {"close", "unload"}) {
        fs::remove(state_);
        ASSERT_EQ(run(std::string("program a55a0102 ") + finish).status, 0) << finish;
        EXPECT_EQ(dump(5), "a55a0102ff\n") << finish;
    }
    fs::remove(state_);
    ASSERT_EQ(run("program a55a0102 abandon").status, 0);  // no close, no unload: nothing is kept
    EXPECT_FALSE(fs::exists(state_));
    EXPECT_EQ(dump(4), "ffffffff\n");
}

TEST_F(StateProcess, LastWriterWinsAndStateOfOtherBridgesIsKept) {
    ASSERT_EQ(run("program 11 close").status, 0);
    ASSERT_EQ(run("program 22 close").status, 0);
    const fs::path first = config_;
    writeConfig("other.json", "KVST0002", 256);
    config_ = dir_ / "other.json";
    ASSERT_EQ(run("program 33 close").status, 0);
    EXPECT_EQ(dump(1), "33\n");
    config_ = first;
    EXPECT_EQ(dump(1), "22\n");
}

// A process that only loaded the state does not write back, when it ends, what it loaded over
// what another process saved meanwhile.
TEST_F(StateProcess, UnchangedStateIsNotWrittenBack) {
    ASSERT_EQ(run("program 11 close").status, 0);
    const fs::path marker = dir_ / "loaded", release = dir_ / "release";
    FILE *holder = popen((command("hold " + marker.string() + " " + release.string())).c_str(), "r");
    ASSERT_NE(holder, nullptr);
    for (int polls = 0; !fs::exists(marker) && polls < 60000; ++polls) usleep(1000);
    ASSERT_TRUE(fs::exists(marker));
    ASSERT_EQ(run("program 22 close").status, 0);
    std::ofstream(release).put('\n');
    EXPECT_EQ(pclose(holder), 0);
    EXPECT_EQ(dump(1), "22\n");
}

// A file that cannot be read or parsed is never replaced: one warning, factory state, no save.
TEST_F(StateProcess, BrokenStateFileIsNeverReplaced) {
    ASSERT_EQ(run("program a5a5 close").status, 0);
    const std::string good = slurp(state_);
    const std::string torn = good.substr(0, good.size() / 2);
    std::ofstream(state_) << torn;
    for (const char *args : {"dump 2", "program 77 close"}) {
        Outcome result = run(args);
        EXPECT_EQ(result.status, 0) << args;
        EXPECT_EQ(lines(result.err), 1) << args << ": " << result.err;
        EXPECT_NE(result.err.find(state_.string()), std::string::npos) << result.err;
        EXPECT_EQ(slurp(state_), torn) << args;
    }
    EXPECT_EQ(run("dump 2").out, "ffff\n");

    fs::remove(state_);
    fs::create_directory(state_);  // there, but no file to read
    Outcome result = run("program 77 close");
    EXPECT_EQ(lines(result.err), 1) << result.err;
    EXPECT_TRUE(fs::is_directory(state_));
}

// An entry of the wrong shape warns once, leaves the device in factory state and is kept as it is.
TEST_F(StateProcess, WrongShapedEntryWarnsAndIsKept) {
    const auto older = [](const std::string &entry) { return R"({"KVST0001": {"1": {"mem": )" + entry + "}}}"; };
    const auto image = [&older](const std::string &memory, const std::string &bytes) {
        return state_file(older(R"({"memory": )" + memory + "}"), bytes);
    };
    const std::string good = std::string(512, 'f');
    for (const std::string &file :
         {older(R"("text")"), older(R"({"memory": 300})"), older(R"({"memory": ")" + good.substr(2) + R"("})"),
          older(R"({"memory": ")" + good.substr(2) + R"(zz"})"), older("{}"),
          image(R"({"size": 256, "ranges": [[0, 2], [1, 2]], "data": {"$binary": 4}})", "abcd"),
          image(R"({"size": 256, "ranges": [[255, 2]], "data": {"$binary": 2}})", "ab"),
          image(R"({"size": 512, "ranges": [], "data": {"$binary": 0}})", ""),
          image(R"({"size": 256, "ranges": [[0, 2]], "data": {"$binary": 1}})", "a")}) {
        std::ofstream(state_, std::ios::trunc) << file;
        Outcome result = run("program 42 close");
        EXPECT_EQ(lines(result.err), 1) << file << ": " << result.err;
        EXPECT_NE(result.err.find("KVST0001/1/mem"), std::string::npos) << result.err;
        EXPECT_EQ(slurp(state_), file);
        EXPECT_EQ(run("dump 1").out, "ff\n") << file;
    }
}

// A file in the older all-text form is read, and the first process to load it rewrites it in the
// current form, keeping what it holds for other bridges.
TEST_F(StateProcess, OlderFormIsReadAndRewrittenOnce) {
    const std::string memory = "a55a" + std::string(508, 'f');
    std::ofstream(state_) << R"({"KVST0001": {"1": {"mem": {"status": [0], "memory": ")" + memory +
                                 R"("}}}, "OTHER": {"1": {"x": {"memory": "00"}}}})";
    EXPECT_EQ(dump(3), "a55aff\n");
    const std::string rewritten = slurp(state_);
    const nlohmann::json state = read_state(rewritten);
    ASSERT_EQ(rewritten.compare(0, kStateMagic.size(), kStateMagic), 0) << rewritten;
    EXPECT_EQ(memory_image(state["KVST0001"]["1"]["mem"]["memory"]), "\xa5\x5a" + std::string(254, '\xff'));
    EXPECT_EQ(state["OTHER"]["1"]["x"]["memory"], "00");
    EXPECT_EQ(dump(3), "a55aff\n");
    EXPECT_EQ(slurp(state_), rewritten);  // a reader of the current form writes nothing
    ASSERT_EQ(run("program 11 close").status, 0);
    EXPECT_EQ(dump(3), "115aff\n");
}

// An image's ranges are read wherever they start, not only on the page boundaries saves use.
TEST_F(StateProcess, ImageRangesAnywhereInTheMemoryLoad) {
    std::ofstream(state_) << state_file(
        R"({"KVST0001": {"1": {"mem": {"status": [0], "memory": {"size": 256, "ranges": [[1, 2], [255, 1]],
           "data": {"$binary": 3}}}}}})",
        "\x01\x02\x03");
    EXPECT_EQ(dump(256), "ff0102" + std::string(2 * 252, 'f') + "03\n");
}

// Ten processes write one Torqa register each at the same moment, round after round; one of
// them programs a one-time-programmable bit of register 9. Nothing written is lost, no bit of
// register 9 is undone, and the file always parses. KV_STATE_ROUNDS sets the number of rounds.
TEST_F(StateProcess, ConcurrentWritersOfDifferentRegistersLoseNothing) {
    const char *set_rounds = std::getenv("KV_STATE_ROUNDS");
    const int rounds = set_rounds ? std::atoi(set_rounds) : 5;
    const std::string tool = std::string(KV_BIN_DIR) + "/tqreg";
    int lost = 0, corrupt = 0;
    unsigned otp = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::vector<pid_t> writers;
        const unsigned bit = 1u << (round % 8);
        otp |= bit;
        for (int reg = 0; reg <= 9; ++reg) {
            const std::string value = std::to_string(reg == 9 ? bit : (round * 16 + reg) & 0xFF);
            const std::string line = "env KVZUBR_SIM_CONFIG= KVZUBR_SIM_STATE=" + state_.string() + " " + tool +
                                     (reg == 9 ? " -! -k=0x7A3C" : "") + " -w " + std::to_string(reg) + "=" + value +
                                     " >/dev/null";
            writers.push_back(spawn(line));
            ASSERT_GT(writers.back(), 0);
        }
        for (pid_t pid : writers) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const nlohmann::json state = read_state(slurp(state_));
        const nlohmann::json::json_pointer at("/KV8S0001/1/torqa/registers");
        if (state.is_discarded() || !state.contains(at) || state[at].size() != 10) {
            ++corrupt;
            continue;
        }
        for (int reg = 0; reg < 9; ++reg) lost += state[at][reg] != ((round * 16 + reg) & 0xFF);
        lost += state[at][9] != otp;
    }
    EXPECT_EQ(lost, 0) << "of " << rounds * 10 << " updates";
    EXPECT_EQ(corrupt, 0);
    std::printf("%d rounds of 10 writers: %d of %d updates lost, %d corrupt files\n", rounds, lost, rounds * 10,
                corrupt);
}

// Writers racing on one state file: whenever the file is read, it is one writer's whole file.
TEST_F(StateProcess, ConcurrentWritersReplaceTheFileWhole) {
    writeConfig("config.json", "KVST0001", 1u << 16);
    ASSERT_EQ(run("hammer 0xF0 1").status, 0);
    std::vector<pid_t> writers;
    for (const char *byte : {"0x10", "0x50", "0x90"}) {
        const std::string line = command(std::string("hammer ") + byte + " 10");
        writers.push_back(spawn(line));
        ASSERT_GT(writers.back(), 0);
    }
    // One writer's file holds the memory filled with one byte.
    auto uniformMemory = [](const std::string &text) {
        nlohmann::json state = read_state(text);
        const nlohmann::json::json_pointer at("/KVST0001/1/mem/memory");
        if (state.is_discarded() || !state.contains(at)) return false;
        const std::string memory = memory_image(state[at]);
        return memory.size() == 1u << 16 && memory.find_first_not_of(memory[0]) == std::string::npos;
    };
    int reads = 0, running = static_cast<int>(writers.size());
    bool failed = false;
    while (running > 0) {
        for (pid_t &pid : writers) {
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                pid = 0;
                --running;
            }
        }
        ++reads;
        if (!uniformMemory(slurp(state_))) failed = true;
    }
    EXPECT_FALSE(failed) << "a torn or mixed state file was seen in " << reads << " reads";
    EXPECT_TRUE(uniformMemory(slurp(state_)));
    for (const auto &entry : fs::directory_iterator(dir_))
        EXPECT_TRUE(entry.path().filename().string().find("state.json.tmp") == std::string::npos) << entry.path();
}

TEST_F(StateProcess, TraceNamedByTheEnvironmentCoversEveryChannelOpened) {
    std::ofstream(config_) << R"({"wall_clock": false, "bridges": [{"type": 6, "serial": "KVTR0001",
      "channels": [{"bus": "spi", "devices": []}, {"bus": "none"}]}]})";
    const fs::path trace = dir_ / "pins.vcd";
    trace_ = trace.string();
    ASSERT_EQ(run("trace").status, 0);
    const std::string first = slurp(trace), second = slurp(trace.string() + ".1");
    EXPECT_NE(first.find("$var wire 1 ! SCK $end"), std::string::npos) << first;
    EXPECT_NE(first.find("$var wire 1 \" MOSI $end"), std::string::npos);
    EXPECT_NE(second.find("$var wire 1 ! pin0 $end"), std::string::npos) << second;
    for (const std::string &vcd : {first, second}) {
        const std::string body = vcd.substr(vcd.find("$dumpvars"));
        EXPECT_EQ(std::count(body.begin(), body.end(), '!'), 1 + 16) << vcd;  // initial value, 8 rises, 8 falls
    }
}

// A decoder nobody here wrote reads the trace as the SPI frames the memory received.
TEST_F(StateProcess, TraceDecodesAsTheSpiFramesSent) {
    if (std::system("sigrok-cli --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sigrok-cli installed";
    const fs::path trace = dir_ / "spi.vcd";
    trace_ = trace.string();
    ASSERT_EQ(run("program a55a close").status, 0);
    FILE *pipe = popen(("sigrok-cli -i " + trace.string() + " -P spi:clk=SCK:mosi=MOSI:cs=CS3 -A spi=mosi-data 2>&1")
                           .c_str(),
                       "r");
    ASSERT_NE(pipe, nullptr);
    std::string bytes;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of(" \n") + 1);
        bytes += text.substr(text.find_last_of(' ') + 1) + " ";
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(bytes, "06 02 00 00 A5 5A ");  // write enable; page program at 0 with two bytes
}

}  // namespace

namespace {

// A trace of `tqread -s1000` on the default board, wall clock on, decodes with the command
// docs/simulator.md gives: the thousand three-byte samples come out as MISO data.
TEST_F(StateProcess, DefaultBoardTraceOfAToolDecodesWithTheDocumentedCommand) {
    if (std::system("sigrok-cli --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sigrok-cli installed";
    const fs::path trace = dir_ / "trace.vcd";
    const std::string tool = "env KVZUBR_SIM_CONFIG= KVZUBR_SIM_STATE= KVZUBR_SIM_TRACE=" + trace.string() + " " +
                             KV_BIN_DIR + "/tqread -s1000 >/dev/null";
    ASSERT_EQ(std::system(tool.c_str()), 0);
    FILE *pipe = popen(("sigrok-cli -i " + trace.string() +
                        " -P spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS3 -A spi=miso-data 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    int bytes = 0;
    char line[256];
    while (std::fgets(line, sizeof line, pipe))
        if (std::string(line).rfind("spi-1: ", 0) == 0) ++bytes;
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_GE(bytes, 3000);
}

}  // namespace
