#!/usr/bin/env python3
"""Writes a PNG of any size, bit depth and colour type, all samples zero, for the bad-input tests.

Usage: make_png.py OUT WIDTH HEIGHT BIT_DEPTH COLOUR_TYPE [header-only]

header-only writes the signature and the IHDR chunk alone (what a reader sees first). Otherwise
the image data is a real deflate stream: one row compressed once and repeated, each copy closed by
a full flush (which resets the compressor, so every copy is the same bytes), so a 20000 x 20000
16-bit image of 800 MB takes a second to write and under 1 MB on disk.
"""
import struct
import sys
import zlib


def chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data +
            struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))


def image_data(width, height, bit_depth, colour_type):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
    row = bytes(1 + (width * channels * bit_depth + 7) // 8)  # filter byte 0, then the samples
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    first = compressor.compress(row) + compressor.flush(zlib.Z_FULL_FLUSH)
    again = compressor.compress(row) + compressor.flush(zlib.Z_FULL_FLUSH)
    last = compressor.flush(zlib.Z_FINISH)
    adler = 1
    for _ in range(height):
        adler = zlib.adler32(row, adler)
    pieces = [b'\x78\xda', first]
    pieces += [again] * (height - 1)
    pieces += [last, struct.pack('>I', adler & 0xFFFFFFFF)]
    return b''.join(pieces)


def main():
    out, width, height, bit_depth, colour_type = sys.argv[1], *map(int, sys.argv[2:6])
    header_only = sys.argv[6:] == ['header-only']
    ihdr = struct.pack('>IIBBBBB', width, height, bit_depth, colour_type, 0, 0, 0)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr)
    if not header_only:
        data = image_data(width, height, bit_depth, colour_type)
        for start in range(0, len(data), 1 << 20):
            png += chunk(b'IDAT', data[start:start + (1 << 20)])
        png += chunk(b'IEND', b'')
    with open(out, 'wb') as file:
        file.write(png)


if __name__ == '__main__':
    main()
