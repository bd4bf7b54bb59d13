// The configuration loader: any text either loads or is refused with a ConfigError.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    try {
        kvsim::Layout layout = kvsim::parse_config(std::string(reinterpret_cast<const char *>(data), size));
    } catch (const kvsim::ConfigError &) {
    }
    return 0;
}
