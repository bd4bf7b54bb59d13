// A recorded session replayed with KVZUBR_SIM_TRACE set writes the trace a simulated run writes:
// the same lines driven by the engine, the recorded answers on the data-in line where the
// engine samples it, and the recording's timeline when the wall clock is on.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "sigrok.h"
#include "tool_process.h"

namespace {

struct Program {
    std::string tool;
    std::vector<std::string> args;
    std::string clock, data_in;            // the signals a decoder samples
    std::set<std::string> answer_lines;    // the lines devices drive too
    std::string decoder;                   // sigrok-cli's decoder and annotations
};

const Program kPrograms[] = {
    {"tqread", {"-s10"}, "SCK", "MISO", {"MISO"}, "spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS3 -A spi=mosi-data:miso-data"},
    {"velta", {"eeprom", "write", "-y", "--size", "256", "--addr-bytes", "2", "2", "0x50", "data.bin"}, "SCL",
     "SDA_IN", {"SDA", "SDA_IN"}, "i2c:scl=SCL:sda=SDA -A i2c"},
    {"velta", {"eeprom", "read", "--size", "256", "--addr-bytes", "2", "2", "0x50", "back.bin"}, "SCL", "SDA_IN",
     {"SDA", "SDA_IN"}, "i2c:scl=SCL:sda=SDA -A i2c"},
};

const char kData[] = "replayed answers \x01\x80\xff\x00 on the data-in line";

struct Change {
    std::uint64_t time;
    std::string signal;
    char value;
};

// The changes of a Value Change Dump in file order, each with its signal's name.
std::vector<Change> changes_of(const std::string &vcd) {
    std::istringstream in(vcd);
    std::map<std::string, std::string> names;
    std::vector<Change> changes;
    std::uint64_t time = 0;
    const std::regex var(R"(\$var wire 1 (\S+) (\S+) \$end)");
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (std::regex_match(line, m, var)) names[m[1]] = m[2];
        else if (!line.empty() && line[0] == '#') time = std::stoull(line.substr(1));
        else if (line.size() >= 2 && std::string("01z").find(line[0]) != std::string::npos)
            changes.push_back({time, names.at(line.substr(1)), line[0]});
    }
    return changes;
}

// The engine's lines change by change (with their times when `timed`).
std::vector<std::string> driven(const std::vector<Change> &changes, const Program &p, bool timed) {
    std::vector<std::string> out;
    for (const Change &c : changes)
        if (!p.answer_lines.count(c.signal))
            out.push_back((timed ? std::to_string(c.time) + " " : "") + c.signal + "=" + c.value);
    return out;
}

// The data-in line where a rising clock edge samples it.
std::string sampled(const std::vector<Change> &changes, const Program &p) {
    std::string bits;
    char data = '0';
    for (const Change &c : changes) {
        if (c.signal == p.data_in) data = c.value;
        if (c.signal == p.clock && c.value == '1') bits += data;
    }
    return bits;
}

// The recorded time of the last call to an entry point.
std::uint64_t recorded_us(const std::string &recording, const std::string &call) {
    const std::regex line("\"t_us\":([0-9]+),\"call\":\"" + call + "\"");
    std::uint64_t found = 0;
    for (std::sregex_iterator it(recording.begin(), recording.end(), line), end; it != end; ++it)
        found = std::stoull((*it)[1]);
    return found;
}

std::string default_board(bool wall_clock) {
    std::ifstream in(std::string(KV_SOURCE_DIR) + "/simulator/boards/default.json");
    std::stringstream text;
    text << in.rdbuf();
    return std::regex_replace(text.str(), std::regex("\"wall_clock\": true"),
                              std::string("\"wall_clock\": ") + (wall_clock ? "true" : "false"));
}

struct Session {
    ToolRun live, replayed;
    std::string live_vcd, replay_vcd, recording;
};

// Records the program with a trace, then replays the recording with one.
Session record_and_replay(ToolSandbox &box, const Program &recorded, const Program &replayed) {
    Session s;
    box.environment = {std::string("VELTA_DRIVER=") + KV_RECORDER, std::string("KVZUBR_RECORD_DRIVER=") + KV_SIM_DRIVER,
                       "KVZUBR_RECORD=" + box.path("session.jsonl"), "KVZUBR_SIM_TRACE=" + box.path("live.vcd")};
    s.live = box.run(recorded.tool, recorded.args);
    box.environment = {"KVZUBR_SIM_REPLAY=" + box.path("session.jsonl"), "KVZUBR_SIM_TRACE=" + box.path("replay.vcd")};
    s.replayed = box.run(replayed.tool, replayed.args);
    box.environment.clear();
    s.live_vcd = box.read_file("live.vcd");
    s.replay_vcd = box.read_file("replay.vcd");
    s.recording = box.read_file("session.jsonl");
    return s;
}

std::string decoded(const ToolSandbox &box, const std::string &vcd, const Program &p) {
    return command_output("sigrok-cli -i '" + box.path(vcd) + "' -P " + p.decoder + " 2>&1");
}

TEST(ReplayTrace, ReplayTracesAsTheLiveRunDid) {
    const bool decodes = sigrok_decodes({"spi", "i2c"});
    for (const Program &p : kPrograms) {
        for (const bool wall_clock : {false, true}) {
            SCOPED_TRACE(p.tool + " " + p.args[0] + (p.args.size() > 1 ? " " + p.args[1] : "") +
                         (wall_clock ? ", wall clock" : ""));
            ToolSandbox box;
            box.use_board(default_board(wall_clock));
            box.write_file("data.bin", std::string(kData, sizeof kData - 1));
            ASSERT_EQ(0, box.run("velta", kPrograms[1].args).status);  // something to read back
            const Session s = record_and_replay(box, p, p);
            ASSERT_EQ(0, s.live.status) << s.live.err;
            ASSERT_EQ(0, s.replayed.status) << s.replayed.err;
            ASSERT_EQ(s.live_vcd.substr(0, s.live_vcd.find("\n#")), s.replay_vcd.substr(0, s.replay_vcd.find("\n#")));
            const std::vector<Change> live = changes_of(s.live_vcd), replay = changes_of(s.replay_vcd);
            EXPECT_EQ(driven(live, p, !wall_clock), driven(replay, p, !wall_clock));
            const std::string bits = sampled(replay, p);
            EXPECT_EQ(sampled(live, p), bits);
            EXPECT_NE(std::string::npos, bits.find('1'));
            EXPECT_NE(std::string::npos, bits.find('0'));
            if (p.tool == "tqread" && !wall_clock) {
                EXPECT_EQ(s.live_vcd, s.replay_vcd) << "SPI traces are the same file";
            }
            if (wall_clock) {
                // Time on the wires since the channel last opened covers the recorded session.
                const std::uint64_t span_us =
                    recorded_us(s.recording, "KV_Write") - recorded_us(s.recording, "KV_Open");
                const std::uint64_t end = std::stoull(s.replay_vcd.substr(s.replay_vcd.rfind("\n#") + 2));
                EXPECT_GE(end, span_us * 100) << "10 ns units";
            }
            if (decodes) {
                const std::string decoded_live = decoded(box, "live.vcd", p);
                EXPECT_NE(std::string::npos, decoded_live.find(p.tool == "tqread" ? "spi-1:" : "i2c-1: Address write"));
                EXPECT_EQ(decoded_live, decoded(box, "replay.vcd", p));
            }
        }
    }
}

// The trace of a replay that diverges is the live trace up to the last call that matched,
// ended cleanly. A board without the recorded channel names the pins by number.
TEST(ReplayTrace, DivergedReplayEndsItsTraceAtTheLastMatchingCall) {
    ToolSandbox box;
    box.use_board(default_board(false));
    const Program &tqread = kPrograms[0];
    Program other = tqread;
    other.args = {"-s11"};
    const Session s = record_and_replay(box, tqread, other);
    ASSERT_EQ(0, s.live.status) << s.live.err;
    EXPECT_NE(0, s.replayed.status);
    ASSERT_GT(s.replay_vcd.size(), s.live_vcd.size() / 4);
    ASSERT_LT(s.replay_vcd.size(), s.live_vcd.size());
    const std::size_t ending = s.replay_vcd.rfind("\n#");
    EXPECT_EQ(s.live_vcd.substr(0, ending), s.replay_vcd.substr(0, ending));
    EXPECT_EQ(s.replay_vcd.back(), '\n');

    box.use_board(R"({"bridges": []})");
    box.environment = {"KVZUBR_SIM_REPLAY=" + box.path("session.jsonl"), "KVZUBR_SIM_TRACE=" + box.path("bare.vcd")};
    ASSERT_EQ(0, box.run(tqread.tool, tqread.args).status);
    const std::string bare = box.read_file("bare.vcd");
    for (const char *name : {" pin0 $end", " pin2 $end", " pin7 $end"}) EXPECT_NE(std::string::npos, bare.find(name));
    EXPECT_EQ(sampled(changes_of(s.live_vcd), tqread), sampled(changes_of(bare), {"", {}, "pin0", "pin2", {}, ""}));
}

}  // namespace
