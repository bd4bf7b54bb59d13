#!/usr/bin/env python3
"""Hex dump of a 24-series I2C EEPROM.

    eeprom_dump.py [--channel N] [--address 0x50] [--size 256] [--fast]

The memory address goes out in two bytes (arrays above 256 bytes); the dump is read in one
transaction after a repeated start."""

import argparse

import velta


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--channel", type=int, default=2, help="I2C channel index (default 2)")
    parser.add_argument("--address", type=lambda s: int(s, 0), default=0x50, help="device address")
    parser.add_argument("--size", type=int, default=256, help="bytes to dump")
    parser.add_argument("--fast", action="store_true", help="one command stream per transfer")
    args = parser.parse_args()

    with velta.I2cChannel(args.channel) as bus:
        try:
            data = bus.write_read(args.address, b"\x00\x00", args.size, fast=args.fast)
        except velta.NoDevice:
            raise SystemExit(f"no device answers at {args.address:#04x}")
    for offset in range(0, len(data), 16):
        row = data[offset:offset + 16]
        text = "".join(chr(b) if 32 <= b < 127 else "." for b in row)
        print(f"{offset:04x}  {row.hex(' '):<47}  {text}")


if __name__ == "__main__":
    main()
