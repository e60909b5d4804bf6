#!/usr/bin/python3
"""Renders the same frames with the native build and with the Windows build under Wine, and
compares them pixel by pixel.

  render_compare.py --session STATE --wine-pyrix pyrix.exe --aex vexo_Pyrix.aex
                    --native-pyrix pyrix --native-plugin vexo_Pyrix.so --out DIR --name NAME
                    -- RENDER OPTIONS...
  render_compare.py --compare-files NATIVE WINDOWS

RENDER OPTIONS are pyrix render's (--size, --depth, --rect, --downsample, --frames, ...); the
output files are added here, one per frame of a range, and every frame is compared.
--wine-option OPTION goes to the Windows build only (--host-gpu); --wine-plugin PATH has it load
the plug-in from PATH as Windows names it (an installed one) instead of --aex. 8 and 16 bits are written as .pam, 32 bits as .rgba32f. The Windows
frame passes when every sample has the same bits as the native one: both builds compute the
field with the same exactly rounded operations. The frames must show fire, so that two black
frames cannot pass.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def read_pam(path):
    with open(path, "rb") as handle:
        data = handle.read()
    end = data.index(b"ENDHDR\n") + len(b"ENDHDR\n")
    header = dict(line.split(" ", 1) for line in data[:end].decode().splitlines()[1:-1])
    width, height = int(header["WIDTH"]), int(header["HEIGHT"])
    maxval = int(header["MAXVAL"])
    count = width * height * 4
    size = 2 * count if maxval > 255 else count
    raw = data[end:end + size]
    samples = struct.unpack(f">{count}H", raw) if maxval > 255 else raw
    return width, height, [s / maxval for s in samples], raw


def read_rgba32f(path):
    with open(path, "rb") as handle:
        data = handle.read()
    magic, size, rest = data.split(b"\n", 2)
    if magic != b"RGBA32F":
        raise ValueError(f"{path}: not an RGBA32F file")
    width, height = (int(v) for v in size.split())
    count = width * height * 4
    raw = rest[:4 * count]
    return width, height, list(struct.unpack(f"<{count}f", raw)), raw


def read_frame(path):
    return read_rgba32f(path) if path.endswith(".rgba32f") else read_pam(path)


def compare(native, windows, need_fire=True):
    """Every pixel's samples bit for bit, and unless need_fire is false, fire (red above 0.02)
    on at least 1% of the frame."""
    (nw, nh, a, a_bytes), (ww, wh, b, b_bytes) = native, windows
    if (nw, nh) != (ww, wh):
        return False, f"sizes differ: native {nw}x{nh}, Windows {ww}x{wh}"
    pixels = nw * nh
    if len(a_bytes) != len(b_bytes):
        return False, f"{nw}x{nh}: files hold {len(a_bytes)} and {len(b_bytes)} sample bytes"
    step = len(a_bytes) // pixels
    differing = 0
    worst = 0.0
    fire = 0
    for pixel in range(pixels):
        i = 4 * pixel
        if a_bytes[step * pixel:step * (pixel + 1)] != b_bytes[step * pixel:step * (pixel + 1)]:
            differing += 1
            worst = max(worst, max(abs(a[i + c] - b[i + c]) for c in range(4)))
        if a[i] > 0.02 or b[i] > 0.02:  # red: the brightest channel of the fire
            fire += 1
    fire_share = fire / pixels
    report = (f"{nw}x{nh}: {differing} pixels differ (worst {worst:.6f}); "
              f"fire on {100 * fire_share:.1f}% of the frame")
    return differing == 0 and (fire_share >= 0.01 or not need_fire), report


def run(command, what):
    begin = time.monotonic()
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    seconds = time.monotonic() - begin
    if result.returncode != 0:
        print(f"FAIL: {what} exited with {result.returncode}\n  {' '.join(command)}\n"
              f"{result.stdout}{result.stderr}")
        sys.exit(1)
    return result.stdout, seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("session", "wine-pyrix", "aex", "native-pyrix", "native-plugin", "out", "name"):
        parser.add_argument("--" + option)
    parser.add_argument("--timeout", type=int, default=240)
    parser.add_argument("--wine-option", action="append", default=[])
    parser.add_argument("--wine-plugin")
    parser.add_argument("--compare-files", nargs=2, metavar=("NATIVE", "WINDOWS"),
                        help="only compare two existing frame files")
    parser.add_argument("render", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.compare_files:
        ok, report = compare(*(read_frame(path) for path in args.compare_files))
        print(("ok: " if ok else "FAIL: ") + report)
        return 0 if ok else 1
    for option in ("session", "wine_pyrix", "aex", "native_pyrix", "native_plugin", "out", "name"):
        if getattr(args, option) is None and not (option == "aex" and args.wine_plugin):
            parser.error(f"--{option.replace('_', '-')} is required")
    options = [o for o in args.render if o != "--"]

    depth = options[options.index("--depth") + 1] if "--depth" in options else "8"
    extension = ".rgba32f" if depth == "32" else ".pam"
    os.makedirs(args.out, exist_ok=True)
    frames = options[options.index("--frames") + 1] if "--frames" in options else "1-48"
    first, _, last = frames.partition("-")
    numbers = range(int(first), int(last or first) + 1)
    pattern = "" if len(numbers) == 1 else ".####"
    native_file = os.path.join(os.path.abspath(args.out), args.name + ".native" + pattern + extension)
    windows_file = os.path.join(os.path.abspath(args.out), args.name + ".windows" + pattern + extension)

    def frame_file(path, number):
        return path.replace("####", f"{number:04d}")

    for number in numbers:
        for stale in (frame_file(native_file, number), frame_file(windows_file, number)):
            if os.path.exists(stale):
                os.remove(stale)
    run([args.native_pyrix, "render", "--plugin", args.native_plugin, *options,
         "-o", native_file], "native pyrix")
    # Wine maps the Unix file system to drive Z:.
    output, seconds = run([os.path.join(HERE, "wine_session.sh"), "run", args.session,
                           str(args.timeout), args.wine_pyrix, "render",
                           "--plugin", args.wine_plugin or "Z:" + os.path.abspath(args.aex),
                           *args.wine_option,
                           *options, "-o", "Z:" + windows_file], "pyrix.exe under Wine")
    timing = re.search(r"([0-9.]+) ms/frame", output)
    print(f"Windows build under Wine: {output.strip()} (process {seconds:.1f} s)")
    if timing:
        print(f"wine_frame_ms={timing.group(1)}")
    passed = True
    for number in numbers:
        ok, report = compare(read_frame(frame_file(native_file, number)),
                             read_frame(frame_file(windows_file, number)))
        print(("ok: " if ok else "FAIL: ") + f"frame {number}: " + report)
        passed = passed and ok
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
