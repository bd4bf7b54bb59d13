// velta i2c detect|get|set|dump|transfer, with the options and formats of the Linux I2C tools.
#include <iostream>

#include "cli.h"
#include "i2c.h"

namespace velta {

namespace {

struct Detect {
    std::string first, last;
    bool read_probe = false, write_probe = false;
};
struct Get {
    std::string address, reg, mode = "b", length;
};
struct Set {
    std::string address, reg, mask;
    std::vector<std::string> rest;  // the values, then perhaps the mode
    bool read_back = false;
};
struct Dump {
    std::string address, mode = "b", range;
};
struct Transfer {
    std::vector<std::string> words;
    bool verbose = false;
};

bool is_mode(const std::string &word) { return word.size() == 1 && std::string("cbwis").find(word[0]) != std::string::npos; }

struct I2cFamily : CommandFamily {
    BusOptions bus;
    Detect detect;
    Get get;
    Set set;
    Dump dump;
    Transfer transfer;

    I2cFamily(CLI::App &app, Action &action) {
        CLI::App *family = app.add_subcommand("i2c", "I2C bus: detect, get, set, dump, transfer")->require_subcommand(1);
        auto command = [&](const char *name, const char *help, std::function<std::string()> run) {
            CLI::App *c = bus.with_channel(family->add_subcommand(name, help));
            bus.add_i2c(c);
            bus.add_yes(c);
            c->callback([&action, run] { action = run; });
            return c;
        };
        const CLI::Validator address = in_range(0, 0x7F), byte = in_range(0, 0xFF);

        CLI::App *d = command("detect", "show which addresses acknowledge", [this] { return run_detect(); });
        d->add_option("FIRST", detect.first, "first address to probe (default 0x08)")->check(address);
        d->add_option("LAST", detect.last, "last address to probe (default 0x77)")->check(address);
        CLI::Option *read = d->add_flag("-r", detect.read_probe, "probe with a one-byte read instead of a write");
        d->add_flag("-q", detect.write_probe, "probe with a write (the default)")->excludes(read);

        CLI::App *g = command("get", "read a byte, a register's byte or word, or a block", [this] { return run_get(); });
        g->add_option("ADDR", get.address, "device address")->required()->check(address);
        g->add_option("REG", get.reg, "register")->check(byte);
        g->add_option("MODE", get.mode, "b byte (default), w word, c byte after a pointer write, i I2C block, s SMBus block")
            ->check(letter_of("bwcis", "b, w, c, i or s"));
        g->add_option("LENGTH", get.length, "mode i: bytes to read, 1 to 32 (default 32)")->check(in_range(1, kMaxBlock));

        CLI::App *s = command("set", "write a register: a byte, a word, a block, or its number alone",
                              [this] { return run_set(); });
        s->add_option("ADDR", set.address, "device address")->required()->check(address);
        s->add_option("REG", set.reg, "register")->required()->check(byte);
        s->add_option("VALUE", set.rest, "value(s), then the mode: c no value, b byte (default), w word, i I2C block, s SMBus block")
            ->check(CLI::Validator([](std::string &text) { return is_mode(text) ? "" : number_fault(text, 0, 0xFFFF); }, "VALUE"));
        s->add_option("-m", set.mask, "change only the bits set in MASK; the others are read from the device first")
            ->check(in_range(1, 0xFFFF));
        s->add_flag("-r", set.read_back, "read the register back and compare");

        CLI::App *u = command("dump", "show a device's registers", [this] { return run_dump(); });
        u->add_option("ADDR", dump.address, "device address")->required()->check(address);
        u->add_option("MODE", dump.mode, "b byte (default), w word, W words at even registers, c consecutive bytes, "
                                         "i I2C block, s SMBus block")
            ->check(letter_of("bwWcis", "b, w, W, c, i or s"));
        u->add_option("-r", dump.range, "registers FIRST-LAST (default 0x00-0xff)");

        CLI::App *t = command("transfer", "messages joined by repeated starts", [this] { return run_transfer(); });
        t->add_option("MSG", transfer.words, "r<length>[@addr] or w<length>[@addr] followed by its bytes")->required();
        t->add_flag("-v", transfer.verbose, "show every message with its address, direction, length and bytes");
    }

    std::string run_detect() const {
        DetectOptions o;
        if (bus.all_addresses) o.first = 0x00, o.last = 0x7F;
        if (!detect.first.empty() && detect.last.empty()) throw UsageError("give both FIRST and LAST");
        if (!detect.first.empty()) o.first = i2c_address(detect.first, bus.all_addresses), o.last = i2c_address(detect.last, bus.all_addresses);
        if (o.first > o.last) throw UsageError("FIRST is above LAST");
        o.read_probe = detect.read_probe;
        const DetectResult result = i2c_detect(bus.i2c(), o);
        if (result.all_answered) std::cerr << "velta: every probed address answered: no pull-ups, or not an I2C bus?\n";
        return result.grid;
    }

    std::string run_get() const {
        RegisterAccess a{i2c_address(get.address, bus.all_addresses), !get.reg.empty(), number(get.reg), get.mode[0],
                         number(get.length, kMaxBlock)};
        if (!get.length.empty() && a.mode != 'i') throw UsageError("LENGTH goes with mode i only");
        return i2c_get(bus.i2c(), a);
    }

    std::string run_set() const {
        RegisterWrite w;
        w.device = i2c_address(set.address, bus.all_addresses);
        w.reg = number(set.reg);
        std::vector<std::string> values = set.rest;
        if (!values.empty() && is_mode(values.back())) w.mode = values.back()[0], values.pop_back();
        else if (values.empty()) w.mode = 'c';
        const unsigned top = w.mode == 'w' ? 0xFFFF : 0xFF;
        for (const std::string &v : values) {
            if (is_mode(v)) throw UsageError("the mode comes last: '" + v + "'");
            const std::string fault = number_fault(v, 0, top);
            if (!fault.empty()) throw UsageError("VALUE: " + fault);
            w.values.push_back(number(v));
        }
        const bool block = w.mode == 'i' || w.mode == 's';
        const std::size_t most = block ? kMaxBlock : w.mode == 'c' ? 0 : 1;
        if (values.size() > most || (w.mode != 'c' && values.empty()))
            throw UsageError(std::string("mode ") + w.mode + " takes " + (block ? "1 to 32 values" : most == 0 ? "no value" : "one value"));
        w.mask = number(set.mask);
        if (w.mask > top) throw UsageError("-m: the mask is wider than the value");
        if (w.mask != 0 && (block || w.mode == 'c')) throw UsageError("-m goes with modes b and w only");
        if (set.read_back && block) throw UsageError("-r goes with modes c, b and w only");
        w.read_back = set.read_back;
        confirm(bus.yes, "this writes to register " + hex_byte(w.reg) + " of I2C device " + hex_byte(w.device));
        return i2c_set(bus.i2c(), w);
    }

    std::string run_dump() const {
        unsigned first = 0, last = 0xFF;
        const char mode = dump.mode[0];
        if (!dump.range.empty()) {
            if (mode == 's') throw UsageError("-r does not go with mode s");
            const std::size_t dash = dump.range.find('-');
            if (dash == std::string::npos) throw UsageError("-r takes FIRST-LAST");
            first = static_cast<unsigned>(parse_number(dump.range.substr(0, dash), "-r FIRST", 0xFF));
            last = static_cast<unsigned>(parse_number(dump.range.substr(dash + 1), "-r LAST", 0xFF));
            if (first > last) throw UsageError("-r: FIRST is above LAST");
            if (mode == 'W' && (first % 2 != 0 || last % 2 != 1)) throw UsageError("-r: mode W takes an even FIRST and an odd LAST");
        }
        return i2c_dump(bus.i2c(), i2c_address(dump.address, bus.all_addresses), mode, first, last);
    }

    std::string run_transfer() const {
        const std::vector<I2cMessage> messages = parse_messages(transfer.words);
        std::string writes;
        for (const I2cMessage &m : messages) {
            check_address(m.device, bus.all_addresses);
            if (!m.read && writes.find(hex_byte(m.device)) == std::string::npos) writes += (writes.empty() ? "" : ", ") + hex_byte(m.device);
        }
        if (!writes.empty()) confirm(bus.yes, "this writes to I2C device " + writes);
        return i2c_transfer(bus.i2c(), messages, transfer.verbose);
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_i2c(CLI::App &app, Action &action) { return std::make_unique<I2cFamily>(app, action); }

}  // namespace velta
