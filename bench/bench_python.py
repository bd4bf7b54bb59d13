"""The Python package's transactions beside bench_transfer's C figures for the same work,
measured in the same run: SpiChannel.xfer of 64 KiB (throughput), and I2C transactions on a
register device (host time per call): the C benchmark's pointer-write-then-read as one
I2cChannel.transfer, the same through write_read, and a 1-message transfer beside C's.

Both sides run against the simulated bridge with the set-up of bench_transfer: a memory on SPI
chip-select 3 at 30 MHz, a register device at 0x48 on an I2C channel at 400 kHz, virtual time,
the engine log cleared as the C loop clears it. Times are CPU time of the process, as Google
Benchmark's are, so other work on a shared machine does not count.

Usage: bench_python.py BUILD_DIR"""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

CONFIG = {"wall_clock": False, "bridges": [
    {"type": 8, "serial": "BENCHS", "channels": [{"bus": "spi", "devices": [
        {"kind": "spi-memory", "name": "mem", "cs": 3, "mode": 0}]}]},
    {"type": 8, "serial": "BENCHI", "channels": [{"bus": "i2c", "devices": [
        {"kind": "i2c-register", "name": "temp", "address": 72, "temperature_c": 25.5}]}]}]}
REGISTER = 0x48
SECONDS = 1.0


def c_figures(build):
    """{name: (CPU seconds per call, bytes per second)} of bench_transfer's benchmarks."""
    run = subprocess.run([str(build / "bin" / "bench_transfer"), "--benchmark_format=json",
                          "--benchmark_filter=^BM_(SPI_Transfer/65536|I2C_RegisterRead_Transfer|I2C_Read_OneMessage)$"],
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
            clear_log()
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
    data = bytes(range(256)) * 256
    with velta.SpiChannel(0, clock=30_000_000) as spi:
        xfer = per_call(lambda: spi.xfer(data), 1, lambda: sim.clear_log(0))
    write, read = velta.I2cMessage.write, velta.I2cMessage.read
    pointer, value, alone = write(REGISTER, b"\x00"), read(REGISTER, 2), read(REGISTER, 2)
    clear = lambda: sim.clear_log(1)  # noqa: E731
    with velta.I2cChannel(1, clock=400_000) as bus:
        assert bus.write_read(REGISTER, b"\x00", 2)[0] == 25
        transfer = per_call(lambda: bus.transfer(pointer, value), 100, clear)
        helper = per_call(lambda: bus.write_read(REGISTER, b"\x00", 2), 100, clear)
        single = per_call(lambda: bus.transfer(alone), 100, clear)

    c_rate, c_read = c["BM_SPI_Transfer/65536"][1], c["BM_I2C_RegisterRead_Transfer"][0]
    c_single = c["BM_I2C_Read_OneMessage"][0]
    print("Python beside C (bench_transfer), simulated bridge, virtual time, CPU time, same run")
    print(f"  SPI 64 KiB exchange, 30 MHz   C SPI_Transfer     {c_rate / 1e6:8.1f} MB/s")
    print(f"                                SpiChannel.xfer    {65536 / xfer / 1e6:8.1f} MB/s  "
          f"({65536 / xfer / c_rate:.0%} of C; at least 90% wanted)")
    print(f"  I2C register read, 2 messages C I2C_Transfer     {c_read * 1e6:8.2f} us per call")
    print(f"                                transfer(w, r)     {transfer * 1e6:8.2f} us per call  "
          f"({transfer / c_read:.2f}x C; at most 3x wanted)")
    print(f"                                write_read         {helper * 1e6:8.2f} us per call  "
          f"({helper / c_read:.2f}x C)")
    print(f"  I2C 2-byte read, 1 message    C I2C_Transfer     {c_single * 1e6:8.2f} us per call")
    print(f"                                transfer(r)        {single * 1e6:8.2f} us per call  "
          f"({single / c_single:.2f}x C; at most 3x wanted)")


if __name__ == "__main__":
    main()
