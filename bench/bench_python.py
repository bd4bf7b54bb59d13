"""SpiChannel.read(65536) throughput and the cost of a 1-byte SpiChannel.write from Python,
printed beside bench_spi's C figures for the same calls, measured in the same run.

Both sides run against the simulated bridge with the set-up of bench_spi: a memory on
chip-select 3, a 30 MHz clock, chip-select held asserted (no 2 ms release pause), virtual
time, the engine log cleared as the C loop clears it. Times are CPU time of the process, as
Google Benchmark's rates are, so other work on a shared machine does not count.

Usage: bench_python.py BUILD_DIR"""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

CONFIG = {"wall_clock": False, "bridges": [{"type": 8, "channels": [{"bus": "spi", "devices": [
    {"kind": "spi-memory", "name": "mem", "cs": 3, "mode": 0}]}]}]}
SECONDS = 1.0


def c_figures(build):
    """{name: (seconds per call, bytes per second)} of the C benchmarks for the same calls."""
    run = subprocess.run([str(build / "bin" / "bench_spi"), "--benchmark_format=json",
                          "--benchmark_filter=^BM_SPI_(Read/65536|Write/1)$"],
                         check=True, capture_output=True, text=True)
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return {b["name"]: (b["cpu_time"] * scale[b["time_unit"]], b.get("bytes_per_second", 0.0))
            for b in json.loads(run.stdout)["benchmarks"]}


def per_call(call, clear_every, clear_log):
    """Best CPU seconds per call over three timed stretches of about SECONDS/3 each."""
    best = float("inf")
    for _ in range(3):
        calls, start = 0, time.process_time()
        while (elapsed := time.process_time() - start) < SECONDS / 3:
            for _ in range(clear_every):
                call()
            clear_log(0)
            calls += clear_every
        best = min(best, elapsed / calls)
    return best


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build").resolve()
    os.environ.setdefault("VELTA_LIBRARY", str(build / "lib" / "libVELTA.so"))
    os.environ.setdefault("VELTA_DRIVER", str(build / "lib" / "libkvzubr.so"))
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
    import velta
    from velta import sim

    c = c_figures(build)
    sim.load_config(CONFIG)
    with velta.SpiChannel(0, clock=30_000_000) as spi:
        spi.write(b"", end=False)  # chip-select asserted for the whole run
        read = per_call(lambda: spi.read(65536, start=False, end=False), 1, sim.clear_log)
        write = per_call(lambda: spi.write(b"\x5a", start=False, end=False), 1000, sim.clear_log)

    c_read_rate, c_write = c["BM_SPI_Read/65536"][1], c["BM_SPI_Write/1"][0]
    print("SPI through the simulated bridge at 30 MHz, chip-select held, CPU time; C from bench_spi, same run")
    print(f"  read(65536)   C      {c_read_rate / 1e6:8.1f} MB/s")
    print(f"                Python {65536 / read / 1e6:8.1f} MB/s  ({65536 / read / c_read_rate:.0%} of C)")
    print(f"  1-byte write  C      {c_write * 1e6:8.2f} us per call")
    print(f"                Python {write * 1e6:8.2f} us per call  (+{(write - c_write) * 1e6:.2f} us)")


if __name__ == "__main__":
    main()
