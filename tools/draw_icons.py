#!/usr/bin/env python3
"""Draws the program's pictures into img/: the four channel pictograms (a
square-wave line in the channel's colour on a transparent background,
300 x 88, RGBA) and the zoom cursor (a magnifying glass with a plus, 32 x 32).

Plain Python, no imaging library: shapes are rendered with 4 x 4
supersampling for smooth edges and written as 8-bit RGBA PNGs.

    python3 tools/draw_icons.py
"""
import math
import os
import struct
import zlib

SS = 4  # supersampling factor per axis


def write_png(path, width, height, rgba):
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        raw += rgba[y * width * 4:(y + 1) * width * 4]

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy or 1)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def render(width, height, layers):
    """layers: list of (coverage_fn(x, y) -> bool, (r, g, b)) painted in order."""
    out = bytearray(width * height * 4)
    for y in range(height):
        for x in range(width):
            r = g = b = a = 0.0
            for sy in range(SS):
                for sx in range(SS):
                    fx = x + (sx + 0.5) / SS
                    fy = y + (sy + 0.5) / SS
                    colour = None
                    for covers, rgb in layers:
                        if covers(fx, fy):
                            colour = rgb
                    if colour is not None:
                        r += colour[0]; g += colour[1]; b += colour[2]; a += 1
            i = (y * width + x) * 4
            if a:
                out[i:i + 4] = bytes((round(r / a), round(g / a), round(b / a), round(255 * a / (SS * SS))))
    return out


def square_wave(colour):
    w, h = 300, 88
    half = 5.0  # line half width in pixels
    hi, lo = 18.0, 70.0
    xs = [14, 74, 74, 150, 150, 226, 226, 286]
    ys = [lo, lo, hi, hi, lo, lo, hi, hi]
    segs = list(zip(zip(xs, ys), zip(xs[1:], ys[1:])))

    def covers(x, y):
        return any(seg_dist(x, y, a[0], a[1], b[0], b[1]) <= half for a, b in segs)

    return w, h, render(w, h, [(covers, colour)])


def zoom_in():
    w = h = 32
    cx, cy, rad = 13.0, 13.0, 9.0
    dark, glass = (40, 40, 40), (225, 240, 255)

    def lens(x, y):
        return math.hypot(x - cx, y - cy) <= rad - 1.5

    def ring(x, y):
        return abs(math.hypot(x - cx, y - cy) - rad) <= 1.8

    def handle(x, y):
        return seg_dist(x, y, 20.0, 20.0, 29.0, 29.0) <= 2.6

    def plus(x, y):
        return (abs(x - cx) <= 1.2 and abs(y - cy) <= 5.0) or (abs(y - cy) <= 1.2 and abs(x - cx) <= 5.0)

    return w, h, render(w, h, [(lens, glass), (ring, dark), (handle, dark), (plus, dark)])


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "img")
    channels = {
        "u1-01.png": (50, 153, 213),
        "I-01.png": (102, 205, 170),
        "t-01.png": (255, 153, 51),
        "u2-01.png": (153, 102, 255),
    }
    for name, colour in channels.items():
        write_png(os.path.join(root, name), *square_wave(colour))
    write_png(os.path.join(root, "Zoom_In.png"), *zoom_in())


if __name__ == "__main__":
    main()
