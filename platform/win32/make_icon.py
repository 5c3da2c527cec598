#!/usr/bin/python3
"""Draws quellora.ico: two sets of octagonal bands, slightly apart, combined
with exclusive-or, as the saver does with its two patterns. 16, 32 and 48
pixels as bitmaps, 256 pixels PNG-compressed, as Windows' large icons are."""
import io
import struct
import sys

from PIL import Image

SIZES = [16, 32, 48, 256]
PNG_FROM = 256  # this size and larger are stored as PNG


def octagon_distance(x, y):
    ax, ay = abs(x), abs(y)
    return max(ax, ay, (ax + ay) / 1.4142)


def draw(size):
    img = Image.new("RGBA", (size, size))
    c = (size - 1) / 2
    band = size / 10
    for y in range(size):
        for x in range(size):
            a = int(octagon_distance(x - c + size * 0.12, y - c) / band) & 1
            b = int(octagon_distance(x - c - size * 0.12, y - c) / band) & 1
            inside = octagon_distance(x - c, y - c) <= c + 0.5
            v = 0 if a ^ b else 255
            img.putpixel((x, y), (v, v, v, 255) if inside else (0, 0, 0, 0))
    return img


def entry_data(img):
    """The bytes of one icon image: PNG for the large sizes, otherwise the
    32-bit bitmap (with its AND mask) that Pillow writes for a one-size icon."""
    out = io.BytesIO()
    if img.width >= PNG_FROM:
        img.save(out, format="PNG", optimize=True)
        return out.getvalue()
    img.save(out, format="ICO", sizes=[img.size], bitmap_format="bmp")
    data = out.getvalue()
    size, offset = struct.unpack_from("<II", data, 6 + 8)
    return data[offset:offset + size]


def main(out):
    images = [entry_data(draw(s)) for s in SIZES]
    header = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = len(header) + 16 * len(SIZES)
    entries, blobs = b"", b""
    for size, data in zip(SIZES, images):
        side = size if size < 256 else 0  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    with open(out, "wb") as f:
        f.write(header + entries + blobs)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "quellora.ico")
