// velta list
#include "cli.h"
#include "commands.h"

namespace velta {

namespace {

struct ListOptions : CommandFamily {
    bool json = false;
    ListOptions(CLI::App &app, Action &action) {
        CLI::App *list = app.add_subcommand("list", "list the engine channels, with the numbers other tools give them");
        list->add_flag("--json", json, "as JSON");
        list->callback([this, &action] { action = [this] { return list_channels(json); }; });
    }
};

}  // namespace

std::unique_ptr<CommandFamily> add_list(CLI::App &app, Action &action) { return std::make_unique<ListOptions>(app, action); }

}  // namespace velta
