#!/usr/bin/python3
"""Draws the installer's pictures into app/assets/.

logo.png          64 x 64, the product mark (banner and finished page)
installer.ico     the same mark at 16, 32, 48 and 256 pixels (the programs' icon)
folder.gif        157 x 157, 16 frames: a folder with a bouncing arrow
installing.gif    400 x 300, 120 frames: files flying into a box, with a
                  progress bar sweeping below
*@2x.*            each picture drawn again at twice the size, for displays
                  above 96 dpi (the wizard scales them down, never up)

Run it again after changing a drawing; the outputs are committed so the
build needs no Python.
"""
import io
import math
import os
import struct

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "app", "assets")

GREEN = (72, 160, 104)
DARK_GREEN = (40, 110, 70)
LIGHT_GREEN = (200, 232, 208)
BLUE = (64, 128, 208)
GREY = (200, 200, 200)
WHITE = (255, 255, 255)
ICON_SIZES = (16, 32, 48, 256)


def draw_logo(scale=1):
    """The product mark on a grid of 64 units, each unit scale pixels."""
    def box(x0, y0, x1, y1):
        return (x0 * scale, y0 * scale, (x1 + 1) * scale - 1, (y1 + 1) * scale - 1)

    size = 64 * scale
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle(box(2, 2, 61, 61), radius=14 * scale, fill=GREEN + (255,))
    d.rounded_rectangle(box(2, 2, 61, 31), radius=14 * scale, fill=(96, 180, 126, 255))
    d.rectangle(box(2, 20, 61, 31), fill=(96, 180, 126, 255))
    # A bold "V" with a small shield dot: the product's mark.
    d.line([(16 * scale, 18 * scale), (32 * scale, 48 * scale), (48 * scale, 18 * scale)],
           fill=WHITE + (255,), width=8 * scale, joint="curve")
    d.ellipse(box(28, 8, 36, 16), fill=WHITE + (255,))
    return img


def logo():
    draw_logo().save(os.path.join(OUT, "logo.png"), optimize=True)
    draw_logo(2).save(os.path.join(OUT, "logo@2x.png"), optimize=True)


class ScaledDraw:
    """ImageDraw with every coordinate, radius and line width multiplied by
    scale; at scale 1 it draws exactly what ImageDraw draws."""

    def __init__(self, img, scale):
        self.draw = ImageDraw.Draw(img)
        self.scale = scale

    def _xy(self, xy):
        s = self.scale
        if isinstance(xy[0], (tuple, list)):
            return [(x * s, y * s) for x, y in xy]
        return tuple(v * s for v in xy)

    def _options(self, options):
        if "width" in options:
            options = dict(options, width=options["width"] * self.scale)
        return options

    def rounded_rectangle(self, xy, radius, **options):
        self.draw.rounded_rectangle(self._xy(xy), radius=radius * self.scale, **self._options(options))

    def rectangle(self, xy, **options):
        self.draw.rectangle(self._xy(xy), **self._options(options))

    def polygon(self, xy, **options):
        self.draw.polygon(self._xy(xy), **self._options(options))

    def ellipse(self, xy, **options):
        self.draw.ellipse(self._xy(xy), **self._options(options))

    def line(self, xy, **options):
        self.draw.line(self._xy(xy), **self._options(options))


def icon_bitmap(img):
    """One icon image as a 32-bit bottom-up DIB with its (empty) AND mask."""
    w, h = img.size
    px = img.load()
    xor = b"".join(bytes(c for x in range(w) for c in (px[x, y][2], px[x, y][1], px[x, y][0], px[x, y][3]))
                   for y in reversed(range(h)))
    mask = b"\0" * (((w + 31) // 32) * 4 * h)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def icon():
    """installer.ico: the mark at the sizes Windows asks for. The small ones
    are bitmaps (every loader reads them), 256 is PNG as usual."""
    big = draw_logo(4)
    images = []
    for size in ICON_SIZES:
        if size == 256:
            out = io.BytesIO()
            big.save(out, "PNG", optimize=True)
            images.append((size, out.getvalue()))
        else:
            images.append((size, icon_bitmap(big.resize((size, size), Image.LANCZOS))))
    offset = 6 + 16 * len(images)
    directory, data = struct.pack("<HHH", 0, 1, len(images)), b""
    for size, blob in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    with open(os.path.join(OUT, "installer.ico"), "wb") as f:
        f.write(directory + data)


def save_gif(frames, name, delay_ms):
    first, rest = frames[0], frames[1:]
    first.save(os.path.join(OUT, name), save_all=True, append_images=rest,
               duration=delay_ms, loop=0, optimize=False, disposal=1)


def to_palette(img):
    return img.convert("P", palette=Image.ADAPTIVE, colors=32)


def scaled_name(name, scale):
    base, ext = os.path.splitext(name)
    return name if scale == 1 else f"{base}@{scale}x{ext}"


def folder_frames(scale=1):
    size, count = 157, 16
    frames = []
    for i in range(count):
        img = Image.new("RGB", (size * scale, size * scale), WHITE)
        d = ScaledDraw(img, scale)
        # Folder body with its tab.
        d.rounded_rectangle((22, 62, 134, 136), radius=8, fill=(240, 196, 84))
        d.rounded_rectangle((22, 50, 72, 70), radius=6, fill=(226, 170, 60))
        d.rounded_rectangle((22, 70, 134, 136), radius=8, fill=(250, 210, 100))
        # Arrow dropping into the folder.
        offset = int(10 * math.sin(2 * math.pi * i / count))
        top = 8 + offset
        d.rectangle((70, top, 86, top + 30), fill=GREEN)
        d.polygon([(58, top + 30), (98, top + 30), (78, top + 52)], fill=GREEN)
        # A ring of dots marking progress round the folder.
        for k in range(8):
            a = 2 * math.pi * k / 8
            x = 78 + 60 * math.cos(a)
            y = 98 + 14 * math.sin(a) + 36
            lit = (k == (i // 2) % 8)
            r = 4 if lit else 2
            d.ellipse((x - r, y - r, x + r, y + r), fill=DARK_GREEN if lit else GREY)
        frames.append(to_palette(img))
    save_gif(frames, scaled_name("folder.gif", scale), 80)


def installing_frames(scale=1):
    w, h, count = 400, 300, 120
    frames = []
    for i in range(count):
        t = i / count
        img = Image.new("RGB", (w * scale, h * scale), WHITE)
        d = ScaledDraw(img, scale)
        # The box the files land in.
        d.polygon([(140, 150), (260, 150), (280, 230), (120, 230)], fill=(150, 110, 70))
        d.polygon([(140, 150), (260, 150), (240, 130), (160, 130)], fill=(190, 150, 100))
        # Three documents on staggered arcs from the left into the box.
        for k in range(3):
            p = (t * 3 + k / 3.0) % 1.0
            x = 40 + p * 150
            y = 150 - math.sin(p * math.pi) * 110
            d.rectangle((x, y, x + 28, y + 36), fill=WHITE, outline=BLUE, width=2)
            for line in range(3):
                ly = y + 9 + line * 8
                d.line((x + 5, ly, x + 22, ly), fill=BLUE, width=2)
        # Progress bar under the box.
        d.rounded_rectangle((60, 255, 340, 275), radius=9, fill=LIGHT_GREEN)
        d.rounded_rectangle((60, 255, 60 + max(18, int(280 * t)), 275), radius=9, fill=GREEN)
        frames.append(to_palette(img))
    save_gif(frames, scaled_name("installing.gif", scale), 40)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    logo()
    icon()
    for scale in (1, 2):
        folder_frames(scale)
        installing_frames(scale)
