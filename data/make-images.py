#!/usr/bin/python3
"""Draws the program's pictures: the type icons (icons/*.ico, 16, 32, 48 and 256 pixels, each
size drawn on its own), the program icon (pictavo.png) and the splash picture (viewer.spl, a PNG
under the name the program looks for). Run from anywhere: python3 data/make-images.py"""

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
    d = ImageDraw.Draw(img)
    # A photograph leaning on another one.
    d.rounded_rectangle([0.22 * s, 0.2 * s, 0.78 * s, 0.7 * s], radius=0.04 * s,
                        fill=(255, 255, 255, 110))
    frame = [0.18 * s, 0.3 * s, 0.82 * s, 0.8 * s]
    d.rounded_rectangle(frame, radius=0.04 * s, fill="white")
    landscape(d, (frame[0] + 0.05 * s, frame[1] + 0.05 * s, frame[2] - 0.05 * s,
                  frame[3] - 0.05 * s), s)
    return img.resize((size, size), Image.LANCZOS)


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
    splash().save(os.path.join(HERE, "viewer.spl"), format="PNG", optimize=True)


if __name__ == "__main__":
    main()
