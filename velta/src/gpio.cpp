#include "commands.h"
#include "korvin_mid.h"

namespace velta {

std::string gpio_get(unsigned channel) {
    EngineChannel engine(channel);
    std::uint8_t levels = 0;
    check(KV_ReadGPIO(engine.handle(), &levels), "cannot read the high pins");
    return hex_byte(levels) + "\n";
}

void gpio_set(unsigned channel, unsigned direction, unsigned value) {
    EngineChannel engine(channel);
    check(KV_WriteGPIO(engine.handle(), static_cast<std::uint8_t>(direction), static_cast<std::uint8_t>(value)),
          "cannot set the high pins");
}

}  // namespace velta
