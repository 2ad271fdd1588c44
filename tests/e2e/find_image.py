"""Finds a grey image pixel for pixel inside a window capture.

usage: find_image.py CAPTURE.png EXPECTED.png
Prints "x y" of the expected image's top-left corner in the capture and exits 0 when every pixel
of it appears there (red = green = blue = the grey value); exits 1 otherwise.
"""
import subprocess
import sys


def raw_pixels(path, channels):
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    kind = "gray" if channels == 1 else "rgb"
    data = subprocess.run(["convert", path, "-depth", "8", kind + ":-"], check=True,
                          capture_output=True).stdout
    return width, height, data


def main():
    cap_w, cap_h, cap = raw_pixels(sys.argv[1], 3)
    exp_w, exp_h, exp = raw_pixels(sys.argv[2], 1)
    exp_rows = [exp[v * exp_w:(v + 1) * exp_w] for v in range(exp_h)]
    cap_rows = [cap[v * cap_w * 3:(v + 1) * cap_w * 3] for v in range(cap_h)]
    for y in range(cap_h - exp_h + 1):
        for x in range(cap_w - exp_w + 1):
            if cap_rows[y][x * 3:(x + exp_w) * 3:3] != exp_rows[0]:
                continue
            if all(cap_rows[y + v][x * 3 + c:(x + exp_w) * 3:3] == exp_rows[v]
                   for v in range(exp_h) for c in range(3)):
                print(x, y)
                return 0
    return 1


sys.exit(main())
