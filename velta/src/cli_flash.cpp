// velta flash id|read|write|verify|erase
#include "cli.h"
#include "flash.h"

namespace velta {

namespace {

struct FlashFamily : CommandFamily {
    BusOptions bus;
    SpiOptions spi;
    std::string size, page, address_bytes, file;
    bool no_erase = false;

    FlashFamily(CLI::App &app, Action &action) {
        CLI::App *family = app.add_subcommand("flash", "25-series SPI flash: id, read, write, verify, erase")->require_subcommand(1);
        const char *help[] = {"show the JEDEC identification", "read the whole chip into FILE", "write FILE from address 0",
                              "compare the chip with FILE", "erase the whole chip"};
        const char *names[] = {"id", "read", "write", "verify", "erase"};
        for (int i = 0; i < 5; ++i) {
            const std::string name = names[i];
            CLI::App *command = bus.with_channel(family->add_subcommand(name, help[i]));
            if (name == "read" || name == "write" || name == "verify") command->add_option("FILE", file, "file")->required();
            spi.add(command);
            bus.add_clock(command, "10000000");
            command->add_option("--size", size, "chip size in bytes (default: what the chip tells)")
                ->check(in_range(1, std::uint64_t{1} << 32));
            command->add_option("--addr-bytes", address_bytes, "address bytes, 2 to 4 (default: what the chip tells)")
                ->check(in_range(2, 4));
            command->add_option("--page", page, "program page size (default 256)")->check(in_range(1, 65536));
            if (name != "id") bus.add_progress(command);
            if (name == "write") command->add_flag("--no-erase", no_erase, "do not erase sectors before programming");
            if (name == "write" || name == "erase") bus.add_yes(command);
            command->callback([this, &action, name] { action = [this, name] { return run(name); }; });
        }
    }

    std::string run(const std::string &name) const {
        FlashCommand f;
        f.action = name;
        f.spi = spi.settings(bus, 10000000);
        f.geometry.size = number64(size);
        f.geometry.page = number(page, 256);
        f.geometry.address_bytes = number(address_bytes);
        f.file = file;
        f.erase = !no_erase;
        f.show = bus.show();
        if (name == "write") confirm(bus.yes, "this writes " + file + " to the flash");
        if (name == "erase") confirm(bus.yes, "this erases the whole flash");
        return flash_command(f);
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_flash(CLI::App &app, Action &action) { return std::make_unique<FlashFamily>(app, action); }

}  // namespace velta
