// The transaction calls against the byte-level paths, through the simulated bridge (wall clock
// off, so the figures are host time): a one-register I2C read (pointer write, repeated start,
// two bytes read) as one I2C_Transfer call and as the ordinary byte-by-byte calls, a two-byte
// read as a one-message I2C_Transfer, and a 64 KiB SPI_Transfer exchange with its speed as a
// multiple of the 30 MHz wire ("x_wire").
#include <benchmark/benchmark.h>

#include <vector>

#include "kvsim.h"
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"

namespace {

const char *kConfig = R"({"wall_clock": false, "bridges": [
  {"type": 8, "serial": "BENCHS", "channels": [{"bus": "spi", "devices": [
    {"kind": "spi-memory", "name": "mem", "cs": 3, "mode": 0}]}]},
  {"type": 8, "serial": "BENCHI", "channels": [{"bus": "i2c", "devices": [
    {"kind": "i2c-register", "name": "temp", "address": 72, "temperature_c": 25.5}]}]}]})";

constexpr uint32_t kRegisterAddress = 0x48;

enum class Read { Transfer, ByteLevel, OneMessage };

void register_read(benchmark::State &state, Read how) {
    kvsim_load_config_json(kConfig);
    KV_HANDLE handle = nullptr;
    I2CChannelConfig config{400000, 1, 0};
    if (I2C_OpenChannel(1, &handle) != STATUS_SUCCESS || I2C_InitChannel(handle, &config) != STATUS_SUCCESS) {
        state.SkipWithError("no I2C channel");
        return;
    }
    uint8_t pointer = 0, value[2] = {};
    uint32_t count = 0;
    const I2CMessage messages[] = {{kRegisterAddress, 0, 1, &pointer}, {kRegisterAddress, I2C_MSG_READ, 2, value}};
    // The one-message read reads on from the pointer the write leaves.
    if (how == Read::OneMessage && I2C_Transfer(handle, messages, 1, nullptr) != STATUS_SUCCESS)
        state.SkipWithError("pointer write failed");
    for (auto _ : state) {
        KV_STATUS status = STATUS_SUCCESS;
        if (how == Read::Transfer) {
            status = I2C_Transfer(handle, messages, 2, nullptr);
        } else if (how == Read::OneMessage) {
            status = I2C_Transfer(handle, messages + 1, 1, nullptr);
        } else {
            status = I2C_DeviceWrite(handle, kRegisterAddress, 1, &pointer, &count, I2C_OPT_START);
            if (status == STATUS_SUCCESS)
                status = I2C_DeviceRead(handle, kRegisterAddress, 2, value, &count,
                                        I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_NACK_FINAL_BYTE);
        }
        if (status != STATUS_SUCCESS || value[0] != 25) {
            state.SkipWithError("register read failed");
            break;
        }
        kvsim_log_clear(1);
    }
    I2C_CloseChannel(handle);
}

void BM_I2C_RegisterRead_Transfer(benchmark::State &state) { register_read(state, Read::Transfer); }
void BM_I2C_RegisterRead_ByteLevel(benchmark::State &state) { register_read(state, Read::ByteLevel); }
void BM_I2C_Read_OneMessage(benchmark::State &state) { register_read(state, Read::OneMessage); }

void BM_SPI_Transfer(benchmark::State &state) {
    kvsim_load_config_json(kConfig);
    KV_HANDLE handle = nullptr;
    ChannelConfig config{};
    config.ClockRate = 30000000;
    config.LatencyTimer = 2;
    config.configOptions = SPI_CFG_CS_ACTIVE_LOW;
    config.Pin = 0x0800;
    if (SPI_OpenChannel(0, &handle) != STATUS_SUCCESS || SPI_InitChannel(handle, &config) != STATUS_SUCCESS) {
        state.SkipWithError("no SPI channel");
        return;
    }
    const uint32_t length = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> out(length, 0x5A), in(length);
    const SPITransfer set[] = {{out.data(), in.data(), length, 0, 1, 0}};
    for (auto _ : state) {
        if (SPI_Transfer(handle, set, 1) != STATUS_SUCCESS) {
            state.SkipWithError("transfer failed");
            break;
        }
        kvsim_log_clear(0);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    state.counters["x_wire"] =
        benchmark::Counter(double(state.iterations()) * length * 8 / 30e6, benchmark::Counter::kIsRate);
    SPI_CloseChannel(handle);
}

}  // namespace

BENCHMARK(BM_I2C_RegisterRead_Transfer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_I2C_RegisterRead_ByteLevel)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_I2C_Read_OneMessage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SPI_Transfer)->Arg(65536)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
