// velta: list the bridge's channels, look at I2C and SPI buses, program 24-series EEPROMs and
// 25-series flash, drive the high pins. Exit status 0 on success, 1 when an operation failed,
// 2 for a usage error.
#include <iostream>

#include "cli.h"
#include "libVELTA.h"

using namespace velta;

int main(int argc, char **argv) {
    CLI::App app{"The everyday bus tool for bridges with the VELTA engine.", "velta"};
    app.set_version_flag("--version", std::string("velta ") + VELTA_TOOL_VERSION + " (libVELTA " +
                                          VELTA_GetVersion(nullptr, nullptr, nullptr) + ")");
    app.require_subcommand(1);
    Action action;
    std::vector<std::unique_ptr<CommandFamily>> families;
    for (FamilyMaker add : {add_list, add_i2c, add_spi, add_eeprom, add_flash, add_gpio}) families.push_back(add(app, action));

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
    } catch (const Failure &e) {
        std::cout << e.out << std::flush;
        std::cerr << "velta: " << e.what() << "\n";
        return 1;
    } catch (const std::exception &e) {
        std::cerr << "velta: " << e.what() << "\n";
        return 1;
    }
}
