#!/usr/bin/env python3
"""Writes the launcher's icon (a blue tile with a white arrow over a bar) as a Windows .ico
holding 16, 24, 32 and 48 pixel 32-bit images and a 256 pixel PNG image.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
TILE = (0x1F, 0x5F, 0xD8)
WHITE = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per axis, for smooth edges


def inside_tile(x, y):
    margin, radius = 0.04, 0.2
    lo, hi = margin + radius, 1 - margin - radius
    if not (margin <= x <= 1 - margin and margin <= y <= 1 - margin):
        return False
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_mark(x, y):
    # arrow head: apex (0.5, 0.16), base at y 0.46 from x 0.24 to 0.76
    if 0.16 <= y <= 0.46 and abs(x - 0.5) <= (y - 0.16) / 0.30 * 0.26:
        return True
    if 0.44 <= y <= 0.70 and abs(x - 0.5) <= 0.09:  # shaft
        return True
    return 0.76 <= y <= 0.84 and 0.22 <= x <= 0.78  # bar


def pixels(size):
    """Rows top to bottom of (r, g, b, a)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tile = mark = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if inside_tile(x, y):
                        tile += 1
                        mark += inside_mark(x, y)
            n = SAMPLES * SAMPLES
            if tile == 0:
                row.append((0, 0, 0, 0))
                continue
            f = mark / tile
            rgb = tuple(round(TILE[i] * (1 - f) + WHITE[i] * f) for i in range(3))
            row.append(rgb + (round(255 * tile / n),))
        rows.append(row)
    return rows


def bmp_image(size):
    rows = pixels(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    return header + xor + bytes(mask_row * size)


def png_image(size):
    rows = pixels(size)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    images = [png_image(s) if s >= 256 else bmp_image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
