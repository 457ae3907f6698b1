#!/usr/bin/python3
"""Draws the program's pictures: the type icons (icons/*.ico, 16, 32, 48 and 256 pixels, each
size drawn on its own), the program icon (pictavo.png, and for the desktop's icon theme
hicolor/<N>x<N>/apps/pictavo.png in the usual sizes beside the same drawing as a vector,
hicolor/scalable/apps/pictavo.svg) and the splash picture (viewer.spl, a PNG under the name the
program looks for). Run from anywhere: python3 data/make-images.py"""

import os
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
REGULAR = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
SIZES = (16, 32, 48, 256)
OVERSAMPLE = 4

# Icon file -> (label, band colour). Every type has a colour of its own.
TYPES = {
    "jpg": ("JPG", (228, 87, 46)),
    "gif": ("GIF", (23, 162, 184)),
    "bmp": ("BMP", (46, 134, 222)),
    "dib": ("DIB", (27, 79, 114)),
    "png": ("PNG", (39, 174, 96)),
    "psd": ("PSD", (49, 120, 220)),
    "tif": ("TIF", (142, 68, 173)),
    "pcx": ("PCX", (211, 84, 0)),
    "tga": ("TGA", (192, 57, 43)),
    "wbmb": ("WBMP", (99, 110, 114)),
    "wmf": ("WMF", (22, 160, 133)),
    "ico": ("ICO", (230, 150, 20)),
    "emf": ("EMF", (14, 102, 85)),
}


def font(path, size):
    return ImageFont.truetype(path, max(1, int(size)))


def landscape(draw, box, scale):
    """A small picture: sky, sun and two hills, clipped to box."""
    x0, y0, x1, y1 = box
    w, h = x1 - x0, y1 - y0
    for i in range(int(h)):
        t = i / max(1, h)
        c = (int(120 + 90 * t), int(180 + 50 * t), 255)
        draw.line([(x0, y0 + i), (x1, y0 + i)], fill=c)
    r = 0.16 * w
    draw.ellipse([x1 - 0.38 * w, y0 + 0.12 * h, x1 - 0.38 * w + r, y0 + 0.12 * h + r],
                 fill=(255, 214, 64))
    draw.polygon([(x0, y1), (x0 + 0.38 * w, y0 + 0.42 * h), (x0 + 0.72 * w, y1)],
                 fill=(56, 142, 60))
    draw.polygon([(x0 + 0.35 * w, y1), (x0 + 0.68 * w, y0 + 0.55 * h), (x1, y1)],
                 fill=(102, 187, 106))


def type_icon(size, label, colour):
    s = size * OVERSAMPLE
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    line = max(OVERSAMPLE, s // 48)
    left, right, top, bottom = 0.17 * s, 0.83 * s, 0.05 * s, 0.95 * s
    fold = 0.2 * s
    page = [(left, top), (right - fold, top), (right, top + fold), (right, bottom), (left, bottom)]
    d.polygon(page, fill=(252, 252, 250), outline=(120, 128, 140))
    d.line(page + [page[0]], fill=(120, 128, 140), width=line)
    d.polygon([(right - fold, top), (right - fold, top + fold), (right, top + fold)],
              fill=(214, 219, 226), outline=(120, 128, 140))
    landscape(d, (left + 0.08 * s, top + 0.2 * s, right - 0.08 * s, 0.56 * s), s)
    band = [0.06 * s, 0.6 * s, 0.94 * s, 0.84 * s]
    d.rounded_rectangle(band, radius=0.05 * s, fill=colour)
    if size >= 32:
        fsize = 0.19 * s if len(label) <= 3 else 0.15 * s
        f = font(BOLD, fsize)
        tw, th = d.textbbox((0, 0), label, font=f)[2:]
        d.text(((s - tw) / 2, band[1] + (band[3] - band[1] - th) / 2 - 0.01 * s), label,
               font=f, fill="white")
    return img.resize((size, size), Image.LANCZOS)


def program_icon(size):
    s = size * OVERSAMPLE
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    grad = Image.new("RGBA", (s, s))
    gd = ImageDraw.Draw(grad)
    for i in range(s):
        t = i / s
        gd.line([(0, i), (s, i)], fill=(int(59 + 80 * t), int(130 - 40 * t), int(246 - 10 * t)))
    mask = Image.new("L", (s, s), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0.04 * s, 0.04 * s, 0.96 * s, 0.96 * s],
                                           radius=0.2 * s, fill=255)
    img.paste(grad, (0, 0), mask)
    # A photograph leaning on another one, the one behind see-through over the background.
    behind = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    ImageDraw.Draw(behind).rounded_rectangle([0.22 * s, 0.2 * s, 0.78 * s, 0.7 * s],
                                             radius=0.04 * s, fill=(255, 255, 255, 110))
    img = Image.alpha_composite(img, behind)
    d = ImageDraw.Draw(img)
    frame = [0.18 * s, 0.3 * s, 0.82 * s, 0.8 * s]
    d.rounded_rectangle(frame, radius=0.04 * s, fill="white")
    landscape(d, (frame[0] + 0.05 * s, frame[1] + 0.05 * s, frame[2] - 0.05 * s,
                  frame[3] - 0.05 * s), s)
    return img.resize((size, size), Image.LANCZOS)


# The icon theme's usual sizes (freedesktop Icon Theme specification, hicolor).
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256, 512)


def program_icon_svg():
    """program_icon() as a vector drawing on a 256-unit square, with the same geometry."""
    s = 256.0

    def n(v):
        return f"{v:.2f}".rstrip("0").rstrip(".")

    x0, y0, x1, y1 = 0.18 * s + 0.05 * s, 0.3 * s + 0.05 * s, 0.82 * s - 0.05 * s, 0.8 * s - 0.05 * s
    w, h = x1 - x0, y1 - y0
    r = 0.16 * w
    sun = (x1 - 0.38 * w + r / 2, y0 + 0.12 * h + r / 2, r / 2)
    hill1 = [(x0, y1), (x0 + 0.38 * w, y0 + 0.42 * h), (x0 + 0.72 * w, y1)]
    hill2 = [(x0 + 0.35 * w, y1), (x0 + 0.68 * w, y0 + 0.55 * h), (x1, y1)]

    def colour(rgb):
        return "#%02x%02x%02x" % rgb

    def points(p):
        return " ".join(f"{n(x)},{n(y)}" for x, y in p)

    def rect(box, radius, fill, extra=""):
        bx0, by0, bx1, by1 = (v * s for v in box)
        return (f'<rect x="{n(bx0)}" y="{n(by0)}" width="{n(bx1 - bx0)}" height="{n(by1 - by0)}" '
                f'rx="{n(radius * s)}" fill="{fill}"{extra}/>')

    return "\n".join([
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        "  <title>Pictavo</title>",
        "  <defs>",
        f'    <linearGradient id="back" gradientUnits="userSpaceOnUse" x1="0" y1="{n(0.04 * s)}" '
        f'x2="0" y2="{n(0.96 * s)}">',
        f'      <stop offset="0" stop-color="{colour((59, 130, 246))}"/>',
        f'      <stop offset="1" stop-color="{colour((139, 90, 236))}"/>',
        "    </linearGradient>",
        f'    <linearGradient id="sky" gradientUnits="userSpaceOnUse" x1="0" y1="{n(y0)}" x2="0" '
        f'y2="{n(y1)}">',
        f'      <stop offset="0" stop-color="{colour((120, 180, 255))}"/>',
        f'      <stop offset="1" stop-color="{colour((210, 230, 255))}"/>',
        "    </linearGradient>",
        "  </defs>",
        "  " + rect((0.04, 0.04, 0.96, 0.96), 0.2, "url(#back)"),
        "  " + rect((0.22, 0.2, 0.78, 0.7), 0.04, "#ffffff", ' fill-opacity="0.43"'),
        "  " + rect((0.18, 0.3, 0.82, 0.8), 0.04, "#ffffff"),
        f'  <rect x="{n(x0)}" y="{n(y0)}" width="{n(w)}" height="{n(h)}" fill="url(#sky)"/>',
        f'  <circle cx="{n(sun[0])}" cy="{n(sun[1])}" r="{n(sun[2])}" fill="{colour((255, 214, 64))}"/>',
        f'  <polygon points="{points(hill1)}" fill="{colour((56, 142, 60))}"/>',
        f'  <polygon points="{points(hill2)}" fill="{colour((102, 187, 106))}"/>',
        "</svg>",
        "",
    ])


def theme_icons():
    """The program icon in the icon theme's folders: each size drawn on its own, and the SVG."""
    for size in THEME_SIZES:
        folder = os.path.join(HERE, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        program_icon(size).save(os.path.join(folder, "pictavo.png"), optimize=True)
    folder = os.path.join(HERE, "hicolor", "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "pictavo.svg"), "w", encoding="utf-8") as out:
        out.write(program_icon_svg())


def save_ico(path, images):
    images = sorted(images, key=lambda im: im.width)
    images[-1].save(path, format="ICO", sizes=[(im.width, im.height) for im in images],
                    append_images=images[:-1])


def splash():
    w, h = 560, 320
    s = OVERSAMPLE
    img = Image.new("RGB", (w * s, h * s))
    d = ImageDraw.Draw(img)
    for i in range(h * s):
        t = i / (h * s)
        d.line([(0, i), (w * s, i)], fill=(int(248 - 20 * t), int(250 - 14 * t), 255))
    d.rectangle([0, (h - 40) * s, w * s, h * s], fill=(59, 110, 220))
    icon = program_icon(170).resize((170 * s, 170 * s), Image.LANCZOS)
    img.paste(icon, (40 * s, 55 * s), icon)
    d.text((240 * s, 80 * s), "Pictavo", font=font(BOLD, 54 * s), fill=(30, 41, 59))
    d.text((243 * s, 152 * s), "Image browser and viewer", font=font(REGULAR, 19 * s),
           fill=(71, 85, 105))
    d.text((243 * s, 186 * s), "Version 1.7", font=font(REGULAR, 14 * s), fill=(100, 116, 139))
    d.text((40 * s, (h - 30) * s), "Starting\u2026", font=font(REGULAR, 14 * s), fill="white")
    return img.resize((w, h), Image.LANCZOS)


def main():
    os.makedirs(os.path.join(HERE, "icons"), exist_ok=True)
    for name, (label, colour) in TYPES.items():
        save_ico(os.path.join(HERE, "icons", name + ".ico"),
                 [type_icon(size, label, colour) for size in SIZES])
    save_ico(os.path.join(HERE, "icons", "icon.ico"), [program_icon(size) for size in SIZES])
    program_icon(256).save(os.path.join(HERE, "pictavo.png"))
    theme_icons()
    splash().save(os.path.join(HERE, "viewer.spl"), format="PNG", optimize=True)


if __name__ == "__main__":
    main()
