// Ordinary versus fast I2C mode for a 64-byte EEPROM write and read through the simulator:
// driver calls and host-to-engine bytes per payload byte, and wall time. The ordinary write
// waits 1 ms per byte before reading its acknowledge; that pause dominates its time.
#include <benchmark/benchmark.h>

#include <vector>

#include "kvsim.h"
#include "libVELTA_i2c.h"

namespace {

const char *kConfig = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "BENCH001", "channels": [{"bus": "i2c", "devices": [
    {"kind": "eeprom24", "name": "eeprom", "address": 80, "write_cycle_us": 0}]}]}]})";

constexpr uint32_t kPayload = 64;

unsigned driver_calls() {
    unsigned total = 0;
    for (int e = 0; e < KVSIM_ENTRY_COUNT; ++e) total += kvsim_call_count(static_cast<kvsim_entry>(e));
    return total;
}

void run(benchmark::State &state, bool write, uint32_t mode) {
    kvsim_load_config_json(kConfig);
    KV_HANDLE handle = nullptr;
    I2CChannelConfig config{400000, 1, 0};
    if (I2C_OpenChannel(0, &handle) != STATUS_SUCCESS || I2C_InitChannel(handle, &config) != STATUS_SUCCESS) {
        state.SkipWithError("no I2C channel");
        return;
    }
    std::vector<uint8_t> data(kPayload + 2, 0x5A);
    data[0] = data[1] = 0;
    uint32_t count = 0;
    const unsigned calls_before = driver_calls();
    kvsim_log_clear(0);
    for (auto _ : state) {
        if (write) {
            I2C_DeviceWrite(handle, 0x50, kPayload + 2, data.data(), &count, I2C_OPT_START | I2C_OPT_STOP | mode);
        } else {
            I2C_DeviceWrite(handle, 0x50, 2, data.data(), &count, I2C_OPT_START | mode);
            I2C_DeviceRead(handle, 0x50, kPayload, data.data(), &count,
                           I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_NACK_FINAL_BYTE | mode);
        }
    }
    // Ordinary mode pauses 1 ms before every acknowledge it reads: each address byte and
    // each byte written (the read also writes the two-byte memory address first).
    const unsigned pauses = mode ? 0 : write ? 1 + kPayload + 2 : 1 + 2 + 1;
    state.counters["pause_ms"] = pauses;
    const double runs = static_cast<double>(state.iterations());
    state.counters["driver_calls"] = (driver_calls() - calls_before) / runs;
    state.counters["bytes_per_payload_byte"] = static_cast<double>(kvsim_log_size(0)) / runs / kPayload;
    I2C_CloseChannel(handle);
}

void BM_WriteOrdinary(benchmark::State &state) { run(state, true, 0); }
void BM_WriteFast(benchmark::State &state) { run(state, true, I2C_OPT_FAST_BYTES); }
void BM_ReadOrdinary(benchmark::State &state) { run(state, false, 0); }
void BM_ReadFast(benchmark::State &state) { run(state, false, I2C_OPT_FAST_BYTES); }

}  // namespace

BENCHMARK(BM_WriteOrdinary)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WriteFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOrdinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFast)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
