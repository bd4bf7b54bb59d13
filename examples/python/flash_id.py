#!/usr/bin/env python3
"""Identification and status of a 25-series SPI flash or memory.

    flash_id.py [--channel N] [--cs 3] [--clock HZ]

Sends the JEDEC ID command (0x9F) and the read-status command (0x05), each in a frame of its
own, and prints what came back. A memory without the ID command answers zeros."""

import argparse

import velta


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--channel", type=int, default=1, help="SPI channel index (default 1)")
    parser.add_argument("--cs", type=int, default=3, help="chip-select pin, 3 to 7")
    parser.add_argument("--clock", type=int, default=1_000_000, help="SPI clock in Hz")
    args = parser.parse_args()

    with velta.SpiChannel(args.channel, clock=args.clock, cs=args.cs) as flash:
        jedec = flash.xfer(b"\x9f\x00\x00\x00")[1:]
        status = flash.xfer([0x05, 0x00])[1]
    if jedec in (b"\x00\x00\x00", b"\xff\xff\xff"):
        print(f"JEDEC ID: none ({jedec.hex()})")
    else:
        print(f"JEDEC ID: maker {jedec[0]:#04x}, type {jedec[1]:#04x}, capacity {jedec[2]:#04x}")
    print(f"status: {status:#04x} (write in progress {status & 1}, write enabled {status >> 1 & 1})")


if __name__ == "__main__":
    main()
