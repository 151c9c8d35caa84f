#!/usr/bin/env python3
"""Packs PNG pictures into one Windows icon file: png2ico.py OUT.ico IN.png...

Each picture becomes one image of the icon, stored as PNG (which the icon format allows since
Windows Vista), so nothing is decoded or scaled here: the system picks the size it needs."""
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"png2ico: {name} is not a PNG file")
    return struct.unpack(">II", data[16:24])


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: png2ico.py OUT.ico IN.png...")
    images = []
    for name in argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        width, height = png_size(data, name)
        if width > 256 or height > 256:
            sys.exit(f"png2ico: {name} is larger than 256 pixels")
        images.append((width, height, data))
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = b""
    for width, height, data in images:
        # 0 stands for 256; colour count 0, reserved 0, planes 1, 32 bits per pixel.
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32,
                                 len(data), offset)
        offset += len(data)
    with open(argv[1], "wb") as out:
        out.write(header + directory + b"".join(d for _, _, d in images))


if __name__ == "__main__":
    main(sys.argv)
