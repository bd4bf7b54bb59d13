#include "cli.h"

namespace velta {

CLI::Validator in_range(std::uint64_t low, std::uint64_t high) {
    return CLI::Validator([=](std::string &text) { return number_fault(text, low, high); },
                          "NUMBER " + std::to_string(low) + " to " + std::to_string(high));
}

CLI::Validator letter_of(const std::string &letters, const std::string &meaning) {
    return CLI::Validator(
        [=](std::string &text) {
            return text.size() == 1 && letters.find(text[0]) != std::string::npos ? "" : "must be " + meaning + ", not '" + text + "'";
        },
        "MODE");
}

std::uint64_t number64(const std::string &text, std::uint64_t fallback) {
    return text.empty() ? fallback : parse_number(text, "number", ~std::uint64_t{0});
}

unsigned number(const std::string &text, unsigned fallback) { return static_cast<unsigned>(number64(text, fallback)); }

void check_address(unsigned address, bool all) {
    if (!all && (address < 0x08 || address > 0x77))
        throw UsageError("I2C address " + hex_byte(address) + " is reserved (0x00-0x07, 0x78-0x7f); -a allows it");
}

unsigned i2c_address(const std::string &text, bool all) {
    const unsigned address = number(text);
    check_address(address, all);
    return address;
}

CLI::App *BusOptions::with_channel(CLI::App *command) {
    command->add_option("CH", channel, "channel index, as velta list shows it")->required()->check(in_range(0, 0xFFFF));
    return command;
}

void BusOptions::add_clock(CLI::App *command, const char *fallback) {
    command->add_option("--clock", clock, std::string("bus clock in Hz (default ") + fallback + "; the bridge type bounds it)")
        ->check(in_range(1, kMaxClock));
}

void BusOptions::add_i2c(CLI::App *command) {
    add_clock(command, "100000");
    command->add_flag("--clock-stretching", clock_stretching,
                      "wait while a device holds SCL low (SCL wired to pin 7 too; not on full-speed bridges)");
    command->add_flag("-a", all_addresses, "allow the reserved addresses 0x00-0x07 and 0x78-0x7f");
    // No kernel driver can hold an address on the bridge's bus, so there is nothing to force.
    command->add_flag("-f,--force", force, "accepted as the I2C tools take it; velta always has the address");
}

void BusOptions::add_yes(CLI::App *command) {
    command->add_flag("-y,--yes", yes, "do not ask for confirmation (reads and scans never ask)");
}

void BusOptions::add_progress(CLI::App *command) {
    command->add_flag("--progress", progress, "show progress even when standard error is no terminal");
}

void SpiOptions::add(CLI::App *command) {
    command->add_option("--cs", cs, "chip-select pin, 3 to 7 (default 3), active low")->check(in_range(3, 7));
    command->add_option("--mode", mode, "SPI mode 0 to 3 (default 0)")->check(in_range(0, 3));
}

SpiSettings SpiOptions::settings(const BusOptions &bus, std::uint32_t default_clock) const {
    SpiSettings s;
    s.channel = bus.channel_index();
    s.cs = number(cs);
    s.mode = number(mode);
    s.clock_hz = bus.clock_hz(default_clock);
    return s;
}

}  // namespace velta
