#!/usr/bin/env python3
"""PNG files with the standard library only: the one writer of the project's scripts, and
a converter of the screenshots that the tests (BMP) and run.sh (an XWD screen dump) take.

    pngfile.py IN.bmp|IN.xwd OUT.png
"""
import struct
import sys
import zlib


def write(path, width, height, pixels, alpha=False):
    """pixels: rows from the top, 3 bytes (RGB) or with alpha 4 bytes (RGBA) a pixel."""
    stride = width * (4 if alpha else 3)
    raw = b"".join(b"\x00" + pixels[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
                chunk(b"IEND", b""))


def read_bmp(data):
    """An uncompressed 24- or 32-bit BMP, as the tests' Image::SaveBmp writes it: (width, height, RGB)."""
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bpp, compression = struct.unpack_from("<iiHHI", data, 18)
    if bpp not in (24, 32) or compression != 0:
        raise SystemExit(f"only uncompressed 24- and 32-bit BMP files are supported ({bpp} bits)")
    step = bpp // 8
    stride = (width * step + 3) & ~3
    rows = range(abs(height)) if height < 0 else range(height - 1, -1, -1)  # negative: top-down
    out = bytearray()
    for y in rows:
        line = data[offset + y * stride:offset + y * stride + width * step]
        for x in range(0, width * step, step):
            out += bytes((line[x + 2], line[x + 1], line[x]))
    return width, abs(height), bytes(out)


def read_xwd(data):
    """A true-colour XWD screen dump, as `xwd -root` writes it: (width, height, RGB)."""
    header = struct.unpack(">25I", data[:100])
    header_size, _, fmt, _, width, height = header[:6]
    byte_order, bpp, bytes_per_line = header[7], header[11], header[12]
    if fmt != 2 or bpp not in (24, 32):
        raise SystemExit(f"only true-colour ZPixmap dumps are supported (format {fmt}, {bpp} bits)")
    pixels = header_size + 12 * header[19]  # after the colour map
    channels = []
    for mask in header[14:17]:
        shift = 0
        while mask and not mask & 1:
            mask >>= 1
            shift += 1
        channels.append((shift, mask))
    step = bpp // 8
    order = "little" if byte_order == 0 else "big"
    out = bytearray()
    for y in range(height):
        line = data[pixels + y * bytes_per_line:pixels + (y + 1) * bytes_per_line]
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], order)
            out += bytes(((value >> shift) & span) * 255 // span if span else 0 for shift, span in channels)
    return width, height, bytes(out)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    width, height, pixels = read_bmp(data) if data[:2] == b"BM" else read_xwd(data)
    write(sys.argv[2], width, height, pixels)


if __name__ == "__main__":
    main()
