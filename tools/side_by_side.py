#!/usr/bin/env python3
"""Writes BMP images (24-bit, bottom-up or top-down) side by side as one PNG, with a gap
of white between them: the README's pictures.
    tools/side_by_side.py OUT.png IN.bmp...
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        sys.exit(f"{path}: {bits} bits; 24 expected")
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for r in range(abs(height)):
        at = offset + r * stride
        row = data[at:at + width * 3]
        rows.append(bytes(b for x in range(width) for b in (row[3 * x + 2], row[3 * x + 1], row[3 * x])))
    return width, (rows[::-1] if height > 0 else rows)


def main():
    out, ins = sys.argv[1], sys.argv[2:]
    pictures = [read_bmp(p) for p in ins]
    gap = 8
    height = max(len(rows) for _, rows in pictures)
    width = sum(w for w, _ in pictures) + gap * (len(pictures) - 1)
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for k, (w, rows) in enumerate(pictures):
            raw += rows[y] if y < len(rows) else b"\xff" * 3 * w
            if k + 1 < len(pictures):
                raw += b"\xff" * 3 * gap
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(out, "wb").write(png)


main()
