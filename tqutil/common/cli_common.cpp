#include "cli_common.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const LongOption common_long_options[] = {
    {"--help", "-h"},
    {"--version", "-v"},
    {"--list", "-l"},
    {"--radix-bin", "-xb"},
    {"--radix-dec", "-xd"},
    {"--radix-hex", "-xh"},
    {"--radix-bin-prefix", "-x0b"},
    {"--radix-hex-prefix", "-x0x"},
};

const LongOption read_long_options[] = {
    {"--file", "-f"},          {"--output-text", "-ot"}, {"--output-csv", "-oc"},
    {"--output-plain", "-op"}, {"--report", "-e"},       {"--append", "-a"},
};

const char *short_form(const char *argument, LongOptionTable table) {
    for (std::size_t i = 0; i < table.count; ++i) {
        if (std::strcmp(argument, table.options[i].name) == 0) {
            return table.options[i].short_form;
        }
    }
    return nullptr;
}

bool is_option(const char *argument) { return argument[0] == '-' || argument[0] == '/'; }

int read_number(const char *text, int base, const char **end) {
    char *stop = nullptr;
    const long long value = std::strtoll(text, &stop, base);
    if (end != nullptr) {
        *end = stop;
    }
    return cli_clamp_to_int(value);
}

// The base a number's prefix selects, after blanks and sign: "0x" hexadecimal, a leading 0
// octal, otherwise decimal. Chosen here, not by the C library's base 0, because some C
// libraries also take "0b" there, which these tools read as 0 followed by other text.
int prefixed_base(const char *text) {
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    if (*text == '+' || *text == '-') {
        ++text;
    }
    if (text[0] != '0') {
        return 10;
    }
    return text[1] == 'x' || text[1] == 'X' ? 16 : 8;
}

const char radix_usage_lines[] =
    "-x {RADIX} \t\t\tSets radix to RADIX. RADIX=bin,dec,hex,0b,0x\n"
    "  -xb [--radix-bin]\t\t  Sets radix to binary\n"
    "  -xd [--radix-dec]\t\t  Sets radix to decimal\n"
    "  -xh [--radix-hex]\t\t  Sets radix to hex\n"
    "  -x0b [--radix-bin-prefix]\t  Sets radix to binary with '0b' prefix\n"
    "  -x0x [--radix-hex-prefix]\t  Sets radix to hex with '0x' prefix\n";

const char help_version_lines[] =
    "-h [--help]\t\t\tDisplays this help\n"
    "-v [--version]\t\t\tDisplays version information\n";

const char problem_report_line[] = "Report problems to the maintainers of the Torqa tools.\n";

} // namespace

const LongOptionTable cli_read_long_options = {read_long_options,
                                               sizeof read_long_options / sizeof read_long_options[0]};

int cli_clamp_to_int(long long value) {
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

const char *ArgScanner::take_following() {
    if (position + 1 >= argc) {
        return nullptr;
    }
    ++position;
    return argv[position];
}

bool cli_scan(int argc, char **argv, LongOptionTable tool_longs, const OptionHandler &option,
              const PositionalHandler &positional) {
    const LongOptionTable common = {common_long_options,
                                    sizeof common_long_options / sizeof common_long_options[0]};
    ArgScanner scanner{argc, argv, 1};
    bool exit_now = false;
    while (!exit_now && scanner.position < argc) {
        const char *argument = argv[scanner.position];
        if (is_option(argument) && argument[1] == '-') {
            const char *replacement = short_form(argument, common);
            if (replacement == nullptr) {
                replacement = short_form(argument, tool_longs);
            }
            if (replacement != nullptr) {
                argument = replacement; // examined below under its short form's rules
            }
        }
        const ArgResult result =
            is_option(argument) ? option(argument, scanner) : positional(argument);
        if (result == ArgResult::Invalid) {
            cli_invalid_argument(argument, scanner.program());
        }
        exit_now = result == ArgResult::Exit;
        ++scanner.position;
    }
    return exit_now;
}

ArgResult cli_no_positional(const char *) { return ArgResult::Invalid; }

void cli_invalid_argument(const char *argument, const char *program) {
    std::printf("Syntax error: Invalid argument: %s. For help type:\n%s --help\n", argument, program);
}

int cli_read_decimal(const char *text, const char **end) { return read_number(text, 10, end); }

int cli_read_prefixed(const char *text) { return read_number(text, prefixed_base(text), nullptr); }

void cli_set_defaults(GEN_PARAM *gen) {
    gen->channel = 1;
    gen->muted = 1;
    gen->spimode = 0;
    gen->baudrate = 25000000;
}

bool cli_connection_option(const char *option, GEN_PARAM *gen, bool channel_allowed) {
    const char *value = option + 2;
    switch (option[1]) {
    case 'l':
        gen->muted = 0;
        return true;
    case 'p':
        gen->spimode = cli_read_decimal(value) % 4;
        return true;
    case 'b':
        gen->baudrate = cli_read_decimal(value);
        return true;
    case 'c':
        if (!channel_allowed) {
            return false;
        }
        gen->channel = static_cast<uint32_t>(cli_read_decimal(value));
        return true;
    default:
        return false;
    }
}

int cli_word_code(const char *text, const CodedWord *table, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (std::strcmp(text, table[i].text) == 0) {
            return table[i].code;
        }
    }
    return 0;
}

ArgResult cli_coded_option(const char *option, ArgScanner &scanner, const CodedWord *attached,
                           const CodedWord *word, std::size_t count, int *field) {
    if (option[2] != '\0') {
        *field |= cli_word_code(option + 2, attached, count);
        return ArgResult::Accepted;
    }
    const char *following = scanner.take_following();
    if (following == nullptr) {
        return ArgResult::Invalid;
    }
    *field |= cli_word_code(following, word, count);
    return ArgResult::Accepted;
}

ArgResult cli_radix_option(const char *option, ArgScanner &scanner, int *radix) {
    static const CodedWord attached[] = {{"d", 1}, {"h", 2}, {"0b", 3}, {"0x", 4}};
    static const CodedWord word[] = {{"dec", 1}, {"hex", 2}, {"0b", 3}, {"0x", 4}};
    return cli_coded_option(option, scanner, attached, word, sizeof attached / sizeof attached[0],
                            radix);
}

void cli_print_register_usage(const char *program) {
    std::printf("Usage: %s [options] ...\n", program);
    std::fputs("-l [--list]\t\t\tLists channel information\n", stdout);
    std::fputs(radix_usage_lines, stdout);
    std::fputs("-r [--read] \t\t\tReads registers specified\n"
               "-w [--write] \t\t\tWrites registers specified\n"
               "-y [--verify] \t\t\tVerifies registers written\n",
               stdout);
    std::fputs(help_version_lines, stdout);
    std::fputs("Build: -! [--OTP] with -k=KEY programs register 9; --r+ reads registers 0 to 8\n", stdout);
    std::fputs(problem_report_line, stdout);
}

void cli_print_read_usage(const char *program) {
    std::printf("Usage: %s [options] ...\n", program);
    std::fputs("-a [--append]\t\t\tAppends output to the end of specified file\n"
               "-c{CHANNEL} \t\t\tSets channel to CHANNEL\n"
               "-e [--report]\t\t\tEnables report output to FILENAME.info\n"
               "-f {FILENAME} \t\t\tOutputs to file FILENAME\n"
               "[--file FILENAME]\n"
               "-l [--list]\t\t\tLists channel information\n"
               "-o {FORMAT} \t\t\tSets output format to FORMAT. FORMAT=text,csv\n"
               "  -ot [--output-text]\t\t  Sets output format to text\n"
               "  -oc [--output-csv]\t\t  Sets output format to csv\n",
               stdout);
    std::fputs(radix_usage_lines, stdout);
    std::fputs("-s{SIZE} \t\t\tSets sample size to SIZE\n"
               "-t{TIME}{UNIT} \t\t\tSets sampling time to TIME UNITs. UNIT=us,ms,s\n",
               stdout);
    std::fputs(help_version_lines, stdout);
    std::fputs("Build: FILENAME.info is written whenever -f names a file; -e has no effect\n", stdout);
    std::fputs(problem_report_line, stdout);
}

void cli_report_failure(const char *tool, const char *what, int status) {
    std::fprintf(stderr, "%s: %s failed (status %d)\n", tool, what, status);
}

void cli_report_lost_output(const char *tool, const char *where) {
    std::fprintf(stderr, "%s: writing %s failed: %s\n", tool, where, errno != 0 ? std::strerror(errno) : "write error");
}

int cli_finish(const char *tool, int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    cli_report_lost_output(tool, "standard output");
    return 1;
}

void cli_print_version(const char *title, const char *complete_version) {
    char tqlib_ver[30] = {0};
    TQ_LibVer(tqlib_ver);
    tqlib_ver[sizeof tqlib_ver - 1] = '\0';
    std::printf("%s%s\n"
                "==================================================\n"
                "TQ Utility API version %s\n"
                "Copyright (c) the developers of the Torqa tools.\n"
                "Free to use and change; provided without warranty.\n"
                "\n",
                title, complete_version, tqlib_ver);
}
