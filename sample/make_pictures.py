#!/usr/bin/env python3
"""Writes the sample site's pictures (run once; the results are committed).

GIF, PNG, BMP and ICO are written here; JPEG and WebP by cjpeg and cwebp
(Debian: libjpeg-turbo-progs, webp) from a PPM or PNG written here.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

SITE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site")


def pixels(w, h, seed):
    """A small gradient with a diagonal stripe, RGB rows."""
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            stripe = (x + y + seed) % 8 < 2
            row.append((255, 255, 255) if stripe else ((x * 255) // max(1, w - 1), (y * 255) // max(1, h - 1), (seed * 40) % 256))
        rows.append(row)
    return rows


def gif(w, h, seed):
    # Two-colour GIF89a. LZW with a clear code before every 2 pixels keeps
    # the code width at 2 bits (the GIF89a format, appendix F): simple, valid.
    rows = pixels(w, h, seed)
    indices = [0 if sum(p) > 382 else 1 for row in rows for p in row]
    out = bytearray(b"GIF89a" + struct.pack("<HHBBB", w, h, 0x80, 0, 0))
    out += bytes([255, 255, 255, 30, 60, 140])
    out += b"," + struct.pack("<HHHHB", 0, 0, w, h, 0)
    min_code = 2
    clear, end = 4, 5
    codes = []
    for i in range(0, len(indices), 2):
        codes.append(clear)
        codes.extend(indices[i:i + 2])
    codes.append(end)
    bits, acc, nbits, data = 3, 0, 0, bytearray()
    for code in codes:
        acc |= code << nbits
        nbits += bits
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    out.append(min_code)
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out += b"\x00;"
    return bytes(out)


def png(w, h, seed):
    rows = pixels(w, h, seed)
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp(w, h, seed):
    rows = pixels(w, h, seed)
    stride = (w * 3 + 3) & ~3
    data = b"".join(bytes(c for p in row for c in reversed(p)) + b"\0" * (stride - w * 3) for row in reversed(rows))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


def ico(w, h, seed):
    body = png(w, h, seed)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(body), 22) + body


def ppm(w, h, seed):
    rows = pixels(w, h, seed)
    return b"P6 %d %d 255\n" % (w, h) + b"".join(bytes(c for p in row for c in p) for row in rows)


def write(rel, data):
    path = os.path.join(SITE, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def convert(tool_args, w, h, seed, rel, source=ppm, suffix=".ppm"):
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "in" + suffix)
        with open(src, "wb") as f:
            f.write(source(w, h, seed))
        out = os.path.join(SITE, rel)
        subprocess.run(tool_args(src, out), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    write("images/logo.gif", gif(88, 31, 1))
    write("images/icon.png", png(32, 32, 2))
    write("images/button.bmp", bmp(24, 12, 3))
    write("favicon.ico", ico(16, 16, 4))
    write("images/bilder/gr\u00f6\u00dfe.gif", gif(10, 10, 5))
    write("other/remote.gif", gif(20, 20, 6))
    write("frames/corner.png", png(8, 8, 7))
    full = png(40, 40, 8)
    write("images/truncated.png", full[: len(full) // 2])
    write("images/not-a-picture.gif", b"This file is named like a picture but holds text.\n")
    convert(lambda s, o: ["cjpeg", "-quality", "80", "-outfile", o, s], 120, 80, 9, "images/photo.jpg")
    convert(lambda s, o: ["cwebp", "-quiet", s, "-o", o], 64, 16, 10, "images/banner.webp", png, ".png")


if __name__ == "__main__":
    sys.exit(main())
