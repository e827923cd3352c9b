#!/usr/bin/env python3
"""Packs PNG renderings into one .ico: 32-bit images, the large ones (256 px
and up) kept as PNG, the others as bottom-up BGRA bitmaps with an AND mask,
which every Windows version reads. Standard library only.

    pack_ico.py out.ico image.png [image.png ...]
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG")
    chunks, pos = [], 8
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks.append((kind, data[pos + 8:pos + 8 + length]))
        pos += 12 + length
    header = dict(chunks)[b"IHDR"]
    width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", header)
    if (depth, color, interlace) != (8, 6, 0):
        raise SystemExit(f"{path}: expected 8-bit RGBA without interlacing")
    # Only the image itself, so that the output does not depend on metadata.
    kept = b"".join(struct.pack(">I", len(body)) + kind + body +
                    struct.pack(">I", zlib.crc32(kind + body))
                    for kind, body in chunks if kind in (b"IHDR", b"IDAT", b"IEND"))
    return width, height, data[:8] + kept, b"".join(b for k, b in chunks if k == b"IDAT")


def unfilter(width, height, compressed):
    raw, stride, rows, prev = zlib.decompress(compressed), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - 4] if x >= 4 else 0
            b = prev[x]
            c = prev[x - 4] if x >= 4 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(line))
        prev = line
    return rows


def bitmap(width, height, rows):
    pixels, mask = bytearray(), bytearray()
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            r, g, b, a = row[x * 4:x * 4 + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main(out, pngs):
    images = []
    for path in pngs:
        width, height, png, idat = read_png(path)
        body = png if width >= 256 else bitmap(width, height, unfilter(width, height, idat))
        images.append((width, height, body))
    offset = 6 + 16 * len(images)
    directory, bodies = struct.pack("<HHH", 0, 1, len(images)), b""
    for width, height, body in images:
        directory += struct.pack("<BBBBHHII", width if width < 256 else 0,
                                 height if height < 256 else 0, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
        bodies += body
    open(out, "wb").write(directory + bodies)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
