// tqread as a process: sample counts, the pieces read on the wire, formats, files and refusals.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tool_process.h"
#include "tq_api.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

std::size_t line_count(const std::string &text) {
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

// Whether a child of this process is held to an address-space limit. An emulator that runs a
// program of another architecture keeps such a limit for itself, and then nothing fails.
bool address_space_limit_holds(std::size_t limit) {
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit held{limit, limit};
        if (::setrlimit(RLIMIT_AS, &held) != 0) _exit(2);
        void *volatile block = std::malloc(limit);
        _exit(block == nullptr ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class Tqread : public ::testing::Test {
protected:
    ToolRun run(const std::vector<std::string> &args, bool trace = false) { return box.run("tqread", args, trace); }
    // Sizes of the stream frames (all bytes sent 0x00) of the last traced run.
    std::vector<std::size_t> stream_frames() {
        std::vector<std::size_t> sizes;
        for (const WireFrame &f : box.wire_frames()) {
            bool stream = !f.mosi.empty();
            for (std::uint8_t b : f.mosi) stream = stream && b == 0;
            if (stream) sizes.push_back(f.mosi.size());
        }
        return sizes;
    }
    // The printed burst is what the library makes of the samples it shows, and they are real.
    void expect_burst(const std::string &printed, std::size_t count, int format, int radix) {
        const std::vector<std::uint8_t> samples = parse_samples(printed, format, radix);
        EXPECT_EQ(samples.size(), 3 * count);
        EXPECT_TRUE(burst_is_continuous(samples));
        EXPECT_EQ(printed, print_data(samples, format, radix));
    }
    ToolSandbox box;
};

TEST_F(Tqread, WithoutArgumentsPrints25SamplesAsHexText) {
    const ToolRun read = run({}, true);
    expect_burst(read.out, 25, TQ_FORMAT_TEXT, TQ_RADIX_HEX);
    EXPECT_EQ(read.err, "");
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(stream_frames(), std::vector<std::size_t>{75});
}

TEST_F(Tqread, FullPiecesGoFirstAndTheLastPieceHoldsTheRest) {
    const std::pair<const char *, std::vector<std::size_t>> cases[] = {
        {"-s2500", {7500}}, {"-s2501", {7500, 3}}, {"-s5000", {7500, 7500}}, {"-s5001", {7500, 7500, 3}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        const ToolRun read = run({c.first, "-op", "-xh"}, true);
        expect_burst(read.out, static_cast<std::size_t>(std::stoi(c.first + 2)), TQ_FORMAT_PLAIN, TQ_RADIX_HEX);
        EXPECT_EQ(stream_frames(), c.second);
    }
}

TEST_F(Tqread, SamplingTimeGivesTheSampleCount) {
    const std::pair<std::vector<std::string>, std::size_t> cases[] = {
        {{"-t1ms"}, 500},        {{"-t3us"}, 2},         {{"-t4us"}, 2},         {{"-t1us"}, 1},
        {{"-t10"}, 10},          {{"-t10ns"}, 10},       {{"-t10US"}, 10},       {{"-t-1us"}, 0},
        {{"-s7", "-t1ms"}, 500}, {{"-t1ms", "-s7"}, 7},  {{"-s 12abc"}, 12},     {{"-s"}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first.front());
        std::vector<std::string> args = c.first;
        args.insert(args.end(), {"-op", "-xd"});
        const ToolRun read = run(args);
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(line_count(read.out), c.second);
        expect_burst(read.out, c.second, TQ_FORMAT_PLAIN, TQ_RADIX_DEC);
    }
    EXPECT_EQ(line_count(run({"-t2s", "-op", "-xh"}).out), 1000000u);
}

TEST_F(Tqread, FormatCodesFromWordsAttachedTextAndLongNames) {
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"-o", "csv"}, TQ_FORMAT_CSV},    {{"-oc"}, TQ_FORMAT_CSV},          {{"--output-csv"}, TQ_FORMAT_CSV},
        {{"-op"}, TQ_FORMAT_PLAIN},        {{"-o", "plain"}, TQ_FORMAT_PLAIN}, {{"--output-plain"}, TQ_FORMAT_PLAIN},
        {{"-ot"}, TQ_FORMAT_TEXT},         {{"--output-text"}, TQ_FORMAT_TEXT}, {{"-o", "text"}, TQ_FORMAT_TEXT},
        {{"-ocsv"}, TQ_FORMAT_TEXT},       {{"-o", "c"}, TQ_FORMAT_TEXT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first.front());
        std::vector<std::string> args = c.first;
        args.insert(args.end(), {"-s40", "-x0x"});
        const ToolRun read = run(args);
        EXPECT_EQ(read.status, 0);
        expect_burst(read.out, 40, c.second, TQ_RADIX_HEX_PREFIX);
    }
}

TEST_F(Tqread, AnyArgumentWithoutACountReadsNothing) {
    const ToolRun read = run({"-xh", "foo"}, true);
    EXPECT_EQ(read.out, invalid_argument("foo", "tqread") + print_data({}, TQ_FORMAT_TEXT, TQ_RADIX_HEX));
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(stream_frames(), std::vector<std::size_t>{});
}

TEST_F(Tqread, FileAndReportAreWrittenOrAppended) {
    box.write_file("out.txt", std::string(5000, 'x'));
    box.write_file("out.txt.info", std::string(5000, 'y'));
    const ToolRun first = run({"-s30", "-oc", "-xd", "-f", "out.txt"});
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(first.status, 0);
    const std::string data = box.read_file("out.txt");
    expect_burst(data, 30, TQ_FORMAT_CSV, TQ_RADIX_DEC);
    const std::vector<std::uint8_t> samples = parse_samples(data, TQ_FORMAT_CSV, TQ_RADIX_DEC);
    EXPECT_EQ(box.read_file("out.txt.info"), print_error(samples, TQ_FORMAT_CSV, TQ_RADIX_DEC));

    const std::string report = box.read_file("out.txt.info");
    const ToolRun second = run({"--append", "-s5", "--file", "out.txt", "-e"});
    EXPECT_EQ(second.out, "");
    const std::string appended = box.read_file("out.txt").substr(data.size());
    ASSERT_EQ(box.read_file("out.txt").substr(0, data.size()), data);
    const std::vector<std::uint8_t> more = parse_samples(appended, TQ_FORMAT_TEXT, TQ_RADIX_BIN);
    EXPECT_EQ(more.size(), 15u);
    EXPECT_EQ(box.read_file("out.txt.info"), report + print_error(more, TQ_FORMAT_TEXT, TQ_RADIX_BIN));
}

TEST_F(Tqread, FileNameMissingAtTheEndStopsWithoutReading) {
    const ToolRun read = run({"-s10", "-f"}, true);
    EXPECT_EQ(read.out, "ERROR: Invalid filename. For help type:\ntqread --help\n");
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(stream_frames(), std::vector<std::size_t>{});
    EXPECT_EQ(run({"--file"}).out, "ERROR: Invalid filename. For help type:\ntqread --help\n");
}

TEST_F(Tqread, OutputFileThatCannotOpenLeavesTheReportAlone) {
    const ToolRun missing = run({"-s10", "-f", "no/such/dir/out.txt"});
    EXPECT_EQ(missing.out, "ERROR: Could not open file\n");
    EXPECT_EQ(missing.status, 1);

    // A directory cannot be opened for writing; the report beside its name stays as it was.
    std::filesystem::create_directory(box.path("outdir"));
    box.write_file("outdir.info", "earlier report\n");
    for (const char *mode : {"-a", "-e"}) {
        const ToolRun read = run({mode, "-s10", "-f", "outdir"});
        EXPECT_EQ(read.out, "ERROR: Could not open file\n");
        EXPECT_EQ(read.status, 1);
        EXPECT_EQ(box.read_file("outdir.info"), "earlier report\n");
    }
}

TEST_F(Tqread, ReportFileThatCannotOpenEndsWithStatus1) {
    std::filesystem::create_directory(box.path("out.txt.info"));
    const ToolRun read = run({"-s10", "-f", "out.txt"});
    EXPECT_EQ(read.out, "ERROR: Could not open error file\n");
    EXPECT_EQ(read.status, 1);
}

TEST_F(Tqread, BurstThatCannotBeAllocatedEndsWithStatus1) {
    if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
    const std::size_t limit = std::size_t{512} << 20;
    if (!address_space_limit_holds(limit)) GTEST_SKIP() << "this machine does not hold a process to its address-space limit";
    box.address_space_limit = limit;
    box.time_limit_s = 60; // a burst that fits after all would take hours to read
    const ToolRun read = run({"-s715827881", "-f", "out.txt"});
    EXPECT_EQ(read.out, "ERROR: Could not allocate memory\n");
    EXPECT_EQ(read.status, 1);
    EXPECT_FALSE(box.exists("out.txt"));
}

TEST_F(Tqread, RequestsThatCannotBeHeldAreRefusedBeforeReading) {
    const std::string longest(250, 'n');
    const std::string too_long(251, 'n');
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"-s10", "-f", too_long}, "ERROR: File name too long: at most 250 characters\n"},
        {{"-s-1", "-f", "out.txt"}, "ERROR: Invalid sample size -1: must not be negative\n"},
        {{"-t-3us", "-f", "out.txt"}, "ERROR: Invalid sample size -1: must not be negative\n"},
        {{"-s715827882", "-f", "out.txt"}, "ERROR: Sample size too large: at most 715827881 samples\n"},
        {{"-t5000s", "-f", "out.txt"}, "ERROR: Sample size too large: at most 715827881 samples\n"},
        {{"-s99999999999999"}, "ERROR: Sample size too large: at most 715827881 samples\n"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.first.front());
        const ToolRun read = run(c.first, true);
        EXPECT_EQ(read.out, c.second);
        EXPECT_EQ(read.status, 1);
        EXPECT_EQ(stream_frames(), std::vector<std::size_t>{});
        EXPECT_FALSE(box.exists("out.txt"));
        EXPECT_FALSE(box.exists("out.txt.info"));
    }
    const ToolRun accepted = run({"-s3", "-op", "-f", longest});
    EXPECT_EQ(accepted.status, 0);
    EXPECT_EQ(line_count(box.read_file(longest)), 3u);
    EXPECT_TRUE(box.exists(longest + ".info"));
}

} // namespace
