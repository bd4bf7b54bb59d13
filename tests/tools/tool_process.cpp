#include "tool_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "capture.h"
#include "kvsim.h"
#include "tq_api.h"

extern char **environ;

std::string slurp(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

const unsigned kSensorPosition = 0; // the default configuration's first channel
// A piece read after a slow pause starts with the sample taken then, not the next in line.
const std::size_t kPieceBytes = TQ_PIECE_BYTES;

// The parent's environment without the simulator's variables, plus the sandbox's own. The
// build's library directory goes on the loader path: under the address sanitizer, libVELTA's
// own search path does not serve its loading of the driver.
std::vector<std::string> child_environment(const std::string &state, const std::string &trace,
                                           const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "KVZUBR_SIM_", 11) != 0 && std::strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0) {
            env.emplace_back(*e);
        }
    }
    const char *library_path = std::getenv("LD_LIBRARY_PATH");
    env.push_back(std::string("LD_LIBRARY_PATH=") + KV_LIB_DIR + (library_path ? std::string(":") + library_path : ""));
    env.push_back("KVZUBR_SIM_STATE=" + state);
    if (!trace.empty()) env.push_back("KVZUBR_SIM_TRACE=" + trace);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> result;
    for (std::string &t : texts) result.push_back(&t[0]);
    result.push_back(nullptr);
    return result;
}

[[noreturn]] void exec_child(const std::string &dir, const std::string &binary, std::vector<char *> &argv,
                             std::vector<char *> &envp, std::size_t address_space, const std::string &out_file,
                             const std::string &in_file, unsigned seconds) {
    if (seconds != 0) ::alarm(seconds);  // a pending alarm outlives exec
    if (address_space != 0) {
        const rlimit limit{address_space, address_space};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    const int out = ::open((out_file.empty() ? dir + "/.stdout" : out_file).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((dir + "/.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open((in_file.empty() ? "/dev/null" : dir + "/" + in_file).c_str(), O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::dup2(in, 0) < 0)
        _exit(127);
    ::execve(binary.c_str(), argv.data(), envp.data());
    _exit(127);
}

// A VCD of the traced channel: value changes of SCK, MOSI, MISO and CS3, read in order.
class VcdFrames {
public:
    explicit VcdFrames(std::istream &in) {
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("$var", 0) == 0) {
                declare(line);
            } else if (!line.empty() && (line[0] == '0' || line[0] == '1')) {
                change(line.substr(1), line[0] == '1');
            }
        }
    }
    std::vector<WireFrame> frames;

private:
    void declare(const std::string &line) {
        std::istringstream words(line);
        std::string var, type, width, id, name;
        words >> var >> type >> width >> id >> name;
        names_[id] = name;
    }
    void change(const std::string &id, bool level) {
        const auto named = names_.find(id);
        if (named == names_.end()) return;
        bool &signal = levels_[named->second];
        const bool was = signal;
        signal = level;
        if (named->second == "CS3") {
            if (was && !level) frames.emplace_back(), bits_ = 0;
        } else if (named->second == "SCK" && !was && level && !levels_["CS3"] && !frames.empty()) {
            sample();
        }
    }
    void sample() {
        WireFrame &f = frames.back();
        if (bits_ % 8 == 0) f.mosi.push_back(0), f.miso.push_back(0);
        f.mosi.back() = static_cast<std::uint8_t>(f.mosi.back() << 1 | levels_["MOSI"]);
        f.miso.back() = static_cast<std::uint8_t>(f.miso.back() << 1 | levels_["MISO"]);
        ++bits_;
    }
    std::map<std::string, std::string> names_;
    std::map<std::string, bool> levels_{{"CS3", true}};
    unsigned bits_ = 0;
};

unsigned long parse_number(std::string token, int radix) {
    if ((radix == 3 || radix == 4) && token.size() > 2) token = token.substr(2);
    static const int bases[] = {2, 10, 16, 2, 16};
    return std::stoul(token, nullptr, bases[radix]);
}

void put_sample(std::vector<std::uint8_t> &bytes, unsigned long angle, unsigned long status) {
    bytes.push_back(static_cast<std::uint8_t>(angle >> 8));
    bytes.push_back(static_cast<std::uint8_t>(angle));
    bytes.push_back(static_cast<std::uint8_t>(status));
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    if (separator == ' ') {
        while (in >> field) fields.push_back(field);
    } else {
        while (std::getline(in, field, separator)) fields.push_back(field);
    }
    return fields;
}

} // namespace

ToolSandbox::ToolSandbox() {
    char pattern[] = "/tmp/tools_test.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no scratch directory");
    dir_ = pattern;
    ::setenv("KVZUBR_SIM_STATE", "", 1); // this process keeps no state of its own
}

ToolSandbox::~ToolSandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

ToolRun ToolSandbox::run(const std::string &tool, const std::vector<std::string> &args, bool trace) {
    return finish(start(tool, args, trace));
}

pid_t ToolSandbox::start(const std::string &tool, const std::vector<std::string> &args, bool trace) {
    const std::string binary = std::string(KV_BIN_DIR) + "/" + tool;
    std::vector<std::string> argv_texts{tool};
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    std::vector<std::string> extra = environment;
    if (!board_.empty()) extra.push_back("KVZUBR_SIM_CONFIG=" + board_);
    std::vector<std::string> env_texts = child_environment(path(".state.json"), trace ? path(".wire.vcd") : "", extra);
    std::vector<char *> argv = pointers(argv_texts), envp = pointers(env_texts);
    std::remove(path(".wire.vcd").c_str());

    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) exec_child(dir_, binary, argv, envp, address_space_limit, stdout_file, stdin_file, time_limit_s);
    return child;
}

ToolRun ToolSandbox::finish(pid_t child) {
    int wait_status = 0;
    ToolRun result;
    if (child > 0 && ::waitpid(child, &wait_status, 0) == child && WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    }
    if (stdout_file.empty()) result.out = slurp(path(".stdout"));
    result.err = slurp(path(".stderr"));
    return result;
}

void ToolSandbox::use_board(const std::string &json) {
    board_ = path(".board.json");
    write_file(".board.json", json);
}

void ToolSandbox::with_state(const std::function<void()> &fn) {
    if (board_.empty()) ::unsetenv("KVZUBR_SIM_CONFIG");
    else ::setenv("KVZUBR_SIM_CONFIG", board_.c_str(), 1);
    ::setenv("KVZUBR_SIM_STATE", path(".state.json").c_str(), 1);
    kvsim_reset();
    fn();
    ::setenv("KVZUBR_SIM_STATE", "", 1);
    ::unsetenv("KVZUBR_SIM_CONFIG");
    kvsim_reset();
}

std::vector<std::uint8_t> ToolSandbox::registers() {
    std::vector<std::uint8_t> values = device_data({{kSensorPosition, "torqa", "registers"}})[0];
    values.resize(TQ_REG_COUNT);
    return values;
}

void ToolSandbox::set_registers(const std::vector<std::uint8_t> &values) {
    set_device_data({{kSensorPosition, "torqa", "registers"}}, {values});
}

std::vector<std::vector<std::uint8_t>> ToolSandbox::device_data(const std::vector<DeviceKey> &keys) {
    std::vector<std::vector<std::uint8_t>> data(keys.size());
    with_state([&] {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const DeviceKey &k = keys[i];
            std::size_t length = 0;
            if (kvsim_device_get(k.position, k.device.c_str(), k.key.c_str(), nullptr, 0, &length) != 0) continue;
            data[i].resize(length);
            kvsim_device_get(k.position, k.device.c_str(), k.key.c_str(), data[i].data(), length, &length);
        }
    });
    return data;
}

void ToolSandbox::set_device_data(const std::vector<DeviceKey> &keys, const std::vector<std::vector<std::uint8_t>> &data) {
    with_state([&] {
        for (std::size_t i = 0; i < keys.size(); ++i)
            kvsim_device_put(keys[i].position, keys[i].device.c_str(), keys[i].key.c_str(), data[i].data(), data[i].size());
        kvsim_save_state();
    });
}

std::vector<WireFrame> ToolSandbox::wire_frames() const {
    std::ifstream in(path(".wire.vcd"));
    return VcdFrames(in).frames;
}

std::string ToolSandbox::read_file(const std::string &name) const { return slurp(path(name)); }

void ToolSandbox::write_file(const std::string &name, const std::string &text) const {
    std::ofstream(path(name), std::ios::binary) << text;
}

bool ToolSandbox::exists(const std::string &name) const { return std::filesystem::exists(path(name)); }

std::string reg_print(std::uint8_t value, int reg, int radix) {
    return capture_stdout([&] { TQ_RegPrint(value, reg, radix); });
}

std::string print_data(const std::vector<std::uint8_t> &samples, int format, int radix) {
    return capture_stream([&](FILE *f) {
        TQ_PrintData(f, samples.data(), 0, static_cast<int>(samples.size() / 3), format, radix);
    });
}

std::string print_error(const std::vector<std::uint8_t> &samples, int format, int radix) {
    return capture_stream([&](FILE *f) {
        TQ_PrintError(f, samples.data(), 0, static_cast<int>(samples.size() / 3), format, radix);
    });
}

std::vector<std::uint8_t> parse_samples(const std::string &printed, int format, int radix) {
    std::vector<std::uint8_t> bytes;
    std::istringstream lines(printed);
    std::string line;
    if (format != TQ_FORMAT_PLAIN) std::getline(lines, line); // header
    while (std::getline(lines, line)) {
        if (format == TQ_FORMAT_PLAIN) {
            const unsigned long word = parse_number(line, radix);
            put_sample(bytes, word >> 8, word & 0xFF);
        } else {
            const std::vector<std::string> f = split(line, format == TQ_FORMAT_CSV ? ',' : ' ');
            put_sample(bytes, parse_number(f.at(1), radix), parse_number(f.at(3), radix));
        }
    }
    return bytes;
}

bool burst_is_continuous(const std::vector<std::uint8_t> &samples) {
    for (std::size_t i = 0; i + 2 < samples.size(); i += 3) {
        const unsigned word = unsigned(samples[i]) << 16 | unsigned(samples[i + 1]) << 8 | samples[i + 2];
        if (__builtin_popcount(word) % 2 != 1) return false;
        if (i % kPieceBytes != 0) {
            const int step = static_cast<std::int16_t>(
                static_cast<std::uint16_t>((samples[i] << 8 | samples[i + 1]) - (samples[i - 3] << 8 | samples[i - 2])));
            if (step > 200 || step < -200) return false;
        }
    }
    return true;
}

Registers with(Registers regs, int reg, std::uint8_t value) {
    regs[static_cast<std::size_t>(reg)] = value;
    return regs;
}

std::string prints(const Registers &regs, std::initializer_list<int> which, int radix) {
    std::string text;
    for (int r : which) text += reg_print(regs[static_cast<std::size_t>(r)], r, radix);
    return text;
}

std::string tqcmd_trace(int argc) {
    return "***DEBUG: parser.cpp:70:arg_parser(): Program name: tqcmd\n"
           "***DEBUG: parser.cpp:71:arg_parser(): Number of arguments: " +
           std::to_string(argc) + "\n";
}

std::string invalid_argument(const std::string &argument, const std::string &program) {
    return "Syntax error: Invalid argument: " + argument + ". For help type:\n" + program + " --help\n";
}

namespace {
const char kRadixLines[] = "-x {RADIX} \t\t\tSets radix to RADIX. RADIX=bin,dec,hex,0b,0x\n"
                           "  -xb [--radix-bin]\t\t  Sets radix to binary\n"
                           "  -xd [--radix-dec]\t\t  Sets radix to decimal\n"
                           "  -xh [--radix-hex]\t\t  Sets radix to hex\n"
                           "  -x0b [--radix-bin-prefix]\t  Sets radix to binary with '0b' prefix\n"
                           "  -x0x [--radix-hex-prefix]\t  Sets radix to hex with '0x' prefix\n";
} // namespace

std::string read_usage(const std::string &program) {
    return "Usage: " + program + " [options] ...\n" +
           "-a [--append]\t\t\tAppends output to the end of specified file\n"
           "-c{CHANNEL} \t\t\tSets channel to CHANNEL\n"
           "-e [--report]\t\t\tEnables report output to FILENAME.info\n"
           "-f {FILENAME} \t\t\tOutputs to file FILENAME\n"
           "[--file FILENAME]\n"
           "-l [--list]\t\t\tLists channel information\n"
           "-o {FORMAT} \t\t\tSets output format to FORMAT. FORMAT=text,csv\n"
           "  -ot [--output-text]\t\t  Sets output format to text\n"
           "  -oc [--output-csv]\t\t  Sets output format to csv\n" +
           kRadixLines +
           "-s{SIZE} \t\t\tSets sample size to SIZE\n"
           "-t{TIME}{UNIT} \t\t\tSets sampling time to TIME UNITs. UNIT=us,ms,s\n"
           "-h [--help]\t\t\tDisplays this help\n"
           "-v [--version]\t\t\tDisplays version information\n"
           "Build: FILENAME.info is written whenever -f names a file; -e has no effect\n"
           "Report problems to the maintainers of the Torqa tools.\n";
}

std::string version_banner(const std::string &title, const std::string &version) {
    char library[30] = {0};
    TQ_LibVer(library);
    return title + " v" + version + "\n" + std::string(50, '=') + "\nTQ Utility API version " + library +
           "\nCopyright (c) the developers of the Torqa tools.\n"
           "Free to use and change; provided without warranty.\n\n";
}
