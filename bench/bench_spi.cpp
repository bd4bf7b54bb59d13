// SPI transfers through the simulated bridge: calls/s, MB/s, and speed as a multiple of the wire
// rate at 30 MHz ("x_wire_30MHz"). Chip-select stays put (options 0) so the 2 ms release pause
// does not hide the transfer cost.
#include <benchmark/benchmark.h>

#include <vector>

#include "kvsim.h"
#include "libVELTA_spi.h"

namespace {

constexpr double kWireHz = 30e6;

struct Channel {
    KV_HANDLE handle = nullptr;
    Channel() {
        kvsim_load_config_json(R"({"wall_clock": false, "bridges": [{"type": 8, "channels": [{"bus": "spi",
            "devices": [{"kind": "spi-memory", "name": "mem", "cs": 3, "mode": 0}]}]}]})");
        SPI_OpenChannel(0, &handle);
        ChannelConfig config{};
        config.ClockRate = 6000000;  // the channel layer refuses faster rates for now
        config.LatencyTimer = 2;
        config.configOptions = SPI_CFG_CS_ACTIVE_LOW;
        SPI_InitChannel(handle, &config);
        SPI_ToggleCS(handle, 1);
    }
    ~Channel() { SPI_CloseChannel(handle); }
};

template <typename Transfer>
void run(benchmark::State &state, Transfer transfer) {
    Channel channel;
    const uint32_t length = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> out(length, 0x5A), in(length);
    uint32_t done = 0;
    for (auto _ : state) {
        if (transfer(channel.handle, in.data(), out.data(), length, &done) != STATUS_SUCCESS)
            state.SkipWithError("transfer failed");
        kvsim_log_clear(0);
        benchmark::DoNotOptimize(in.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * length);
    state.counters["x_wire_30MHz"] =
        benchmark::Counter(double(state.iterations()) * length * 8 / kWireHz, benchmark::Counter::kIsRate);
}

void BM_SPI_Write(benchmark::State &state) {
    run(state, [](KV_HANDLE h, uint8_t *, uint8_t *out, uint32_t n, uint32_t *done) {
        return SPI_Write(h, out, n, done, 0);
    });
}
void BM_SPI_Read(benchmark::State &state) {
    run(state, [](KV_HANDLE h, uint8_t *in, uint8_t *, uint32_t n, uint32_t *done) {
        return SPI_Read(h, in, n, done, 0);
    });
}
void BM_SPI_ReadWrite(benchmark::State &state) {
    run(state, [](KV_HANDLE h, uint8_t *in, uint8_t *out, uint32_t n, uint32_t *done) {
        return SPI_ReadWrite(h, in, out, n, done, 0);
    });
}

}  // namespace

BENCHMARK(BM_SPI_Write)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_SPI_Read)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK(BM_SPI_ReadWrite)->Arg(1)->Arg(256)->Arg(65536);
BENCHMARK_MAIN();
