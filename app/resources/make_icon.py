#!/usr/bin/env python3
"""Draws the tool's icon and writes it as app.ico.

The icon is committed; run this only to change the drawing:

    python3 app/resources/make_icon.py

One 128 x 128 image at 32 bits per pixel (straight alpha), stored as a
bottom-up DIB with its AND mask, which every Windows version and Wine load.
The picture: a printer with a sheet in its feed and a green arrow pointing
into it, for "new firmware goes into the printer". Plain Python, no imaging
library, so it runs anywhere.
"""

import os
import struct

SIZE = 128
SAMPLES = 4  # supersampling per axis, for smooth edges


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# Back to front; each layer is (shape, (r, g, b, a)).
LAYERS = [
    # the sheet waiting in the feed, behind the printer
    (rounded_rect(30, 8, 98, 60, 3), (0xF5, 0xF7, 0xFA, 255)),
    (rounded_rect(30, 8, 98, 60, 3), None),  # outline drawn below
    # printer body and its lighter top
    (rounded_rect(8, 44, 120, 104, 10), (0x37, 0x47, 0x4F, 255)),
    (rounded_rect(8, 44, 120, 62, 10), (0x54, 0x6E, 0x7A, 255)),
    # output slot and the printed sheet coming out of it
    (rounded_rect(24, 84, 104, 92, 3), (0x1C, 0x26, 0x2B, 255)),
    (rounded_rect(30, 88, 98, 122, 3), (0xF5, 0xF7, 0xFA, 255)),
    # lines on the printed sheet
    (rounded_rect(38, 100, 90, 103, 1.5), (0x90, 0xA4, 0xAE, 255)),
    (rounded_rect(38, 108, 80, 111, 1.5), (0x90, 0xA4, 0xAE, 255)),
    # status light
    (circle(106, 74, 5), (0x66, 0xFF, 0x88, 255)),
    # the arrow: into the printer
    (polygon([(56, 2), (72, 2), (72, 34), (86, 34), (64, 58), (42, 34), (56, 34)]),
     (0x2E, 0x9D, 0x4F, 255)),
]


def outline(shape, width):
    def inside(x, y):
        if not shape(x, y):
            return False
        return not all(shape(x + dx, y + dy) for dx, dy in
                       ((width, 0), (-width, 0), (0, width), (0, -width)))
    return inside


# The feed sheet gets a thin grey edge so it reads on light backgrounds.
LAYERS[1] = (outline(LAYERS[0][0], 1.2), (0x90, 0xA4, 0xAE, 255))


def over(dst, src, coverage):
    """Straight-alpha 'source over' of src with the given coverage."""
    sa = src[3] / 255.0 * coverage
    da = dst[3] / 255.0
    oa = sa + da * (1 - sa)
    if oa == 0:
        return (0, 0, 0, 0)
    rgb = [(src[i] * sa + dst[i] * da * (1 - sa)) / oa for i in range(3)]
    return (rgb[0], rgb[1], rgb[2], oa * 255.0)


def render():
    pixels = []
    step = 1.0 / SAMPLES
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            colour = (0, 0, 0, 0)
            for shape, fill in LAYERS:
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if shape(x + (sx + 0.5) * step, y + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    colour = over(colour, fill, hits / float(SAMPLES * SAMPLES))
            row.append(tuple(int(round(c)) for c in colour))
        pixels.append(row)
    return pixels


def ico_bytes(pixels):
    xor = bytearray()
    for row in reversed(pixels):  # DIBs are stored bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (SIZE - 1 - x)
        mask += bits.to_bytes(SIZE // 8, 'big')  # 16 bytes: rows stay 4-aligned
    # The DIB height counts the colour image and the mask together.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    # A width or height of 128 fits the one-byte fields as is (0 means 256).
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'app.ico')
    with open(target, 'wb') as f:
        f.write(ico_bytes(render()))
    print('wrote', target)


if __name__ == '__main__':
    main()
