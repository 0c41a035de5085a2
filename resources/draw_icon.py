#!/usr/bin/env python3
"""Draw the Kestrevel application icon and write resources/kestrevel.ico.

The picture is a dark rounded key-cap seen from slightly above, with the
legend "F8" in pixel letters on its top face. From 32x32 up, a round green
badge with a white power symbol overlaps the key's lower right corner; at
16x16, where that symbol would not be legible, a small green "boot"
indicator bar sits under the legend instead.

Every image is drawn from the same vector description, supersampled, and
reduced to the target size: by averaging for the 8-bit and 32-bit images
(anti-aliased edges, real alpha in the 32-bit one), by majority vote over
palette colours for the 16-colour ones (clean edges, no stray in-between
colours). The key-cap legend sits on whole pixels at every size, so it stays
crisp after reduction.

The .ico holds five images, in this order:
    16x16 4-bit, 32x32 4-bit, 48x48 4-bit  (standard 16-colour palette)
    16x16 8-bit                            (256-entry palette)
    16x16 32-bit                           (BGRA with alpha)
The palette images are transparent through their AND mask.

Standard library only. Usage:
    python3 resources/draw_icon.py [--output FILE] [--preview FILE.png]
"""

import argparse
import math
import os
import struct
import sys
import zlib

# --------------------------------------------------------------------------
# Picture description, in a 16x16 design grid (one unit is one pixel at 16x16)
# --------------------------------------------------------------------------

GRID = 16.0

# Key-cap body (the sides of the key) and its top face.
BODY = (0.3, 0.3, 15.7, 15.7, 3.0)          # x0, y0, x1, y1, corner radius
FACE = (2.0, 1.5, 14.0, 12.0, 2.0)
BODY_TOP, BODY_BOTTOM = (0x36, 0x3E, 0x4B), (0x14, 0x18, 0x1F)
EDGE = (0x0B, 0x0D, 0x11)                    # thin outline around the body
EDGE_WIDTH = 0.55
FACE_TOP, FACE_BOTTOM = (0x5E, 0x6B, 0x82), (0x3C, 0x45, 0x57)
FACE_SHINE = (0x7D, 0x8A, 0xA1)              # light rim along the top edge

LEGEND_COLOUR = (0xF5, 0xF7, 0xFA)
BOOT_GREEN = (0x3C, 0xDC, 0x5A)

# Pixel letters of the legend, one string per row ('#' = lit cell).
GLYPHS = {
    "F": ["###",
          "#..",
          "##.",
          "#..",
          "#.."],
    "8": [".##.",
          "#..#",
          ".##.",
          "#..#",
          ".##."],
}
LEGEND = "F8"
LEGEND_TOP = 3          # grid row of the first legend row
LEGEND_GAP = 1          # empty cells between letters

# Power badge (sizes of 32 pixels and up), in grid units.
BADGE_CENTRE = (12.1, 12.1)
BADGE_RADIUS = 3.6
BADGE_EDGE = 0.55
BADGE_TOP, BADGE_BOTTOM = (0x30, 0xB0, 0x48), (0x1A, 0x90, 0x34)
POWER_COLOUR = (0xFF, 0xFF, 0xFF)
POWER_RADIUS = 1.55     # centre line of the ring
POWER_STROKE = 0.6
POWER_GAP_DEG = 40.0    # half-opening of the ring at the top
# Indicator bar used instead at 16x16: grid cells [x0, x1) x [y0, y1).
BOOT_BAR = (6, 9, 10, 10)

SUPERSAMPLE = 8         # samples per pixel along each axis


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    return tuple(lerp(p, q, t) for p, q in zip(c0, c1))


def in_round_rect(x, y, rect):
    x0, y0, x1, y1, r = rect
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def shrink(rect, d):
    x0, y0, x1, y1, r = rect
    return (x0 + d, y0 + d, x1 - d, y1 - d, max(r - d, 0.0))


def legend_cells():
    """Set of (column, row) grid cells lit by the legend, centred on the face."""
    widths = [len(GLYPHS[ch][0]) for ch in LEGEND]
    total = sum(widths) + LEGEND_GAP * (len(LEGEND) - 1)
    face_centre = (FACE[0] + FACE[2]) / 2.0
    left = int(round(face_centre - total / 2.0))
    cells = set()
    for ch, w in zip(LEGEND, widths):
        for row, line in enumerate(GLYPHS[ch]):
            for col, mark in enumerate(line):
                if mark == "#":
                    cells.add((left + col, LEGEND_TOP + row))
        left += w + LEGEND_GAP
    return cells


LEGEND_CELLS = legend_cells()


def in_power_symbol(x, y):
    cx, cy = BADGE_CENTRE
    dx, dy = x - cx, y - cy
    half = POWER_STROKE / 2.0
    # Vertical stroke through the opening, with rounded ends.
    top, bottom = cy - POWER_RADIUS - 0.35, cy - 0.15
    ny = min(max(y, top), bottom)
    if dx * dx + (y - ny) ** 2 <= half * half:
        return True
    # Ring, open at the top.
    dist = math.hypot(dx, dy)
    if abs(dist - POWER_RADIUS) > half:
        return False
    angle = math.degrees(math.atan2(dx, -dy))   # 0 = straight up
    if abs(angle) >= POWER_GAP_DEG:
        return True
    # Rounded caps at both ends of the ring.
    for sign in (-1.0, 1.0):
        a = math.radians(sign * POWER_GAP_DEG)
        ex, ey = cx + POWER_RADIUS * math.sin(a), cy - POWER_RADIUS * math.cos(a)
        if (x - ex) ** 2 + (y - ey) ** 2 <= half * half:
            return True
    return False


def sample(x, y, size):
    """Colour (r, g, b) of the key-cap at design-grid point (x, y), or None
    outside it. Images smaller than 32 pixels get the indicator bar."""
    if not in_round_rect(x, y, BODY):
        return None
    t = (y - BODY[1]) / (BODY[3] - BODY[1])
    colour = mix(BODY_TOP, BODY_BOTTOM, t)
    if not in_round_rect(x, y, shrink(BODY, EDGE_WIDTH)):
        colour = EDGE
    if in_round_rect(x, y, FACE):
        t = (y - FACE[1]) / (FACE[3] - FACE[1])
        colour = mix(FACE_TOP, FACE_BOTTOM, t)
        # Light rim: inside the face but outside the face moved down a little.
        rim = (FACE[0], FACE[1] + 0.5, FACE[2], FACE[3], FACE[4])
        if not in_round_rect(x, y, rim) and y < FACE[1] + FACE[4]:
            colour = FACE_SHINE
    cell = (int(math.floor(x)), int(math.floor(y)))
    if cell in LEGEND_CELLS:
        colour = LEGEND_COLOUR
    if size < 32:
        bx0, by0, bx1, by1 = BOOT_BAR
        if bx0 <= x < bx1 and by0 <= y < by1:
            colour = BOOT_GREEN
    return colour


def sample_badge(x, y):
    """Colour of the power badge at (x, y), or None outside it."""
    cx, cy = BADGE_CENTRE
    dist = math.hypot(x - cx, y - cy)
    if dist > BADGE_RADIUS:
        return None
    if dist > BADGE_RADIUS - BADGE_EDGE:
        return EDGE
    if in_power_symbol(x, y):
        return POWER_COLOUR
    t = (y - (cy - BADGE_RADIUS)) / (2 * BADGE_RADIUS)
    return mix(BADGE_TOP, BADGE_BOTTOM, t)


def render(size):
    """Supersample the picture at size x size pixels: rows of pixels, each
    pixel being the list of its SUPERSAMPLE**2 sample colours (None where a
    sample falls outside the picture)."""
    scale = GRID / size
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            samples = []
            for sy in range(n):
                y = (py + (sy + 0.5) / n) * scale
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) * scale
                    c = sample_badge(x, y) if size >= 32 else None
                    if c is None:
                        c = sample(x, y, size)
                    samples.append(c)
            row.append(samples)
        rows.append(row)
    return rows


def average(samples):
    """Reduce supersampled rows to (r, g, b, a) pixels by averaging, with
    8-bit straight (non-premultiplied) alpha: smooth, anti-aliased edges."""
    rows = []
    for sample_row in samples:
        row = []
        for pixel in sample_row:
            inside = [c for c in pixel if c is not None]
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            row.append(tuple(int(round(sum(c[ch] for c in inside) / len(inside)))
                             for ch in range(3)) +
                       (int(round(255.0 * len(inside) / len(pixel))),))
        rows.append(row)
    return rows


# --------------------------------------------------------------------------
# Colour reduction
# --------------------------------------------------------------------------

# The standard Windows 16-colour palette, in its usual index order.
WINDOWS_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# The 4-bit images keep the standard palette but only draw with its neutral
# greys and greens: the dark blue-grey key would otherwise pick up navy and
# teal fringes, which the 16-colour palette has no business adding here.
WINDOWS_16_USED = [0, 2, 7, 8, 10, 15]   # black, green, silver, grey, lime, white

OPAQUE_THRESHOLD = 128   # alpha at or above this is drawn in palette images


def colour_distance(a, b):
    # Weighted RGB distance; green matters most to the eye, blue least.
    dr, dg, db = a[0] - b[0], a[1] - b[1], a[2] - b[2]
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db


def nearest(colour, palette):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = colour_distance(colour, p)
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def median_cut(colours, count):
    """Reduce a list of (r, g, b) to at most `count` representative colours."""
    boxes = [sorted(set(colours))]
    weights = {}
    for c in colours:
        weights[c] = weights.get(c, 0) + 1
    while len(boxes) < count:
        # Split the box with the widest channel range (ties: first box).
        best, best_span, best_ch = None, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                span = max(c[ch] for c in box) - min(c[ch] for c in box)
                if span > best_span:
                    best, best_span, best_ch = i, span, ch
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: (c[best_ch], c))
        half = len(box) // 2
        boxes.extend([box[:half], box[half:]])
    result = []
    for box in boxes:
        total = sum(weights[c] for c in box)
        result.append(tuple(int(round(sum(c[ch] * weights[c] for c in box) / total))
                            for ch in range(3)))
    return result


def palette_256(pixels):
    """256-entry palette for an image: the 16 standard colours first, then
    the image's own colours (reduced by median cut if there are too many),
    padded with black."""
    opaque = [p[:3] for row in pixels for p in row if p[3] >= OPAQUE_THRESHOLD]
    own = sorted(set(opaque))
    room = 256 - len(WINDOWS_16)
    if len(own) > room:
        own = sorted(set(median_cut(opaque, room)))
    palette = list(WINDOWS_16) + [c for c in own if c not in WINDOWS_16]
    palette += [(0, 0, 0)] * (256 - len(palette))
    return palette


def indexed(pixels, palette):
    """Palette indices and AND-mask bits (1 = transparent) for (r, g, b, a)
    pixels: alpha below OPAQUE_THRESHOLD becomes transparent."""
    index_rows, mask_rows = [], []
    for row in pixels:
        idx, mask = [], []
        for r, g, b, a in row:
            if a >= OPAQUE_THRESHOLD:
                idx.append(nearest((r, g, b), palette))
                mask.append(0)
            else:
                idx.append(0)
                mask.append(1)
        index_rows.append(idx)
        mask_rows.append(mask)
    return index_rows, mask_rows


def majority(samples, palette, allowed):
    """Reduce supersampled rows to palette indices by majority vote: every
    sample is matched to its nearest allowed palette colour (or counts as
    transparent), and each pixel takes the most frequent outcome. Unlike
    averaging first, this never invents in-between colours along edges, so
    shapes stay clean in a small palette. Returns (index rows, mask rows)."""
    choices = [palette[i] for i in allowed]
    cache = {}
    index_rows, mask_rows = [], []
    for sample_row in samples:
        idx, mask = [], []
        for pixel in sample_row:
            votes = {}
            for c in pixel:
                if c is None:
                    key = -1
                else:
                    c = tuple(int(round(v)) for v in c)
                    if c not in cache:
                        cache[c] = allowed[nearest(c, choices)]
                    key = cache[c]
                votes[key] = votes.get(key, 0) + 1
            # Most votes wins; ties go to the lower key, transparent first.
            winner = min(votes, key=lambda k: (-votes[k], k))
            idx.append(max(winner, 0))
            mask.append(1 if winner < 0 else 0)
        index_rows.append(idx)
        mask_rows.append(mask)
    return index_rows, mask_rows


# --------------------------------------------------------------------------
# ICO writing (BMP DIBs: BITMAPINFOHEADER, palette, XOR bitmap, AND mask)
# --------------------------------------------------------------------------

def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def pack_bits(values, bits):
    """Pack one row of small integers MSB-first, padded to 32 bits."""
    out = bytearray()
    acc, filled = 0, 0
    for v in values:
        acc = (acc << bits) | v
        filled += bits
        if filled == 8:
            out.append(acc)
            acc, filled = 0, 0
    if filled:
        out.append(acc << (8 - filled))
    return pad4(bytes(out))


def dib(size, bit_count, xor_rows, mask_rows, palette=None):
    """One icon image: header, palette, bottom-up XOR rows, bottom-up mask."""
    xor = b"".join(xor_rows[::-1])
    mask = b"".join(pack_bits(m, 1) for m in mask_rows[::-1])
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bit_count, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b""
    if palette is not None:
        colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + colours + xor + mask


def image_4bit(samples):
    idx, mask = majority(samples, WINDOWS_16, WINDOWS_16_USED)
    return dib(len(idx), 4, [pack_bits(r, 4) for r in idx], mask, WINDOWS_16)


def image_8bit(samples):
    pixels = average(samples)
    palette = palette_256(pixels)
    idx, mask = indexed(pixels, palette)
    return dib(len(pixels), 8, [pad4(bytes(r)) for r in idx], mask, palette)


def image_32bit(samples):
    pixels = average(samples)
    xor_rows = [b"".join(struct.pack("<BBBB", b, g, r, a) for r, g, b, a in row)
                for row in pixels]
    mask = [[1 if p[3] == 0 else 0 for p in row] for row in pixels]
    return dib(len(pixels), 32, xor_rows, mask)


# (size, bits per pixel) of the five images, in file order.
IMAGES = [(16, 4), (32, 4), (48, 4), (16, 8), (16, 32)]


def build_ico():
    renders = {}
    blobs = []
    for size, bits in IMAGES:
        if size not in renders:
            renders[size] = render(size)
        encoder = {4: image_4bit, 8: image_8bit, 32: image_32bit}[bits]
        blobs.append((size, bits, encoder(renders[size])))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for size, bits, data in blobs:
        colour_count = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0,
                           1, bits, len(data), offset)
        offset += len(data)
    for _, _, data in blobs:
        out += data
    return bytes(out)


# --------------------------------------------------------------------------
# Preview: decode the .ico just written and show its images side by side
# --------------------------------------------------------------------------

def read_ico(data):
    """Decode the images of an .ico written by build_ico into RGBA rows."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    images = []
    for i in range(count):
        _, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        (hsize, width, height2, _, bits, compression, _, _, _, used, _) = \
            struct.unpack_from("<IiiHHIIiiII", data, offset)
        if hsize != 40 or compression != 0:
            raise ValueError("unsupported image %d" % i)
        height = height2 // 2
        pos = offset + hsize
        palette = []
        if bits <= 8:
            for k in range(used or (1 << bits)):
                b, g, r, _ = struct.unpack_from("<BBBB", data, pos + 4 * k)
                palette.append((r, g, b))
            pos += 4 * len(palette)
        stride = ((width * bits + 31) // 32) * 4
        mask_stride = ((width + 31) // 32) * 4
        mask_pos = pos + stride * height
        rows = []
        for y in range(height):
            src = height - 1 - y
            line = data[pos + src * stride: pos + (src + 1) * stride]
            mline = data[mask_pos + src * mask_stride: mask_pos + (src + 1) * mask_stride]
            row = []
            for x in range(width):
                transparent = (mline[x // 8] >> (7 - x % 8)) & 1
                if bits == 32:
                    b, g, r, a = line[4 * x: 4 * x + 4]
                    row.append((r, g, b, a))
                    continue
                if bits == 8:
                    index = line[x]
                else:
                    index = (line[x // 2] >> (4 if x % 2 == 0 else 0)) & 0xF
                r, g, b = palette[index]
                row.append((r, g, b, 0 if transparent else 255))
            rows.append(row)
        if len(rows) * stride + height * mask_stride + hsize + 4 * len(palette) != length:
            raise ValueError("image %d has an unexpected length" % i)
        images.append((bits, rows))
    return images


def png_bytes(width, height, rgb_rows):
    def chunk(tag, body):
        return (struct.pack(">I", len(body)) + tag + body +
                struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + bytes(v for px in row for v in px) for row in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


def preview(ico_data, zoom=4, margin=8):
    """PNG of all images of the icon, scaled up, over a checkerboard."""
    images = read_ico(ico_data)
    height = max(len(rows) for _, rows in images) * zoom + 2 * margin
    width = sum(len(rows[0]) * zoom for _, rows in images) + margin * (len(images) + 1)
    canvas = [[(0xFF, 0xFF, 0xFF)] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            light = ((x // 8) + (y // 8)) % 2 == 0
            canvas[y][x] = (0xF0, 0xF0, 0xF0) if light else (0xCC, 0xCC, 0xCC)
    left = margin
    for _, rows in images:
        for y, row in enumerate(rows):
            for x, (r, g, b, a) in enumerate(row):
                for dy in range(zoom):
                    line = canvas[margin + y * zoom + dy]
                    for dx in range(zoom):
                        bg = line[left + x * zoom + dx]
                        line[left + x * zoom + dx] = tuple(
                            int(round(c * a / 255.0 + k * (255 - a) / 255.0))
                            for c, k in zip((r, g, b), bg))
        left += len(rows[0]) * zoom + margin
    return png_bytes(width, height, canvas)


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Draw the Kestrevel icon.")
    parser.add_argument("--output", default=os.path.join(here, "kestrevel.ico"),
                        help="icon file to write (default: next to this script)")
    parser.add_argument("--preview", metavar="PNG",
                        help="also write a PNG of the five images, scaled x4")
    args = parser.parse_args(argv)

    ico = build_ico()
    with open(args.output, "wb") as f:
        f.write(ico)
    print("wrote %s (%d bytes)" % (args.output, len(ico)))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(preview(ico))
        print("wrote %s" % args.preview)
    return 0


if __name__ == "__main__":
    sys.exit(main())
