#!/usr/bin/python3
"""Draws the settings window's icons for the hicolor theme from the saver's
own pictures: the two band patterns of assets/ laid over each other with
exclusive-or, as the saver combines them, around the centre where their
rosettes meet, in a disc with a black rim. Each size is the same square of
the patterns reduced by averaging; the small sizes show a smaller square, so
a rosette still shows.

    make_icons.py ASSETS_DIR OUT_DIR     writes OUT_DIR/<n>x<n>/apps/<id>.png
"""
import os
import sys

from PIL import Image, ImageChops, ImageDraw

ICON_ID = 'example.orvandel.Quellora'
SIZES = [16, 24, 32, 48, 64, 128, 256, 512]
SHIFT = 9  # the second pattern's offset, in pattern pixels, as in the first frames of the sweep


def composed(assets):
    one = Image.open(os.path.join(assets, 'pattern1.bmp')).convert('1')
    two = Image.open(os.path.join(assets, 'pattern2.bmp')).convert('1')
    two = ImageChops.offset(two, SHIFT, 0)
    return ImageChops.logical_xor(one, two).convert('L')


def icon(picture, size):
    side = 64 if size <= 32 else 128  # pattern pixels shown
    cx, cy = picture.width // 2, picture.height // 2
    square = picture.crop((cx - side // 2, cy - side // 2, cx + side // 2, cy + side // 2))
    grey = square.resize((size, size), Image.NEAREST if size >= side else Image.BOX)
    # A disc with a black rim, smooth at its edge: drawn 4 times larger, then reduced.
    big = size * 4
    mask = Image.new('L', (big, big), 0)
    rim = Image.new('L', (big, big), 0)
    ImageDraw.Draw(mask).ellipse((2, 2, big - 3, big - 3), fill=255)
    width = max(4, big // 16)
    ImageDraw.Draw(rim).ellipse((2, 2, big - 3, big - 3), outline=255, width=width)
    mask = mask.resize((size, size), Image.BOX)
    rim = rim.resize((size, size), Image.BOX)
    grey = Image.composite(Image.new('L', (size, size), 0), grey, rim)
    out = Image.merge('RGBA', (grey, grey, grey, mask))
    return out


def main(assets, out):
    picture = composed(assets)
    for size in SIZES:
        folder = os.path.join(out, '%dx%d' % (size, size), 'apps')
        os.makedirs(folder, exist_ok=True)
        icon(picture, size).save(os.path.join(folder, ICON_ID + '.png'), optimize=True)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
