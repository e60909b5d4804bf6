#!/usr/bin/python3
"""Compares two sin_probe outputs (tools/windows/sin_probe.cpp): how many of the hashed sines
differ, by how many units in the last place, at what argument sizes, and how many of the hash
values fract(43758.547 * sin) then differ by more than 1/255 of their range."""

import math
import struct
import sys
from collections import Counter


def read(path):
    with open(path, "rb") as handle:
        data = handle.read()
    return struct.iter_unpack("<II", data)


def to_float(bits):
    return struct.unpack("<f", struct.pack("<I", bits))[0]


def fract(v):
    return v - math.floor(v)


def main(first, second):
    total = differing = hash_far = 0
    ulps = Counter()
    sizes = Counter()
    examples = []
    for (arg1, sin1), (arg2, sin2) in zip(read(first), read(second)):
        assert arg1 == arg2, "the probes hashed different arguments"
        total += 1
        if sin1 == sin2:
            continue
        differing += 1
        a, s1, s2 = to_float(arg1), to_float(sin1), to_float(sin2)
        ulps[abs(sin1 - sin2) if (sin1 ^ sin2) >> 31 == 0 else "sign"] += 1
        sizes[10 ** int(math.log10(abs(a))) if a else 0] += 1
        # The hash in single precision, as the field computes it.
        h1 = fract(to_float(struct.unpack("<I", struct.pack("<f", 43758.547 * s1))[0]))
        h2 = fract(to_float(struct.unpack("<I", struct.pack("<f", 43758.547 * s2))[0]))
        hash_far += abs(h1 - h2) > 1 / 255
        if len(examples) < 5:
            examples.append(f"sinf({a!r}) = {s1!r} vs {s2!r}")
    print(f"{total} arguments, {differing} sines differ ({100 * differing / total:.4f}%)")
    print("by units in the last place:", dict(sorted(ulps.items(), key=str)))
    print("by argument magnitude:", dict(sorted(sizes.items())))
    print(f"hash values moved by more than 1/255: {hash_far}")
    for example in examples:
        print("  " + example)


if __name__ == "__main__":
    main(*sys.argv[1:3])
