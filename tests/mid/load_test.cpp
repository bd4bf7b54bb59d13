// Binding the driver: a process with no driver to find, a driver lacking one entry point, and
// the infrastructure's small helpers.
#include <sys/wait.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "libVELTA.h"
#include "mid_support.h"

namespace {

namespace fs = std::filesystem;

struct ProcessResult {
    std::string output;
    int exitStatus = -1;
};

ProcessResult run(const std::string &command) {
    ProcessResult result;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[256];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    int status = pclose(pipe);
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    return result;
}

#if defined(__SANITIZE_ADDRESS__)
#define KV_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_SANITIZED 1
#endif
#endif

// How the probe is started. A process that ends inside the load of libVELTA is no subject for
// leak checking, which would replace its exit status. With the address sanitizer, dlopen runs
// from the sanitizer's runtime, whose search path lacks libVELTA's own directory, so the
// directory is named explicitly there.
std::string probeEnvironment(const fs::path &dir, bool exitsDuringLoad) {
#ifdef KV_SANITIZED
    std::string environment = "env -u LD_PRELOAD -u VELTA_DRIVER LD_LIBRARY_PATH=" + dir.string() + " ";
#else
    static_cast<void>(dir);
    std::string environment = "env -u LD_PRELOAD -u LD_LIBRARY_PATH -u VELTA_DRIVER ";
#endif
    if (exitsDuringLoad) environment += "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" ";
    return environment;
}

// A directory holding a copy of libVELTA, which looks for its driver beside itself.
class LibraryCopy : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mid_load_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
        fs::copy_file(fs::path(KV_LIB_DIR) / "libVELTA.so", dir_ / "libVELTA.so");
    }
    void TearDown() override { fs::remove_all(dir_); }
    // Runs the probe with the extra environment settings given; its standard error is kept in
    // errors_.
    ProcessResult probe(const std::string &mode, const std::string &settings = "") {
        fs::path errors = dir_ / "stderr.txt";
        ProcessResult result = run(probeEnvironment(dir_, mode == "load") + settings + " " + KV_BIN_DIR +
                                   "/mid_load_probe " + (dir_ / "libVELTA.so").string() + " " + mode + " 2>" +
                                   errors.string());
        std::ifstream in(errors);
        errors_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return result;
    }
    fs::path partialDriver() const { return fs::path(KV_TEST_BUILD_DIR) / "mid" / "partial_driver" / "libkvzubr.so"; }
    fs::path dir_;
    std::string errors_;
};

const char kNoDriverLine[] = "../../Infra/src/korvin_infra:243:Init_libVELTA(): NULL expression encountered\n";

// With no driver, the specified line goes to standard output and one line to standard error
// names what was tried, the loader's reason and the remedy. VELTA_DRIVER names the driver by
// path; empty, it counts as unset.
TEST_F(LibraryCopy, NoDriverPrintsTheReportAndOneLineOfAdvice) {
    const struct {
        const char *settings;
        const char *tried;
        const char *remedy;
    } cases[] = {
        {"", "the bridge driver libkvzubr.so: libkvzubr.so: cannot open", "set VELTA_DRIVER to its path"},
        {"VELTA_DRIVER=", "the bridge driver libkvzubr.so: libkvzubr.so: cannot open", "set VELTA_DRIVER to its path"},
        {"VELTA_DRIVER=/nonexistent/libdriver.so",
         "the bridge driver /nonexistent/libdriver.so (named by VELTA_DRIVER): /nonexistent/libdriver.so: cannot open",
         "point VELTA_DRIVER at the driver library or unset it"},
    };
    for (const auto &c : cases) {
        ProcessResult result = probe("load", c.settings);
        EXPECT_EQ(kNoDriverLine, result.output) << c.settings;
        EXPECT_EQ(1, result.exitStatus) << c.settings;
        EXPECT_EQ(0u, errors_.find(std::string("libVELTA: cannot load ") + c.tried)) << errors_;
        EXPECT_NE(std::string::npos, errors_.find(c.remedy)) << errors_;
        EXPECT_NE(std::string::npos, errors_.find("'kvzubr-sim run PROGRAM'")) << errors_;
        EXPECT_EQ(1, std::count(errors_.begin(), errors_.end(), '\n')) << errors_;
    }
}

TEST_F(LibraryCopy, DriverNamedByPathIsLoadedInsteadOfTheOneBeside) {
    ProcessResult result = probe("texts", "VELTA_DRIVER=" + partialDriver().string());
    EXPECT_EQ("loaded\n101: driver status 101\n4: I/O failure: fewer bytes moved than asked, or an answer byte missing\n",
              result.output);
    EXPECT_EQ(0, result.exitStatus);
    EXPECT_EQ("", errors_);
}

TEST_F(LibraryCopy, DriverLackingAnEntryPointLeavesOnlyThatSlotEmpty) {
    fs::copy_file(partialDriver(), dir_ / "libkvzubr.so");
    ProcessResult result = probe("slots");
    EXPECT_EQ(
        "loaded\n"
        "empty slots: 14\n"
        "KV_OpenChannel 0\n"
        "KV_WriteGPIO 18\n"
        "KV_Channel_Write 18\n"
        "KV_InitChannel 18\n"
        "KV_CloseChannel 0\n",
        result.output);
    EXPECT_EQ(0, result.exitStatus);
}

TEST_F(LibraryCopy, StatusesADriverDoesNotDescribeAreNamedByNumber) {
    fs::copy_file(partialDriver(), dir_ / "libkvzubr.so");
    ProcessResult result = probe("texts");
    EXPECT_EQ("loaded\n101: driver status 101\n4: I/O failure: fewer bytes moved than asked, or an answer byte missing\n",
              result.output);
    EXPECT_EQ(0, result.exitStatus);
}

TEST(Infra, StatusTextsNameLibraryAndSimulatedDriverStatuses) {
    const struct {
        KV_STATUS status;
        const char *text;
    } cases[] = {
        {STATUS_SUCCESS, "success"},
        {STATUS_NO_DEVICE, "no device: the device did not answer"},
        {STATUS_BAD_PARAMETER, "bad parameter"},
        {STATUS_FAILURE, "failure: the engine did not answer, or the channel is not set up"},
        {KVSIM_STATUS_ALREADY_OPEN, "simulated driver: channel already open"},
        {KVSIM_STATUS_QUEUE_FULL, "simulated driver: answer queue full, read the pending answers first"},
        {3u, "driver status 3"},
        {4294967295u, "driver status 4294967295"},
    };
    for (const auto &c : cases) EXPECT_STREQ(c.text, VELTA_StatusText(c.status)) << c.status;
}

TEST(Infra, VersionCallMatchesTheHeader) {
    unsigned major = 0, minor = 0, patch = 0;
    EXPECT_STREQ(VELTA_VERSION_TEXT, VELTA_GetVersion(&major, &minor, &patch));
    EXPECT_EQ(VELTA_VERSION_MAJOR, major);
    EXPECT_EQ(VELTA_VERSION_MINOR, minor);
    EXPECT_EQ(VELTA_VERSION_PATCH, patch);
    EXPECT_STREQ(VELTA_VERSION_TEXT, VELTA_GetVersion(nullptr, nullptr, nullptr));
}

TEST(Infra, BuildTreeLibraryBindsEverySlot) {
    ASSERT_NE(nullptr, hdll_zubr);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&varFunctionPtrLst);
    for (unsigned slot = 0; slot < KVSIM_ENTRY_COUNT; ++slot) {
        void (*entry)(void) = nullptr;
        std::memcpy(&entry, bytes + slot * sizeof entry, sizeof entry);
        EXPECT_NE(nullptr, entry) << "slot " << slot;
    }
}

TEST(Infra, Helpers) {
    int32_t output = 0;
    EXPECT_EQ(STATUS_SUCCESS, Infra_TestFunction(5, &output));
    EXPECT_EQ(105, output);
    EXPECT_EQ(STATUS_SUCCESS, Infra_TestFunction(INT32_MAX, &output));
    EXPECT_EQ(INT32_MIN + 99, output);
    EXPECT_EQ(STATUS_BAD_PARAMETER, Infra_TestFunction(1, nullptr));
    EXPECT_EQ(STATUS_FAILURE, Infra_Delay());
    EXPECT_EQ(STATUS_FAILURE, Infra_Delay());
}

TEST(Infra, CleanupReleasesTheDriverOnce) {
    // The test program links the driver itself, so releasing libVELTA's reference keeps it loaded.
    EXPECT_EQ(0, Cleanup_libVELTA());
    EXPECT_EQ(nullptr, hdll_zubr);
    EXPECT_NE(0, Cleanup_libVELTA());
}

}  // namespace
