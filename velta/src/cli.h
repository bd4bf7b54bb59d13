// velta's command line: one family of subcommands per file, each with its own options record
// that lives as long as the parse. A subcommand leaves what it will do in the Action; it runs
// once the whole line is parsed, so a usage error anywhere stops it before any bus is touched.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

#include "channel.h"

namespace velta {

using Action = std::function<std::string()>;

// A family's options; main keeps it until the action has run.
struct CommandFamily {
    virtual ~CommandFamily() = default;
};
using FamilyMaker = std::unique_ptr<CommandFamily> (*)(CLI::App &app, Action &action);

std::unique_ptr<CommandFamily> add_list(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_i2c(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_spi(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_eeprom(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_flash(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_gpio(CLI::App &app, Action &action);
std::unique_ptr<CommandFamily> add_decode(CLI::App &app, Action &action);

constexpr std::uint32_t kMaxClock = 30000000;

// A number (decimal, 0x hex or 0 octal) from low to high, checked while the line is parsed.
CLI::Validator in_range(std::uint64_t low, std::uint64_t high);
// One of the letters in `letters`; `meaning` lists them for the error.
CLI::Validator letter_of(const std::string &letters, const std::string &meaning);
// A number already checked by a validator, or `fallback` when the option was not given.
unsigned number(const std::string &text, unsigned fallback = 0);
std::uint64_t number64(const std::string &text, std::uint64_t fallback = 0);

// The addresses 0x00-0x07 and 0x78-0x7f are reserved; a usage error names -a, which allows them.
unsigned i2c_address(const std::string &text, bool all);
void check_address(unsigned address, bool all);

// What every bus subcommand shares: the channel, the clock, the confirmation and the progress bar.
struct BusOptions {
    std::string channel, clock;
    bool yes = false, progress = false, clock_stretching = false, all_addresses = false, force = false;

    CLI::App *with_channel(CLI::App *command);
    void add_clock(CLI::App *command, const char *fallback);
    // The I2C clock, clock stretching, -a and -f.
    void add_i2c(CLI::App *command);
    void add_yes(CLI::App *command);
    void add_progress(CLI::App *command);

    unsigned channel_index() const { return number(channel); }
    std::uint32_t clock_hz(std::uint32_t fallback) const { return number(clock, fallback); }
    I2cTarget i2c() const { return I2cTarget{channel_index(), clock_hz(kDefaultI2cClock), clock_stretching}; }
    Show show() const { return progress ? Show::Always : Show::Auto; }
};

// The SPI options of the spi and flash families.
struct SpiOptions {
    std::string cs = "3", mode = "0";
    void add(CLI::App *command);
    SpiSettings settings(const BusOptions &bus, std::uint32_t default_clock) const;
};

}  // namespace velta
