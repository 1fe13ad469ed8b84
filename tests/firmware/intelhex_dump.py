#!/usr/bin/env python3
"""Reads an Intel hexadecimal file with the intelhex package and writes its 256 KiB image
(byte addresses 0x00000-0x3FFFF, FF where no record wrote) as a raw binary file.

Usage: intelhex_dump.py INPUT.hex OUTPUT.bin
"""

import sys

from intelhex import IntelHex


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    image = IntelHex()
    image.padding = 0xFF
    image.loadhex(argv[0])
    if image.maxaddr() is not None and image.maxaddr() >= 0x40000:
        print("data beyond byte address 0x3FFFF", file=sys.stderr)
        return 1
    with open(argv[1], "wb") as out:
        out.write(image.tobinstr(start=0, size=0x40000))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
