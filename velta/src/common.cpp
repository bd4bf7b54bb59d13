#include "common.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "libVELTA.h"

namespace velta {

void check(KV_STATUS status, const std::string &what) {
    if (status != STATUS_SUCCESS) throw Failure(what + ": " + VELTA_StatusText(status), status);
}

namespace {

std::string hex_text(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

std::string number_fault(const std::string &text, std::uint64_t low, std::uint64_t max, std::uint64_t *out) {
    int base = 10;
    std::size_t at = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16, at = 2;
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8, at = 1;
    }
    if (at >= text.size()) return "not a number: '" + text + "'";
    auto shown = [&](std::uint64_t limit) { return base == 16 ? hex_text(limit) : std::to_string(limit); };
    std::uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        int digit = 99;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit >= base) return "not a number: '" + text + "'";
        const auto d = static_cast<std::uint64_t>(digit);
        if (d > max || value > (max - d) / static_cast<std::uint64_t>(base))
            return text + " is above " + shown(max);
        value = value * static_cast<std::uint64_t>(base) + d;
    }
    if (value < low) return text + " is below " + shown(low);
    if (out) *out = value;
    return "";
}

std::uint64_t parse_number(const std::string &text, const std::string &what, std::uint64_t max) {
    std::uint64_t value = 0;
    const std::string fault = number_fault(text, 0, max, &value);
    if (!fault.empty()) throw UsageError(what + ": " + fault);
    return value;
}

Bytes parse_hex(const std::string &text) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ':' || c == ',') {
            if (digits.size() % 2 != 0) break;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw UsageError("--hex: not a hex digit: '" + std::string(1, c) + "'");
        digits += c;
    }
    if (digits.size() % 2 != 0) throw UsageError("--hex: odd number of hex digits (bytes are two digits each)");
    Bytes bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hex_byte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

std::string hex_bytes(const Bytes &bytes) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
        text += cell;
        text += (i + 1 == bytes.size() || i % 16 == 15) ? '\n' : ' ';
    }
    return text;
}

Bytes read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(path + ": " + std::strerror(errno));
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Failure(path + ": read error");
    return bytes;
}

void write_file(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw Failure(path + ": " + std::strerror(errno));
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw Failure(path + ": write error");
}

void confirm(bool assume_yes, const std::string &action) {
    if (assume_yes) return;
    std::cerr << "velta: " << action << ". Continue? [y/N] " << std::flush;
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(std::cin, answer));
    // A terminal echoed the answer and its newline; a pipe or file did not.
    if (!::isatty(STDIN_FILENO)) std::cerr << answer << '\n';
    if (!answered || (answer != "y" && answer != "Y" && answer != "yes")) throw Failure("not confirmed; nothing was written");
}

void compare(const Bytes &read, const Bytes &expected, std::uint64_t base_address) {
    std::size_t first = 0, differing = 0;
    for (std::size_t i = expected.size(); i-- > 0;)
        if (read[i] != expected[i]) first = i, ++differing;
    if (differing == 0) return;
    char text[120];
    std::snprintf(text, sizeof text, "verify failed at 0x%06llx: read 0x%02x, expected 0x%02x (%zu of %zu bytes differ)",
                  static_cast<unsigned long long>(base_address + first), read[first], expected[first], differing,
                  expected.size());
    throw Failure(text);
}

Progress::Progress(std::string label, std::uint64_t total, Show show)
    : label_(std::move(label)), total_(total),
      shown_(show == Show::Always || (show == Show::Auto && ::isatty(STDERR_FILENO))),
      start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

Progress::~Progress() {
    if (shown_ && !finished_ && last_draw_ != start_) std::cerr << '\n';
}

void Progress::advance(std::uint64_t bytes) {
    done_ += bytes;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_draw_ >= std::chrono::milliseconds(100)) draw(false), last_draw_ = now;
}

void Progress::finish() {
    if (finished_) return;
    draw(true);
    finished_ = true;
}

namespace {

std::string amount(double bytes) {
    char text[32];
    if (bytes >= 1024.0 * 1024.0) std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    else if (bytes >= 1024.0) std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else std::snprintf(text, sizeof text, "%.0f B", bytes);
    return text;
}

}  // namespace

void Progress::draw(bool last) {
    if (!shown_) return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (total_ == 0) {
        const long taken = static_cast<long>(seconds);
        std::fprintf(stderr, "\r%s %ld:%02ld%s", label_.c_str(), taken / 60, taken % 60, last ? "\n" : "");
        std::fflush(stderr);
        return;
    }
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
    const double fraction = total_ == 0 ? 1.0 : static_cast<double>(done_) / static_cast<double>(total_);
    const int width = 30, filled = static_cast<int>(fraction * width);
    const long left = rate > 0 ? static_cast<long>(static_cast<double>(total_ - done_) / rate + 0.5) : 0;
    char text[200];
    std::snprintf(text, sizeof text, "\r%s [%s%s] %3d%% %s/%s %s/s %ld:%02ld left ", label_.c_str(),
                  std::string(static_cast<std::size_t>(filled), '#').c_str(),
                  std::string(static_cast<std::size_t>(width - filled), '-').c_str(), static_cast<int>(fraction * 100),
                  amount(static_cast<double>(done_)).c_str(), amount(static_cast<double>(total_)).c_str(),
                  amount(rate).c_str(), left / 60, left % 60);
    std::cerr << text << (last ? "\n" : "") << std::flush;
}

}  // namespace velta
