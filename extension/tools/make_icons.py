#!/usr/bin/env python3
"""Draws the extension's toolbar icons as PNG files (standard library only).

The normal image (the module's icon 202) is a blue disc with a white
picture frame; the hot image (201) is the same in orange, shown while a
grab runs. Run from anywhere; writes extension/icons/{normal,hot}-N.png.
"""
import os
import struct
import zlib

SIZES = (16, 24, 32, 48, 128)
COLOURS = {"normal": (0x1F, 0x5F, 0xBF), "hot": (0xE0, 0x7A, 0x10)}


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw(size, colour):
    rows = []
    c = (size - 1) / 2.0
    radius = size / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            d = ((x - c) ** 2 + (y - c) ** 2) ** 0.5
            alpha = max(0.0, min(1.0, radius - d))
            r, g, b = colour
            # A white frame with a small "mountain" inside: a picture.
            fx, fy = (x - c) / radius, (y - c) / radius
            if max(abs(fx), abs(fy * 1.25)) < 0.55 and max(abs(fx), abs(fy * 1.25)) > 0.42:
                r, g, b = 255, 255, 255
            elif abs(fx) < 0.42 and abs(fy * 1.25) < 0.42 and fy > 0.05 - 0.6 * abs(fx + 0.1) + 0.12:
                r, g, b = 255, 255, 255
            row += [r, g, b, int(alpha * 255)]
        rows.append(row)
    return png(size, size, rows)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "icons")
    os.makedirs(out, exist_ok=True)
    for name, colour in COLOURS.items():
        for size in SIZES:
            with open(os.path.join(out, "%s-%d.png" % (name, size)), "wb") as f:
                f.write(draw(size, colour))


if __name__ == "__main__":
    main()
