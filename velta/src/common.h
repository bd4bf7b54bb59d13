// What every velta subcommand shares: failures and their exit statuses, numbers, hex text,
// files, the confirmation question and the progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "korvin_types.h"

namespace velta {

using Bytes = std::vector<std::uint8_t>;

// An operation that failed: exit status 1, the message on standard error. `status` is the
// libVELTA status behind it, or STATUS_FAILURE when velta itself found the fault; `out` is what
// still goes to standard output (a read-back report, say).
struct Failure : std::runtime_error {
    explicit Failure(const std::string &what, KV_STATUS why = STATUS_FAILURE, std::string printed = "")
        : std::runtime_error(what), status(why), out(std::move(printed)) {}
    KV_STATUS status;
    std::string out;
};
// A command line that cannot be carried out: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Throws Failure("<what>: <status text>") unless status is success.
void check(KV_STATUS status, const std::string &what);

// Decimal, 0x hexadecimal or 0-prefixed octal, nothing else around it; `what` names the
// argument in the usage error for anything else or a value above max.
std::uint64_t parse_number(const std::string &text, const std::string &what, std::uint64_t max);
// What is wrong with `text` as such a number from low to max ("" when nothing; the value then
// goes to *out when out is not null).
std::string number_fault(const std::string &text, std::uint64_t low, std::uint64_t max, std::uint64_t *out = nullptr);
// Hex digit pairs; blanks, ':' and ',' may stand between pairs.
Bytes parse_hex(const std::string &text);
std::string hex_byte(unsigned value);           // "0x4f"
std::string hex_bytes(const Bytes &bytes);      // "4f 00 a1 ..." sixteen to a line

Bytes read_file(const std::string &path);
void write_file(const std::string &path, const Bytes &bytes);

// Unless `assume_yes`, asks on standard error whether to go on and reads the answer from
// standard input, terminal or not: only y or yes goes on. Anything else, end of input
// included, is a Failure that says nothing was written.
void confirm(bool assume_yes, const std::string &action);

// Throws Failure naming the first difference between what was read and what was expected.
void compare(const Bytes &read, const Bytes &expected, std::uint64_t base_address);

// When a progress bar shows: on a terminal, always, never.
enum class Show { Auto, Always, Never };

// Bytes done, rate and time left on standard error, redrawn at most ten times a second. With
// a total of 0 the work has no known size and only the time taken shows.
class Progress {
public:
    Progress(std::string label, std::uint64_t total, Show show);
    ~Progress();
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    void advance(std::uint64_t bytes);
    void finish();

private:
    void draw(bool last);
    std::string label_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool shown_;
    bool finished_ = false;
    std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace velta
