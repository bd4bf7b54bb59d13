// velta: list the bridge's channels, look at I2C and SPI buses, program 24-series EEPROMs and
// 25-series flash. Exit status 0 on success, 1 when an operation failed, 2 for a usage error.
#include <CLI/CLI.hpp>

#include <functional>
#include <iostream>

#include "commands.h"
#include "eeprom.h"
#include "flash.h"
#include "i2c.h"
#include "libVELTA.h"

using namespace velta;

namespace {

constexpr std::uint32_t kMaxClock = 30000000;

// Each subcommand leaves what it will do here; it runs once the whole line is parsed, so a
// usage error anywhere stops it before any bus is touched.
using Action = std::function<std::string()>;

unsigned number(const std::string &text, const char *what, std::uint64_t max) {
    return static_cast<unsigned>(parse_number(text, what, max));
}

unsigned i2c_address(const std::string &text) { return number(text, "I2C address", 0x7F); }

// An option's number (decimal, 0x hex or 0 octal) from low to high, checked while the command
// line is parsed.
CLI::Validator in_range(std::uint64_t low, std::uint64_t high) {
    return CLI::Validator([=](std::string &text) { return number_fault(text, low, high); },
                          "NUMBER " + std::to_string(low) + " to " + std::to_string(high));
}

bool word_mode(const std::string &mode) {
    if (mode != "b" && mode != "w") throw UsageError("mode must be b (byte) or w (word), not '" + mode + "'");
    return mode == "w";
}

struct Common {
    std::string channel, clock;
    bool yes = false, progress = false, clock_stretching = false;
    unsigned channel_index() const { return number(channel, "CH", 0xFFFF); }
    std::uint32_t clock_hz(std::uint32_t fallback) const { return clock.empty() ? fallback : number(clock, "--clock", kMaxClock); }
    I2cTarget i2c() const { return I2cTarget{channel_index(), clock_hz(kDefaultI2cClock), clock_stretching}; }
    Show show() const { return progress ? Show::Always : Show::Auto; }
};

CLI::App *with_channel(CLI::App *command, Common &c) {
    command->add_option("CH", c.channel, "channel index, as velta list shows it")->required();
    return command;
}

void add_clock(CLI::App *command, Common &c, const char *fallback) {
    command->add_option("--clock", c.clock, std::string("bus clock in Hz (default ") + fallback + "; the bridge type bounds it)")
        ->check(in_range(1, kMaxClock));
}

// The I2C bus options: its clock, and whether the engine waits while a device stretches it.
void add_i2c_clock(CLI::App *command, Common &c) {
    add_clock(command, c, "100000");
    command->add_flag("--clock-stretching", c.clock_stretching,
                      "wait while a device holds SCL low (SCL wired to pin 7 too; not on full-speed bridges)");
}

void add_yes(CLI::App *command, Common &c) { command->add_flag("-y,--yes", c.yes, "do not ask for confirmation"); }

void add_progress(CLI::App *command, Common &c) {
    command->add_flag("--progress", c.progress, "show progress even when standard error is no terminal");
}

struct SpiOptions {
    std::string cs = "3", mode = "0";
    void add(CLI::App *command) {
        command->add_option("--cs", cs, "chip-select pin, 3 to 7 (default 3), active low")->check(in_range(3, 7));
        command->add_option("--mode", mode, "SPI mode 0 to 3 (default 0)")->check(in_range(0, 3));
    }
    SpiSettings settings(const Common &c, std::uint32_t default_clock) const {
        SpiSettings s;
        s.channel = c.channel_index();
        s.cs = number(cs, "--cs", 7);
        s.mode = number(mode, "--mode", 3);
        s.clock_hz = c.clock_hz(default_clock);
        return s;
    }
};

void add_i2c(CLI::App &app, Common &c, Action &action) {
    CLI::App *i2c = app.add_subcommand("i2c", "I2C bus: detect, get, set, dump, transfer")->require_subcommand(1);

    static std::string first, last;
    static bool all = false, read_probe = false;
    CLI::App *detect = with_channel(i2c->add_subcommand("detect", "show which addresses acknowledge"), c);
    detect->add_option("FIRST", first, "first address to probe (default 0x08)");
    detect->add_option("LAST", last, "last address to probe (default 0x77)");
    detect->add_flag("-a", all, "probe 0x00 to 0x7f");
    detect->add_flag("-r", read_probe, "probe with a one-byte read instead of a write");
    add_i2c_clock(detect, c);
    detect->callback([&] {
        action = [&] {
            DetectOptions o;
            if (all) o.first = 0x00, o.last = 0x7F;
            if (!first.empty() && last.empty()) throw UsageError("give both FIRST and LAST");
            if (!first.empty()) o.first = i2c_address(first), o.last = i2c_address(last);
            if (o.first > o.last) throw UsageError("FIRST is above LAST");
            o.read_probe = read_probe;
            return i2c_detect(c.i2c(), o);
        };
    });

    static std::string address, reg, value, mode = "b", range;
    CLI::App *get = with_channel(i2c->add_subcommand("get", "read a byte, or a register's byte or word"), c);
    get->add_option("ADDR", address, "device address")->required();
    get->add_option("REG", reg, "register");
    get->add_option("MODE", mode, "b (byte, default) or w (word, low byte first)");
    add_i2c_clock(get, c);
    get->callback([&] {
        action = [&] {
            RegisterAccess a{i2c_address(address), !reg.empty(), reg.empty() ? 0 : number(reg, "REG", 0xFF), word_mode(mode)};
            return i2c_get(c.i2c(), a);
        };
    });

    CLI::App *set = with_channel(i2c->add_subcommand("set", "write a register's byte or word"), c);
    set->add_option("ADDR", address, "device address")->required();
    set->add_option("REG", reg, "register")->required();
    set->add_option("VALUE", value, "value")->required();
    set->add_option("MODE", mode, "b (byte, default) or w (word, low byte first)");
    add_yes(set, c);
    add_i2c_clock(set, c);
    set->callback([&] {
        action = [&] {
            RegisterAccess a{i2c_address(address), true, number(reg, "REG", 0xFF), word_mode(mode)};
            const unsigned v = number(value, "VALUE", a.word ? 0xFFFF : 0xFF);
            confirm(c.yes, "this writes " + value + " to register " + reg + " of I2C device " + hex_byte(a.device));
            i2c_set(c.i2c(), a, v);
            return std::string();
        };
    });

    CLI::App *dump = with_channel(i2c->add_subcommand("dump", "show a device's registers"), c);
    dump->add_option("ADDR", address, "device address")->required();
    dump->add_option("MODE", mode, "b (byte, default) or w (word)");
    dump->add_option("-r", range, "registers FIRST-LAST (default 0x00-0xff)");
    add_i2c_clock(dump, c);
    dump->callback([&] {
        action = [&] {
            unsigned from = 0, to = 0xFF;
            if (!range.empty()) {
                const std::size_t dash = range.find('-');
                if (dash == std::string::npos) throw UsageError("-r takes FIRST-LAST");
                from = number(range.substr(0, dash), "-r FIRST", 0xFF);
                to = number(range.substr(dash + 1), "-r LAST", 0xFF);
                if (from > to) throw UsageError("-r: FIRST is above LAST");
            }
            const bool word = word_mode(mode);
            return i2c_dump(c.i2c(), i2c_address(address), word, from, to);
        };
    });

    static std::vector<std::string> words;
    CLI::App *transfer = with_channel(i2c->add_subcommand("transfer", "messages joined by repeated starts"), c);
    transfer->add_option("MSG", words, "r<length>[@addr] or w<length>[@addr] followed by its bytes")->required();
    add_yes(transfer, c);
    add_i2c_clock(transfer, c);
    transfer->callback([&] {
        action = [&] {
            const std::vector<I2cMessage> messages = parse_messages(words);
            for (const I2cMessage &m : messages)
                if (!m.read) confirm(c.yes, "this writes to I2C device " + hex_byte(m.device));
            return i2c_transfer(c.i2c(), messages);
        };
    });
}

void add_spi(CLI::App &app, Common &c, Action &action) {
    CLI::App *spi = app.add_subcommand("spi", "SPI bus")->require_subcommand(1);
    static SpiOptions o;
    static std::vector<std::string> hex;
    static std::string in, out;
    CLI::App *transfer = with_channel(spi->add_subcommand("transfer", "chip-select frames, full duplex"), c);
    o.add(transfer);
    add_clock(transfer, c, "1000000");
    CLI::Option *hex_option =
        transfer->add_option("--hex", hex, "bytes to send, as hex digits; each --hex is a frame of its own")->allow_extra_args(false);
    transfer->add_option("--in", in, "file of bytes to send")->excludes(hex_option);
    transfer->add_option("--out", out, "file for the bytes received (else printed in hex)");
    transfer->callback([&] {
        action = [&] {
            const SpiSettings s = o.settings(c, 1000000);
            if (hex.empty() && in.empty()) throw UsageError("give the bytes to send with --hex or --in");
            std::vector<Bytes> frames;
            for (const std::string &h : hex) frames.push_back(parse_hex(h));
            if (!in.empty()) frames.push_back(read_file(in));
            for (const Bytes &frame : frames)
                if (frame.empty()) throw UsageError("nothing to send");
            Bytes received;
            std::string printed;
            for (const Bytes &frame : spi_transfer(s, frames)) {
                received.insert(received.end(), frame.begin(), frame.end());
                printed += hex_bytes(frame);
            }
            if (out.empty()) return printed;
            write_file(out, received);
            return std::string();
        };
    });
}

void add_eeprom(CLI::App &app, Common &c, Action &action) {
    CLI::App *eeprom = app.add_subcommand("eeprom", "24-series I2C EEPROM: read, write, verify")->require_subcommand(1);
    static std::string address, size, page, address_bytes, file;
    static bool no_verify = false;
    for (const char *name : {"read", "write", "verify"}) {
        CLI::App *command = with_channel(eeprom->add_subcommand(name, std::string(name) + " the memory against FILE"), c);
        command->add_option("ADDR", address, "device address")->required();
        command->add_option("FILE", file, "file")->required();
        command->add_option("--size", size, "memory size in bytes")->required()->check(in_range(1, 1u << 24));
        command->add_option("--page", page, "write page size (default from the size)")->check(in_range(1, 65536));
        command->add_option("--addr-bytes", address_bytes, "memory address bytes, 1 or 2 (default 1 up to 256 bytes)")
            ->check(in_range(1, 2));
        add_i2c_clock(command, c);
        add_progress(command, c);
        if (std::string(name) == "write") {
            add_yes(command, c);
            command->add_flag("--no-verify", no_verify, "do not read the bytes back after writing them");
        }
        command->callback([&, name] {
            action = [&, name] {
                EepromGeometry g;
                g.device = i2c_address(address);
                g.size = parse_number(size, "--size", 1u << 24);
                g.page = page.empty() ? 0 : number(page, "--page", 65536);
                g.address_bytes = address_bytes.empty() ? 0 : number(address_bytes, "--addr-bytes", 2);
                if (std::string(name) == "write") confirm(c.yes, "this writes " + file + " to the EEPROM at " + hex_byte(g.device));
                eeprom_command(name, c.i2c(), g, file, c.show(), !no_verify);
                return std::string();
            };
        });
    }
}

void add_flash(CLI::App &app, Common &c, Action &action) {
    CLI::App *flash = app.add_subcommand("flash", "25-series SPI flash: id, read, write, verify, erase")->require_subcommand(1);
    static SpiOptions o;
    static std::string size, page, address_bytes, file;
    static bool no_erase = false;
    const char *help[] = {"show the JEDEC identification", "read the whole chip into FILE", "write FILE from address 0",
                          "compare the chip with FILE", "erase the whole chip"};
    const char *names[] = {"id", "read", "write", "verify", "erase"};
    for (int i = 0; i < 5; ++i) {
        const std::string name = names[i];
        CLI::App *command = with_channel(flash->add_subcommand(name, help[i]), c);
        if (name == "read" || name == "write" || name == "verify") command->add_option("FILE", file, "file")->required();
        o.add(command);
        add_clock(command, c, "10000000");
        command->add_option("--size", size, "chip size in bytes (default: what the chip tells)")
            ->check(in_range(1, std::uint64_t{1} << 32));
        command->add_option("--addr-bytes", address_bytes, "address bytes, 2 to 4 (default: what the chip tells)")
            ->check(in_range(2, 4));
        command->add_option("--page", page, "program page size (default 256)")->check(in_range(1, 65536));
        if (name != "id") add_progress(command, c);
        if (name == "write") command->add_flag("--no-erase", no_erase, "do not erase sectors before programming");
        if (name == "write" || name == "erase") add_yes(command, c);
        command->callback([&, name] {
            action = [&, name] {
                FlashCommand f;
                f.action = name;
                f.spi = o.settings(c, 10000000);
                f.geometry.size = size.empty() ? 0 : parse_number(size, "--size", std::uint64_t{1} << 32);
                f.geometry.page = page.empty() ? 256 : number(page, "--page", 65536);
                f.geometry.address_bytes = address_bytes.empty() ? 0 : number(address_bytes, "--addr-bytes", 4);
                f.file = file;
                f.erase = !no_erase;
                f.show = c.show();
                if (name == "write") confirm(c.yes, "this writes " + file + " to the flash");
                if (name == "erase") confirm(c.yes, "this erases the whole flash");
                return flash_command(f);
            };
        });
    }
}

void add_gpio(CLI::App &app, Common &c, Action &action) {
    static std::string verb, direction, value;
    CLI::App *gpio = with_channel(app.add_subcommand("gpio", "the high pins: CH get, or CH set DIRECTION VALUE"), c);
    gpio->add_option("ACTION", verb, "get or set")->required();
    gpio->add_option("DIRECTION", direction, "set: direction byte, 1 = output");
    gpio->add_option("VALUE", value, "set: value byte");
    add_yes(gpio, c);
    gpio->callback([&] {
        action = [&] {
            if (verb == "get") {
                if (!direction.empty()) throw UsageError("gpio get takes no further arguments");
                return gpio_get(c.channel_index());
            }
            if (verb != "set") throw UsageError("gpio takes get or set, not '" + verb + "'");
            if (value.empty()) throw UsageError("gpio set needs DIRECTION and VALUE");
            const unsigned d = number(direction, "DIRECTION", 0xFF), v = number(value, "VALUE", 0xFF);
            confirm(c.yes, "this sets the high pins of channel " + c.channel);
            gpio_set(c.channel_index(), d, v);
            return std::string();
        };
    });
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"The everyday bus tool for bridges with the VELTA engine.", "velta"};
    app.set_version_flag("--version", std::string("velta ") + VELTA_TOOL_VERSION + " (libVELTA " +
                                          VELTA_GetVersion(nullptr, nullptr, nullptr) + ")");
    app.require_subcommand(1);
    Common common;
    Action action;
    bool json = false;
    CLI::App *list = app.add_subcommand("list", "list the engine channels");
    list->add_flag("--json", json, "as JSON");
    list->callback([&] { action = [&] { return list_channels(json); }; });
    add_i2c(app, common, action);
    add_spi(app, common, action);
    add_eeprom(app, common, action);
    add_flash(app, common, action);
    add_gpio(app, common, action);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "velta: " << e.what() << " (see velta --help)\n";
        return 2;
    }
    try {
        std::cout << action() << std::flush;
        return 0;
    } catch (const UsageError &e) {
        std::cerr << "velta: " << e.what() << "\n";
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "velta: " << e.what() << "\n";
        return 1;
    }
}
