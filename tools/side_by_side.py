#!/usr/bin/env python3
"""Writes BMP images (24-bit, or uncompressed 1, 2, 4 and 8 bits with a palette; bottom-up
or top-down) side by side as one PNG, with a gap of white between them, COLUMNS to a row:
the README's pictures.
    tools/side_by_side.py [--columns N] OUT.png IN.bmp...
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    offset, info = struct.unpack_from("<II", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits not in (1, 2, 4, 8, 24):
        sys.exit(f"{path}: {bits} bits; 1, 2, 4, 8 or 24 expected")
    palette = [data[14 + info + 4 * k:14 + info + 4 * k + 3][::-1] for k in range(256)
               if 14 + info + 4 * k + 4 <= offset] if bits <= 8 else []
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for r in range(abs(height)):
        row = data[offset + r * stride:offset + (r + 1) * stride]
        if bits == 24:
            rows.append(bytes(b for x in range(width) for b in (row[3 * x + 2], row[3 * x + 1], row[3 * x])))
        else:
            per = 8 // bits
            rows.append(b"".join(palette[(row[x // per] >> (8 - bits * (x % per + 1))) & ((1 << bits) - 1)]
                                 for x in range(width)))
    return width, (rows[::-1] if height > 0 else rows)


def main():
    args = sys.argv[1:]
    columns = 0
    if args[:1] == ["--columns"]:
        columns, args = int(args[1]), args[2:]
    out, ins = args[0], args[1:]
    pictures = [read_bmp(p) for p in ins]
    columns = columns or len(pictures)
    gap = 8
    grid = [pictures[i:i + columns] for i in range(0, len(pictures), columns)]
    width = max(sum(w for w, _ in line) + gap * (len(line) - 1) for line in grid)
    raw = bytearray()
    for n, line in enumerate(grid):
        height = max(len(rows) for _, rows in line)
        for y in range(height + (gap if n + 1 < len(grid) else 0)):
            raw.append(0)
            row = bytearray()
            for k, (w, rows) in enumerate(line):
                row += rows[y] if y < len(rows) else b"\xff" * 3 * w
                if k + 1 < len(line):
                    row += b"\xff" * 3 * gap
            raw += row + b"\xff" * (3 * width - len(row))
    height = len(raw) // (3 * width + 1)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(out, "wb").write(png)


main()
