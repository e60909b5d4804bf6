"""The operations AnchorKernel, FireKernel and FireKernelRedo execute on a real frame: each
compiled from its HLSL by glslang, optimised by spirv-opt -O, given a counter on every basic
block (spirv_counters.py) and run by gpu_cost_run on lavapipe with the constants the renderer
builds for the frame. FireKernel is the first pass; FireKernelRedo, where the tree has it, runs
after it over the same groups and renders again those FireKernel marked, so that the output is
the exact field's.

Each frame runs three times: uninstrumented, then instrumented twice. The instrumented runs must
produce the bits and the marks of the uninstrumented one, and the same counts as each other;
today's kernels must produce the bits of the CPU build and leave no group marked.
"""
import array
import os
import subprocess

import spirv_counters

COUNTER_SET = 1
# Bytes for constant buffers besides the frame's ParamsBlock: gpu_cost_run's --uniform values.
UNIFORMS = []
# What runs, in order; the last only where the tree has it. The counters file of each.
KERNELS = {"AnchorKernel": "anchor_counts.bin", "FireKernel": "fire_counts.bin",
           "FireKernelRedo": "redo_counts.bin"}
OPTIONAL = ("FireKernelRedo",)


def run(command, **kwargs):
    done = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(command)}: {(done.stderr or done.stdout).strip()}")
    return done.stdout


def kernel_modules(glslang, folder, entry, hlsl, stem):
    """The optimised module, its instrumented twin, the blocks' weights and the entry block."""
    source, plain, counted = stem + "_source.spv", stem + ".spv", stem + "_counted.spv"
    run(glslang + ["-e", entry, "-o", source, hlsl], cwd=folder)
    run(["spirv-opt", "-O", source, "-o", plain])
    assembly = run(["spirv-dis", "--raw-id", plain])
    instrumented, weights, first = spirv_counters.instrument(assembly, COUNTER_SET)
    with open(stem + "_counted.spvasm", "w") as out:
        out.write(instrumented)
    run(["spirv-as", "--target-env", "vulkan1.0", stem + "_counted.spvasm", "-o", counted])
    run(["spirv-val", "--target-env", "vulkan1.0", counted])
    return plain, counted, weights, first


def read(path, typecode="I"):
    values = array.array(typecode)
    with open(path, "rb") as data:
        values.frombytes(data.read())
    return values


def kernel_run(runner, frame, size, modules, out, counted=False):
    """The output's bits and marks, and what gpu_cost_run found: {field: number}."""
    os.makedirs(out, exist_ok=True)
    options = {"AnchorKernel": "--anchor", "FireKernel": "--fire", "FireKernelRedo": "--redo"}
    command = [runner, "--frame", frame, "--size", size, "--out", out] \
        + [word for kernel, spv in modules.items() for word in (options[kernel], spv)] \
        + [word for u in UNIFORMS for word in ("--uniform", u)] \
        + (["--counters-set", str(COUNTER_SET)] if counted else [])
    environment = dict(os.environ, MESA_SHADER_CACHE_DISABLE="true")
    lines = run(command, env=environment)
    fields = dict(line.split("\t", 1) for line in lines.splitlines() if "\t" in line)
    facts = {name: int(fields[name]) for name in ("cpu_differing_texels", "noise_pixels",
                                                    "groups", "marked_groups", "any_marked",
                                                    "marks_left")}
    with open(os.path.join(out, "image.bin"), "rb") as image, \
            open(os.path.join(out, "anchor.bin"), "rb") as record:
        return (image.read() + record.read(), facts["marked_groups"], facts["marks_left"]), facts


def executed(counts, weights, first):
    """Per category, what the kernel executed; and how many threads ran it."""
    totals = dict.fromkeys(spirv_counters.CATEGORIES, 0)
    for count, block in zip(counts, weights):
        for category, weight in block.items():
            totals[category] += count * weight
    return totals, counts[first]


def measure_frame(runner, kernels, frame, size, work):
    """{kernel: (totals, threads)} for one frame, gpu_cost_run's facts, and the faults found.
    kernels: {entry: (plain, counted, weights, first block)}."""
    plain, facts = kernel_run(runner, frame, size, {k: m[0] for k, m in kernels.items()},
                              f"{work}_plain")
    faults, counts = [], []
    for attempt in ("a", "b"):
        out = f"{work}_counted_{attempt}"
        output, _ = kernel_run(runner, frame, size, {k: m[1] for k, m in kernels.items()}, out,
                               counted=True)
        if output != plain:
            faults.append(f"{frame}: the instrumented run {attempt} changed the output or marks")
        counts.append({k: read(os.path.join(out, KERNELS[k])) for k in kernels})
    if counts[0] != counts[1]:
        faults.append(f"{frame}: the counts differ between two runs")
    width, height = (int(v) for v in size.split("x"))
    for kernel, (_, _, _, first) in kernels.items():
        least = 1 if kernel == "AnchorKernel" else width * height
        if counts[0][kernel][first] < least:
            faults.append(f"{frame}: fewer threads of {kernel} counted than ran")
    # The counters are 32 bits wide: near the top, one may have wrapped (the default frame's
    # busiest block runs 16 times per pixel, so this takes frames far beyond 4K).
    if max(max(c) for c in counts[0].values()) >= 1 << 31:
        faults.append(f"{frame}: a block ran too often to count in 32 bits; use a smaller --size")
    return {k: executed(counts[0][k], m[2], m[3]) for k, m in kernels.items()}, facts, faults


def measure(runner, glslang, trees, frames, size, work):
    """{(tree, kernel, frame): (totals, threads)}, gpu_cost_run's facts per (tree, frame),
    faults."""
    results, facts, faults = {}, {}, []
    os.makedirs(work, exist_ok=True)
    for tree, (folder, found) in trees.items():
        missing = [k for k in KERNELS if k not in found and k not in OPTIONAL]
        if missing:
            faults.append(f"{tree}: no {', '.join(missing)} to run")
            continue
        kernels = {entry: kernel_modules(glslang, folder, entry, found[entry][0],
                                         os.path.join(work, f"{tree}_{entry}"))
                   for entry in KERNELS if entry in found}
        for frame in frames:
            per_kernel, facts[(tree, frame)], frame_faults = measure_frame(
                runner, kernels, frame, size, os.path.join(work, f"{tree}_{frame}"))
            faults += [f"{tree} {fault}" for fault in frame_faults]
            if tree == "today":
                faults += today_faults(frame, facts[(tree, frame)])
            for kernel, figures in per_kernel.items():
                results[(tree, kernel, frame)] = figures
    return results, facts, faults


def today_faults(frame, facts):
    faults = []
    if facts["cpu_differing_texels"]:
        faults.append(f"today {frame}: {facts['cpu_differing_texels']} texels or records differ "
                      "from the CPU build")
    if facts["marks_left"]:
        faults.append(f"today {frame}: {facts['marks_left']} groups still marked after the redo "
                      "pass")
    return faults


def amount(value):
    """An operation count: a tenth where the pass does next to nothing (the redo pass)."""
    return "0" if value == 0 else f"{value:,.1f}" if value < 10 else f"{value:,.0f}"


def total(figures):
    return sum(figures[0].values()) if figures else 0


def table_row(kernel, unit, frame, today, first, pixels):
    units = [pixels if unit == "pixel" else max(r[1], 1) if r else 1 for r in (today, first)]
    per = [total(r) / n if r else None for r, n in zip((today, first), units)]
    return [kernel, frame, unit,
            f"{amount(per[0])} ({amount(per[1])})" if per[1] else f"{amount(per[0])} (-)",
            f"{per[0] / per[1]:.1f}x" if per[1] else "-"] \
        + [amount(today[0][c] / units[0]) for c in spirv_counters.CATEGORIES]


def print_table(results, facts, frames, size):
    width, height = (int(v) for v in size.split("x"))
    pixels = width * height
    print(f"\ndynamic operations at {size}, counted per basic block on lavapipe (glslang, "
          "spirv-opt -O): today's kernel (first release's); FireKernel is the first pass alone")
    head = ["kernel", "frame", "per", "operations", "x first"] + list(spirv_counters.CATEGORIES)
    rows = [head]
    for kernel, unit in (("FireKernel", "pixel"), ("FireKernelRedo", "pixel"),
                         ("AnchorKernel", "thread")):
        for frame in frames:
            today, first = results.get(("today", kernel, frame)), \
                results.get(("first", kernel, frame))
            if today is not None:
                rows.append(table_row(kernel, unit, frame, today, first, pixels))
    widths = [max(len(r[i]) for r in rows) for i in range(len(head))]
    for row in rows:
        print("  ".join(v.ljust(w) for v, w in zip(row, widths)).rstrip())
    for frame in frames:
        print_frame_lines(results, facts.get(("today", frame)), frame, pixels)


def print_frame_lines(results, facts, frame, pixels):
    """The CPU comparison, the marked groups, both passes together and per noise pixel."""
    if facts is None:
        return
    print(f"{frame}: {facts['cpu_differing_texels']} texels or records differ from the CPU build")
    fire, redo = results.get(("today", "FireKernel", frame)), \
        results.get(("today", "FireKernelRedo", frame))
    first = results.get(("first", "FireKernel", frame))
    per_first = total(first) / pixels if first else 0
    # The renderers run the second pass only where the first marked a group; here it always runs.
    runs_redo = redo and facts["any_marked"]
    both = total(fire) + (total(redo) if runs_redo else 0)
    against = f" ({both / pixels / per_first:.1f}x the first release's)" if per_first else ""
    if redo:
        print(f"{frame}: FireKernel marked {facts['marked_groups']:,} of {facts['groups']:,} "
              f"groups, {facts['marks_left']} marks left after FireKernelRedo; the renderers "
              f"{'run' if runs_redo else 'skip'} FireKernelRedo; all they run: "
              f"{amount(both / pixels)} per pixel{against}")
    # The kernels skip the noise of surely dark pixels: the cost of a pixel that evaluates it.
    noise = facts["noise_pixels"]
    if fire and per_first and noise:
        passes = "FireKernel and FireKernelRedo" if runs_redo else "FireKernel"
        print(f"{frame}: {noise / pixels:.1%} of the pixels evaluate the noise; all "
              f"{passes} executed over those pixels alone: {amount(both / noise)} "
              f"({both / noise / per_first:.1f}x the first release's per pixel)")
