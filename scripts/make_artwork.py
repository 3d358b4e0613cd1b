#!/usr/bin/env python3
"""Draws the program's artwork and writes it as resource files:

  app/res/app.ico       icon group 128: 64, 48, 40, 32, 24, 20 and 16 pixels, 32 bits per
                        pixel: the large and the small icon at 100, 125, 150 and 200 %
  app/res/logo.bmp      bitmap 203: 116 x 27 pixels, 8 bits per pixel with a palette
  app/res/logo-120.bmp  bitmaps 204, 205 and 206: the same logo drawn for 120, 144 and
  app/res/logo-144.bmp  192 DPI (145 x 34, 174 x 41, 232 x 54), so that the dialog never
  app/res/logo-192.bmp  has to stretch it

The design: a blue shield with a light rim, on it a white finch struck through by a red
bar; the logo sets the same shield beside the maker's name in blue capitals, on the
light-blue colour of the dialog's bands. Every shape is drawn by sampling each pixel
several times, so edges are smooth at every size.

Plain Python, no imaging library; the outputs are committed, so the build never runs
this. `make_artwork.py --preview DIR` also writes enlarged PNG copies to look at.
"""
import math
import os
import struct
import sys

import pngfile  # beside this script

BAND = (222, 239, 255)
BLUE = (48, 100, 165)
SHIELD_TOP = (70, 130, 200)
SHIELD_BOTTOM = (26, 62, 122)
RIM = (190, 215, 245)
WHITE = (255, 255, 255)
WING = (200, 212, 228)
BEAK = (245, 170, 40)
EYE = (20, 30, 50)
RED = (215, 35, 35)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


# --- the shield with the finch, in unit coordinates (u right, v down, 0..1) -----------

def shield_half_width(v, inset=0.0):
    """Half the shield's width at height v, or None above or below it."""
    top, shoulder, bottom = 0.05 + inset, 0.5, 0.97 - inset * 1.4
    if v < top or v > bottom:
        return None
    half = 0.43 - inset
    if v <= shoulder:
        return half
    # the lower part narrows to a point in a smooth curve
    t = (v - shoulder) / (bottom - shoulder)
    return half * math.sqrt(max(0.0, 1 - t * t))


def in_shield(u, v, inset=0.0):
    half = shield_half_width(v, inset)
    return half is not None and abs(u - 0.5) <= half


def finch(u, v):
    """The bird's colour at (u, v), or None outside it. It perches facing right, leaning
    forward: tail to the lower left, head to the upper right."""
    # beak, eye and head first: they lie over the body
    if 0.70 <= u <= 0.83:
        tip = (u - 0.70) / 0.13
        if abs(v - 0.39) <= 0.055 * (1 - tip):
            return BEAK
    if (u - 0.645) ** 2 + (v - 0.375) ** 2 <= 0.022 ** 2:
        return EYE
    head = (u - 0.62) ** 2 + (v - 0.40) ** 2 <= 0.1 ** 2
    # a round body along the line from tail to head
    angle = -0.4
    cu, cv = u - 0.46, v - 0.56
    ru = cu * math.cos(angle) + cv * math.sin(angle)
    rv = -cu * math.sin(angle) + cv * math.cos(angle)
    body = (ru / 0.21) ** 2 + (rv / 0.14) ** 2 <= 1
    # the folded wing: a shaded ellipse on the upper back
    wing = ((ru + 0.04) / 0.13) ** 2 + ((rv + 0.02) / 0.07) ** 2 <= 1
    # the tail, widening away from the body
    t = max(0.0, min(1.0, (0.30 - u) / 0.17))
    tail = segment_distance(u, v, 0.30, 0.63, 0.13, 0.73) <= 0.03 + 0.03 * t
    if wing:
        return WING
    if head or body or tail:
        return WHITE
    return None


def icon_colour(u, v):
    """Colour and alpha of the icon at a sample point."""
    if not in_shield(u, v):
        return None
    # the red bar from top left to bottom right crosses everything
    if segment_distance(u, v, 0.2, 0.22, 0.8, 0.8) <= 0.05:
        return RED
    bird = finch(u, v)
    if bird:
        return bird
    if not in_shield(u, v, 0.045):
        return RIM
    return mix(SHIELD_TOP, SHIELD_BOTTOM, v)


def render(size, colour_at, samples, ground=None):
    """Pixels as ((r, g, b), alpha 0..255), or as plain (r, g, b) over the ground."""
    rows = []
    for y in range(size[1]):
        row = []
        for x in range(size[0]):
            r = g = b = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at(x + (sx + 0.5) / samples, y + (sy + 0.5) / samples)
                    if c is None:
                        if ground is None:
                            continue
                        c = ground
                    r, g, b = r + c[0], g + c[1], b + c[2]
                    covered += 1
            n = samples * samples
            if ground is not None:
                row.append((round(r / n), round(g / n), round(b / n)))
            elif covered:
                row.append(((round(r / covered), round(g / covered), round(b / covered)), round(255 * covered / n)))
            else:
                row.append(((0, 0, 0), 0))
        rows.append(row)
    return rows


def icon_pixels(size):
    return render((size, size), lambda x, y: icon_colour(x / size, y / size), 6)


# --- icon file ---------------------------------------------------------------------

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


# --- logo --------------------------------------------------------------------------

# Capitals as strokes in a box 1 wide and 1 high (x right, y down).
LETTERS = {
    'M': [[(0, 1), (0, 0), (0.5, 0.62), (1, 0), (1, 1)]],
    'R': [[(0, 1), (0, 0), (0.62, 0), (0.86, 0.08), (0.94, 0.25), (0.86, 0.42), (0.62, 0.5), (0, 0.5)],
          [(0.5, 0.5), (1, 1)]],
    'V': [[(0, 0), (0.5, 1), (1, 0)]],
    'A': [[(0, 1), (0.5, 0), (1, 1)], [(0.24, 0.66), (0.76, 0.66)]],
}
LOGO_SIZE = (116, 27)
MARK_SIZE = 25
TEXT_LEFT, TEXT_TOP, TEXT_HEIGHT = 32, 6, 15
LETTER_WIDTH, LETTER_GAP, STROKE = 12.5, 4.2, 2.6


def letter_strokes():
    """Segments in logo pixels, and the ring of the O as (centre, radii)."""
    segments, rings = [], []
    half = STROKE / 2
    x = TEXT_LEFT
    for ch in 'MORVA':
        # the stroke's middle runs inside the box by half the stroke
        left, top = x + half, TEXT_TOP + half
        w, h = LETTER_WIDTH - STROKE, TEXT_HEIGHT - STROKE
        if ch == 'O':
            rings.append(((left + w / 2, top + h / 2), (w / 2 + 0.6, h / 2)))
        else:
            for line in LETTERS[ch]:
                points = [(left + px * w, top + py * h) for px, py in line]
                segments += list(zip(points, points[1:]))
        x += LETTER_WIDTH + LETTER_GAP
    return segments, rings


def logo_colour_at(segments, rings, mark):
    def colour_at(x, y):
        # the shield, as on the icon, at the left
        mx, my = x - 1, y - 1
        if 0 <= mx < MARK_SIZE and 0 <= my < MARK_SIZE:
            c = icon_colour(mx / MARK_SIZE, my / MARK_SIZE)
            if c is not None:
                return c
        half = STROKE / 2
        shade = mix(BLUE, SHIELD_BOTTOM, max(0.0, (y - TEXT_TOP) / TEXT_HEIGHT) * 0.6)
        for (ax, ay), (bx, by) in segments:
            if segment_distance(x, y, ax, ay, bx, by) <= half:
                return shade
        for (cx, cy), (rx, ry) in rings:
            # distance to the ellipse, near enough for a thin ring
            d = math.hypot((x - cx) / rx, (y - cy) / ry)
            if abs(d - 1) * min(rx, ry) <= half:
                return shade
        return None
    return colour_at


ICON_SIZES = [64, 48, 40, 32, 24, 20, 16]
LOGO_DPIS = [96, 120, 144, 192]


def scaled(length, dpi):
    """A length at 96 DPI, at dpi, rounded as the dialog's MulDiv rounds it."""
    return (length * dpi + 48) // 96


def logo_pixels(dpi=96):
    """The logo drawn for a DPI: the same design, every length scaled, edges sampled anew."""
    segments, rings = letter_strokes()
    colour_at = logo_colour_at(segments, rings, True)
    scale = dpi / 96
    size = (scaled(LOGO_SIZE[0], dpi), scaled(LOGO_SIZE[1], dpi))
    return render(size, lambda x, y: colour_at(x / scale, y / scale), 4, ground=BAND)


def logo_file(dpi):
    return 'logo.bmp' if dpi == 96 else 'logo-%d.bmp' % dpi


def quantise(img, limit=256):
    """Rounds colours until the image has at most `limit` of them; the ground stays exact."""
    step = 1
    while True:
        def q(c):
            if c == BAND:
                return c
            return tuple(min(255, round(v / step) * step) for v in c)
        out = [[q(c) for c in row] for row in img]
        if len({c for row in out for c in row}) <= limit:
            return out
        step *= 2


def write_bmp8(path, img):
    img = quantise(img)
    height, width = len(img), len(img[0])
    palette = [BAND]
    index = {BAND: 0}
    for row in img:
        for c in row:
            if c not in index:
                index[c] = len(palette)
                palette.append(c)
    palette += [(0, 0, 0)] * (256 - len(palette))
    stride = (width + 3) & ~3
    pixels = bytearray()
    for row in reversed(img):
        line = bytearray(index[c] for c in row)
        line += bytes(stride - width)
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + len(info) + len(pal)
    head = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(path, 'wb') as f:
        f.write(head + info + pal + bytes(pixels))


# --- previews ----------------------------------------------------------------------

def write_png(path, rows, scale):
    """rows of (r, g, b) or ((r, g, b), alpha), enlarged `scale` times."""
    out = bytearray()
    for row in rows:
        line = bytearray()
        for px in row:
            (r, g, b), a = px if len(px) == 2 else (px, 255)
            line += bytes((r, g, b, a)) * scale
        out += line * scale
    pngfile.write(path, len(rows[0]) * scale, len(rows) * scale, bytes(out), alpha=True)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'app', 'res')
    os.makedirs(root, exist_ok=True)
    write_ico(os.path.join(root, 'app.ico'), ICON_SIZES)
    logos = {dpi: logo_pixels(dpi) for dpi in LOGO_DPIS}
    for dpi, logo in logos.items():
        write_bmp8(os.path.join(root, logo_file(dpi)), logo)
    if len(sys.argv) == 3 and sys.argv[1] == '--preview':
        out = sys.argv[2]
        os.makedirs(out, exist_ok=True)
        for size in ICON_SIZES:
            write_png(os.path.join(out, 'icon%d.png' % size), icon_pixels(size), max(1, 192 // size))
        for dpi, logo in logos.items():
            write_png(os.path.join(out, logo_file(dpi).replace('.bmp', '.png')), quantise(logo), 4)


if __name__ == '__main__':
    main()
