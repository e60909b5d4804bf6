#!/usr/bin/env python3
"""Writes THIRD_PARTY_NOTICES.txt for the plug-in from what its link actually took.

Usage: third_party_notices.py LINK_MAP OUTPUT

LINK_MAP is the linker's map file of the .aex (-Wl,-Map). Every library archive and start-up
object that the link took code from is traced to the Debian package that installed it; the
notice holds each package's copyright file (/usr/share/doc/<package>/copyright) as installed
here, once per distinct text. The plug-in's own objects are skipped. Exits 1 when a linked file
belongs to no package or a package has no copyright file.
"""

import hashlib
import os
import re
import subprocess
import sys

HEADER = """Third-party software in vexo_Pyrix.aex

The plug-in is one file: the compiler's runtime is linked into it statically, so the code below
ships inside it. What was linked was read from the linker's map of this very build; the licence
texts are the copyright files of the Debian packages the build used, reproduced unchanged.

"""

# What the usual runtime files are, for the reader of the notice.
ROLES = {
    "libstdc++.a": "the C++ standard library (GCC's libstdc++)",
    "libgcc.a": "GCC's low-level runtime",
    "libgcc_eh.a": "GCC's exception unwinding",
    "crtbegin.o": "GCC's start-up code", "crtend.o": "GCC's start-up code",
    "dllcrt2.o": "the mingw-w64 DLL start-up code",
    "libmingw32.a": "the mingw-w64 C runtime", "libmingwex.a": "the mingw-w64 C runtime",
    "libmsvcrt.a": "the mingw-w64 C runtime (calls into msvcrt.dll)",
    "libpthread.a": "winpthreads, the mingw-w64 threads library (std::thread, std::mutex)",
    "libdxguid.a": "the interface ids (GUIDs) of Direct3D and DXGI",
}


def linked_files(map_text):
    """Absolute paths of the archives and objects outside the build tree that the link used."""
    files = set()
    start = map_text.find("Archive member included to satisfy reference by file (symbol)")
    if start >= 0:
        section = re.split(r"\n(?:Discarded input sections|Allocating common symbols|"
                           r"Memory Configuration)", map_text[start:])[0]
        files.update(m.group(1) for m in re.finditer(r"^(/\S+?\.a)\(", section, re.M))
    files.update(m.group(1) for m in re.finditer(r"^LOAD (/\S+\.o)$", map_text, re.M))
    return sorted({os.path.realpath(f) for f in files})


def owning_package(path):
    result = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if result.returncode != 0:
        return None
    return result.stdout.split(":")[0].strip()


def package_version(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                          capture_output=True, text=True, check=True).stdout.strip()


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8", errors="replace") as handle:
        files = linked_files(handle.read())
    if not files:
        print("third_party_notices: the link map names no runtime files", file=sys.stderr)
        return 1
    by_package = {}
    for path in files:
        package = owning_package(path)
        if package is None:
            print(f"third_party_notices: {path} belongs to no installed package", file=sys.stderr)
            return 1
        by_package.setdefault(package, []).append(path)

    texts = {}  # copyright text digest -> (text, [packages])
    for package in sorted(by_package):
        path = f"/usr/share/doc/{package}/copyright"
        if not os.path.isfile(path):
            print(f"third_party_notices: no {path}", file=sys.stderr)
            return 1
        with open(path, encoding="utf-8", errors="replace") as handle:
            text = handle.read()
        digest = hashlib.sha256(text.encode()).hexdigest()
        texts.setdefault(digest, (text, []))[1].append(package)

    out = [HEADER, "Linked in, by package:\n\n"]
    for package in sorted(by_package):
        out.append(f"  {package} {package_version(package)}\n")
        for path in by_package[package]:
            name = os.path.basename(path)
            role = ROLES.get(name, "import stubs of a Windows system DLL" if name.startswith("lib")
                             else "")
            out.append(f"    {name}" + (f": {role}" if role else "") + "\n")
    for text, packages in texts.values():
        out.append("\n" + "=" * 78 + "\n")
        out.append(f"/usr/share/doc/{packages[0]}/copyright"
                   + (f" (the same for {', '.join(packages[1:])})" if packages[1:] else "")
                   + "\n" + "=" * 78 + "\n\n")
        out.append(text if text.endswith("\n") else text + "\n")
    with open(sys.argv[2], "w", encoding="utf-8", newline="\r\n") as handle:
        handle.write("".join(out))
    print(f"third_party_notices: {len(files)} linked files from {len(by_package)} packages, "
          f"{len(texts)} licence texts")
    return 0


if __name__ == "__main__":
    sys.exit(main())
