#!/usr/bin/python3
"""Draws every picture of the installer's pages into ui/pages/image/.

    tools/artwork/make_artwork.py [OUTPUT_FOLDER]

The pictures are drawn from shapes, gradients and the system's fonts only;
a fixed random seed makes every run produce the same files. Small pictures
are drawn at twice their display size so that they stay sharp on high
density screens; the pages give every picture its display size.
"""

import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
CJK = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"

WINDOW = (982, 568)
SCALE = 2  # small pictures are drawn at this multiple of their display size

GOLD_LIGHT = (243, 235, 189)
GOLD = (212, 173, 99)
GOLD_DEEP = (143, 101, 33)


# --- helpers -----------------------------------------------------------------

def rgba(color, alpha=255):
    return tuple(color[:3]) + (alpha,)


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def vertical_gradient(size, stops):
    """An RGBA picture filled top to bottom through (position 0..1, RGB or RGBA colour) stops."""
    width, height = size
    stops = [(p, rgba(c) if len(c) == 3 else tuple(c)) for p, c in stops]
    column = Image.new("RGBA", (1, height))
    pixels = column.load()
    for y in range(height):
        t = y / max(1, height - 1)
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                pixels[0, y] = mix(c0, c1, (t - p0) / max(1e-9, p1 - p0))
                break
    return column.resize(size)


def horizontal_gradient(size, stops):
    return vertical_gradient((size[1], size[0]), stops).transpose(Image.Transpose.ROTATE_90).transpose(
        Image.Transpose.FLIP_TOP_BOTTOM)


def radial_mask(size, inner=0.0):
    """An L mask: 255 at the centre falling smoothly to 0 at the edge of the ellipse."""
    gradient = Image.radial_gradient("L").resize(size, Image.Resampling.BICUBIC)
    # radial_gradient grows with the distance; 128 is the inscribed circle.
    return gradient.point(lambda v: 0 if v >= 128 else round(255 * (1 - max(0.0, v / 128 - inner) / (1 - inner)) ** 2))


def glow(canvas, centre, radii, color, alpha):
    """Adds a soft elliptical light to `canvas` (RGBA)."""
    rx, ry = radii
    mask = radial_mask((2 * rx, 2 * ry)).point(lambda v: v * alpha // 255)
    layer = Image.new("RGBA", (2 * rx, 2 * ry), rgba(color))
    layer.putalpha(mask)
    canvas.alpha_composite(layer, (round(centre[0] - rx), round(centre[1] - ry)))


def rounded_mask(size, radius, inset=0):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(
        (inset, inset, size[0] - 1 - inset, size[1] - 1 - inset), radius=max(0, radius - inset), fill=255)
    return mask


def save(picture, path, size=None):
    if size and picture.size != size:
        picture = picture.resize(size, Image.Resampling.LANCZOS)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    picture.save(path, optimize=True)


def font(path, size, index=0):
    return ImageFont.truetype(path, size, index=index)


def spaced_text(draw, xy, text, face, fill, spacing):
    """Draws `text` with extra letter spacing; answers its width."""
    x, y = xy
    for char in text:
        draw.text((x, y), char, font=face, fill=fill)
        x += draw.textlength(char, font=face) + spacing
    return x - xy[0] - spacing


def spaced_width(draw, text, face, spacing):
    return sum(draw.textlength(c, font=face) for c in text) + spacing * (len(text) - 1)


def gradient_fill(mask, top, bottom):
    """`mask` (L) filled with a vertical gradient from `top` to `bottom`."""
    fill = vertical_gradient(mask.size, [(0, top), (1, bottom)])
    fill.putalpha(ImageChops.multiply(fill.getchannel("A"), mask))
    return fill


# --- backgrounds ---------------------------------------------------------------

def ridge(rng, width, base, amplitude, roughness):
    """Heights of a mountain ridge, one per column: sharp-crested waves of falling size."""
    waves = [(amplitude / (k + 1) ** roughness * rng.uniform(0.5, 1.0), rng.uniform(0.7, 1.3) * (k + 1) * 1.6 * math.pi / width,
              rng.uniform(0, 2 * math.pi)) for k in range(12)]
    return [base - sum(a * (1 - abs(math.sin(f * x + p))) for a, f, p in waves) * 0.8 for x in range(width)]


def dither(picture):
    """Breaks the banding of smooth gradients with a little fixed noise."""
    noise = Image.frombytes("L", picture.size, random.Random(7).randbytes(picture.size[0] * picture.size[1]))
    noise = noise.point(lambda v: 128 + round((v - 128) / 128))
    rgb = ImageChops.add(picture.convert("RGB"), Image.merge("RGB", [noise] * 3), 1, -128)
    out = rgb.convert("RGBA")
    out.putalpha(picture.getchannel("A"))
    return out


def scenery(rng, size):
    """The main background: night sky, a warm light behind the logo and layers of mountains."""
    width, height = size
    sky = vertical_gradient(size, [(0, (14, 18, 28)), (0.42, (26, 27, 36)), (0.62, (30, 26, 26)), (1, (7, 7, 9))])
    glow(sky, (width * 0.2, height * 0.05), (int(width * 0.5), int(height * 0.5)), (50, 78, 126), 80)
    glow(sky, (width * 0.85, height * 0.0), (int(width * 0.45), int(height * 0.45)), (76, 60, 118), 60)

    stars = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(stars)
    for _ in range(260):
        x, y = rng.uniform(0, width), rng.uniform(0, height * 0.62) ** 1.05
        r = rng.choice([0.7, 0.9, 1.1, 1.4, 2.0]) * width / 982
        a = int(rng.uniform(60, 220) * (1 - y / (height * 0.7)))
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(230, 235, 255, max(0, a)))
    sky.alpha_composite(stars.filter(ImageFilter.GaussianBlur(width / 982 * 0.6)))

    # The light the logo stands in.
    centre = (width * 497 / 982, height * 175 / 568)
    glow(sky, centre, (int(width * 0.62), int(height * 0.75)), (150, 100, 46), 110)
    glow(sky, centre, (int(width * 0.3), int(height * 0.42)), GOLD, 95)
    glow(sky, centre, (int(width * 0.12), int(height * 0.19)), GOLD_LIGHT, 90)

    # Light beams from the centre, very faint.
    beams = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(beams)
    for angle in (-0.9, -0.45, -0.15, 0.2, 0.55, 1.0):
        spread = 0.05
        far = width * 1.2
        points = [centre,
                  (centre[0] + far * math.sin(angle - spread), centre[1] - far * math.cos(angle - spread)),
                  (centre[0] + far * math.sin(angle + spread), centre[1] - far * math.cos(angle + spread))]
        draw.polygon(points, fill=(255, 225, 160, 14))
    sky.alpha_composite(beams.filter(ImageFilter.GaussianBlur(width / 982 * 14)))

    # Mountains: far layers pale and blue with haze, near layers dark.
    layers = [
        (0.60, 0.20, 1.2, (62, 66, 84), (44, 46, 58)),
        (0.68, 0.18, 1.0, (38, 42, 56), (26, 28, 37)),
        (0.78, 0.16, 0.9, (22, 24, 32), (14, 15, 20)),
        (0.90, 0.12, 0.8, (11, 11, 14), (6, 6, 8)),
    ]
    for index, (base, amplitude, roughness, top, bottom) in enumerate(layers):
        heights = ridge(rng, width, height * base, height * amplitude, roughness)
        mask = Image.new("L", size, 0)
        ImageDraw.Draw(mask).polygon([(0, height)] + [(x, h) for x, h in enumerate(heights)] + [(width - 1, height)],
                                     fill=255)
        fill = gradient_fill(mask, top, bottom)
        # Rim light on the ridge facing the glow.
        rim = Image.new("L", size, 0)
        ImageDraw.Draw(rim).line([(x, h) for x, h in enumerate(heights)], fill=110 - index * 25, width=max(1, width // 982))
        rim = ImageChops.multiply(rim.filter(ImageFilter.GaussianBlur(width / 982 * 0.8)),
                                  radial_mask(size).point(lambda v: min(255, v * 2)))
        rim_layer = Image.new("RGBA", size, rgba(GOLD))
        rim_layer.putalpha(rim)
        sky.alpha_composite(fill)
        sky.alpha_composite(rim_layer)
        # Haze between the layers.
        haze = Image.new("RGBA", size, (0, 0, 0, 0))
        band = int(height * base - height * amplitude * 0.2)
        ImageDraw.Draw(haze).rectangle((0, band, width, band + height * 0.06), fill=(150, 140, 140, 34 - index * 7))
        sky.alpha_composite(haze.filter(ImageFilter.GaussianBlur(height * 0.04)))

    # Embers drifting up from the valley.
    embers = Image.new("RGBA", size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(embers)
    for _ in range(70):
        x, y = rng.uniform(0, width), rng.uniform(height * 0.35, height * 0.95)
        r = rng.uniform(0.7, 2.2) * width / 982
        draw.ellipse((x - r, y - r, x + r, y + r), fill=(255, 170, 80, int(rng.uniform(70, 200))))
    sky.alpha_composite(embers.filter(ImageFilter.GaussianBlur(width / 982 * 1.2)))
    sky.alpha_composite(embers)
    return sky


def darken_edges(picture, top_band, bottom_from, bottom_alpha):
    """Vignette, a darker title bar strip and a dark floor for the controls."""
    width, height = picture.size
    shade = Image.new("RGBA", picture.size, (0, 0, 0, 0))
    vignette = radial_mask((int(width * 1.5), int(height * 1.7)), inner=0.35)
    vignette = ImageChops.invert(vignette).crop((int(width * 0.25), int(height * 0.35), int(width * 1.25),
                                                 int(height * 1.35))).point(lambda v: v * 150 // 255)
    shade.putalpha(vignette)
    picture.alpha_composite(shade)
    floor = vertical_gradient((width, height - bottom_from), [(0, (0, 0, 0, 0)), (0.35, (0, 0, 0, bottom_alpha // 2)),
                                                             (1, (0, 0, 0, bottom_alpha))])
    picture.alpha_composite(floor, (0, bottom_from))
    bar = vertical_gradient((width, top_band), [(0, (0, 0, 0, 120)), (1, (0, 0, 0, 0))])
    picture.alpha_composite(bar, (0, 0))


def hairline(picture, y, color, alpha):
    width = picture.size[0]
    line = horizontal_gradient((width, 1), [(0, rgba(color, 0)), (0.5, rgba(color, alpha)), (1, rgba(color, 0))])
    picture.alpha_composite(line, (0, y))


def main_background(rng):
    big = scenery(rng, (WINDOW[0] * 2, WINDOW[1] * 2))
    picture = big.resize(WINDOW, Image.Resampling.LANCZOS)
    darken_edges(picture, 40, 400, 175)
    hairline(picture, 432, GOLD, 70)
    return dither(picture)


def install_background(rng):
    big = scenery(rng, (WINDOW[0] * 2, WINDOW[1] * 2))
    picture = big.resize(WINDOW, Image.Resampling.LANCZOS).filter(ImageFilter.GaussianBlur(5))
    shade = Image.new("RGBA", WINDOW, (4, 5, 8, 95))
    picture.alpha_composite(shade)
    darken_edges(picture, 40, 430, 170)
    return dither(picture)


def dialog_background():
    width, height = WINDOW
    picture = vertical_gradient(WINDOW, [(0, (27, 28, 33)), (0.5, (17, 18, 22)), (1, (10, 10, 13))])
    glow(picture, (491, 240), (330, 230), (120, 88, 40), 80)
    glow(picture, (491, 240), (150, 120), GOLD, 40)
    # A title strip and a floor for the buttons.
    picture.alpha_composite(vertical_gradient((width, 96), [(0, (0, 0, 0, 90)), (1, (0, 0, 0, 0))]), (0, 0))
    hairline(picture, 88, GOLD, 90)
    picture.alpha_composite(vertical_gradient((width, 110), [(0, (0, 0, 0, 0)), (1, (0, 0, 0, 120))]), (0, height - 110))
    hairline(picture, height - 106, (255, 255, 255), 24)
    # A fine frame, slightly lighter at the top.
    frame = Image.new("RGBA", WINDOW, (0, 0, 0, 0))
    draw = ImageDraw.Draw(frame)
    draw.rectangle((0, 0, width - 1, height - 1), outline=(92, 78, 52, 255))
    draw.rectangle((1, 1, width - 2, height - 2), outline=(0, 0, 0, 160))
    picture.alpha_composite(frame)
    # A faint lozenge pattern gives the surface some texture.
    texture = Image.new("RGBA", WINDOW, (0, 0, 0, 0))
    draw = ImageDraw.Draw(texture)
    for x in range(-height, width, 28):
        draw.line((x, 0, x + height, height), fill=(255, 255, 255, 5))
        draw.line((x + height, 0, x, height), fill=(255, 255, 255, 5))
    picture.alpha_composite(texture)
    return dither(picture)


# --- emblems -------------------------------------------------------------------

def hexagon(cx, cy, r, rotation=math.pi / 6):
    return [(cx + r * math.cos(rotation + k * math.pi / 3), cy + r * math.sin(rotation + k * math.pi / 3)) for k in range(6)]


def kestrix_emblem(size):
    """The product's mark: a K cut into a faceted gold hexagon. `size` is square."""
    s = size
    picture = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    cx = cy = s / 2
    outer = hexagon(cx, cy, s * 0.47)
    body = Image.new("L", (s, s), 0)
    ImageDraw.Draw(body).polygon(outer, fill=255)
    picture.alpha_composite(gradient_fill(body, (250, 226, 160), (150, 96, 34)))
    inner = hexagon(cx, cy, s * 0.40)
    face = Image.new("L", (s, s), 0)
    ImageDraw.Draw(face).polygon(inner, fill=255)
    picture.alpha_composite(gradient_fill(face, (34, 30, 28), (12, 11, 12)))
    # Facets: the upper left of the face catches a little light.
    facet = Image.new("L", (s, s), 0)
    ImageDraw.Draw(facet).polygon([inner[3], inner[4], inner[5], (cx, cy)], fill=38)
    light = Image.new("RGBA", (s, s), rgba(GOLD_LIGHT))
    light.putalpha(facet)
    picture.alpha_composite(light)
    # The K: a stem and two blades meeting at a point right of the stem.
    k = Image.new("L", (s, s), 0)
    draw = ImageDraw.Draw(k)
    u = s / 100
    draw.polygon([(cx - 17 * u, cy - 24 * u), (cx - 7 * u, cy - 24 * u), (cx - 7 * u, cy + 24 * u), (cx - 17 * u, cy + 24 * u)], fill=255)
    draw.polygon([(cx - 4 * u, cy + 1 * u), (cx + 10 * u, cy - 24 * u), (cx + 22 * u, cy - 24 * u), (cx + 6 * u, cy + 3 * u)], fill=255)
    draw.polygon([(cx - 1 * u, cy + 2 * u), (cx + 9 * u, cy - 2 * u), (cx + 22 * u, cy + 24 * u), (cx + 10 * u, cy + 24 * u)], fill=255)
    picture.alpha_composite(gradient_fill(k, (255, 241, 196), (206, 150, 62)))
    return picture


def with_glow(picture, radius, color, alpha):
    halo = Image.new("RGBA", picture.size, rgba(color))
    halo.putalpha(picture.getchannel("A").filter(ImageFilter.GaussianBlur(radius)).point(lambda v: v * alpha // 255))
    halo.alpha_composite(picture)
    return halo


def product_logo():
    width, height = 190 * SCALE, 165 * SCALE
    picture = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    emblem = kestrix_emblem(112 * SCALE)
    picture.alpha_composite(emblem, ((width - emblem.width) // 2, 4 * SCALE))
    draw = ImageDraw.Draw(picture)
    face = font(LATIN_BOLD, 27 * SCALE)
    spacing = 5 * SCALE
    text_width = spaced_width(draw, "KESTRIX", face, spacing)
    words = Image.new("L", (width, height), 0)
    spaced_text(ImageDraw.Draw(words), ((width - text_width) / 2, 121 * SCALE), "KESTRIX", face, 255, spacing)
    picture.alpha_composite(gradient_fill(words, (255, 246, 214), (214, 168, 88)))
    return with_glow(picture, 7 * SCALE, (255, 190, 90), 110)


def platform_logo():
    """The Lumlum Platform mark: a planet with two orbits in a ring, above its name."""
    width, height = 116 * SCALE, 122 * SCALE
    picture = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    s = 86 * SCALE
    mark = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    c = s / 2
    disc = Image.new("L", (s, s), 0)
    ImageDraw.Draw(disc).ellipse((2, 2, s - 3, s - 3), fill=255)
    mark.alpha_composite(gradient_fill(disc, (42, 58, 78), (14, 20, 30)))
    ring = Image.new("L", (s, s), 0)
    ImageDraw.Draw(ring).ellipse((2, 2, s - 3, s - 3), outline=255, width=3 * SCALE)
    mark.alpha_composite(gradient_fill(ring, (190, 226, 240), (90, 140, 170)))
    # A bright planet with two crossing orbits.
    orbits = Image.new("L", (s * 2, s * 2), 0)
    draw = ImageDraw.Draw(orbits)
    for tilt in (-28, 28):
        ring = Image.new("L", (s * 2, s * 2), 0)
        ImageDraw.Draw(ring).ellipse((s * 0.36, s * 0.78, s * 1.64, s * 1.22), outline=255, width=3 * SCALE)
        orbits = ImageChops.lighter(orbits, ring.rotate(tilt, resample=Image.Resampling.BICUBIC))
    orbits = orbits.resize((s, s), Image.Resampling.LANCZOS)
    mark.alpha_composite(gradient_fill(orbits, (214, 240, 250), (110, 178, 210)))
    planet = Image.new("L", (s, s), 0)
    ImageDraw.Draw(planet).ellipse((c - s * 0.15, c - s * 0.15, c + s * 0.15, c + s * 0.15), fill=255)
    mark.alpha_composite(gradient_fill(planet, (255, 255, 255), (140, 200, 228)))
    picture.alpha_composite(mark, ((width - s) // 2, 2 * SCALE))
    face = font(LATIN_BOLD, 14 * SCALE)
    words = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(words)
    spacing = 3 * SCALE
    spaced_text(draw, ((width - spaced_width(draw, "LUMLUM", face, spacing)) / 2, 96 * SCALE), "LUMLUM", face, 255, spacing)
    picture.alpha_composite(gradient_fill(words, (232, 246, 252), (140, 190, 214)))
    return with_glow(picture, 6 * SCALE, (110, 190, 230), 90)


def finish_picture():
    width, height = 144 * SCALE, 119 * SCALE
    picture = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    d = 78 * SCALE
    x0, y0 = (width - d) // 2, 2 * SCALE
    ring = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(ring)
    draw.ellipse((x0, y0, x0 + d, y0 + d), fill=255)
    picture.alpha_composite(gradient_fill(ring, (250, 226, 160), (160, 106, 40)))
    inner = Image.new("L", (width, height), 0)
    inset = 5 * SCALE
    ImageDraw.Draw(inner).ellipse((x0 + inset, y0 + inset, x0 + d - inset, y0 + d - inset), fill=255)
    picture.alpha_composite(gradient_fill(inner, (36, 32, 28), (14, 13, 13)))
    tick = Image.new("L", (width, height), 0)
    cx, cy, u = x0 + d / 2, y0 + d / 2, d / 100
    ImageDraw.Draw(tick).line([(cx - 22 * u, cy + 1 * u), (cx - 6 * u, cy + 17 * u), (cx + 24 * u, cy - 15 * u)],
                              fill=255, width=round(9 * u), joint="curve")
    picture.alpha_composite(gradient_fill(tick, (255, 243, 200), (214, 160, 70)))
    words = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(words)
    face = font(CJK, 19 * SCALE)
    spacing = 4 * SCALE
    spaced_text(draw, ((width - spaced_width(draw, "安装完成", face, spacing)) / 2, 88 * SCALE), "安装完成", face, 255, spacing)
    picture.alpha_composite(gradient_fill(words, (246, 238, 210), (214, 190, 140)))
    return with_glow(picture, 8 * SCALE, (255, 190, 90), 100)


def dialog_picture():
    """A gold hexagon with an exclamation mark; its lower part stays clear for the dialog text."""
    size = 172 * SCALE
    picture = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    s = 118 * SCALE
    mark = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    c = s / 2
    outer = Image.new("L", (s, s), 0)
    ImageDraw.Draw(outer).polygon(hexagon(c, c, s * 0.47), fill=255)
    mark.alpha_composite(gradient_fill(outer, (250, 226, 160), (150, 96, 34)))
    inner = Image.new("L", (s, s), 0)
    ImageDraw.Draw(inner).polygon(hexagon(c, c, s * 0.40), fill=255)
    mark.alpha_composite(gradient_fill(inner, (36, 32, 28), (12, 11, 12)))
    sign = Image.new("L", (s, s), 0)
    draw = ImageDraw.Draw(sign)
    u = s / 100
    draw.rounded_rectangle((c - 5 * u, c - 26 * u, c + 5 * u, c + 8 * u), radius=4 * u, fill=255)
    draw.ellipse((c - 6 * u, c + 14 * u, c + 6 * u, c + 26 * u), fill=255)
    mark.alpha_composite(gradient_fill(sign, (255, 243, 200), (214, 160, 70)))
    picture.alpha_composite(mark, ((size - s) // 2, 14 * SCALE))
    return with_glow(picture, 10 * SCALE, (255, 180, 80), 120)


def connect_picture():
    """Two arrows chasing round a circle."""
    size = 32 * SCALE
    picture = Image.new("L", (size, size), 0)
    draw = ImageDraw.Draw(picture)
    m = 5 * SCALE
    w = 3 * SCALE
    draw.arc((m, m, size - m, size - m), 200, 330, fill=255, width=w)
    draw.arc((m, m, size - m, size - m), 20, 150, fill=255, width=w)
    c, r = size / 2, size / 2 - m - w / 2
    for end in (330, 150):
        a = math.radians(end)
        x, y = c + r * math.cos(a), c + r * math.sin(a)
        t = a + math.pi / 2
        h = 5 * SCALE
        draw.polygon([(x + h * math.cos(t), y + h * math.sin(t)),
                      (x + h * 0.9 * math.cos(t + 2.2), y + h * 0.9 * math.sin(t + 2.2)),
                      (x + h * 0.9 * math.cos(t - 2.2), y + h * 0.9 * math.sin(t - 2.2))], fill=255)
    return gradient_fill(picture, (255, 240, 196), (210, 160, 74))


def progress_light():
    """Laid over the filled part of the progress bar: a gloss on top and light at its leading end."""
    width, height = 887, 8
    picture = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    picture.alpha_composite(vertical_gradient((width, height), [(0, (255, 255, 255, 150)), (0.45, (255, 255, 255, 30)),
                                                                (0.55, (120, 80, 20, 0)), (1, (120, 80, 20, 70))]))
    picture.alpha_composite(horizontal_gradient((width, height), [(0, (255, 200, 110, 0)), (0.85, (255, 200, 110, 0)),
                                                                  (1, (255, 255, 240, 200))]))
    return picture


def window_icon():
    emblem = kestrix_emblem(256)
    picture = Image.new("RGBA", (256, 256), (0, 0, 0, 0))
    picture.alpha_composite(emblem)
    return picture


def title_picture():
    width, height = 120 * SCALE, 20 * SCALE
    picture = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    emblem = kestrix_emblem(height).resize((height, height), Image.Resampling.LANCZOS)
    picture.alpha_composite(emblem)
    words = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(words)
    spaced_text(draw, (height + 6 * SCALE, 1 * SCALE), "KESTRIX", font(LATIN_BOLD, 14 * SCALE), 255, 2 * SCALE)
    picture.alpha_composite(gradient_fill(words, (250, 238, 200), (214, 170, 96)))
    return picture


# --- buttons, checkboxes, window buttons ---------------------------------------------

def button_face(size, radius, top, bottom, border, highlight, pressed=False):
    """A bevelled button: gradient body, a lighter top edge and a fine outline."""
    width, height = size
    picture = Image.new("RGBA", size, (0, 0, 0, 0))
    picture.alpha_composite(gradient_fill(rounded_mask(size, radius), top, bottom))
    edge = Image.new("L", size, 0)
    ImageDraw.Draw(edge).rounded_rectangle((0, 0, width - 1, height - 1), radius=radius, outline=255, width=SCALE)
    picture.alpha_composite(gradient_fill(edge, border, mix(rgba(border), (0, 0, 0, 255), 0.45)))
    if highlight and not pressed:
        shine = Image.new("RGBA", size, (0, 0, 0, 0))
        band = vertical_gradient((width, height // 2), [(0, rgba((255, 255, 255), highlight)), (1, (255, 255, 255, 0))])
        shine.alpha_composite(band, (0, 0))
        shine.putalpha(ImageChops.multiply(shine.getchannel("A"), rounded_mask(size, radius, inset=2 * SCALE)))
        picture.alpha_composite(shine)
    if pressed:
        inner = Image.new("L", size, 0)
        ImageDraw.Draw(inner).rounded_rectangle((SCALE, SCALE, width - 1 - SCALE, height - 1 - SCALE),
                                                radius=radius, outline=255, width=3 * SCALE)
        shadow = Image.new("RGBA", size, (0, 0, 0, 255))
        shadow.putalpha(inner.filter(ImageFilter.GaussianBlur(2 * SCALE)).point(lambda v: v * 110 // 255))
        shadow.putalpha(ImageChops.multiply(shadow.getchannel("A"), rounded_mask(size, radius)))
        picture.alpha_composite(shadow)
    return picture


# Each family: display size, corner radius, and per state (top, bottom, border, highlight alpha).
BUTTONS = {
    "large": ((250, 70), 6, {
        "normal": ((247, 212, 138), (205, 146, 58), (255, 232, 170), 90),
        "hover": ((255, 226, 160), (222, 164, 72), (255, 242, 196), 110),
        "pressed": ((196, 140, 56), (226, 178, 96), (170, 120, 50), 40),
        "disable": ((66, 66, 68), (46, 46, 48), (86, 86, 88), 20),
    }),
    "orange": ((112, 40), 4, {
        "normal": ((245, 192, 102), (214, 128, 44), (255, 220, 150), 80),
        "hover": ((255, 208, 124), (230, 144, 56), (255, 232, 176), 100),
        "pressed": ((196, 112, 38), (226, 160, 80), (168, 100, 36), 30),
        "disable": ((62, 60, 58), (44, 43, 42), (80, 78, 74), 16),
    }),
    "grey": ((112, 40), 4, {
        "normal": ((58, 59, 64), (36, 37, 41), (86, 86, 90), 34),
        "hover": ((72, 73, 79), (46, 47, 52), (110, 108, 100), 44),
        "pressed": ((30, 31, 34), (44, 45, 49), (70, 70, 74), 10),
        "disabled": ((38, 38, 40), (30, 30, 32), (52, 52, 54), 8),
    }),
    "blue": ((90, 26), 3, {
        "normal": ((52, 64, 82), (32, 40, 54), (78, 92, 114), 34),
        "hover": ((64, 80, 102), (40, 50, 68), (104, 122, 148), 44),
        "pressed": ((28, 35, 47), (42, 52, 68), (66, 78, 98), 10),
        "disabled": ((38, 40, 44), (30, 31, 34), (52, 54, 58), 8),
    }),
    "finish": ((320, 58), 6, {
        "normal": ((222, 120, 46), (156, 62, 20), (246, 170, 96), 70),
        "hover": ((238, 138, 58), (176, 74, 24), (255, 190, 120), 90),
        "pressed": ((140, 54, 18), (190, 92, 36), (150, 70, 30), 24),
        "disable": ((66, 66, 68), (46, 46, 48), (86, 86, 88), 16),
    }),
}

# File names per family and state (the plain family is the blue button).
BUTTON_FILES = {
    "large": {"normal": "large_normal", "hover": "large_hover", "pressed": "large_pressed", "disable": "large_disable"},
    "orange": {"normal": "orange_normal", "hover": "orange_hover", "pressed": "orange_pressed", "disable": "orange_disable"},
    "grey": {"normal": "grey_normal", "hover": "grey_hover", "pressed": "grey_pressed", "disabled": "grey_disabled"},
    "blue": {"normal": "normal", "hover": "hover", "pressed": "pressed", "disabled": ["disabled", "disable"]},
    "finish": {"normal": "finish_normal", "hover": "finish_hover", "pressed": "finish_pressed", "disable": "finish_disable"},
}


def buttons(out):
    for family, (size, radius, states) in BUTTONS.items():
        for state, (top, bottom, border, highlight) in states.items():
            picture = button_face((size[0] * SCALE, size[1] * SCALE), radius * SCALE, top, bottom, border, highlight,
                                  pressed=state == "pressed")
            names = BUTTON_FILES[family][state]
            for name in names if isinstance(names, list) else [names]:
                save(picture, os.path.join(out, "button", name + ".png"))


CHECKBOX_STATES = {
    # state: (box top, box bottom, border, mark colour or None)
    "uncheck_normal": ((24, 24, 27), (14, 14, 16), (138, 122, 85), None),
    "uncheck_hover": ((34, 33, 32), (20, 20, 21), (222, 186, 112), None),
    "uncheck_down": ((12, 12, 13), (20, 20, 22), (170, 140, 80), None),
    "uncheck_disable": ((30, 30, 32), (26, 26, 28), (70, 70, 72), None),
    "check_normal": ((246, 212, 140), (204, 146, 60), (255, 232, 172), (46, 26, 12)),
    "check_hover": ((255, 226, 162), (222, 164, 74), (255, 244, 204), (46, 26, 12)),
    "check_down": ((190, 136, 54), (220, 170, 90), (170, 124, 52), (40, 22, 10)),
    "check_disable": ((78, 78, 80), (60, 60, 62), (92, 92, 94), (140, 140, 140)),
}


def checkboxes(out):
    size = 20 * SCALE
    for name, (top, bottom, border, mark) in CHECKBOX_STATES.items():
        picture = Image.new("RGBA", (size, size), (0, 0, 0, 0))
        box = (2 * SCALE, 2 * SCALE, size - 1 - 2 * SCALE, size - 1 - 2 * SCALE)
        body = Image.new("L", (size, size), 0)
        ImageDraw.Draw(body).rounded_rectangle(box, radius=3 * SCALE, fill=255)
        picture.alpha_composite(gradient_fill(body, top, bottom))
        ImageDraw.Draw(picture).rounded_rectangle(box, radius=3 * SCALE, outline=rgba(border), width=SCALE)
        if mark:
            u = size / 20
            ImageDraw.Draw(picture).line([(5.5 * u, 10.2 * u), (8.6 * u, 13.3 * u), (14.6 * u, 6.8 * u)],
                                         fill=rgba(mark), width=round(2.2 * u), joint="curve")
        save(picture, os.path.join(out, "checkbox", name + ".png"))


WINDOW_BUTTON_STATES = {
    # state: (glyph colour, background colour or None)
    "normal": ((179, 177, 170, 255), None),
    "hover": ((255, 255, 255, 255), (255, 255, 255, 34)),
    "down": ((220, 218, 210, 255), (0, 0, 0, 90)),
    "disable": ((90, 90, 90, 255), None),
}


def window_buttons(out):
    size = 20 * SCALE
    for kind in ("min", "close"):
        for state, (glyph, back) in WINDOW_BUTTON_STATES.items():
            picture = Image.new("RGBA", (size, size), (0, 0, 0, 0))
            draw = ImageDraw.Draw(picture)
            if back:
                if kind == "close" and state == "hover":
                    back = (200, 64, 46, 255)
                elif kind == "close" and state == "down":
                    back = (150, 44, 32, 255)
                draw.rounded_rectangle((0, 0, size - 1, size - 1), radius=3 * SCALE, fill=back)
            w = round(1.6 * SCALE)
            if kind == "min":
                draw.line((5.5 * SCALE, 10 * SCALE, 14.5 * SCALE, 10 * SCALE), fill=glyph, width=w)
            else:
                draw.line((6 * SCALE, 6 * SCALE, 14 * SCALE, 14 * SCALE), fill=glyph, width=w)
                draw.line((14 * SCALE, 6 * SCALE, 6 * SCALE, 14 * SCALE), fill=glyph, width=w)
            save(picture, os.path.join(out, kind, state + ".png"))


# --- everything ---------------------------------------------------------------------

def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "ui", "pages", "image")
    save(main_background(random.Random(1303)), os.path.join(out, "picture_bg.png"))
    save(install_background(random.Random(1303)), os.path.join(out, "picture_bg_ins.png"))
    save(dialog_background(), os.path.join(out, "picture_bg_dialog.png"))
    save(product_logo(), os.path.join(out, "icon_logo.png"))
    save(platform_logo(), os.path.join(out, "icon_logo_zz.png"))
    save(kestrix_emblem(48 * SCALE), os.path.join(out, "icon_logo_small.png"))
    save(title_picture(), os.path.join(out, "icon_title.png"))
    save(finish_picture(), os.path.join(out, "icon_install_ok.png"))
    save(dialog_picture(), os.path.join(out, "install_exit.png"))
    save(connect_picture(), os.path.join(out, "connect.png"))
    save(progress_light(), os.path.join(out, "progress_bar_light.png"))
    window_icon().save(os.path.join(out, "icon.ico"), sizes=[(16, 16), (24, 24), (32, 32), (48, 48), (64, 64), (256, 256)])
    buttons(out)
    checkboxes(out)
    window_buttons(out)


if __name__ == "__main__":
    main()
