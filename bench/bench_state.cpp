// Process start with the simulator's state file: wall time and peak memory of a process that
// loads the example board (simulator/boards/flash16m.json), without a state file and with its
// 16 MiB flash written, plus a process that changes one page and saves, and a file in the older
// all-text form (its first start rewrites it). Each figure is the median of --runs processes
// (default 5): wall time from start to exit, processor time (user and system), and "peak", the
// process's maximum resident set. On a busy machine wall time exceeds processor time. The start
// with the written flash is printed beside its bound (0.2 s, 40 MiB more than a start without).
//
//   bench_state [--runs N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "kvsim.h"

extern "C" KV_STATUS KV_CreateDeviceInfoList(uint32_t *deviceCount);
extern "C" KV_STATUS KV_GetDeviceInfoList(DeviceListEntry *list, uint32_t *deviceCount);

namespace {

constexpr std::size_t kFlashSize = 16u << 20;
// What a start with the written flash may take: seconds, and memory beyond a start without it.
constexpr double kStartBound = 0.2;
constexpr double kStartMemoryBound = 40;
const char kFlash[] = "flash16m";
const char kFlashChannel[] = "KV7Q0001A";

std::vector<std::uint8_t> flash_image() {
    std::vector<std::uint8_t> bytes(kFlashSize);
    std::mt19937 random(16);
    for (auto &b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// The list position of the channel that carries the 16 MiB flash (its bridge's first); -1 if
// the board has none.
int flash_position(uint32_t count) {
    std::vector<DeviceListEntry> list(count);
    if (count == 0 || KV_GetDeviceInfoList(list.data(), &count) != 0) return -1;
    for (uint32_t position = 0; position < count; ++position)
        if (std::strcmp(list[position].SerialText, kFlashChannel) == 0) return static_cast<int>(position);
    return -1;
}

// What a child process does, named by its first argument.
int child(const std::string &what) {
    uint32_t count = 0;
    if (KV_CreateDeviceInfoList(&count) != 0) return 1;  // loads the board and the state file
    if (what == "start") return 0;
    const int position = flash_position(count);
    if (position < 0) return 1;
    if (what == "fill") {
        const auto image = flash_image();
        return kvsim_device_put(position, kFlash, "memory", image.data(), image.size()) || kvsim_save_state();
    }
    const std::uint8_t page[256] = {0x5A};
    return kvsim_device_put(position, kFlash, "memory", page, sizeof page) || kvsim_save_state();
}

struct Run {
    double seconds;
    double cpu_seconds;
    double peak_mib;
};

double seconds(const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

Run run_child(const char *self, const char *what) {
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--child", what, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_state: the %s process failed\n", what);
        std::exit(1);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    return {took.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss / 1024.0};
}

Run median(const char *self, const char *what, int runs) {
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i) all.push_back(run_child(self, what));
    const auto middle = [&all](auto field) {
        std::vector<double> values;
        for (const Run &r : all) values.push_back(r.*field);
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    };
    return {middle(&Run::seconds), middle(&Run::cpu_seconds), middle(&Run::peak_mib)};
}

void print(const char *name, const Run &run, const Run &base) {
    std::printf("%-40s %8.3f s %8.3f s %8.1f MiB %+8.1f MiB\n", name, run.seconds, run.cpu_seconds, run.peak_mib,
                run.peak_mib - base.peak_mib);
}

// The flash's entry as older versions wrote it: JSON text, two hexadecimal digits a byte.
void write_older_form(const std::string &path) {
    const auto image = flash_image();
    std::string hex(2 * image.size(), '\0');
    for (std::size_t i = 0; i < image.size(); ++i) std::snprintf(&hex[2 * i], 3, "%02x", image[i]);
    std::ofstream(path) << R"({"KV7Q0001": {"1": {")" << kFlash << R"(": {"status": [0], "memory": ")" << hex
                        << "\"}}}}\n";
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return child(argv[2]);
    int runs = 5;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    char dir[] = "/tmp/bench_state_XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string state = std::string(dir) + "/state.json";
    setenv("KVZUBR_SIM_CONFIG", KV_BOARD_DIR "/flash16m.json", 1);
    setenv("KVZUBR_SIM_STATE", state.c_str(), 1);
    unsetenv("KVZUBR_SIM_TRACE");

    std::printf("%-40s %10s %10s %12s %12s\n", "process (median of runs)", "wall", "cpu", "peak", "vs empty");
    const Run empty = median(argv[0], "start", runs);
    print("start, no state file", empty, empty);
    run_child(argv[0], "fill");
    std::ifstream file(state, std::ios::binary | std::ios::ate);
    std::printf("state file with 16 MiB written: %lld bytes\n", static_cast<long long>(file.tellg()));
    const Run written = median(argv[0], "start", runs);
    print("start, 16 MiB of flash written", written, empty);
    std::printf("  against its bound: %.3f s of at most %.1f s, %+.1f MiB of at most +%.0f MiB\n", written.seconds,
                kStartBound, written.peak_mib - empty.peak_mib, kStartMemoryBound);
    print("start, write one page, save", median(argv[0], "write", runs), empty);
    write_older_form(state);
    print("start, older text form (rewrites it)", run_child(argv[0], "start"), empty);
    print("start after that rewrite", median(argv[0], "start", runs), empty);
    std::remove(state.c_str());
    std::remove((state + ".lock").c_str());
    rmdir(dir);
    return 0;
}
