// velta eeprom read|write|verify
#include "cli.h"
#include "eeprom.h"

namespace velta {

namespace {

struct EepromFamily : CommandFamily {
    BusOptions bus;
    std::string address, size, page, address_bytes, file;
    bool no_verify = false;

    EepromFamily(CLI::App &app, Action &action) {
        CLI::App *family = app.add_subcommand("eeprom", "24-series I2C EEPROM: read, write, verify")->require_subcommand(1);
        for (const char *name : {"read", "write", "verify"}) {
            CLI::App *command = bus.with_channel(family->add_subcommand(name, std::string(name) + " the memory against FILE"));
            command->add_option("ADDR", address, "device address")->required()->check(in_range(0, 0x7F));
            command->add_option("FILE", file, "file")->required();
            command->add_option("--size", size, "memory size in bytes")->required()->check(in_range(1, 1u << 24));
            command->add_option("--page", page, "write page size (default from the size)")->check(in_range(1, 65536));
            command->add_option("--addr-bytes", address_bytes, "memory address bytes, 1 or 2 (default 1 up to 256 bytes)")
                ->check(in_range(1, 2));
            bus.add_i2c(command);
            bus.add_progress(command);
            if (std::string(name) == "write") {
                bus.add_yes(command);
                command->add_flag("--no-verify", no_verify, "do not read the bytes back after writing them");
            }
            command->callback([this, &action, name] { action = [this, name] { return run(name); }; });
        }
    }

    std::string run(const std::string &name) const {
        EepromGeometry g;
        g.device = i2c_address(address, bus.all_addresses);
        g.size = number64(size);
        g.page = number(page);
        g.address_bytes = number(address_bytes);
        g.settle();
        if (name == "write") confirm(bus.yes, "this writes " + file + " to the EEPROM at " + hex_byte(g.device));
        eeprom_command(name, bus.i2c(), g, file, bus.show(), !no_verify);
        return "";
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_eeprom(CLI::App &app, Action &action) { return std::make_unique<EepromFamily>(app, action); }

}  // namespace velta
