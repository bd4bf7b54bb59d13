// Command-line front end shared by the Torqa console tools: the scanning loop, long options,
// the invalid-argument message, number reading, radix codes, usage texts and the banner.
#pragma once

#include <cstddef>
#include <functional>

#include "tq_api.h"

// arg_parser's result: go on with the work, or end the process with status 0 (help, version).
#define PARSER_CONTINUE 0
#define PARSER_EXIT 1

enum class ArgResult { Accepted, Invalid, Exit };

struct LongOption {
    const char *name;
    const char *short_form;
};

struct LongOptionTable {
    const LongOption *options;
    std::size_t count;
};

// Position of the scanning loop; option handlers take the following word through it.
struct ArgScanner {
    int argc;
    char **argv;
    int position;

    const char *program() const { return argv[0]; }
    // Consumes and returns the following word; nullptr when the list ends here.
    const char *take_following();
};

using OptionHandler = std::function<ArgResult(const char *option, ArgScanner &scanner)>;
using PositionalHandler = std::function<ArgResult(const char *argument)>;

// Runs the scanning loop over argv[1..]. A long option named in the common table (help,
// version, list, radix) or in the tool's table is examined as its short form; any other
// long option goes to the option handler as it is. Returns true when a handler asked to end
// the process.
bool cli_scan(int argc, char **argv, LongOptionTable tool_longs, const OptionHandler &option,
              const PositionalHandler &positional);

// A positional handler for tools that take no positional arguments.
ArgResult cli_no_positional(const char *argument);

void cli_invalid_argument(const char *argument, const char *program);

// Decimal integer with leading blanks and sign; stops at the first other character, no
// digits give 0. Values beyond the int range are held at its limits. *end, when asked for,
// marks the first character not read.
int cli_read_decimal(const char *text, const char **end = nullptr);
int cli_clamp_to_int(long long value);
// As cli_read_decimal, with "0x" for hexadecimal and a leading 0 for octal.
int cli_read_prefixed(const char *text);

void cli_set_defaults(GEN_PARAM *gen);
// The connection options -l, -p, -b and, when channel_allowed, -c. Returns false for any
// other letter.
bool cli_connection_option(const char *option, GEN_PARAM *gen, bool channel_allowed);

struct CodedWord {
    const char *text;
    int code;
};
// Code of text in the table (compared exactly), or 0.
int cli_word_code(const char *text, const CodedWord *table, std::size_t count);

// An option whose code comes from its attached text, or, with nothing attached, from the
// following word; the code is OR-ed into *field. Invalid when no word follows.
ArgResult cli_coded_option(const char *option, ArgScanner &scanner, const CodedWord *attached,
                           const CodedWord *word, std::size_t count, int *field);
// -x, the output radix.
ArgResult cli_radix_option(const char *option, ArgScanner &scanner, int *radix);

void cli_print_register_usage(const char *program);
void cli_print_read_usage(const char *program);
// The version banner, with the library's version text from TQ_LibVer.
void cli_print_version(const char *title, const char *complete_version);

// Failures of the work, each one line on standard error: a library call that failed, with
// its status, and output that could not be written. The tools then end with status 1.
void cli_report_failure(const char *tool, const char *what, int status);
void cli_report_lost_output(const char *tool, const char *where);
// The status to end with: `status`, or 1 when standard output (flushed here) lost anything.
int cli_finish(const char *tool, int status);

// Long names of tqread, which tqcmd knows as well.
extern const LongOptionTable cli_read_long_options;
