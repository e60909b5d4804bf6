#!/usr/bin/env python3
"""Writes a C++ source of static_asserts from a table of the host's constants
(host_api/gpu_constants.tsv: name, value, what it is): each command, flag and value as the host
defines it, and each suite name as its string. Compiled into the plug-in beside the layout
checks, so a constant that differs from the host's stops the build with its name.

Usage: constant_asserts.py TABLE OUTPUT
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from layout_asserts import table_rows, write_if_changed  # noqa: E402


def read_constants(path):
    """(name, value) in table order; a value in quotes is a string."""
    return [(name, value) for name, value, _ in table_rows(path, 3)]


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    table, output = sys.argv[1], sys.argv[2]
    out = [
        f"// Generated from {table.rsplit('/', 1)[-1]} by tools/host_abi/constant_asserts.py; do not edit.",
        '#include "host_api/effect_api.h"',
        "",
        "namespace {",
        "constexpr bool SameText(const char* a, const char* b) {",
        "    return *a == *b && (*a == '\\0' || SameText(a + 1, b + 1));",
        "}",
        "}  // namespace",
        "",
    ]
    for name, value in read_constants(table):
        if value.startswith('"'):
            out.append(f'static_assert(SameText({name}, {value}), "{name}: the host\'s is {value[1:-1]}");')
        else:
            out.append(f'static_assert({name} == {value}, "{name}: the host\'s is {value}");')
    write_if_changed(output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
