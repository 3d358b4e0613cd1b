#!/usr/bin/env python3
"""Draws the program's artwork and writes it as resource files:

  app/res/app.ico   icon group 128: 48, 32 and 16 pixels, 32 bits per pixel
  app/res/logo.bmp  bitmap 203: 116 x 27 pixels, 8 bits per pixel with a palette

The design: a blue shield with a white finch cut by a red bar, and the maker's name in
blue block letters beside a small shield on the light-blue band colour. Plain Python, no
imaging library; the outputs are committed, so the build never runs this.
"""
import math
import os
import struct

BAND = (222, 239, 255)
BLUE = (48, 100, 165)
DARK = (24, 60, 120)
RED = (210, 40, 40)
WHITE = (255, 255, 255)


def shield_alpha(x, y, size):
    """Coverage (0..1) of the shield outline at pixel centre (x, y), by 4x4 supersampling."""
    hits = 0
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / size  # 0..1
            v = (y + (sy + 0.5) / 4) / size
            inside = False
            if 0.1 <= u <= 0.9 and 0.06 <= v:
                if v <= 0.55:
                    inside = True
                else:
                    # the lower half narrows to a point at the bottom
                    half = 0.4 * math.sqrt(max(0.0, 1 - ((v - 0.55) / 0.41) ** 2))
                    inside = abs(u - 0.5) <= half
            hits += inside
    return hits / 16


def finch(u, v):
    """True inside the white bird: a round body, a head and a tail."""
    body = ((u - 0.48) / 0.2) ** 2 + ((v - 0.5) / 0.14) ** 2 <= 1
    head = (u - 0.66) ** 2 + (v - 0.38) ** 2 <= 0.085 ** 2
    tail = 0.22 <= u <= 0.34 and abs(v - 0.42 - (0.34 - u) * 0.6) <= 0.05
    beak = 0.73 <= u <= 0.8 and abs(v - 0.38) <= 0.02 + (0.8 - u) * 0.3
    return body or head or tail or beak


def icon_pixels(size):
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            a = shield_alpha(x, y, size)
            u, v = (x + 0.5) / size, (y + 0.5) / size
            if finch(u, v):
                colour = WHITE
            else:
                shade = 1 - 0.35 * v
                colour = tuple(int(c * shade) for c in BLUE)
            # the red bar, from top left to bottom right
            if abs((u - v)) <= 0.06 and 0.15 <= u <= 0.85:
                colour = RED
            row.append((colour, int(round(a * 255))))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, then the AND mask."""
    pixels = icon_pixels(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for (r, g, b), a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


# 5 x 7 block letters for the logo.
GLYPHS = {
    'M': ['10001', '11011', '10101', '10101', '10001', '10001', '10001'],
    'O': ['01110', '10001', '10001', '10001', '10001', '10001', '01110'],
    'R': ['11110', '10001', '10001', '11110', '10100', '10010', '10001'],
    'V': ['10001', '10001', '10001', '10001', '01010', '01010', '00100'],
    'A': ['01110', '10001', '10001', '11111', '10001', '10001', '10001'],
}


def logo_pixels(width=116, height=27):
    img = [[BAND for _ in range(width)] for _ in range(height)]
    # a small shield at the left
    for y in range(height):
        for x in range(24):
            if shield_alpha(x, y - 1, 24) >= 0.5 and y < 25:
                img[y][x + 2] = BLUE
    for y in range(5, 20):
        for x in range(10, 18):
            if abs((x - 10) - (y - 5) * 0.55) <= 0.8:
                img[y][x] = RED
    # the name, 3 pixels a dot
    x0, y0, scale = 30, 3, 3
    for i, ch in enumerate('MORVA'):
        for gy, line in enumerate(GLYPHS[ch]):
            for gx, bit in enumerate(line):
                if bit == '1':
                    for dy in range(scale):
                        for dx in range(scale):
                            x = x0 + i * 17 + gx * scale + dx
                            y = y0 + gy * scale + dy
                            if x < width and y < height:
                                img[y][x] = DARK if dy == scale - 1 else BLUE
    return img


def write_bmp8(path, img):
    height, width = len(img), len(img[0])
    palette = []
    for row in img:
        for c in row:
            if c not in palette:
                palette.append(c)
    palette += [(0, 0, 0)] * (256 - len(palette))
    stride = (width + 3) & ~3
    pixels = bytearray()
    for row in reversed(img):
        line = bytearray(palette.index(c) for c in row)
        line += bytes(stride - width)
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(head + info + pal + bytes(pixels))


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'app', 'res')
    os.makedirs(root, exist_ok=True)
    write_ico(os.path.join(root, 'app.ico'), [48, 32, 16])
    write_bmp8(os.path.join(root, 'logo.bmp'), logo_pixels())


if __name__ == '__main__':
    main()
