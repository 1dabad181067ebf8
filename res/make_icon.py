#!/usr/bin/env python3
"""Draws Ventora's fan icon and writes it as the icon group file res/ventora.ico.

Usage: python3 res/make_icon.py [output.ico]   (default: ventora.ico beside this script)

Only the standard library is used, so anyone can regenerate the icon; the .ico is kept
in the tree so that building ventora.exe needs no Python. The output is deterministic:
the same script writes the same bytes (given the same zlib, which packs the PNG image).
"""

import math
import struct
import sys
import zlib
from pathlib import Path

# Largest first. The 256 image is stored as PNG because a 256x256 DIB would cost 256 KiB;
# the smaller ones are classic DIBs, which every icon loader understands.
iconSizes = (256, 128, 96, 72, 64, 48, 32, 24, 16)

# A saturated blue disc with white blades stays legible at 16 px on both light and dark
# taskbars, where coloured blades on a transparent ground would vanish on one of them.
discColour = (0x15, 0x65, 0xC0)
bladeColour = (0xFF, 0xFF, 0xFF)
hubColour = discColour

# Geometry in units of the icon's half-width, centre at the origin, y pointing up.
discRadius = 0.96          # a little short of the edge so the rim's anti-aliasing is not clipped
bladeCount = 3             # three blades leave gaps wide enough to survive at 16 px
bladeTipRadius = 0.80
bladeCurl = 1.05           # radians the blade's centre line turns between hub and tip
bladeRootHalfWidth = 0.16  # radians, at the centre
bladeTipHalfWidth = 0.62   # radians, at the tip: broad paddles read as a fan, thin ones as a star
hubRadius = 0.24           # white collar joining the blade roots
hubDotRadius = 0.10        # the axle, in the disc colour
smallIconSize = 24         # at this size and below the axle would be a smear of half a pixel


def wrapAngle(angle):
    """Maps an angle to (-pi, pi]."""
    angle = math.fmod(angle, 2.0 * math.pi)
    if angle <= -math.pi:
        angle += 2.0 * math.pi
    elif angle > math.pi:
        angle -= 2.0 * math.pi
    return angle


def insideBlade(radius, angle):
    if radius > bladeTipRadius:
        return False
    along = radius / bladeTipRadius
    halfWidth = bladeRootHalfWidth + (bladeTipHalfWidth - bladeRootHalfWidth) * along
    for blade in range(bladeCount):
        centreLine = math.pi / 2 + blade * 2.0 * math.pi / bladeCount + bladeCurl * along
        offset = abs(wrapAngle(angle - centreLine)) / halfWidth
        # The tip is pulled in towards the edges of the blade so its corners are round.
        if offset <= 1.0 and radius <= bladeTipRadius * (1.0 - 0.22 * offset * offset):
            return True
    return False


def colourAt(x, y, withAxle):
    """The colour of the point (x, y), or None where the icon is transparent."""
    radius = math.hypot(x, y)
    if radius > discRadius:
        return None
    if withAxle and radius <= hubDotRadius:
        return hubColour
    if radius <= hubRadius or insideBlade(radius, math.atan2(y, x)):
        return bladeColour
    return discColour


def supersamplingFor(size):
    # Small images get more samples per pixel: each of their pixels carries more of the edge.
    if size <= 32:
        return 16
    if size <= 64:
        return 8
    return 4


def renderRgba(size):
    """Returns rows top to bottom of (r, g, b, a) tuples with straight (not premultiplied) alpha."""
    samples = supersamplingFor(size)
    sampleCount = samples * samples
    offsets = [(index + 0.5) / samples for index in range(samples)]
    withAxle = size > smallIconSize
    rows = []
    for row in range(size):
        pixels = []
        for column in range(size):
            covered = 0
            sums = [0, 0, 0]
            for dy in offsets:
                y = 1.0 - 2.0 * (row + dy) / size
                for dx in offsets:
                    x = 2.0 * (column + dx) / size - 1.0
                    colour = colourAt(x, y, withAxle)
                    if colour is not None:
                        covered += 1
                        sums[0] += colour[0]
                        sums[1] += colour[1]
                        sums[2] += colour[2]
            if covered == 0:
                pixels.append((0, 0, 0, 0))
                continue
            # Integer rounding only, so the bytes do not depend on float formatting.
            half = covered // 2
            pixels.append((
                (sums[0] + half) // covered,
                (sums[1] + half) // covered,
                (sums[2] + half) // covered,
                (covered * 255 + sampleCount // 2) // sampleCount,
            ))
        rows.append(pixels)
    return rows


def pngChunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def encodePng(rows):
    size = len(rows)
    raw = bytearray()
    for pixels in rows:
        raw.append(0)  # filter type None: the flat colours compress well without prediction
        for pixel in pixels:
            raw.extend(pixel)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    return (b"\x89PNG\r\n\x1a\n" + pngChunk(b"IHDR", header)
            + pngChunk(b"IDAT", zlib.compress(bytes(raw), 9)) + pngChunk(b"IEND", b""))


def encodeDib(rows):
    size = len(rows)
    maskStride = (size + 31) // 32 * 4  # AND mask rows are padded to 32 bits
    colour = bytearray()
    mask = bytearray()
    for pixels in reversed(rows):  # DIB rows run bottom to top
        for red, green, blue, alpha in pixels:
            colour.extend((blue, green, red, alpha))
        maskRow = bytearray(maskStride)
        for column, pixel in enumerate(pixels):
            # Loaders that ignore alpha fall back to the mask (set bits are transparent);
            # cutting at half coverage gives them the silhouette closest to the smooth one.
            if pixel[3] < 128:
                maskRow[column // 8] |= 0x80 >> (column % 8)
        mask.extend(maskRow)
    # The height counts the colour image and the mask together, hence twice the size.
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def encodeIcon(images):
    """images: (size, encoded image) pairs, in directory order."""
    directorySize = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))  # reserved, type 1 = icon, count
    offset = directorySize
    for size, data in images:
        dimension = 0 if size >= 256 else size  # a byte field: 0 stands for 256
        directory += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + b"".join(data for _, data in images)


def main():
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent / "ventora.ico"
    images = []
    for size in iconSizes:
        rows = renderRgba(size)
        images.append((size, encodePng(rows) if size >= 256 else encodeDib(rows)))
    output.write_bytes(encodeIcon(images))


if __name__ == "__main__":
    main()
