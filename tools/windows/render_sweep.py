#!/usr/bin/python3
"""A seeded random sweep of the Windows build under Wine against the native build, bit for bit:
settings drawn towards the extremes (detail, emitter size, downsampling, offsets near +-1e6,
late frames, odd rectangles, every depth), where the group-shared kernel's table and its
fallback do what the ordinary frame tests never ask of them.

  render_sweep.py --session STATE --wine-pyrix pyrix.exe --aex vexo_Pyrix.aex
                  --native-pyrix pyrix --native-plugin vexo_Pyrix.so --out DIR [--count N]

The seed is printed; SWEEP_SEED=<seed> in the environment repeats a run.
"""

import argparse
import os
import random
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from render_compare import compare, read_frame, run  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def towards_ends(rng, lo, hi):
    """lo, hi, next to one of them, or anywhere between, each as likely."""
    span = hi - lo
    return rng.choice([lo, hi, lo + span * rng.random() * 0.01, hi - span * rng.random() * 0.01,
                       lo + span * rng.random()])


def number(value):
    """Plain decimal text, as pyrix's options read it."""
    return f"{value:.4f}".rstrip("0").rstrip(".")


def draw(rng, depth):
    """The pyrix render options of one setting."""
    downsample = int(round(towards_ends(rng, 1, 40)))
    # The layer as large as the downsampling needs for a frame of some 24 to 400 pixels a side:
    # the frame's cost under Wine stays small whatever the factor.
    width = min(16384, rng.randint(24, 400) * downsample - rng.randint(0, downsample - 1))
    height = min(16384, rng.randint(14, 240) * downsample - rng.randint(0, downsample - 1))
    offset = rng.choice([0.0, rng.uniform(-10, 10), 1e6 - rng.uniform(0, 200),
                         -1e6 + rng.uniform(0, 200)])
    frame = rng.choice([1, rng.randint(2, 100), 100000, rng.randint(100000, 1000000)])
    options = ["--size", f"{width}x{height}", "--depth", str(depth), "--frames", str(frame),
               "--downsample", str(downsample),
               "--detail", number(towards_ends(rng, 0.0, 5.0)),
               # Now and then no emitter, else one large enough to show fire.
               "--emitter-size", number(0.0 if rng.random() < 0.15
                                        else towards_ends(rng, 100.0, 1000.0)),
               "--softness", number(rng.uniform(0, 100)),
               "--speed", number(rng.uniform(-3, 3)), f"--offset={number(offset)}",
               "--position", f"{number(rng.uniform(15, 85))},{number(rng.uniform(50, 100))}"]
    if rng.random() < 0.5:
        # An odd rectangle of the frame at its resolution, often reaching past its edges.
        full_w, full_h = -(-width // downsample), -(-height // downsample)
        left, top = rng.randint(-9, full_w // 2), rng.randint(-9, full_h // 2)
        right = rng.randint(max(left + 1, full_w // 2), full_w + 9)
        bottom = rng.randint(max(top + 1, full_h // 2), full_h + 9)
        options.append(f"--rect={left},{top},{right},{bottom}")
    return options


def compare_setting(args, index, options):
    extension = ".rgba32f" if options[options.index("--depth") + 1] == "32" else ".pam"
    out = os.path.abspath(args.out)
    native_file = os.path.join(out, f"sweep{index:02d}.native{extension}")
    windows_file = os.path.join(out, f"sweep{index:02d}.windows{extension}")
    for stale in (native_file, windows_file):
        if os.path.exists(stale):
            os.remove(stale)
    begin = time.monotonic()
    run([args.native_pyrix, "render", "--plugin", args.native_plugin, *options,
         "-o", native_file], "native pyrix")
    native_seconds = time.monotonic() - begin
    wine = [os.path.join(HERE, "wine_session.sh"), "run", args.session, str(args.timeout),
            args.wine_pyrix, "render", "--plugin", "Z:" + os.path.abspath(args.aex), *options,
            "-o", "Z:" + windows_file]
    # Output to a file, not a pipe: Wine's desktop process, started by the first program that
    # needs it, inherits the pipe and would hold it open until it leaves, seconds later.
    with open(os.path.join(out, "sweep.log"), "w+", encoding="utf-8") as log:
        status = subprocess.run(wine, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT).returncode
        log.seek(0)
        if status != 0:
            print(f"FAIL: pyrix.exe under Wine exited with {status}\n  {' '.join(wine)}\n"
                  f"{log.read()}")
            return False
    # Black frames are fine here (no emitter, fire out of the rectangle): only the bits count.
    same, report = compare(read_frame(native_file), read_frame(windows_file), need_fire=False)
    print(f"{'ok  ' if same else 'FAIL'} {index:2d}: {report} (native {native_seconds:.1f} s, "
          f"in all {time.monotonic() - begin:.1f} s)\n       {' '.join(options)}", flush=True)
    return same


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("session", "wine-pyrix", "aex", "native-pyrix", "native-plugin", "out"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--count", type=int, default=12)
    parser.add_argument("--timeout", type=int, default=60)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    seed_text = os.environ.get("SWEEP_SEED", "").strip()
    seed = int(seed_text) if seed_text else random.SystemRandom().randrange(1, 2**31)
    print(f"sweep seed {seed} (SWEEP_SEED={seed} repeats this run)", flush=True)
    rng = random.Random(seed)
    depths = [(8, 16, 32)[i % 3] for i in range(args.count)]
    rng.shuffle(depths)
    begin = time.monotonic()
    failures = sum(not compare_setting(args, index, draw(rng, depth))
                   for index, depth in enumerate(depths))
    print(f"{'ok' if failures == 0 else 'FAIL'}: {args.count - failures} of {args.count} "
          f"settings give the native bits under Wine (seed {seed}, "
          f"{time.monotonic() - begin:.0f} s)")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
