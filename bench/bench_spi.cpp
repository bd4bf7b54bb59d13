// SPI transfers at a 30 MHz clock: calls/s, MB/s and, through the simulated bridge, speed as a
// multiple of the wire rate ("x_wire"). The Discard variants run the same calls against a
// driver whose write and read accept everything and move nothing, so they show the library's
// own work per call; "zero_copy" is 1 when the data reached the driver straight from the
// caller's buffer. Chip-select stays asserted (options 0) so the 2 ms release pause does not
// hide the transfer cost.
#include <benchmark/benchmark.h>

#include <vector>

#include "korvin_infra.h"
#include "kvsim.h"
#include "libVELTA_spi.h"

namespace {

constexpr double kWireHz = 30e6;

struct Channel {
    KV_HANDLE handle = nullptr;
    bool ready = false;
    Channel() {
        kvsim_load_config_json(R"({"wall_clock": false, "bridges": [{"type": 8, "channels": [{"bus": "spi",
            "devices": [{"kind": "spi-memory", "name": "mem", "cs": 3, "mode": 0}]}]}]})");
        ChannelConfig config{};
        config.ClockRate = 30000000;
        config.LatencyTimer = 2;
        config.configOptions = SPI_CFG_CS_ACTIVE_LOW;
        ready = SPI_OpenChannel(0, &handle) == STATUS_SUCCESS && SPI_InitChannel(handle, &config) == STATUS_SUCCESS &&
                SPI_ToggleCS(handle, 1) == STATUS_SUCCESS;
    }
    ~Channel() { SPI_CloseChannel(handle); }
};

// The discarding driver: counts everything as moved, remembers the last buffer it was given.
const void *last_buffer = nullptr;
KV_STATUS discard_write(KV_HANDLE, void *buffer, uint32_t count, uint32_t *done) {
    last_buffer = buffer;
    *done = count;
    return STATUS_SUCCESS;
}
KV_STATUS discard_read(KV_HANDLE, void *buffer, uint32_t count, uint32_t *done) {
    last_buffer = buffer;
    *done = count;
    return STATUS_SUCCESS;
}

struct DiscardingDriver {
    varFunctionPtrLst_t saved = varFunctionPtrLst;
    DiscardingDriver() {
        varFunctionPtrLst.KV_Write = discard_write;
        varFunctionPtrLst.KV_Read = discard_read;
    }
    ~DiscardingDriver() { varFunctionPtrLst = saved; }
};

using Transfer = KV_STATUS (*)(KV_HANDLE, uint8_t *in, uint8_t *out, uint32_t length, uint32_t *done);

KV_STATUS write(KV_HANDLE h, uint8_t *, uint8_t *out, uint32_t n, uint32_t *done) { return SPI_Write(h, out, n, done, 0); }
KV_STATUS read(KV_HANDLE h, uint8_t *in, uint8_t *, uint32_t n, uint32_t *done) { return SPI_Read(h, in, n, done, 0); }
KV_STATUS exchange(KV_HANDLE h, uint8_t *in, uint8_t *out, uint32_t n, uint32_t *done) {
    return SPI_ReadWrite(h, in, out, n, done, 0);
}

void run(benchmark::State &state, Transfer transfer, bool discard) {
    Channel channel;
    if (!channel.ready) {
        state.SkipWithError("channel set-up failed");
        return;
    }
    const uint32_t length = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> out(length, 0x5A), in(length);
    uint32_t done = 0;
    DiscardingDriver *driver = discard ? new DiscardingDriver : nullptr;
    for (auto _ : state) {
        if (transfer(channel.handle, in.data(), out.data(), length, &done) != STATUS_SUCCESS || done != length) {
            state.SkipWithError("transfer failed");
            break;
        }
        if (!discard) kvsim_log_clear(0);
        benchmark::DoNotOptimize(in.data());
    }
    bool zero_copy = last_buffer == out.data() || last_buffer == in.data();
    delete driver;
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    if (discard) {
        state.counters["zero_copy"] = zero_copy ? 1 : 0;
    } else {
        state.counters["x_wire"] =
            benchmark::Counter(double(state.iterations()) * length * 8 / kWireHz, benchmark::Counter::kIsRate);
    }
}

void BM_SPI_Write(benchmark::State &state) { run(state, write, false); }
void BM_SPI_Read(benchmark::State &state) { run(state, read, false); }
void BM_SPI_ReadWrite(benchmark::State &state) { run(state, exchange, false); }
void BM_Discard_SPI_Write(benchmark::State &state) { run(state, write, true); }
void BM_Discard_SPI_Read(benchmark::State &state) { run(state, read, true); }
void BM_Discard_SPI_ReadWrite(benchmark::State &state) { run(state, exchange, true); }

}  // namespace

BENCHMARK(BM_SPI_Write)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_SPI_Read)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_SPI_ReadWrite)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_Discard_SPI_Write)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_Discard_SPI_Read)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_Discard_SPI_ReadWrite)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK_MAIN();
