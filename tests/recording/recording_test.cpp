// Programs recorded through the recording driver on the simulated bridge, then replayed with no
// bridge at all: the same output, files and exit status. A program that sends something else, or
// a damaged recording, is stopped with one line naming the call or the line of the file.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tool_process.h"

namespace {

const char kRecording[] = "session.jsonl";
const std::string kData(64, '\x5a');

struct Program {
    std::string tool;
    std::vector<std::string> args;
    std::vector<std::string> files;  // what it writes, compared after the replay
};

std::vector<std::string> recording_env(const std::string &file, const std::string &driver = KV_SIM_DRIVER) {
    return {std::string("VELTA_DRIVER=") + KV_RECORDER, "KVZUBR_RECORD_DRIVER=" + driver,
            "KVZUBR_RECORD=" + file};
}

// A board without bridges, so every answer has to come from the recording.
std::vector<std::string> replay_env(const ToolSandbox &box) {
    box.write_file("no-bridges.json", "{\"bridges\": []}");
    return {"KVZUBR_SIM_CONFIG=" + box.path("no-bridges.json"), "KVZUBR_SIM_REPLAY=" + box.path(kRecording)};
}

ToolRun record(ToolSandbox &box, const Program &p) {
    box.write_file("data.bin", kData);
    box.environment = recording_env(box.path(kRecording));
    ToolRun run = box.run(p.tool, p.args);
    box.environment.clear();
    return run;
}

ToolRun replay(ToolSandbox &box, const Program &p) {
    box.environment = replay_env(box);
    ToolRun run = box.run(p.tool, p.args);
    box.environment.clear();
    return run;
}

const Program kTqread{"tqread", {"-s100", "-f", "out.txt"}, {"out.txt", "out.txt.info"}};
const Program kEepromWrite{"velta", {"eeprom", "write", "-y", "--size", "32768", "2", "0x50", "data.bin"}, {}};
const Program kEepromRead{
    "velta", {"eeprom", "read", "--size", "32768", "2", "0x50", "back.bin"}, {"back.bin"}};

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The replay's own lines on standard error (the program adds its own about the failure).
std::vector<std::string> replay_lines(const std::string &err) {
    std::vector<std::string> ours;
    for (const std::string &line : lines_of(err))
        if (line.rfind("kvzubr-sim: replay ", 0) == 0) ours.push_back(line);
    return ours;
}

TEST(Recording, RecordedSessionsReplayWithNoBridge) {
    for (const Program &p : {kTqread, kEepromWrite, kEepromRead}) {
        SCOPED_TRACE(p.tool + " " + p.args[0]);
        ToolSandbox box;
        box.write_file("data.bin", kData);
        ASSERT_EQ(0, box.run(kEepromWrite.tool, kEepromWrite.args).status);  // something to read back
        const ToolRun live = record(box, p);
        ASSERT_EQ(0, live.status) << live.err;
        std::vector<std::string> written;
        for (const std::string &file : p.files) {
            written.push_back(box.read_file(file));
            std::remove(box.path(file).c_str());
        }
        const ToolRun again = replay(box, p);
        EXPECT_EQ(live.status, again.status);
        EXPECT_EQ(live.out, again.out);
        EXPECT_EQ(live.err, again.err);
        for (std::size_t i = 0; i < p.files.size(); ++i)
            EXPECT_EQ(written[i], box.read_file(p.files[i])) << p.files[i];
    }
}

// The examples' recording, made once with examples/recordings/record.sh, still replays: what
// tqread sends has not changed, and recordings of this format version stay readable.
TEST(Recording, TheExamplesRecordingStillReplays) {
    const std::string dir = std::string(KV_SOURCE_DIR) + "/examples/recordings/";
    ToolSandbox box;
    box.write_file(kRecording, slurp(dir + "tqread-s10.jsonl"));
    const ToolRun again = replay(box, {"tqread", {"-s10"}, {}});
    EXPECT_EQ(0, again.status) << again.err;
    EXPECT_EQ(slurp(dir + "tqread-s10.txt"), again.out);
    EXPECT_EQ("", again.err);
}

TEST(Recording, ReadBackSessionServesTheDeviceData) {
    ToolSandbox box;
    box.write_file("data.bin", kData);
    ASSERT_EQ(0, box.run(kEepromWrite.tool, kEepromWrite.args).status);
    ASSERT_EQ(0, record(box, kEepromRead).status);
    ASSERT_EQ(0, replay(box, kEepromRead).status);
    EXPECT_EQ(kData, box.read_file("back.bin").substr(0, kData.size()));
}

TEST(Recording, ChangedProgramFailsAtTheChangedCall) {
    const struct {
        Program recorded, replayed;
        std::string data;  // data.bin at the replay
    } cases[] = {
        {kTqread, {"tqread", {"-s101", "-f", "out.txt"}, {}}, kData},
        {kEepromWrite, kEepromWrite, std::string(kData).replace(5, 1, "\x5b")},
    };
    const std::regex line(
        "^kvzubr-sim: replay .*session\\.jsonl: call ([0-9]+): KV_Write data byte [0-9]+: "
        "expected 0x[0-9a-f]{2}, got 0x[0-9a-f]{2} \\(line ([0-9]+)\\)$");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.replayed.tool + " " + c.replayed.args[0]);
        ToolSandbox box;
        ASSERT_EQ(0, record(box, c.recorded).status);
        box.write_file("data.bin", c.data);
        const ToolRun again = replay(box, c.replayed);
        EXPECT_NE(0, again.status);
        const std::vector<std::string> ours = replay_lines(again.err);
        ASSERT_EQ(1u, ours.size()) << again.err;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(ours[0], m, line)) << ours[0];
        EXPECT_EQ(std::stoul(m[1]) + 1, std::stoul(m[2])) << "the header is line 1, call N is line N + 1";
    }
}

TEST(Recording, DamagedRecordingIsRefusedWithItsLine) {
    ToolSandbox box;
    ASSERT_EQ(0, record(box, kTqread).status);
    const std::vector<std::string> lines = lines_of(box.read_file(kRecording));
    ASSERT_GT(lines.size(), 12u);
    auto joined = [&](std::size_t count, const std::string &tail) {
        std::string text;
        for (std::size_t i = 0; i < count; ++i) text += lines[i] + "\n";
        return text + tail;
    };
    auto changed = [&](std::size_t index, const std::string &from, const std::string &to) {
        std::vector<std::string> copy = lines;
        copy[index].replace(copy[index].find(from), from.size(), to);
        std::string text;
        for (const std::string &l : copy) text += l + "\n";
        return text;
    };
    auto first = [&](const char *text) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.find(text) != l.npos; }) -
               lines.begin();
    };
    const std::size_t write = first("\"KV_Write\""), read = first("\"data\":\"fa");  // an echo read back
    ASSERT_LT(read, lines.size());
    const std::string read_line = "line " + std::to_string(read + 1) + ": ";
    const std::string read_result = lines[read].substr(lines[read].find(",\"result\""));
    const struct {
        std::string text, expected;
    } cases[] = {
        {joined(9, lines[9].substr(0, lines[9].size() / 2)), "line 10: the line stops before its end"},
        {joined(lines.size() - 1, ""),
         "line " + std::to_string(lines.size()) + ": the recording stops without"},
        {changed(4, "\"status\":0", "\"status\":\"0\""), "line 5: \"status\": expected a whole number"},
        {changed(0, "\"version\":1", "\"version\":2"), "line 1: format version 2 is not read here"},
        {changed(write, "\"data\":\"", "\"data\":\"g"), "line " + std::to_string(write + 1) + ": "},
        {changed(6, "\"n\":6", "\"n\":7"), "line 7: \"n\": expected call number 6"},
        {changed(8, lines[8], "{\"n\":8,"), "line 9: not JSON at character 8: syntax error"},
        // A read served without its bytes would hand the program whatever its buffer held.
        {changed(read, read_result, "}"), read_line + "\"result\" is missing"},
        {changed(read, "\"data\":\"fa", "\"data\":\""), read_line + "\"data\": expected the "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        box.write_file(kRecording, c.text);
        const ToolRun again = replay(box, kTqread);
        EXPECT_NE(0, again.status);
        const std::vector<std::string> ours = replay_lines(again.err);
        ASSERT_EQ(1u, ours.size()) << again.err;
        EXPECT_NE(std::string::npos, ours[0].find("session.jsonl: " + c.expected)) << ours[0];
    }
}

TEST(Recording, RecordingThatCannotBeWrittenStopsTheProgram) {
    ToolSandbox box;
    const struct {
        std::vector<std::string> env;
        std::string expected;
    } cases[] = {
        {recording_env("/nonexistent/session.jsonl"),
         "kvzubr-rec: cannot write the recording /nonexistent/session.jsonl: No such file or directory;"},
        {recording_env("/dev/full"),
         "kvzubr-rec: cannot write the recording /dev/full: No space left on device;"},
        {recording_env(box.path(kRecording), KV_RECORDER),
         "kvzubr-rec: KVZUBR_RECORD_DRIVER names the recording driver itself"},
        {recording_env(box.path(kRecording), "/nonexistent/libkvzubr.so"),
         "kvzubr-rec: cannot load the driver to record"},
        {{std::string("VELTA_DRIVER=") + KV_RECORDER}, "kvzubr-rec: KVZUBR_RECORD is not set"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        box.environment = c.env;
        const ToolRun run = box.run(kTqread.tool, kTqread.args);
        EXPECT_EQ(1, run.status);
        EXPECT_EQ("", run.out);
        ASSERT_EQ(1u, lines_of(run.err).size()) << run.err;
        EXPECT_EQ(0u, run.err.find(c.expected)) << run.err;
    }
}

}  // namespace
