#!/usr/bin/env python3
"""Converts a true-colour XWD screen dump (as `xwd -root` writes it) to PNG, with the
standard library only.   xwd2png.py in.xwd out.png"""
import struct
import sys
import zlib


def shift_of(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift, mask


def convert(source, target):
    data = open(source, "rb").read()
    header = struct.unpack(">25I", data[:100])
    header_size, _, fmt, _, width, height = header[:6]
    byte_order, bpp, bytes_per_line = header[7], header[11], header[12]
    masks = header[14:17]
    ncolors = header[19]
    if fmt != 2 or bpp not in (24, 32):
        raise SystemExit(f"only true-colour ZPixmap dumps are supported (format {fmt}, {bpp} bits)")
    pixels = header_size + 12 * ncolors
    channels = [shift_of(m) for m in masks]
    step = bpp // 8
    order = "little" if byte_order == 0 else "big"
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        line = data[pixels + y * bytes_per_line: pixels + (y + 1) * bytes_per_line]
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], order)
            for shift, span in channels:
                rows.append(((value >> shift) & span) * 255 // span if span else 0)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b"")
    open(target, "wb").write(png)


if __name__ == "__main__":
    convert(sys.argv[1], sys.argv[2])
