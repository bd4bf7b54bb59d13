#include <cstdio>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "libVELTA_spi.h"

namespace velta {

std::string list_channels(bool json) {
    std::uint32_t count = 0;
    check(SPI_GetNumChannels(&count), "cannot count the bridge channels");
    if (count == 0) throw Failure("no bridge channel with the engine found");
    nlohmann::json all = nlohmann::json::array();
    char line[200];
    std::snprintf(line, sizeof line, "%-3s %-3s %-5s %-18s %-16s %-32s %s\n", "CH", "-c", "LAYER", "TYPE", "SERIAL",
                  "DESCRIPTION", "LOCATION");
    std::string text = line;
    for (std::uint32_t i = 0; i < count; ++i) {
        DeviceListEntry entry{};
        check(SPI_GetChannelInfo(i, &entry), "cannot describe channel " + std::to_string(i));
        all.push_back({{"index", i},
                       {"tq_channel", i + 1},
                       {"layer_index", i + 1},
                       {"type", entry.DeviceType},
                       {"type_name", device_type_name(entry.DeviceType)},
                       {"serial", entry.SerialText},
                       {"description", entry.DescriptionText},
                       {"location", entry.Location}});
        std::snprintf(line, sizeof line, "%-3u %-3u %-5u %-18s %-16s %-32s 0x%x\n", i, i + 1, i + 1, device_type_name(entry.DeviceType),
                      entry.SerialText, entry.DescriptionText, entry.Location);
        text += line;
    }
    return json ? all.dump(2) + "\n" : text;
}

}  // namespace velta
