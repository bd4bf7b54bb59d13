// The engine's command stream, written through the driver's write entry point in pieces the
// input chooses, onto channels with SPI and I2C devices.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kvsim.h"

extern "C" {
KV_STATUS KV_Open(uint32_t, KV_HANDLE *);
KV_STATUS KV_Close(KV_HANDLE);
KV_STATUS KV_SetBitMode(KV_HANDLE, uint8_t, uint8_t);
KV_STATUS KV_Read(KV_HANDLE, void *, uint32_t, uint32_t *);
KV_STATUS KV_Write(KV_HANDLE, void *, uint32_t, uint32_t *);
KV_STATUS KV_Purge(KV_HANDLE, uint32_t);
}

namespace {

// Channels 0 (SPI, high speed), 2 (I2C) and 3 (SPI, full speed) carry an engine.
const char kBoard[] = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "KV8S0001", "channels": [{"bus": "spi", "devices": [
    {"kind": "torqa", "name": "torqa"}, {"kind": "spi-memory", "name": "flash", "cs": 4, "size": 4096, "page_size": 16},
    {"kind": "spi-test", "name": "probe", "cs": 5, "mode": 1}]}]},
  {"type": 6, "serial": "KV6D0001", "channels": [{}, {"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "size": 512, "page_size": 16, "write_cycle_us": 0},
    {"kind": "i2c-register", "name": "temp"}, {"kind": "i2c-test", "name": "probe", "ack_bytes": 3}]}]},
  {"type": 4, "serial": "KV4D0001", "channels": [{"bus": "spi", "devices": [{"kind": "spi-memory", "name": "m"}]}]}]})";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KVZUBR_SIM_STATE", "", 1);
    return 0;
}

// Input: a channel selector byte, then pieces, each a control byte (low six bits: length;
// bit 6: read the answers afterwards; bit 7: purge afterwards) and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    if (kvsim_load_config_json(kBoard) != 0) std::abort();
    static const std::uint32_t channels[] = {0, 2, 3};
    KV_HANDLE handle = nullptr;
    if (KV_Open(channels[data[0] % 3], &handle) != 0 || KV_SetBitMode(handle, 0, 2) != 0) std::abort();
    static std::uint8_t answers[1 << 16];
    for (std::size_t at = 1; at < size;) {
        const std::uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>(control & 0x3F, size - at);
        std::uint32_t done = 0;
        const KV_STATUS status = KV_Write(handle, const_cast<std::uint8_t *>(data + at), std::uint32_t(length), &done);
        if (done > length || (status != 0 && status != KVSIM_STATUS_QUEUE_FULL)) std::abort();
        at += length;
        if (control & 0x40) KV_Read(handle, answers, sizeof answers, &done);
        if (control & 0x80) KV_Purge(handle, 3);
    }
    KV_Close(handle);
    return 0;
}
