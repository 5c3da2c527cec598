#!/usr/bin/python3
"""Draws quellora.ico: two sets of octagonal bands, slightly apart, combined
with exclusive-or, as the saver does with its two patterns."""
import sys

from PIL import Image


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


def main(out):
    big = draw(48)
    big.save(out, format="ICO", sizes=[(16, 16), (32, 32), (48, 48)],
             append_images=[draw(16), draw(32)], bitmap_format="bmp")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "quellora.ico")
