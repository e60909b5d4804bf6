#!/usr/bin/env python3
"""Builds the Windows installer (.msi) of a staged release folder with wixl, then opens it again
and checks that it holds exactly the folder's files, byte for byte.

Usage: make_msi.py --stage DIR --product PRODUCT.txt --out FILE.msi [--version X.Y.Z]
       make_msi.py --stage DIR --check FILE.msi     (only the comparison, of an existing package)

PRODUCT.txt is the build's resources/product.txt (NAME=value lines from the registration table);
--version replaces its version (the tests build an older package from the same source). Every
file of DIR is installed, in the same folders, into INSTALLDIR. Exit 1 names what is wrong.
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "vexo_Pyrix.wxs")
# Component codes are derived from each file's place in the folder, so that every build and
# every version gives a file the same component: upgrades and repairs then track it.
COMPONENT_NAMESPACE = uuid.UUID("3B89C22B-A585-47F1-A8BD-2208A90E8676")


def fail(message):
    print(f"make_msi: {message}", file=sys.stderr)
    sys.exit(1)


def read_product(path):
    facts = {}
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            name, sep, value = line.rstrip("\n").partition("=")
            if sep:
                facts[name] = value
    for name in ("ProductName", "Manufacturer", "ProductVersion", "SupportUrl"):
        if not facts.get(name):
            fail(f"{path} has no {name}")
    return facts


def staged_files(stage):
    files = []
    for folder, subfolders, names in os.walk(stage):
        subfolders.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                fail(f"{path} is not a plain file")
            files.append(os.path.relpath(path, stage).replace(os.sep, "/"))
    if not files:
        fail(f"{stage} holds no files")
    return files


def identifier(prefix, relative):
    """A valid, unique table key for a path: readable part plus a hash of the whole path."""
    readable = re.sub(r"[^A-Za-z0-9_.]", "_", relative)[-40:]
    digest = hashlib.sha1(relative.encode()).hexdigest()[:10]
    return f"{prefix}_{digest}_{readable}"


def fragment(files):
    """The files as components under INSTALLDIR, one per file (the file its key path)."""
    tree = {}
    for relative in files:
        node = tree
        for part in relative.split("/")[:-1]:
            node = node.setdefault(part + "/", {})
        node[relative] = None
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi"><Fragment>',
             '<DirectoryRef Id="INSTALLDIR">']
    refs = []

    def emit(node, folder):
        for key in sorted(node):
            if node[key] is None:
                component = identifier("c", key)
                guid = str(uuid.uuid5(COMPONENT_NAMESPACE, key.lower())).upper()
                lines.append(f'<Component Id="{component}" Guid="{guid}" Win64="yes">'
                             f'<File Id="{identifier("f", key)}" '
                             f'Name={quoteattr(os.path.basename(key))} '
                             f'Source={quoteattr(key)} KeyPath="yes"/>'
                             '</Component>')
                refs.append(component)
            else:
                path = folder + key
                lines.append(f'<Directory Id="{identifier("d", path)}" Name={quoteattr(key[:-1])}>')
                emit(node[key], path)
                lines.append("</Directory>")

    emit(tree, "")
    lines.append('</DirectoryRef><ComponentGroup Id="ReleaseFiles">')
    lines += [f'<ComponentRef Id="{ref}"/>' for ref in refs]
    lines.append("</ComponentGroup></Fragment></Wix>")
    return "\n".join(lines) + "\n"


def next_version(version):
    """The lowest version above VERSION (wixl cannot make an upgrade range's maximum inclusive)."""
    parts = [int(p) for p in version.split(".")]
    parts[-1] += 1
    return ".".join(str(p) for p in parts)


def build(args, facts, files, work):
    fragment_path = os.path.join(work, "files.wxs")
    with open(fragment_path, "w", encoding="utf-8") as handle:
        handle.write(fragment(files))
    size = sum(os.path.getsize(os.path.join(args.stage, f)) for f in files)
    defines = dict(facts, ReplaceBelow=next_version(facts["ProductVersion"]),
                   SizeKiB=str((size + 1023) // 1024))
    # wixl finds the files relative to where it runs (it takes no absolute source path).
    command = ["wixl", "-a", "x64", "-o", os.path.abspath(args.out + ".part")]
    for name, value in sorted(defines.items()):
        command += ["-D", f"{name}={value}"]
    result = subprocess.run(command + [SOURCE, fragment_path], cwd=args.stage,
                            capture_output=True, text=True)
    # wixl reports some faults only as warnings and still exits 0.
    problems = [line for line in (result.stdout + result.stderr).splitlines()
                if "WARNING" in line or "rror" in line]
    if result.returncode != 0 or problems:
        fail("wixl failed:\n" + (result.stdout + result.stderr).strip())


def check(msi, stage, files, work):
    """The package as Windows unpacks it: exactly the staged files, each with the same bytes."""
    unpacked = os.path.join(work, "unpacked")
    result = subprocess.run(["msiextract", "-C", unpacked, msi],
                            capture_output=True, text=True)
    if result.returncode != 0:
        fail(f"msiextract cannot read the package: {result.stderr.strip()}")
    found = [os.path.join(folder, name) for folder, _, names in os.walk(unpacked) for name in names]
    # msiextract writes each file under its full target path; the staged tree is its tail, below
    # the shallowest folder holding the first top-level file.
    marker = "/" + files[0]
    holders = sorted((p for p in found if p.endswith(marker)), key=len)
    if not holders:
        fail(f"the package lacks {files[0]}")
    prefix = holders[0][:-len(files[0])]
    extracted = sorted(os.path.relpath(p, prefix) for p in found)
    missing = sorted(set(files) - set(extracted))
    extra = sorted(set(extracted) - set(files))
    if missing or extra:
        fail(f"the package differs from {stage}: missing {missing}, extra {extra}")
    for relative in files:
        with open(os.path.join(stage, relative), "rb") as a, \
                open(os.path.join(prefix, relative), "rb") as b:
            if a.read() != b.read():
                fail(f"the package's {relative} differs from the staged file")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--stage", required=True)
    parser.add_argument("--product")
    parser.add_argument("--out")
    parser.add_argument("--version")
    parser.add_argument("--check")
    args = parser.parse_args()
    files = staged_files(args.stage)
    if args.check:
        with tempfile.TemporaryDirectory() as work:
            check(args.check, args.stage, files, work)
        print(f"make_msi: {args.check} holds exactly the {len(files)} files of {args.stage}")
        return 0
    if not args.product or not args.out:
        parser.error("--product and --out are required")
    facts = read_product(args.product)
    if args.version:
        facts["ProductVersion"] = args.version
    if not re.fullmatch(r"\d+\.\d+\.\d+", facts["ProductVersion"]):
        fail(f"not a version: {facts['ProductVersion']}")
    for stale in (args.out, args.out + ".part"):
        if os.path.exists(stale):
            os.remove(stale)
    try:
        with tempfile.TemporaryDirectory() as work:
            build(args, facts, files, work)
            check(args.out + ".part", args.stage, files, work)
        os.replace(args.out + ".part", args.out)
    finally:
        if os.path.exists(args.out + ".part"):
            os.remove(args.out + ".part")
    print(f"make_msi: {args.out}: {facts['ProductName']} {facts['ProductVersion']}, "
          f"{len(files)} files checked")
    return 0


if __name__ == "__main__":
    sys.exit(main())
