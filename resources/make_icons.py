#!/usr/bin/env python3
"""make_icons.py -- writes the icon group of every tool: <tool>.ico with a 48x48
and a 32x32 image, 24 bits per pixel, transparent outside
the rounded tile (AND mask).

Each picture is a tile in the tool's colour with a white glyph, drawn from
shapes in unit coordinates (0..1, y downwards) so that both sizes show the
same picture. Run from anywhere: python3 resources/make_icons.py
"""

import os
import struct

SIZES = (48, 32)
WHITE = (255, 255, 255)
DARK = (40, 40, 48)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def triangle(ax, ay, bx, by, cx, cy):
    def side(px, py, qx, qy, x, y):
        return (qx - px) * (y - py) - (qy - py) * (x - px)

    def inside(x, y):
        d1 = side(ax, ay, bx, by, x, y)
        d2 = side(bx, by, cx, cy, x, y)
        d3 = side(cx, cy, ax, ay, x, y)
        neg = d1 < 0 or d2 < 0 or d3 < 0
        pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (neg and pos)

    return inside


def band(ax, ay, bx, by, half_width):
    """A thick line from a to b."""
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / length2
        if t < 0 or t > 1:
            return False
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= half_width * half_width

    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def card(x0, y0, x1, y1, notch):
    """A memory card outline: a rectangle with its top right corner cut."""
    body = rect(x0, y0, x1, y1)
    cut = triangle(x1 - notch, y0 - 0.01, x1 + 0.01, y0 - 0.01, x1 + 0.01, y0 + notch)
    return minus(body, cut)


# One picture per tool: (tile colour, glyph shapes in white, detail shapes in dark).
PICTURES = {
    # Two arrows in opposite directions: PSU to MAX and back.
    "varkon": ((30, 90, 200),
               union(rect(0.18, 0.28, 0.62, 0.40), triangle(0.60, 0.18, 0.84, 0.34, 0.60, 0.50),
                     rect(0.38, 0.60, 0.82, 0.72), triangle(0.40, 0.50, 0.16, 0.66, 0.40, 0.82)),
               None),
    # A play triangle: runs commands.
    "droprun": ((30, 150, 70),
                triangle(0.30, 0.18, 0.80, 0.50, 0.30, 0.82),
                None),
    # A memory card with stacked saves on it.
    "taviro": ((200, 120, 20),
               card(0.22, 0.14, 0.78, 0.86, 0.16),
               union(rect(0.32, 0.36, 0.68, 0.44), rect(0.32, 0.50, 0.68, 0.58), rect(0.32, 0.64, 0.68, 0.72))),
    # An open box: unpack and repack.
    "quilban": ((140, 60, 170),
                union(rect(0.20, 0.42, 0.80, 0.84), triangle(0.20, 0.42, 0.08, 0.24, 0.36, 0.24),
                      triangle(0.80, 0.42, 0.92, 0.24, 0.64, 0.24)),
                rect(0.30, 0.52, 0.70, 0.58)),
    # A memory card cut in two: split.
    "sorvik": ((190, 40, 50),
               minus(card(0.16, 0.16, 0.84, 0.84, 0.16), band(0.56, 0.10, 0.44, 0.90, 0.05)),
               None),
    # A pencil over a line: rename.
    "maleto": ((20, 140, 150),
               union(band(0.28, 0.70, 0.74, 0.24, 0.09), triangle(0.14, 0.84, 0.19, 0.63, 0.35, 0.79),
                     rect(0.40, 0.80, 0.86, 0.86)),
               band(0.66, 0.32, 0.74, 0.24, 0.07)),
}


def render(size, tile, glyph, detail):
    """Pixels top row first, each (r, g, b), or None outside the rounded tile."""
    margin, corner = 1.0 / size, 0.14
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            x, y = (px + 0.5) / size, (py + 0.5) / size
            cx = min(max(x, corner), 1 - corner)
            cy = min(max(y, corner), 1 - corner)
            in_tile = (x - cx) ** 2 + (y - cy) ** 2 <= (corner - margin) ** 2
            if detail is not None and detail(x, y):
                row.append(DARK)
            elif glyph(x, y):
                row.append(WHITE)
            elif in_tile:
                row.append(tile)
            else:
                row.append(None)
        rows.append(row)
    return rows


def bitmap_image(size, rows):
    """A 24-bit icon image: header, colour rows bottom-up (BGR), AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for pixel in row:
            r, g, b = pixel or (0, 0, 0)
            line += bytes((b, g, r))
        line += b"\0" * (-len(line) % 4)
        colour += line
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray((size + 7) // 8)
        for x, pixel in enumerate(row):
            if pixel is None:  # outside the tile: transparent
                bits[x // 8] |= 0x80 >> (x % 8)
        bits += b"\0" * (-len(bits) % 4)
        mask += bits
    return header + colour + mask


def icon_file(picture):
    tile, glyph, detail = picture
    images = [bitmap_image(size, render(size, tile, glyph, detail)) for size in SIZES]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for name, picture in PICTURES.items():
        path = os.path.join(folder, name + ".ico")
        with open(path, "wb") as f:
            f.write(icon_file(picture))
        print(path)


if __name__ == "__main__":
    main()
