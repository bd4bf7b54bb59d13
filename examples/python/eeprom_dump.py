#!/usr/bin/env python3
"""Hex dump of a 24-series I2C EEPROM.

    eeprom_dump.py [--channel N] [--address 0x50] [--size 256]

The memory address goes out in two bytes (arrays above 256 bytes), then the dump is read after
a repeated start: one transaction of two messages."""

import argparse

import velta


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--channel", type=int, default=2, help="I2C channel index (default 2)")
    parser.add_argument("--address", type=lambda s: int(s, 0), default=0x50, help="device address")
    parser.add_argument("--size", type=int, default=256, help="bytes to dump")
    args = parser.parse_args()

    dump = velta.I2cMessage.read(args.address, args.size)
    with velta.I2cChannel(args.channel) as bus:
        try:
            bus.transfer(velta.I2cMessage.write(args.address, b"\x00\x00"), dump)
        except velta.NoDevice:
            raise SystemExit(f"no device answers at {args.address:#04x}")
    data = bytes(dump)
    for offset in range(0, len(data), 16):
        row = data[offset:offset + 16]
        text = "".join(chr(b) if 32 <= b < 127 else "." for b in row)
        print(f"{offset:04x}  {row.hex(' '):<47}  {text}")


if __name__ == "__main__":
    main()
