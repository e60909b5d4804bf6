#!/usr/bin/env python3
"""Checks an unpacked user guide: every picture it shows is there, beside it, and readable; and
its install section says who signed the release, or that nobody did.

Usage: check_guide.py GUIDE.html [--signed-by NAME | --unsigned]

Each <img src> must be a relative path inside the guide's folder to a PNG or WebP file with
the right signature; an animated WebP must hold more than one frame. Prints one line per
picture; exit 1 on the first fault.
"""

import argparse
import html
import os
import re
import struct
import sys


def webp_frames(data):
    """Number of ANMF chunks of a WebP file (0 for a still image)."""
    frames, offset = 0, 12
    while offset + 8 <= len(data):
        tag, size = data[offset:offset + 4], struct.unpack("<I", data[offset + 4:offset + 8])[0]
        frames += tag == b"ANMF"
        offset += 8 + size + (size & 1)
    return frames


def check_signature(text, args):
    install = text[text.find('<h2 id="install">'):text.find('<h2 id="find">')]
    if args.unsigned:
        expected = "<b>This build is unsigned.</b>"
    elif args.signed_by:
        expected = f"signed by <b>{html.escape(args.signed_by)}</b>"
    else:
        return True
    if expected not in install:
        print(f"FAIL: the install section does not say: {expected}")
        return False
    print(f"ok: the install section says: {expected}")
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("guide")
    signature = parser.add_mutually_exclusive_group()
    signature.add_argument("--signed-by")
    signature.add_argument("--unsigned", action="store_true")
    args = parser.parse_args()
    guide = args.guide
    folder = os.path.dirname(os.path.abspath(guide))
    with open(guide, encoding="utf-8") as handle:
        text = handle.read()
    if not check_signature(text, args):
        return 1
    sources = re.findall(r'<img[^>]*\ssrc="([^"]+)"', text)
    if not sources:
        print(f"FAIL: {guide} shows no pictures")
        return 1
    for source in sources:
        path = os.path.normpath(os.path.join(folder, source))
        if source.startswith(("/", "http:", "https:", "file:")) or \
                not path.startswith(folder + os.sep):
            print(f"FAIL: {source} is not a picture beside the guide")
            return 1
        if not os.path.isfile(path):
            print(f"FAIL: {source} is missing")
            return 1
        with open(path, "rb") as handle:
            data = handle.read()
        if data.startswith(b"\x89PNG\r\n\x1a\n"):
            kind = "PNG"
        elif data[:4] == b"RIFF" and data[8:12] == b"WEBP":
            frames = webp_frames(data)
            kind = f"WebP, {frames} frames" if frames else "WebP"
            if source.endswith("preview.webp") and frames < 2:
                print(f"FAIL: {source} is not animated")
                return 1
        else:
            print(f"FAIL: {source} is neither PNG nor WebP")
            return 1
        print(f"ok: {source} ({kind}, {len(data)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
