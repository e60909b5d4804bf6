#!/usr/bin/env python3
"""Writes the C++ header that fills every function slot of the host's callback tables and
suites with the unserved function for that slot (standins/host_simulator/host_tables.h), from
the host's record table (host_api/records.tsv): a record with a function-pointer field is a
table, each such field a slot, and a field whose type is another table is filled as that table.

Usage: unserved_slots.py TABLE OUTPUT
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from layout_asserts import read_table, write_if_changed  # noqa: E402


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    table, output = sys.argv[1], sys.argv[2]
    records = read_table(table)
    tables = [name for name, entry in records.items()
              if any("(*)" in ctype for _, _, _, ctype in entry["fields"])]
    out = [
        f"// Generated from {table.rsplit('/', 1)[-1]} by tools/host_abi/unserved_slots.py; do not edit.",
        "// Included by standins/host_simulator/host_tables.h, inside namespace host_abi.",
        "",
        "// Every function slot of a table, unserved; a host then puts in what it serves.",
    ]
    out += [f"inline void FillUnserved({name}& table);" for name in tables]
    for name in tables:
        out += ["", f"inline void FillUnserved({name}& table) {{"]
        for field, _, _, ctype in records[name]["fields"]:
            if "(*)" in ctype:
                out.append(f"    HOST_ABI_UNSERVED(table, {name}, {field});")
            elif ctype in tables:
                out.append(f"    FillUnserved(table.{field});")
        out.append("}")
    write_if_changed(output, "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
