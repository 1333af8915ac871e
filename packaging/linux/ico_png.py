#!/usr/bin/env python3
"""Writes the largest PNG image of a Windows .ico file (the launcher's icon holds a 256 pixel
one) as a .png file: the Linux menu shows the same picture as the Windows shortcuts.

Usage: ico_png.py ICON.ico OUTPUT.png
"""
import struct
import sys

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def largest_png(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    best = None
    for i in range(count):
        width, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        image = data[offset:offset + size]
        if image.startswith(PNG_SIGNATURE):
            side = struct.unpack_from(">I", image, 16)[0]  # IHDR width
            if best is None or side > best[0]:
                best = (side, image)
    if best is None:
        raise ValueError("the icon holds no PNG image")
    return best[1]


def main():
    with open(sys.argv[1], "rb") as f:
        png = largest_png(f.read())
    with open(sys.argv[2], "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
