#!/usr/bin/env python3
"""Compiles an HLSL kernel with glslang to SPIR-V and fails if any float add, subtract or
multiply may be contracted (lacks NoContraction): a driver could fuse it into a multiply-add
and change the bits. Each such operation is listed with its source file, line and function.

usage: spirv_contraction_check.py KERNELS_DIR FILE.hlsl ENTRY WORK_DIR
"""
import os
import re
import subprocess
import sys

ARITHMETIC = ("OpFAdd", "OpFSub", "OpFMul", "OpVectorTimesScalar", "OpFNegate")


def unmarked_operations(assembly):
    strings, names, contracted, found = {}, {}, set(), []
    location, function = ("?", 0), "?"
    for line in assembly.splitlines():
        words = line.split()
        if not words:
            continue
        if len(words) >= 4 and words[1] == "=" and words[2] == "OpString":
            strings[words[0]] = line.split('"')[1]
        elif words[0] == "OpName":
            names[words[1]] = line.split('"')[1]
        elif words[0] == "OpDecorate" and words[2] == "NoContraction":
            contracted.add(words[1])
        elif words[0] == "OpLine":
            location = (strings.get(words[1], words[1]), int(words[2]))
        elif len(words) >= 3 and words[1] == "=" and words[2] == "OpFunction":
            function = names.get(words[0], words[0])
        elif len(words) >= 3 and words[1] == "=" and words[2] in ARITHMETIC[:3]:
            found.append((words[0], words[2], location, function))
    return [entry for entry in found if entry[0] not in contracted], len(found)


DEFINITION = re.compile(r"^[A-Za-z_][\w<>]*\s+([A-Za-z_]\w*)\s*\(")


def enclosing_function(path, line):
    """The function whose definition starts nearest above `line` (glslang inlines calls)."""
    try:
        with open(path) as source:
            lines = source.read().splitlines()
    except OSError:
        return None
    for text in reversed(lines[:line]):
        match = DEFINITION.match(text)
        if match:
            return match.group(1)
    return None


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    kernels, source, entry, work = sys.argv[1:]
    os.makedirs(work, exist_ok=True)
    binary = os.path.join(work, entry + ".spv")
    subprocess.run(["glslangValidator", "-D", "-V", "-S", "comp", "-e", entry, "-g",
                    "-o", binary, source], cwd=kernels, check=True, stdout=subprocess.DEVNULL)
    assembly = subprocess.run(["spirv-dis", "--raw-id", binary], check=True,
                              capture_output=True, text=True).stdout
    unmarked, total = unmarked_operations(assembly)
    if not total:
        sys.exit(f"FAIL: {entry}: no float arithmetic found; is the disassembly readable?")
    places = {}
    for _, op, (path, line), function in unmarked:
        name = os.path.basename(path)
        key = (name, line, enclosing_function(os.path.join(kernels, name), line) or function)
        places.setdefault(key, []).append(op)
    for (path, line, function), ops in sorted(places.items()):
        print(f"{path}:{line}: in {function}: {len(ops)} x {', '.join(sorted(set(ops)))} "
              "without NoContraction")
    print(f"{entry}: {len(unmarked)} of {total} float add/subtract/multiply may be contracted")
    sys.exit(1 if unmarked else 0)


if __name__ == "__main__":
    main()
