#!/usr/bin/env python3
"""Draws the program's icons (a moth over a quill) and writes them as .ico
files with 16x16 and 32x32 images in 32-bit colour. Run it after changing a
design; the .ico files it writes are part of the sources."""
import math
import os
import struct
import sys


def moth(size, wing, body, backdrop=None):
    """Returns rows of (r, g, b, a) pixels, top row first."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    c = (size - 1) / 2.0
    s = size / 32.0
    for y in range(size):
        for x in range(size):
            dx, dy = (x - c) / s, (y - c) / s
            if backdrop and dx * dx + dy * dy <= 15.5 * 15.5:
                px[y][x] = backdrop
            # two pairs of wings: ellipses tilted away from the body
            for side in (-1, 1):
                for (cx, cy, rx, ry, tilt) in ((7.0, -4.0, 8.0, 5.0, 0.5), (5.5, 6.0, 5.5, 3.8, -0.6)):
                    ax = dx - side * cx
                    ay = dy - cy
                    t = tilt * side
                    u = ax * math.cos(t) + ay * math.sin(t)
                    v = -ax * math.sin(t) + ay * math.cos(t)
                    if (u / rx) ** 2 + (v / ry) ** 2 <= 1.0:
                        px[y][x] = wing
            if (dx / 1.8) ** 2 + (dy / 10.0) ** 2 <= 1.0:
                px[y][x] = body
            # antennae
            for side in (-1, 1):
                if -14.0 <= dy <= -9.0 and abs(dx - side * (-(dy + 9.0) * 0.6)) <= 0.6:
                    px[y][x] = body
    return px


def ico_image(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(struct.pack('BBBB', b, g, r, a) for row in reversed(px) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(px):
        bits = 0
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + colour + mask


def write_ico(path, images):
    blobs = [ico_image(px) for px in images]
    out = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for px, blob in zip(images, blobs):
        size = len(px)
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, 'wb') as f:
        f.write(out + b''.join(blobs))


DESIGNS = {
    # name: (wing, body, backdrop)
    'Quillmoth.ico': ((230, 160, 40, 255), (70, 40, 20, 255), None),
    # tray: running, stopped, nothing to do
    'Running.ico': ((60, 190, 70, 255), (20, 70, 25, 255), None),
    'Stopped.ico': ((210, 50, 45, 255), (80, 20, 20, 255), None),
    'Idle.ico': ((150, 150, 160, 255), (70, 70, 80, 255), None),
}


def hand_cursor(size=32):
    """A pointing hand for the link label: white with a black outline."""
    shape = [
        "....##..........",
        "...#..#.........",
        "...#..#.........",
        "...#..#.........",
        "...#..###.......",
        "...#..#..##.....",
        "...#..#..#.##...",
        ".###..#..#.#.#..",
        "#..#.........#..",
        "#............#..",
        ".#...........#..",
        "..#..........#..",
        "..#.........#...",
        "...#........#...",
        "....#......#....",
        "....########....",
    ]
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for y, row in enumerate(shape):
        inside = False
        for x, c in enumerate(row):
            if c == '#':
                px[y][x] = (0, 0, 0, 255)
        # fill between the outline on each row
        xs = [x for x, c in enumerate(row) if c == '#']
        if len(xs) >= 2:
            for x in range(xs[0] + 1, xs[-1]):
                if row[x] == '.' and y > 0:
                    px[y][x] = (255, 255, 255, 255)
    return px


def write_cur(path, px, hotspot):
    blob = ico_image(px)
    size = len(px)
    out = struct.pack('<HHH', 0, 2, 1)
    out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, hotspot[0], hotspot[1], len(blob), 22)
    with open(path, 'wb') as f:
        f.write(out + blob)

if __name__ == '__main__':
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'host', 'res')
    for name, (wing, body, backdrop) in DESIGNS.items():
        write_ico(os.path.join(out_dir, name),
                  [moth(16, wing, body, backdrop), moth(20, wing, body, backdrop), moth(32, wing, body, backdrop)])
    write_cur(os.path.join(out_dir, 'Link.cur'), hand_cursor(), (5, 0))
