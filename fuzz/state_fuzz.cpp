// The state file: any content is loaded or refused with a warning, and a save merges into it
// or leaves it alone.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kvsim.h"

namespace {

const char kBoard[] = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "KV8S0001", "channels": [{"bus": "spi", "devices": [
    {"kind": "torqa", "name": "torqa"}, {"kind": "spi-memory", "name": "flash", "cs": 4, "size": 64, "page_size": 16}]}]},
  {"type": 6, "serial": "KV6D0001", "channels": [{}, {"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "size": 32, "page_size": 8}, {"kind": "i2c-register", "name": "temp"}]}]}]})";

std::string state_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    state_path = "/tmp/kvsim_state_fuzz." + std::to_string(::getpid()) + ".json";
    setenv("KVZUBR_SIM_STATE", state_path.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (FILE *file = std::fopen(state_path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    if (kvsim_load_config_json(kBoard) != 0) std::abort();
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22};
    kvsim_device_put(0, "torqa", "registers", bytes, sizeof bytes);
    kvsim_device_put(0, "flash", "memory", bytes, 3);
    kvsim_device_put(2, "eeprom", "memory", bytes, 5);
    kvsim_device_put(2, "temp", "registers", bytes, 4);
    kvsim_save_state();
    return 0;
}
