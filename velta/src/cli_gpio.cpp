// velta gpio get|set, as the GPIO character-device tools do it: pins by number, PIN=VALUE, and a
// set that holds its values while velta keeps the channel open.
#include <cmath>
#include <cstdlib>

#include "cli.h"
#include "commands.h"

namespace velta {

namespace {

// 1, active, on, true or 0, inactive, off, false; -1 for anything else.
int level_of(const std::string &text) {
    for (const char *high : {"1", "active", "on", "true"})
        if (text == high) return 1;
    for (const char *low : {"0", "inactive", "off", "false"})
        if (text == low) return 0;
    return -1;
}

std::string pin_value_fault(const std::string &text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return "'" + text + "' is not PIN=VALUE";
    const std::string pin = number_fault(text.substr(0, equals), 0, 7);
    if (!pin.empty()) return "pin " + pin;
    if (level_of(text.substr(equals + 1)) < 0) return "'" + text.substr(equals + 1) + "' is not 0, 1, active or inactive";
    return "";
}

// Seconds, fractions allowed, up to a year.
std::string seconds_fault(const std::string &text) {
    char *end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds >= 0) || seconds > 366 * 86400.0) return "not a number of seconds: '" + text + "'";
    return "";
}

struct GpioFamily : CommandFamily {
    BusOptions bus;
    std::vector<std::string> pins, assignments;
    bool numeric = false;
    CLI::Option *hold = nullptr;
    std::string hold_seconds;

    GpioFamily(CLI::App &app, Action &action) {
        CLI::App *family = app.add_subcommand("gpio", "the eight high pins: get, set")->require_subcommand(1);
        CLI::App *get = bus.with_channel(family->add_subcommand("get", "read the levels of pins (default all eight)"));
        get->add_option("PIN", pins, "pin number, 0 to 7")->check(in_range(0, 7));
        get->add_flag("--numeric", numeric, "print 1 and 0 instead of \"PIN\"=active and inactive");
        get->callback([this, &action] { action = [this] { return run_get(); }; });

        CLI::App *set = bus.with_channel(family->add_subcommand("set", "drive pins; the others become inputs"));
        set->add_option("PIN=VALUE", assignments, "pin 0 to 7, value 0, 1, active or inactive")
            ->required()
            ->check(CLI::Validator([](std::string &text) { return pin_value_fault(text); }, "PIN=VALUE"));
        hold = set->add_option("--hold", hold_seconds, "keep the values until interrupted, or for SECONDS")
                   ->expected(0, 1)
                   ->check(CLI::Validator([](std::string &text) { return text.empty() ? "" : seconds_fault(text); }, "SECONDS"));
        bus.add_yes(set);
        set->callback([this, &action] { action = [this] { return run_set(); }; });
    }

    std::string run_get() const {
        std::vector<unsigned> which;
        for (const std::string &p : pins) which.push_back(number(p));
        if (which.empty())
            for (unsigned p = 0; p < 8; ++p) which.push_back(p);
        return gpio_get(bus.channel_index(), which, numeric);
    }

    std::string run_set() const {
        std::vector<PinValue> values;
        for (const std::string &a : assignments) {
            const std::size_t equals = a.find('=');
            const unsigned pin = number(a.substr(0, equals));
            for (const PinValue &v : values)
                if (v.pin == pin) throw UsageError("pin " + std::to_string(pin) + " is given twice");
            values.push_back(PinValue{pin, level_of(a.substr(equals + 1)) == 1});
        }
        double seconds = 0;
        if (hold->count() > 0) seconds = hold_seconds.empty() ? INFINITY : std::strtod(hold_seconds.c_str(), nullptr);
        confirm(bus.yes, "this drives high pins of channel " + bus.channel);
        gpio_set(bus.channel_index(), values, seconds);
        return "";
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_gpio(CLI::App &app, Action &action) { return std::make_unique<GpioFamily>(app, action); }

}  // namespace velta
