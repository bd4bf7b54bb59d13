#include "config.h"

namespace kvsim {

// The tools rely on this order: the sensor sits on the first engine channel.
const char *default_config() {
    return R"({"wall_clock": true, "bridges": [
  {"type": 8, "serial": "KV8S0001", "description": "VELTA single bridge",
   "channels": [{"bus": "spi", "devices": [
     {"kind": "torqa", "name": "torqa", "cs": 3, "mode": 0, "active_low": true}]}]},
  {"type": 6, "serial": "KV6D0001", "description": "VELTA dual bridge",
   "channels": [
     {"bus": "spi", "devices": [{"kind": "spi-memory", "name": "flash", "cs": 3, "mode": 0, "active_low": true}]},
     {"bus": "i2c", "devices": [{"kind": "eeprom24", "name": "eeprom", "address": 80},
                                {"kind": "i2c-register", "name": "temp", "address": 72}]}]},
  {"type": 4, "serial": "KV4D0001", "description": "VELTA full-speed dual bridge",
   "channels": [{"bus": "spi", "devices": []}]},
  {"type": 7, "serial": "KV7Q0001", "description": "VELTA quad bridge",
   "channels": [{"bus": "spi", "devices": []}, {"bus": "spi", "devices": []}]}
]})";
}

}  // namespace kvsim
