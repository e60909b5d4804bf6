#!/usr/bin/env python3
"""What a real GPU compiler makes of the compute kernels: Mesa's RADV driver, forced to an AMD
chip without hardware (RADV_FORCE_FAMILY), compiles each kernel with its production compiler and
reports registers, spills, scratch, group-shared memory, occupancy, instruction count and its own
static cost estimate. Every kernel goes in two ways: as shipped (the committed DXBC, translated
to SPIR-V by vkd3d-compiler as a Direct3D-on-Vulkan layer would) and from the HLSL source
(glslang). Each figure is printed beside the first release's kernel of the same name.

The kernels are found in the tree: every [numthreads] function of kernels/*.hlsl, its bytecode
the file that kernel_list of tools/dxbc/compile_kernels.sh compiles it to (the first release's
kernels: <file>.dxbc, as its kernel_list named them). Their bindings are read from the SPIR-V by
gpu_cost_stats, so kernels may change without touching this tool.

With --run BUILD/gpu_cost_run it then counts the operations AnchorKernel, FireKernel and
FireKernelRedo execute on real frames (dynamic_counts.py), per pixel and per anchor thread.

usage: gpu_cost.py --stats BUILD/gpu_cost_stats [--families navi21,vega10] [--routes dxbc,hlsl]
                   [--kernels FireKernel,...] [--work DIR] [--check]
                   [--run BUILD/gpu_cost_run [--frames reference,detail_5] [--size 1920x1080]
                    [--uniform SET.BINDING=FILE]...]
--check fails unless every measured kernel reports its statistics with sane values (the test).
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

import dynamic_counts

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TODAY = os.path.join(ROOT, "kernels")
FIRST_RELEASE = os.path.join(HERE, "reference")
# glslang gives each HLSL register class its own binding range, so that b0, t0 and u0 differ.
GLSLANG = ["glslangValidator", "-D", "-V", "-S", "comp", "--hlsl-iomap",
           "--shift-texture-binding", "16", "--shift-UAV-binding", "32",
           "--shift-sampler-binding", "48"]
# "VGPRs before scheduling": what the kernel needs; ACO's scheduler may then use more where the
# occupancy that other limits (group-shared memory) allow leaves registers free.
COLUMNS = [("VGPRs", ["VGPRs"]), ("before scheduling", ["Pre-Sched VGPRs"]), ("SGPRs", ["SGPRs"]),
           ("spills", ["Spilled VGPRs", "Spilled SGPRs"]), ("scratch", ["Scratch size"]),
           ("LDS", ["LDS size"]), ("subgroups/SIMD", ["Subgroups per SIMD"]),
           ("instructions", ["Instructions"]), ("ACO estimate", ["Inverse Throughput"])]
ENTRY = re.compile(r"\[numthreads\([^)]*\)\]\s*void\s+([A-Za-z_]\w*)\s*\(")
# The script that compiles the shipped bytecode: its kernel_list says which file each entry is.
COMPILE_SCRIPT = os.path.join(ROOT, "tools", "dxbc", "compile_kernels.sh")
KERNEL_LIST = re.compile(r"^kernel_list=\(([^)]*)\)", re.MULTILINE)
# A kernel named after another with this suffix runs after it, over its groups, and renders
# again only those that it marked.
SECOND_PASS = "Redo"


def kernel_list(script):
    """{entry: (hlsl file, dxbc file)} from the kind:entry:source:output items of kernel_list."""
    found = KERNEL_LIST.search(script)
    if not found:
        raise RuntimeError(f"no kernel_list in {COMPILE_SCRIPT}")
    listed = {}
    for item in re.findall(r'"([^"]*)"', found.group(1)):
        fields = item.split(":")
        if len(fields) != 4:
            raise RuntimeError(f"kernel_list item {item!r} is not kind:entry:source:output")
        listed[fields[1]] = (fields[2] + ".hlsl", fields[3] + ".dxbc")
    return listed


def find_kernels(folder, listed=None):
    """{entry: (hlsl file, dxbc file or None)} for the [numthreads] functions of folder/*.hlsl.
    The bytecode is the file `listed` names for the entry; without a list, <file>.dxbc."""
    kernels = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".hlsl"):
            continue
        with open(os.path.join(folder, name)) as source:
            for entry in ENTRY.findall(source.read()):
                hlsl, dxbc = listed.get(entry, (name, None)) if listed is not None \
                    else (name, name[:-5] + ".dxbc")
                if hlsl != name:
                    raise RuntimeError(f"kernel_list compiles {entry} from {hlsl}, not {name}")
                path = os.path.join(folder, "bytecode", dxbc) if dxbc else None
                kernels[entry] = (name, path if path and os.path.exists(path) else None)
    unfound = sorted(set(listed or {}) - set(kernels))
    if unfound:
        raise RuntimeError(f"kernel_list names {', '.join(unfound)}, found in no {folder}/*.hlsl")
    return kernels


def today_kernels():
    with open(COMPILE_SCRIPT) as script:
        return find_kernels(TODAY, kernel_list(script.read()))


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)}: {(done.stderr or done.stdout).strip()}")
    return done.stdout


def to_spirv(route, folder, entry, kernel, out):
    hlsl, dxbc = kernel
    if route == "dxbc":
        if dxbc is None:
            return None
        run(["vkd3d-compiler", "-x", "dxbc-tpf", "-b", "spirv-binary", "-o", out, dxbc])
    else:
        run(GLSLANG + ["-e", entry, "-o", out, hlsl], cwd=folder)
    return out


def parse_stats(text):
    """{spv path: {"entry", "wave", statistic: value}} and the device and driver lines."""
    modules, current, header = {}, None, {}
    for line in text.splitlines():
        words = line.split("\t")
        if words[0] in ("device", "driver"):
            header[words[0]] = words[1]
        elif words[0] == "module":
            current = modules.setdefault(words[1], {"entry": words[2]})
        elif words[0] == "executable" and current is not None:
            current["wave"] = words[2]
        elif words[0] == "statistic" and current is not None:
            current[words[1]] = words[2]
        elif words[0] == "error":
            modules[words[1]] = {"error": words[2]}
    return modules, header


def measure(stats, family, spvs):
    environment = dict(os.environ, RADV_FORCE_FAMILY=family, MESA_SHADER_CACHE_DISABLE="true")
    done = subprocess.run([stats] + spvs, capture_output=True, text=True, env=environment)
    modules, header = parse_stats(done.stdout)
    if "device" not in header:
        raise RuntimeError(f"gpu_cost_stats found no RADV device for {family}: "
                           f"{done.stderr.strip()}")
    return modules, header


def figure(stats, names):
    if stats is None or any(n not in stats for n in names):
        return None
    return sum(int(float(stats[n])) for n in names)


def cell(today, first):
    if today is None:
        return "-"
    return f"{today:,} ({first:,})" if first is not None else f"{today:,} (-)"


def ratio(today, first):
    return f"{today / first:.1f}x" if today is not None and first else "-"


def table_rows(results, keys):
    rows = []
    for entry, route, family in keys:
        today, first = results.get(("today", entry, route, family)), \
            results.get(("first", entry, route, family))
        if "error" in today or "missing" in today:
            rows.append([entry, route, family, "error: " + today["error"] if "error" in today
                         else "no bytecode in kernels/bytecode/"])
            continue
        row = [entry, route, family, today.get("wave", "?")]
        for _, names in COLUMNS:
            row.append(cell(figure(today, names), figure(first, names)))
        aco = COLUMNS[-1][1]
        row.append(ratio(figure(today, aco), figure(first, aco)))
        rows.append(row)
    return rows


def print_table(rows):
    head = ["kernel", "route", "family", "wave"] + [c for c, _ in COLUMNS] + ["ACO x first"]
    full = [r for r in rows if len(r) == len(head)]
    widths = [max(len(str(r[i])) for r in [head] + full) for i in range(len(head))]
    for row in [head] + rows:
        print("  ".join(str(v).ljust(w) for v, w in zip(row, widths)).rstrip())


def sanity_faults(results, headers):
    """Why the measurement cannot be trusted, if it cannot: the --check of the test."""
    faults = []
    for family, header in headers.items():
        if family.upper() not in header.get("device", "").upper():
            faults.append(f"{family}: the device is {header.get('device')!r}, not the forced chip")
    for (_, entry, route, family), stats in results.items():
        where = f"{entry} ({route}, {family})"
        if "missing" in stats:
            continue
        if "error" in stats:
            faults.append(f"{where}: {stats['error']}")
            continue
        missing = [n for _, names in COLUMNS for n in names if n not in stats]
        if missing:
            faults.append(f"{where}: no {', '.join(missing)}")
            continue
        if stats.get("wave") not in ("32", "64"):
            faults.append(f"{where}: wave size {stats.get('wave')}")
        for name in ("VGPRs", "SGPRs", "Subgroups per SIMD", "Instructions", "Inverse Throughput"):
            if figure(stats, [name]) <= 0:
                faults.append(f"{where}: {name} {stats[name]}")
    return faults


def pass_lines(measured, found):
    """Which kernels run in full every frame, and which render again only marked groups."""
    again = [e for e in measured
             if e.endswith(SECOND_PASS) and e[:-len(SECOND_PASS)] in found]
    every = [e for e in measured if e not in again]
    lines = [f"run in full every frame: {', '.join(every)}"] if every else []
    if again:
        pairs = ", ".join(f"{e} (after {e[:-len(SECOND_PASS)]})" for e in again)
        lines.append("render again only the groups their first pass marked (the others return "
                     f"at once): {pairs}")
    return lines


def tool_versions():
    versions = []
    for command in (["vkd3d-compiler", "--version"], ["glslangValidator", "--version"]):
        text = run(command).splitlines()
        versions.append(text[0].strip() if text else command[0])
    return versions


def static_table(args, trees, work):
    families, routes = args.families.split(","), args.routes.split(",")
    chosen = set(filter(None, args.kernels.split(",")))
    spvs = {}
    for tree, (folder, kernels) in trees.items():
        for entry, kernel in kernels.items():
            if chosen and entry not in chosen:
                continue
            for route in routes:
                out = os.path.join(work, f"{tree}_{entry}_{route}.spv")
                spvs[(tree, entry, route)] = to_spirv(route, folder, entry, kernel, out)
    results, headers = {}, {}
    for family in families:
        modules, headers[family] = measure(args.stats, family,
                                           sorted(filter(None, spvs.values())))
        for (tree, entry, route), spv in spvs.items():
            results[(tree, entry, route, family)] = \
                modules.get(spv, {"error": "not measured"}) if spv else {"missing": True}
    print(f"{headers[families[0]]['driver']}; "
          + "; ".join(f"{f}: {h['device']}" for f, h in headers.items()))
    print("; ".join(tool_versions()) + "; figures: today's kernel (first release's)")
    keys = sorted({(e, r, f) for (t, e, r, f) in results if t == "today"},
                  key=lambda k: (k[0], routes.index(k[1]), families.index(k[2])))
    print_table(table_rows(results, keys))
    entries = sorted({k[0] for k in keys})
    for line in pass_lines(entries, trees["today"][1]):
        print(line)
    return sanity_faults(results, headers) if args.check else []


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--stats", required=True, help="the gpu_cost_stats program")
    parser.add_argument("--families", default="navi21,vega10")
    parser.add_argument("--routes", default="dxbc,hlsl")
    parser.add_argument("--kernels", default="", help="entry points to measure (default: all)")
    parser.add_argument("--work", default="")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--run", default="", help="the gpu_cost_run program: count operations")
    parser.add_argument("--frames", default="reference,detail_5")
    parser.add_argument("--size", default="1920x1080")
    parser.add_argument("--uniform", action="append", default=[], metavar="SET.BINDING=FILE",
                        help="the bytes of a constant buffer besides the frame's constants")
    args = parser.parse_args()
    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="gpu_cost_"))
    os.makedirs(work, exist_ok=True)
    trees = {"today": (TODAY, today_kernels()),
             "first": (FIRST_RELEASE, find_kernels(FIRST_RELEASE))}
    faults = static_table(args, trees, work)
    if args.run:
        frames = args.frames.split(",")
        if any("=" not in u for u in args.uniform):
            parser.error("--uniform SET.BINDING=FILE")
        dynamic_counts.UNIFORMS = [f"{u.split('=', 1)[0]}={os.path.abspath(u.split('=', 1)[1])}"
                                   for u in args.uniform]
        results, cpu, dynamic_faults = dynamic_counts.measure(
            args.run, GLSLANG, trees, frames, args.size, os.path.join(work, "dynamic"))
        dynamic_counts.print_table(results, cpu, frames, args.size)
        if not dynamic_faults:
            print("each frame ran once uninstrumented and twice instrumented: the same output "
                  "bits all three times, the same counts both times")
        faults += dynamic_faults
    for fault in faults:
        print("FAIL:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as error:
        sys.exit(f"gpu_cost: {error}")
