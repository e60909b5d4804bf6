#!/usr/bin/env python3
"""Writes a C++ source of static_asserts from the host's record table (host_api/records.tsv):
each record's size and alignment, each field's offset and size. Compiled into the plug-in by
every build, so a record that differs from the host's layout stops the build with the field's
name and the host's number.

Usage: layout_asserts.py TABLE OUTPUT
"""
import os
import sys


def write_if_changed(output, text):
    """Writes text to output unless it holds that already: the timestamp stays, nothing recompiles."""
    try:
        with open(output, encoding="utf-8") as current:
            if current.read() == text:
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="utf-8") as generated:
        generated.write(text)


def table_rows(path, cells_per_row, skip=lambda cells: False):
    """The tab-separated rows of one of the host's tables, without blank and comment lines; a
    row with another count of cells stops the build with its line, unless skip says to pass it."""
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            cells = line.split("\t")
            if skip(cells):
                continue
            if len(cells) != cells_per_row:
                raise SystemExit(
                    f"{path}:{number}: expected {cells_per_row} tab-separated cells: {line!r}")
            yield cells


def read_table(path):
    """Records in table order: name -> {"whole": (size, align), "fields": [(name, off, size, type)]}."""
    records = {}
    type_alias = lambda cells: len(cells) == 3 and cells[1] == "="  # noqa: E731
    for record, field, offset, size, ctype in table_rows(path, 5, type_alias):
        entry = records.setdefault(record, {"whole": None, "fields": []})
        if field == "-":
            align = ctype.rsplit("align", 1)[-1].strip()
            entry["whole"] = (int(size), int(align))
        else:
            entry["fields"].append((field, int(offset), int(size), ctype))
    return records


def type_names(records):
    """C++ names for the records; a nested unnamed record is named through its member."""
    names = {}
    aliases = []
    for record in records:
        if "::(anonymous)" not in record:
            names[record] = record
            continue
        parent = record.split("::", 1)[0]
        members = [f for f, _, _, t in records.get(parent, {"fields": []})["fields"] if t == record]
        if len(members) != 1:
            raise SystemExit(f"cannot tell which member of {parent} is {record}")
        alias = f"{parent}_{members[0]}_type"
        aliases.append(f"using {alias} = decltype({parent}::{members[0]});")
        names[record] = alias
    return names, aliases


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    table, output = sys.argv[1], sys.argv[2]
    records = read_table(table)
    names, aliases = type_names(records)
    out = [
        f"// Generated from {table.rsplit('/', 1)[-1]} by tools/host_abi/layout_asserts.py; do not edit.",
        "#include <cstddef>",
        "",
        '#include "host_api/effect_api.h"',
        "",
        "namespace {",
        *aliases,
        "}  // namespace",
        "",
    ]
    for record, entry in records.items():
        t = names[record]
        if entry["whole"] is not None:
            size, align = entry["whole"]
            out.append(f'static_assert(sizeof({t}) == {size}, "{record}: the host\'s is {size} bytes");')
            out.append(f'static_assert(alignof({t}) == {align}, "{record}: the host aligns it to {align}");')
        for field, offset, size, _ in entry["fields"]:
            where = f"{record}.{field}"
            out.append(f'static_assert(offsetof({t}, {field}) == {offset}, '
                       f'"{where}: the host has it at offset {offset}");')
            out.append(f'static_assert(sizeof({t}::{field}) == {size}, '
                       f'"{where}: the host\'s is {size} bytes");')
    write_if_changed(output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
