#!/usr/bin/python3
"""Draws the widget kit's images into resources/img/: the dialog shadow, the
dialog icons and the white title-strip buttons, each as name.png at its design
size and name@2x.png at twice that for scaled displays. Run again after
changing it and commit the PNG files it writes."""

import math
import os

from PIL import Image, ImageDraw

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "img")

# Shadow alpha from the outer edge inward, pixels 0 to 9; 0 again from pixel 10.
SHADOW_PROFILE = [0, 0, 0, 2, 6, 12, 20, 30, 42, 56]
SHADOW_BAND = len(SHADOW_PROFILE)

# Icons are drawn this many times larger and scaled down, for smooth edges.
SCALE = 8


def profile_at(depth):
    """Alpha at a fractional depth into the band, linear between the listed pixels."""
    if depth < 0 or depth >= SHADOW_BAND:
        return 0
    low = int(math.floor(depth))
    high = low + 1
    top = SHADOW_PROFILE[high] if high < SHADOW_BAND else SHADOW_PROFILE[-1]
    return SHADOW_PROFILE[low] + (top - SHADOW_PROFILE[low]) * (depth - low)


def band_depth(i, length, k):
    """Depth of output pixel i into the band from the nearer edge, in design
    pixels counted like pixel indexes: 0 for the outermost pixel at 1x."""
    return (min(i, length - 1 - i) + 0.5) / k - 0.5


def shadow(width, height, k):
    image = Image.new("RGBA", (width * k, height * k), (0, 0, 0, 0))
    pixels = image.load()
    for y in range(height * k):
        dy = band_depth(y, height * k, k)
        for x in range(width * k):
            dx = band_depth(x, width * k, k)
            if dx >= SHADOW_BAND and dy >= SHADOW_BAND:
                continue
            if dx < SHADOW_BAND and dy < SHADOW_BAND:
                # Corner: the depth is measured from a circle round the inner corner of the band,
                # which blends the two edge bands into a rounded shape.
                depth = SHADOW_BAND - math.hypot(SHADOW_BAND - dx, SHADOW_BAND - dy)
                alpha = profile_at(depth)
            else:
                alpha = profile_at(min(dx, dy))
            pixels[x, y] = (0, 0, 0, int(round(alpha)))
    return image


def canvas(size):
    big = Image.new("RGBA", (size * SCALE, size * SCALE), (0, 0, 0, 0))
    return big, ImageDraw.Draw(big)


def finish(big, size, k):
    return big.resize((size * k, size * k), Image.LANCZOS)


def s(value):
    return value * SCALE


def disc_icon(colour, glyph, k):
    """A 16 x 16 coloured disc with a white glyph: 'check', 'bang' or 'cross'."""
    big, draw = canvas(16)
    draw.ellipse([s(0.5), s(0.5), s(15.5), s(15.5)], fill=colour)
    white = (255, 255, 255, 255)
    if glyph == "check":
        draw.line([(s(4.2), s(8.3)), (s(7.0), s(11.0)), (s(11.8), s(5.4))], fill=white, width=round(s(1.9)), joint="curve")
    elif glyph == "bang":
        draw.rounded_rectangle([s(7.05), s(3.4), s(8.95), s(9.6)], radius=s(0.9), fill=white)
        draw.ellipse([s(7.0), s(10.9), s(9.0), s(12.9)], fill=white)
    elif glyph == "cross":
        draw.line([(s(5.2), s(5.2)), (s(10.8), s(10.8))], fill=white, width=round(s(1.9)))
        draw.line([(s(10.8), s(5.2)), (s(5.2), s(10.8))], fill=white, width=round(s(1.9)))
    return finish(big, 16, k)


def close_glyph(colour, backdrop, k):
    """12 x 12 white cross for the blue title strips; backdrop, if any, is a soft disc behind it."""
    big, draw = canvas(12)
    if backdrop:
        draw.ellipse([0, 0, s(12), s(12)], fill=backdrop)
    draw.line([(s(2.6), s(2.6)), (s(9.4), s(9.4))], fill=colour, width=round(s(1.4)))
    draw.line([(s(9.4), s(2.6)), (s(2.6), s(9.4))], fill=colour, width=round(s(1.4)))
    return finish(big, 12, k)


def minimise_glyph(colour, backdrop, k):
    """16 x 16 white bar for the blue title strips, level with the middle of the close cross."""
    big, draw = canvas(16)
    if backdrop:
        draw.ellipse([0, 0, s(16), s(16)], fill=backdrop)
    draw.rectangle([s(3), s(9), s(13), s(10.4)], fill=colour)
    return finish(big, 16, k)


def images(k):
    return {
        "big": shadow(220, 180, k),
        "ok": disc_icon((52, 178, 101, 255), "check", k),
        "warn": disc_icon((250, 160, 40, 255), "bang", k),
        "msg_err": disc_icon((232, 72, 72, 255), "cross", k),
        # Normal: slightly dimmed white; hover: full white on a faint light disc; pressed: white on a darker disc.
        "banner-close-nor": close_glyph((255, 255, 255, 215), None, k),
        "banner-close-hov": close_glyph((255, 255, 255, 255), (255, 255, 255, 60), k),
        "banner-close-pre": close_glyph((255, 255, 255, 255), (0, 40, 90, 70), k),
        "banner-min-nor": minimise_glyph((255, 255, 255, 215), None, k),
        "banner-min-hov": minimise_glyph((255, 255, 255, 255), (255, 255, 255, 60), k),
        "banner-min-pre": minimise_glyph((255, 255, 255, 255), (0, 40, 90, 70), k),
    }


def main():
    os.makedirs(OUT, exist_ok=True)
    for k, suffix in ((1, ""), (2, "@2x")):
        for name, image in images(k).items():
            # No text chunks or timestamps, so the files only change when the drawing does.
            image.save(os.path.join(OUT, name + suffix + ".png"), optimize=True)


if __name__ == "__main__":
    main()
