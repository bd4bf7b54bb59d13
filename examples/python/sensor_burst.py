#!/usr/bin/env python3
"""A burst of Torqa sensor samples written to a CSV file.

    sensor_burst.py [--channel 0] [--mode 0] [--samples 10000] [--out burst.csv]

Samples are 2 us apart; each row holds the sample number, the time in microseconds, the raw
16-bit angle, the angle in degrees and the status byte's flags (weak or strong field, parity)."""

import argparse
import csv

from velta import tq


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--channel", type=int, default=0, help="SPI channel index, as velta list shows (default 0)")
    parser.add_argument("--mode", type=int, default=0, help="SPI mode, 0 or 3")
    parser.add_argument("--samples", type=int, default=10000, help="number of samples")
    parser.add_argument("--out", default="burst.csv", help="CSV file to write")
    args = parser.parse_args()

    with tq.Sensor(args.channel, mode=args.mode) as sensor:
        samples = sensor.read_samples(args.samples)
    bad = 0
    with open(args.out, "w", newline="") as out:
        writer = csv.writer(out)
        writer.writerow(["sample", "time_us", "raw_angle", "degrees", "weak", "strong", "parity_ok"])
        for i, (raw, degrees, status) in enumerate(samples):
            parity_ok = bin(raw << 8 | status).count("1") % 2 == 1
            bad += not parity_ok
            writer.writerow([i, 2 * i, raw, f"{degrees:.4f}", status >> 7 & 1, status >> 6 & 1, int(parity_ok)])
    print(f"{len(samples)} samples written to {args.out}; {bad} with a parity error")


if __name__ == "__main__":
    main()
