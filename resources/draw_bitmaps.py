#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Pulsewerk's button and lamp bitmaps and its application icon.

Run from the repository root:

    /usr/bin/python3 resources/draw_bitmaps.py

It writes, next to this script:

    bitmaps/NAME.bmp       the 18 pictures of the main window's buttons and
                           lamps, 24-bit uncompressed BMP files
    bitmaps/NAME@2x.bmp    the same pictures drawn at twice the size, for
                           screens with a device pixel ratio above 1
    pulsewerk.ico          the application icon: 32 x 32 and 16 x 16 images,
                           16 colours each, with a transparency mask
    icons/pulsewerk-N.png  the same icon as RGBA PNG files for the desktop's
                           icon theme, at every hicolor size from 16 to 512
    icons/pulsewerk.svg    the icon as scalable vector graphics
    icons/pulsewerk-symbolic.svg
                           its one-colour outline for symbolic icon themes

Everything is computed here from geometry; the only outside input is the
DejaVu font for the lettering. The output is the same on every run.

Needs Python 3 and Pillow (Debian package python3-pil) and the DejaVu fonts
(fonts-dejavu-core).
"""

import math
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
BITMAP_DIR = os.path.join(HERE, "bitmaps")
ICON_DIR = os.path.join(HERE, "icons")
ICO_PATH = os.path.join(HERE, "pulsewerk.ico")

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONT_BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")
FONT_BOLD_CONDENSED = os.path.join(FONT_DIR, "DejaVuSansCondensed-Bold.ttf")

# Sub-samples per pixel along each axis for the anti-aliased shapes.
SUPERSAMPLE = 8


# ---------------------------------------------------------------------------
# Small helpers
# ---------------------------------------------------------------------------

def clamp01(v):
    return 0.0 if v < 0.0 else (1.0 if v > 1.0 else v)


def mix(a, b, t):
    """Blends colour a towards colour b by t (0..1)."""
    t = clamp01(t)
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def render(width, height, shade, ss=SUPERSAMPLE, scale=1):
    """Renders shade(x, y) -> (r, g, b) over a width x height picture.

    x and y are in pixel units of the picture at scale 1, (0, 0) being its top
    left corner and pixel (i, j) covering [i, i+1) x [j, j+1). At scale 2 the
    picture has twice the pixels along each axis, each covering half a unit.
    Each pixel is the mean of ss x ss samples, which anti-aliases every edge.
    """
    img = Image.new("RGB", (width * scale, height * scale))
    pix = img.load()
    n = ss * ss
    offs = [(k + 0.5) / ss for k in range(ss)]
    for j in range(height * scale):
        for i in range(width * scale):
            r = g = b = 0.0
            for oy in offs:
                for ox in offs:
                    c = shade((i + ox) / scale, (j + oy) / scale)
                    r += c[0]
                    g += c[1]
                    b += c[2]
            pix[i, j] = (int(r / n + 0.5), int(g / n + 0.5), int(b / n + 0.5))
    return img


def render_rgba(width, height, shade, ss):
    """Like render(), for shade(x, y) -> (r, g, b, a) with a in 0..1.

    Samples are averaged with premultiplied alpha so that the colours of
    transparent samples do not bleed into the edges.
    """
    img = Image.new("RGBA", (width, height))
    pix = img.load()
    n = ss * ss
    offs = [(k + 0.5) / ss for k in range(ss)]
    for j in range(height):
        for i in range(width):
            r = g = b = a = 0.0
            for oy in offs:
                for ox in offs:
                    c = shade(i + ox, j + oy)
                    r += c[0] * c[3]
                    g += c[1] * c[3]
                    b += c[2] * c[3]
                    a += c[3]
            if a <= 0.0:
                pix[i, j] = (0, 0, 0, 0)
            else:
                pix[i, j] = (int(r / a + 0.5), int(g / a + 0.5),
                             int(b / a + 0.5), int(255.0 * a / n + 0.5))
    return img


def sdf_circle(cx, cy, radius):
    """Signed distance to a circle: negative inside, positive outside."""
    def sdf(x, y):
        return math.hypot(x - cx, y - cy) - radius
    return sdf


def sdf_round_rect(left, top, right, bottom, radius):
    """Signed distance to a rectangle with rounded corners."""
    cx = (left + right) / 2.0
    cy = (top + bottom) / 2.0
    hx = (right - left) / 2.0 - radius
    hy = (bottom - top) / 2.0 - radius

    def sdf(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        inside = min(max(qx, qy), 0.0)
        return outside + inside - radius
    return sdf


def point_in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    for k in range(n):
        x1, y1 = pts[k]
        x2, y2 = pts[(k + 1) % n]
        if (y1 > y) != (y2 > y):
            xc = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < xc:
                inside = not inside
    return inside


def dist_to_segment(x, y, x1, y1, x2, y2):
    dx = x2 - x1
    dy = y2 - y1
    t = clamp01(((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy))
    return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy))


# ---------------------------------------------------------------------------
# Buttons
# ---------------------------------------------------------------------------
#
# Released: a dark-blue button, lit from above: a lighter bevel along its
# upper edge, a darker one along its lower edge and a soft gloss in its upper
# half. Pressed: the button turns light blue, its edge becomes a pale ring
# and a pale blue glow spreads from it onto the black around it; the
# lettering moves one pixel down, as if pushed in.

BLACK = (0, 0, 0)

UP_TOP = (52, 96, 190)        # released body, upper edge
UP_BOTTOM = (10, 26, 84)      # released body, lower edge
UP_BEVEL_LIGHT = (112, 150, 228)
UP_BEVEL_DARK = (4, 10, 40)

DOWN_TOP = (150, 208, 255)    # pressed body, upper edge
DOWN_BOTTOM = (72, 142, 232)  # pressed body, lower edge
DOWN_RIM = (228, 246, 255)    # the pale ring round the pressed button
DOWN_GLOW = (150, 215, 255)   # the glow it casts on the black around it

TEXT_WHITE = (255, 255, 255)
TEXT_SHADOW_UP = (0, 6, 30)
TEXT_SHADOW_DOWN = (20, 60, 140)


def button_shader(sdf, top, bottom, pressed, rim_width, glow_width):
    """Shader for a button whose outline is given by the signed distance sdf.

    top and bottom are the button's upper and lower edges (for the shading).
    The button's outline must leave glow_width pixels free inside the
    picture for the pressed look's glow.
    """
    height = bottom - top

    def shade(x, y):
        d = sdf(x, y)
        if d > 0.0:
            if not pressed:
                return BLACK
            g = clamp01(1.0 - d / glow_width)
            g = g * g * 0.85
            return mix(BLACK, DOWN_GLOW, g)
        depth = -d
        t = (y - top) / height
        if pressed:
            body = mix(DOWN_TOP, DOWN_BOTTOM, t)
            # Gloss on the upper half.
            gloss = clamp01(1.0 - t * 2.2) * 0.35
            body = mix(body, (235, 248, 255), gloss)
            # Pale rim, blending softly into the body.
            rim = 1.0 - smoothstep(rim_width * 0.6, rim_width * 1.6, depth)
            return mix(body, DOWN_RIM, rim)
        body = mix(UP_TOP, UP_BOTTOM, t)
        gloss = clamp01(1.0 - t * 2.4) * 0.22
        body = mix(body, (140, 175, 240), gloss)
        if depth < rim_width:
            # Bevel: light along the top, dark along the bottom.
            edge = mix(UP_BEVEL_LIGHT, UP_BEVEL_DARK, smoothstep(0.25, 0.75, t))
            return mix(edge, body, smoothstep(rim_width * 0.4, rim_width, depth))
        return body
    return shade


def circle_button(width, height, pressed, radius, scale):
    """A round button centred in the picture; returns it and its centre.

    An odd height (the 30 x 31 buttons) leaves the spare row at the bottom.
    """
    cx = width / 2.0
    cy = (height - height % 2) / 2.0
    sdf = sdf_circle(cx, cy, radius)
    return render(width, height,
                  button_shader(sdf, cy - radius, cy + radius, pressed,
                                rim_width=1.3, glow_width=1.7),
                  scale=scale), (cx, cy)


def rect_button(width, height, pressed, inset, corner, scale):
    """A rounded-rectangle button, inset pixels from the picture's edges."""
    left, top = inset, inset
    right, bottom = width - inset, height - inset
    sdf = sdf_round_rect(left, top, right, bottom, corner)
    return render(width, height,
                  button_shader(sdf, top, bottom, pressed,
                                rim_width=1.3, glow_width=inset),
                  scale=scale)


def text_mask(text, font):
    """The lettering as a grey-level mask at 1:1 (hinted by FreeType).

    Returns the mask and the box, relative to the mask, by which it is
    centred: the box of the capitals or digits, so that a descender (the p
    of Options) does not lift the word.
    """
    box = font.getbbox(text)
    img = Image.new("L", (box[2] + 2, box[3] + 2), 0)
    ImageDraw.Draw(img).text((0, 0), text, font=font, fill=255)
    cap = font.getbbox(text[0] if text[0].isupper() else text)
    return img, (box[0], cap[1], box[2], cap[3])


def add_ellipsis(mask, box, scale):
    """Appends three tight 2 x 2 dots to the lettering, on its baseline.

    The font's own dots are set too wide for the options button.
    """
    width = box[2] + (1 + 3 * 2 + 2 * 1) * scale
    out = Image.new("L", (width + 2 * scale, mask.size[1]), 0)
    out.paste(mask, (0, 0))
    draw = ImageDraw.Draw(out)
    x = box[2] + scale
    for k in range(3):
        left = x + 3 * k * scale
        draw.rectangle((left, box[3] - 2 * scale,
                        left + 2 * scale - 1, box[3] - 1), fill=255)
    return out, (box[0], box[1], width, box[3])


def stamp(img, mask, pos, colour):
    """Paints colour through mask onto img at pos."""
    layer = Image.new("RGB", mask.size, colour)
    img.paste(layer, pos, mask)


def letter(img, lettering, centre, pressed, scale):
    """Writes white lettering centred on centre, with a one-pixel shadow.

    lettering is a (mask, box) pair from text_mask(), drawn at the picture's
    scale; centre is in units of the picture at scale 1.
    """
    mask, box = lettering
    w = box[2] - box[0]
    h = box[3] - box[1]
    x = int(math.floor(centre[0] * scale - w / 2.0 + 0.5)) - box[0]
    y = int(math.floor(centre[1] * scale - h / 2.0 + 0.5)) - box[1]
    if pressed:
        y += scale
    stamp(img, mask, (x + scale, y + scale),
          TEXT_SHADOW_DOWN if pressed else TEXT_SHADOW_UP)
    stamp(img, mask, (x, y), TEXT_WHITE)


def draw_multiplier(digit, pressed, scale):
    img, (cx, cy) = circle_button(30, 31, pressed, 13.0, scale)
    font = ImageFont.truetype(FONT_BOLD, 14 * scale)
    letter(img, text_mask("x" + digit, font), (cx, cy), pressed, scale)
    return img


def draw_about(pressed, scale):
    img, (cx, cy) = circle_button(24, 24, pressed, 10.3, scale)
    font = ImageFont.truetype(FONT_BOLD, 15 * scale)
    letter(img, text_mask("?", font), (cx, cy), pressed, scale)
    return img


def draw_options(pressed, scale):
    img = rect_button(64, 28, pressed, 1.8, 8.0, scale)
    font = ImageFont.truetype(FONT_BOLD_CONDENSED, 11 * scale)
    letter(img, add_ellipsis(*text_mask("Options", font), scale),
           (32.0, 14.0), pressed, scale)
    return img


def draw_exit(pressed, scale):
    img = rect_button(56, 28, pressed, 1.8, 8.0, scale)
    font = ImageFont.truetype(FONT_BOLD, 13 * scale)
    letter(img, text_mask("Exit", font), (28.0, 14.0), pressed, scale)
    return img


# The mute button's loudspeaker, crossed out, in red. Coordinates are
# relative to the button's centre.
SPEAKER_RED = (255, 44, 36)
SPEAKER_EDGE = (70, 0, 0)


def speaker_shader(cx, cy, base):
    """Draws the crossed-out loudspeaker centred on (cx, cy) over base."""
    # Magnet (a small box) and cone (a trapezoid opening to the right).
    magnet = [(-8.0, -2.8), (-4.6, -2.8), (-4.6, 2.8), (-8.0, 2.8)]
    cone = [(-5.0, -2.8), (0.6, -7.4), (0.6, 7.4), (-5.0, 2.8)]
    magnet = [(cx + px, cy + py) for px, py in magnet]
    cone = [(cx + px, cy + py) for px, py in cone]
    # Two sound waves: arcs round the cone's mouth.
    wave_radii = (4.4, 7.6)
    wave_half = 0.8
    # The bar that crosses the symbol out, from upper left to lower right,
    # with a dark edge so that it stands out where it crosses the symbol.
    bar = (cx - 8.8, cy - 8.8, cx + 8.8, cy + 8.8)
    bar_half = 1.0
    bar_edge = 0.8

    def in_speaker(x, y):
        if point_in_polygon(x, y, magnet) or point_in_polygon(x, y, cone):
            return True
        # The waves are arcs round the middle of the cone's mouth.
        r = math.hypot(x - cx - 0.6, y - cy)
        a = math.atan2(y - cy, x - cx - 0.6)
        if abs(a) < 0.9:
            for wr in wave_radii:
                if abs(r - wr) < wave_half:
                    return True
        return False

    def shade(x, y):
        db = dist_to_segment(x, y, *bar)
        if db < bar_half:
            return SPEAKER_RED
        if db < bar_half + bar_edge:
            return SPEAKER_EDGE
        if in_speaker(x, y):
            return SPEAKER_RED
        return base(x, y)
    return shade


def draw_mute(pressed, scale):
    width, height, radius = 30, 31, 13.0
    cx = width / 2.0
    cy = (height - height % 2) / 2.0
    sdf = sdf_circle(cx, cy, radius)
    base = button_shader(sdf, cy - radius, cy + radius, pressed,
                         rim_width=1.3, glow_width=1.7)
    sy = cy + (1.0 if pressed else 0.0)
    return render(width, height, speaker_shader(cx, sy, base), scale=scale)


# ---------------------------------------------------------------------------
# Lamps
# ---------------------------------------------------------------------------
#
# A round lamp in a grey bezel on black. Lit, the glass is bright with a hot
# centre; dark, it is the same lamp in a deep shade of its colour. Both dark
# lamps are drawn by the same code and differ by colour only.

LAMP_COLOURS = {
    # name: (centre, edge) of the glass
    "LED_RON": ((255, 150, 130), (235, 20, 10)),
    "LED_ROFF": ((120, 18, 14), (60, 4, 2)),
    "LED_GON": ((180, 255, 160), (20, 215, 30)),
    "LED_GOFF": ((18, 100, 22), (4, 48, 6)),
}
BEZEL_LIGHT = (200, 200, 200)
BEZEL_DARK = (90, 90, 90)


def draw_lamp(name, scale):
    centre, edge = LAMP_COLOURS[name]
    cx = cy = 7.0
    outer = 6.6
    glass = 5.0

    def shade(x, y):
        r = math.hypot(x - cx, y - cy)
        if r > outer:
            return BLACK
        if r > glass:
            # Grey bezel, lighter at the upper left.
            t = clamp01(((x - cx) + (y - cy)) / (2.0 * outer) + 0.5)
            return mix(BEZEL_LIGHT, BEZEL_DARK, t)
        # The glass: centre colour in the middle, edge colour outside, with
        # a small highlight at the upper left.
        c = mix(centre, edge, smoothstep(0.0, glass, r))
        hr = math.hypot(x - (cx - 1.6), y - (cy - 1.6))
        h = (1.0 - smoothstep(0.3, 1.9, hr)) * 0.55
        return mix(c, (255, 255, 255), h)
    return render(14, 14, shade, scale=scale)


# ---------------------------------------------------------------------------
# BMP writer
# ---------------------------------------------------------------------------

def write_bmp24(img, path):
    """Writes img as a 24-bit BI_RGB bitmap without palette, bottom-up."""
    img = img.convert("RGB")
    w, h = img.size
    row_bytes = (w * 3 + 3) & ~3
    pad = b"\0" * (row_bytes - w * 3)
    pix = img.load()
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = pix[x, y]
            row += bytes((b, g, r))
        rows.append(bytes(row) + pad)
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data),
                       3780, 3780, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + data)


# ---------------------------------------------------------------------------
# Application icon
# ---------------------------------------------------------------------------
#
# A pyramid-shaped mechanical metronome seen from the front: a grey body
# tapering to a small flat top, on a dark-red base; a dark slot in the
# front where a pendulum rod with a brass weight leans to the right; a small
# winding key sticking out on the left; all outlined in black.
#
# The 16 and 32 pixel images are pixel drawings in the 16 standard colours
# (they go into the .ico file as 4-bit images); the larger ones are
# anti-aliased renderings of the same shapes.

ICON_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Letters of the pixel drawings below, as indexes into ICON_PALETTE;
# "." is transparent.
ICON_LETTERS = {
    "K": 0,    # black outline
    "m": 1,    # dark red base
    "o": 3,    # olive: the shaded side of the brass key
    "S": 7,    # silver body
    "G": 8,    # grey: the slot, and the shaded edge of the body
    "Y": 11,   # brass: the pendulum weight and the winding key
    "W": 15,   # white: the pendulum rod and the lit edge of the body
}

ICON_32 = [
    "................................",
    "................................",
    ".............KKKKKK.............",
    ".............KWSSGK.............",
    ".............KWSSGK.............",
    "............KWSGGSGK............",
    "............KWSGGSGK............",
    "............KWSGGWGK............",
    "...........KWSGGGWSGK...........",
    "...........KWSGKKKSGK...........",
    "...........KWSKYYYKGK...........",
    "..........KWSSKYYYKSGK..........",
    "...KK.....KWSSGKKKSSGK..........",
    "..KYYK....KWSSGGWGSSGK..........",
    "..KYoKKKKKWSSGGGWGGSSGK.........",
    "..KYoYYYYKWSSGGGWGGSSGK.........",
    "..KYoKKKKKWSSGGGWGGSSGK.........",
    "..KYYK..KWSSSGGWGGGSSSGK........",
    "...KK...KWSSSGGWGGGSSSGK........",
    "........KWSSSGGWGGGSSSGK........",
    ".......KWSSSSGGWGGGSSSSGK.......",
    ".......KWSSSSGKKKGGSSSSGK.......",
    ".......KWSSSSSSSSSSSSSSGK.......",
    ".......KWSSSSSSSSSSSSSSGK.......",
    "......KKKKKKKKKKKKKKKKKKKK......",
    ".....KmmmmmmmmmmmmmmmmmmmmK.....",
    ".....KmmmmmmmmmmmmmmmmmmmmK.....",
    "....KmmmmmmmmmmmmmmmmmmmmmmK....",
    "....KmmmmmmmmmmmmmmmmmmmmmmK....",
    "....KKKKKKKKKKKKKKKKKKKKKKKK....",
    "................................",
    "................................",
]

ICON_16 = [
    "......KKKK......",
    "......KSSK......",
    "......KSWK......",
    ".....KSGWSK.....",
    ".....KSYYSK.....",
    ".K...KSGWSK.....",
    "KYKKKSSWGSSK....",
    "KYYYKSSWGSSK....",
    "KYKKKSSWGSSK....",
    ".K.KSSSWGSSSK...",
    "...KSSSKKSSSK...",
    "..KKKKKKKKKKKK..",
    "..KmmmmmmmmmmK..",
    ".KmmmmmmmmmmmmK.",
    ".KKKKKKKKKKKKKK.",
    "................",
]


def pixel_icon(rows):
    """Turns a pixel drawing into (palette indexes, transparency) rows."""
    size = len(rows)
    indexes = []
    transparent = []
    for row in rows:
        assert len(row) == size
        indexes.append([ICON_LETTERS.get(ch, 0) for ch in row])
        transparent.append([ch == "." for ch in row])
    return indexes, transparent


def pixel_icon_rgba(rows):
    indexes, transparent = pixel_icon(rows)
    size = len(rows)
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    pix = img.load()
    for y in range(size):
        for x in range(size):
            if not transparent[y][x]:
                pix[x, y] = ICON_PALETTE[indexes[y][x]] + (255,)
    return img


def ico_image(rows):
    """One image of the .ico file: a 4-bit DIB with its AND mask.

    The DIB header gives twice the height (colour rows then mask rows);
    rows are stored bottom-up, each padded to a multiple of 4 bytes.
    """
    indexes, transparent = pixel_icon(rows)
    size = len(rows)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(xor_row)
        bits = bytearray(and_row)
        for x in range(size):
            # Transparent pixels: colour 0 (black) in the colour bitmap and
            # a 1 in the mask, so the screen shows through unchanged.
            value = 0 if transparent[y][x] else indexes[y][x]
            if x % 2 == 0:
                row[x // 2] |= value << 4
            else:
                row[x // 2] |= value
            if transparent[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0)
                       for (r, g, b) in ICON_PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    return header + palette + bytes(xor) + bytes(mask)


# The larger icons: the same drawing as anti-aliased shapes, in units of the
# 32 pixel drawing (one unit is one pixel of ICON_32; y grows downwards).

ICON_BODY = [(13.0, 2.0), (19.0, 2.0), (25.2, 24.4), (6.8, 24.4)]
ICON_BASE = [(6.0, 24.0), (26.0, 24.0), (26.4, 26.9), (27.9, 27.0),
             (28.0, 30.0), (4.0, 30.0), (4.1, 27.0), (5.6, 26.9)]
ICON_SLOT = [(15.0, 5.0), (17.0, 5.0), (17.9, 8.0), (19.0, 22.4),
             (13.0, 22.4), (14.1, 8.0)]
ICON_ROD = (15.5, 21.4, 17.6, 6.4)        # pivot, then tip
ICON_WEIGHT_CENTRE = 10.9                  # height of the weight on the rod
ICON_KEY_STEM = (4.8, 14.3, 10.4, 16.7)    # left, top, right, bottom
ICON_KEY_BOW = (3.9, 15.5, 2.0, 3.6)       # centre x, y; half width, height

BODY_LIT = (236, 236, 236)
BODY_SHADED = (150, 150, 150)
SLOT_TOP = (70, 70, 74)
SLOT_BOTTOM = (110, 110, 114)
BASE_TOP = (160, 18, 18)
BASE_BOTTOM = (100, 0, 0)
BRASS_LIT = (255, 236, 90)
BRASS_SHADED = (170, 130, 10)
ROD = (250, 250, 250)


def sdf_polygon(pts):
    """Signed distance to a simple polygon: negative inside."""
    def sdf(x, y):
        d = min(dist_to_segment(x, y, pts[k][0], pts[k][1],
                                pts[(k + 1) % len(pts)][0],
                                pts[(k + 1) % len(pts)][1])
                for k in range(len(pts)))
        return -d if point_in_polygon(x, y, pts) else d
    return sdf


def sdf_ellipse(cx, cy, rx, ry):
    """Approximate signed distance to an ellipse (good near its edge)."""
    def sdf(x, y):
        u = (x - cx) / rx
        v = (y - cy) / ry
        k = math.hypot(u, v)
        if k == 0.0:
            return -min(rx, ry)
        grad = math.hypot(u / rx, v / ry) / k
        return (k - 1.0) / grad if grad > 0.0 else 0.0
    return sdf


def vector_icon(size):
    """Renders the icon at size x size pixels as an RGBA image."""
    scale = size / 32.0
    # The black outline, in units: about 1.6 pixels at 48, 4.6 at 256.
    line = (1.0 + size / 64.0) / scale

    body = sdf_polygon(ICON_BODY)
    base = sdf_polygon(ICON_BASE)
    slot = sdf_polygon(ICON_SLOT)
    stem = sdf_round_rect(*ICON_KEY_STEM, radius=0.4)
    bow = sdf_ellipse(*ICON_KEY_BOW)
    px, py, tx, ty = ICON_ROD
    rod_half = 0.45
    # The weight: a short trapezoid across the rod, square to it.
    ux, uy = tx - px, ty - py
    rod_len = math.hypot(ux, uy)
    ux, uy = ux / rod_len, uy / rod_len       # along the rod, upwards
    nx, ny = -uy, ux                          # across it
    t = (py - ICON_WEIGHT_CENTRE) / (py - ty) * rod_len
    wx, wy = px + ux * t, py + uy * t
    weight = sdf_polygon([
        (wx - nx * 2.4 - ux * 1.4, wy - ny * 2.4 - uy * 1.4),
        (wx + nx * 2.4 - ux * 1.4, wy + ny * 2.4 - uy * 1.4),
        (wx + nx * 1.6 + ux * 1.4, wy + ny * 1.6 + uy * 1.4),
        (wx - nx * 1.6 + ux * 1.4, wy - ny * 1.6 + uy * 1.4),
    ])

    def across(x, y, pts):
        """Where x lies between the body's left and right edges at y."""
        (x0, y0), (x1, _), (x2, y2), (x3, _) = pts
        f = (y - y0) / (y2 - y0)
        left = x0 + (x3 - x0) * f
        right = x1 + (x2 - x1) * f
        return clamp01((x - left) / (right - left))

    def outlined(d, colour):
        """A shape's colour with its black inner outline, or None outside."""
        if d > 0.0:
            return None
        if d > -line:
            return BLACK
        return colour

    def shade(x, y):
        u = x / scale
        v = y / scale
        colour = None
        # Winding key, behind the body.
        c = outlined(bow(u, v), mix(BRASS_LIT, BRASS_SHADED,
                                    (u - 2.0) / 4.0))
        if c is not None:
            colour = c
        c = outlined(stem(u, v), mix(BRASS_LIT, BRASS_SHADED,
                                     (v - 14.3) / 2.4))
        if c is not None:
            colour = c
        # Body, with the slot and the pendulum in front of it.
        d = body(u, v)
        if d <= 0.0:
            colour = mix(BODY_LIT, BODY_SHADED, across(u, v, ICON_BODY))
            if slot(u, v) <= 0.0:
                colour = mix(SLOT_TOP, SLOT_BOTTOM, (v - 5.0) / 17.0)
            r = dist_to_segment(u, v, px, py, tx, ty)
            if r < rod_half:
                colour = ROD
            elif r < rod_half + 0.25 and slot(u, v) <= 0.0:
                colour = mix(colour, BLACK, 0.5)
            c = outlined(weight(u, v), mix(BRASS_LIT, BRASS_SHADED,
                                           (v - wy + 1.4) / 2.8))
            if c is not None:
                colour = c
            pd = math.hypot(u - px, v - py)
            if pd < 1.1:
                colour = BLACK if pd > 0.5 else (120, 120, 120)
            if d > -line:
                colour = BLACK
        # Base, in front of the body's foot.
        c = outlined(base(u, v), mix(BASE_TOP, BASE_BOTTOM, (v - 24.0) / 6.0))
        if c is not None:
            colour = c
        if colour is None:
            return (0, 0, 0, 0.0)
        return colour + (1.0,)

    return render_rgba(size, size, shade, 4 if size <= 128 else 3)



def write_ico(images, path):
    """Writes an .ico file holding the given pixel drawings."""
    count = len(images)
    blobs = [ico_image(rows) for rows in images]
    out = struct.pack("<HHH", 0, 1, count)
    offset = 6 + 16 * count
    for rows, blob in zip(images, blobs):
        size = len(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0,
                           1, 4, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


# ---------------------------------------------------------------------------
# Scalable icons
# ---------------------------------------------------------------------------
#
# The same shapes as vector_icon(), in the units of the 32 pixel drawing.

def svg_points(pts):
    return " ".join("%.2f,%.2f" % p for p in pts)


def icon_weight():
    """The pendulum weight's corners, as vector_icon() places them."""
    px, py, tx, ty = ICON_ROD
    ux, uy = tx - px, ty - py
    rod_len = math.hypot(ux, uy)
    ux, uy = ux / rod_len, uy / rod_len
    nx, ny = -uy, ux
    t = (py - ICON_WEIGHT_CENTRE) / (py - ty) * rod_len
    wx, wy = px + ux * t, py + uy * t
    return [
        (wx - nx * 2.4 - ux * 1.4, wy - ny * 2.4 - uy * 1.4),
        (wx + nx * 2.4 - ux * 1.4, wy + ny * 2.4 - uy * 1.4),
        (wx + nx * 1.6 + ux * 1.4, wy + ny * 1.6 + uy * 1.4),
        (wx - nx * 1.6 + ux * 1.4, wy - ny * 1.6 + uy * 1.4),
    ]


def hex_colour(c):
    return "#%02x%02x%02x" % tuple(int(v) for v in c)


def write_svg_icon(path):
    """The full-colour icon, outlined in black like the larger bitmaps."""
    px, py, tx, ty = ICON_ROD
    left, top, right, bottom = ICON_KEY_STEM
    bx, by, brx, bry = ICON_KEY_BOW
    line = 'stroke="#000000" stroke-width="0.7" stroke-linejoin="round"'
    gradients = [
        ("body", 0, 0, 1, 0, BODY_LIT, BODY_SHADED),
        ("slot", 0, 0, 0, 1, SLOT_TOP, SLOT_BOTTOM),
        ("base", 0, 0, 0, 1, BASE_TOP, BASE_BOTTOM),
        ("brass", 0, 0, 1, 1, BRASS_LIT, BRASS_SHADED),
    ]
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<!-- SPDX-License-Identifier: GPL-3.0-or-later -->',
           '<!-- Drawn by resources/draw_bitmaps.py. -->',
           '<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128"'
           ' viewBox="0 0 32 32">',
           '  <defs>']
    for name, x1, y1, x2, y2, c1, c2 in gradients:
        out.append('    <linearGradient id="%s" x1="%d" y1="%d" x2="%d" y2="%d">'
                   '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/>'
                   '</linearGradient>' % (name, x1, y1, x2, y2, hex_colour(c1), hex_colour(c2)))
    out += ['  </defs>',
            '  <ellipse cx="%.2f" cy="%.2f" rx="%.2f" ry="%.2f" fill="url(#brass)" %s/>'
            % (bx, by, brx, bry, line),
            '  <rect x="%.2f" y="%.2f" width="%.2f" height="%.2f" rx="0.4" fill="url(#brass)" %s/>'
            % (left, top, right - left, bottom - top, line),
            '  <polygon points="%s" fill="url(#body)" %s/>' % (svg_points(ICON_BODY), line),
            '  <polygon points="%s" fill="url(#slot)"/>' % svg_points(ICON_SLOT),
            '  <line x1="%.2f" y1="%.2f" x2="%.2f" y2="%.2f" stroke="%s" stroke-width="0.9"'
            ' stroke-linecap="round"/>' % (px, py, tx, ty, hex_colour(ROD)),
            '  <polygon points="%s" fill="url(#brass)" %s/>' % (svg_points(icon_weight()), line),
            '  <circle cx="%.2f" cy="%.2f" r="0.8" fill="#787878" stroke="#000000" stroke-width="0.6"/>'
            % (px, py),
            '  <polygon points="%s" fill="url(#base)" %s/>' % (svg_points(ICON_BASE), line),
            '</svg>', '']
    with open(path, "w") as f:
        f.write("\n".join(out))


def write_svg_symbolic(path):
    """The icon's silhouette in one colour, at 16 x 16: the body with its slot
    cut out, the pendulum in the slot, the base and the winding key."""
    px, py, tx, ty = ICON_ROD
    left, top, right, bottom = ICON_KEY_STEM
    bx, by, brx, bry = ICON_KEY_BOW
    body = "M " + " L ".join("%.2f %.2f" % p for p in ICON_BODY) + " Z"
    slot = "M " + " L ".join("%.2f %.2f" % p for p in ICON_SLOT) + " Z"
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           '<!-- SPDX-License-Identifier: GPL-3.0-or-later -->',
           '<!-- Drawn by resources/draw_bitmaps.py. -->',
           '<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16" viewBox="0 0 32 32">',
           '  <g fill="#2e3436">',
           '    <path fill-rule="evenodd" d="%s %s"/>' % (body, slot),
           '    <line x1="%.2f" y1="%.2f" x2="%.2f" y2="%.2f" stroke="#2e3436"'
           ' stroke-width="1.6" stroke-linecap="round"/>' % (px, py, tx, ty),
           '    <polygon points="%s"/>' % svg_points(icon_weight()),
           '    <polygon points="%s"/>' % svg_points(ICON_BASE),
           '    <rect x="%.2f" y="%.2f" width="%.2f" height="%.2f"/>'
           % (left, top, right - left, bottom - top),
           '    <ellipse cx="%.2f" cy="%.2f" rx="%.2f" ry="%.2f"/>' % (bx, by, brx, bry),
           '  </g>',
           '</svg>', '']
    with open(path, "w") as f:
        f.write("\n".join(out))


# Every size of the hicolor icon theme's fixed-size folders that desktops use.
ICON_SIZES = (16, 22, 24, 32, 48, 64, 96, 128, 256, 512)


def draw_pictures(scale):
    """The 18 pictures at the given scale (1, or 2 for the @2x pictures)."""
    pictures = {}
    for digit in ("1", "2", "4"):
        pictures["X%s_U" % digit] = draw_multiplier(digit, False, scale)
        pictures["X%s_D" % digit] = draw_multiplier(digit, True, scale)
    pictures["MUTE_U"] = draw_mute(False, scale)
    pictures["MUTE_D"] = draw_mute(True, scale)
    pictures["OPTIONS_U"] = draw_options(False, scale)
    pictures["OPTIONS_D"] = draw_options(True, scale)
    pictures["ABOUT_U"] = draw_about(False, scale)
    pictures["ABOUT_D"] = draw_about(True, scale)
    pictures["EXIT_U"] = draw_exit(False, scale)
    pictures["EXIT_D"] = draw_exit(True, scale)
    for name in ("LED_RON", "LED_ROFF", "LED_GON", "LED_GOFF"):
        pictures[name] = draw_lamp(name, scale)
    return pictures


def main():
    os.makedirs(BITMAP_DIR, exist_ok=True)
    os.makedirs(ICON_DIR, exist_ok=True)

    count = 0
    for scale, suffix in ((1, ""), (2, "@2x")):
        pictures = draw_pictures(scale)
        for name in sorted(pictures):
            write_bmp24(pictures[name],
                        os.path.join(BITMAP_DIR, name + suffix + ".bmp"))
            count += 1

    write_ico([ICON_32, ICON_16], ICO_PATH)
    for size in ICON_SIZES:
        path = os.path.join(ICON_DIR, "pulsewerk-%d.png" % size)
        if size == 16:
            pixel_icon_rgba(ICON_16).save(path)
        elif size == 32:
            pixel_icon_rgba(ICON_32).save(path)
        else:
            vector_icon(size).save(path)
    write_svg_icon(os.path.join(ICON_DIR, "pulsewerk.svg"))
    write_svg_symbolic(os.path.join(ICON_DIR, "pulsewerk-symbolic.svg"))
    print("wrote %d bitmaps, %s, %d icon images and 2 SVG icons"
          % (count, os.path.relpath(ICO_PATH), len(ICON_SIZES)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
