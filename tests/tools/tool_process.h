// Running the console tools as processes against the simulated bridge, and looking at what
// they left behind: output, files, the sensor's registers and the bytes on the SPI wires.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct ToolRun {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the process did not exit normally
};

// One SPI chip-select frame: what the host clocked out and what the sensor answered.
struct WireFrame {
    std::vector<std::uint8_t> mosi;
    std::vector<std::uint8_t> miso;
};

// A scratch directory with a simulator state file of its own, so every test starts from a
// factory-fresh sensor; removed when the test ends.
class ToolSandbox {
public:
    ToolSandbox();
    ~ToolSandbox();
    ToolSandbox(const ToolSandbox &) = delete;
    ToolSandbox &operator=(const ToolSandbox &) = delete;

    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    // Runs the tool in the sandbox directory with argv[0] = tool. With trace, the wires of
    // the channel it opens are recorded for wire_frames().
    ToolRun run(const std::string &tool, const std::vector<std::string> &args, bool trace = false);
    // run() in two halves, so that several sandboxes can run their tools at once.
    pid_t start(const std::string &tool, const std::vector<std::string> &args, bool trace = false);
    ToolRun finish(pid_t child);
    // NAME=VALUE entries added to the environment of the tools run from now on.
    std::vector<std::string> environment;
    // Where the tools' standard output goes instead of ToolRun::out (such as /dev/full).
    std::string stdout_file;
    // A file in the sandbox the tools read as standard input ("": an empty one).
    std::string stdin_file;
    // Address space granted to the tools run from now on (0: no limit).
    std::size_t address_space_limit = 0;
    // Seconds a tool may run before it is killed (0: no limit); a hang then shows as status -1.
    unsigned time_limit_s = 0;
    // The simulator configuration of the tools run from now on, and of the device access
    // below, as JSON text ("": the built-in default board).
    void use_board(const std::string &json);

    std::vector<std::uint8_t> registers();
    void set_registers(const std::vector<std::uint8_t> &values);
    // Devices' data by key (kvsim_device_get and _put), kept in the sandbox's state file.
    struct DeviceKey {
        unsigned position;  // the channel's list position
        std::string device, key;
    };
    std::vector<std::vector<std::uint8_t>> device_data(const std::vector<DeviceKey> &keys);
    void set_device_data(const std::vector<DeviceKey> &keys, const std::vector<std::vector<std::uint8_t>> &data);
    // The frames of the last traced run, in order.
    std::vector<WireFrame> wire_frames() const;

    std::string read_file(const std::string &name) const;
    void write_file(const std::string &name, const std::string &text) const;
    bool exists(const std::string &name) const;

private:
    // Points the test's own simulator at the sandbox state while fn runs.
    void with_state(const std::function<void()> &fn);
    std::string dir_;
    std::string board_;  // the configuration file, or "" 
};


// Expected outputs, produced by the sensor library in this process.
std::string reg_print(std::uint8_t value, int reg, int radix);
std::string print_data(const std::vector<std::uint8_t> &samples, int format, int radix);
std::string print_error(const std::vector<std::uint8_t> &samples, int format, int radix);

// The sample bytes behind a printed burst (text, csv or plain, radix 0 to 4).
std::vector<std::uint8_t> parse_samples(const std::string &printed, int format, int radix);
// True when every sample has odd parity and, within each 7500-byte piece, follows its
// predecessor closely: the burst holds sensor samples in order, no stale or unwritten memory.
bool burst_is_continuous(const std::vector<std::uint8_t> &samples);

using Registers = std::vector<std::uint8_t>;
Registers with(Registers regs, int reg, std::uint8_t value);
// What tqreg prints for the registers `which` of regs.
std::string prints(const Registers &regs, std::initializer_list<int> which, int radix = 0);
// The two lines tqcmd traces on standard error before it looks at its arguments.
std::string tqcmd_trace(int argc);

std::string invalid_argument(const std::string &argument, const std::string &program);
// The whole file, or "" when it cannot be read.
std::string slurp(const std::string &file);
std::string read_usage(const std::string &program);
std::string version_banner(const std::string &title, const std::string &version);
