"""The operations AnchorKernel and FireKernel execute on a real frame: each compiled from its HLSL
by glslang, optimised by spirv-opt -O, given a counter on every basic block (spirv_counters.py)
and run by gpu_cost_run on lavapipe with the constants the renderer builds for the frame.

Each frame runs three times: uninstrumented, then instrumented twice. The instrumented runs must
produce the bits of the uninstrumented one, and the same counts as each other; today's kernels
must produce the bits of the CPU build.
"""
import array
import os
import subprocess

import spirv_counters

COUNTER_SET = 1
# Bytes for constant buffers besides the frame's ParamsBlock: gpu_cost_run's --uniform values.
UNIFORMS = []


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


def kernel_run(runner, frame, size, anchor, fire, out, counted):
    os.makedirs(out, exist_ok=True)
    command = [runner, "--frame", frame, "--size", size, "--anchor", anchor, "--fire", fire,
               "--out", out] + [word for u in UNIFORMS for word in ("--uniform", u)]
    environment = dict(os.environ, MESA_SHADER_CACHE_DISABLE="true")
    lines = run(command + (["--counters-set", str(COUNTER_SET)] if counted else []),
                env=environment)
    fields = dict(line.split("\t", 1) for line in lines.splitlines() if "\t" in line)
    with open(os.path.join(out, "image.bin"), "rb") as image, \
            open(os.path.join(out, "anchor.bin"), "rb") as record:
        return image.read() + record.read(), (int(fields["cpu_differing_texels"]),
                                              int(fields["noise_pixels"]))


def executed(counts, weights, first):
    """Per category, what the kernel executed; and how many threads ran it."""
    totals = dict.fromkeys(spirv_counters.CATEGORIES, 0)
    for count, block in zip(counts, weights):
        for category, weight in block.items():
            totals[category] += count * weight
    return totals, counts[first]


def measure_frame(runner, kernels, frame, size, work):
    """{kernel: (totals, threads)} for one frame, and what its checks found wrong."""
    (anchor, anchor_counted, anchor_weights, anchor_first), \
        (fire, fire_counted, fire_weights, fire_first) = kernels
    plain, cpu = kernel_run(runner, frame, size, anchor, fire, f"{work}_plain", False)
    faults, counts = [], []
    for attempt in ("a", "b"):
        out = f"{work}_counted_{attempt}"
        output, _ = kernel_run(runner, frame, size, anchor_counted, fire_counted, out, True)
        if output != plain:
            faults.append(f"{frame}: the instrumented run {attempt} changed the output")
        counts.append((read(os.path.join(out, "anchor_counts.bin")),
                       read(os.path.join(out, "fire_counts.bin"))))
    if counts[0] != counts[1]:
        faults.append(f"{frame}: the counts differ between two runs")
    anchor_counts, fire_counts = counts[0]
    width, height = (int(v) for v in size.split("x"))
    if fire_counts[fire_first] < width * height or anchor_counts[anchor_first] < 1:
        faults.append(f"{frame}: fewer threads counted than ran")
    # The counters are 32 bits wide: near the top, one may have wrapped (the default frame's
    # busiest block runs 16 times per pixel, so this takes frames far beyond 4K).
    if max(max(anchor_counts), max(fire_counts)) >= 1 << 31:
        faults.append(f"{frame}: a block ran too often to count in 32 bits; use a smaller --size")
    return {"AnchorKernel": executed(anchor_counts, anchor_weights, anchor_first),
            "FireKernel": executed(fire_counts, fire_weights, fire_first)}, cpu, faults


def measure(runner, glslang, trees, frames, size, work):
    """{(tree, kernel, frame): (totals, threads)}, the CPU comparison per (tree, frame), faults."""
    results, cpu, faults = {}, {}, []
    os.makedirs(work, exist_ok=True)
    for tree, (folder, found) in trees.items():
        missing = [k for k in ("AnchorKernel", "FireKernel") if k not in found]
        if missing:
            faults.append(f"{tree}: no {', '.join(missing)} to run")
            continue
        kernels = [kernel_modules(glslang, folder, entry, found[entry][0],
                                  os.path.join(work, f"{tree}_{entry}"))
                   for entry in ("AnchorKernel", "FireKernel")]
        for frame in frames:
            per_kernel, cpu[(tree, frame)], frame_faults = measure_frame(
                runner, kernels, frame, size, os.path.join(work, f"{tree}_{frame}"))
            faults += [f"{tree} {fault}" for fault in frame_faults]
            if tree == "today" and cpu[(tree, frame)][0]:
                faults.append(f"today {frame}: {cpu[(tree, frame)][0]} texels or records differ "
                              "from the CPU build")
            for kernel, figures in per_kernel.items():
                results[(tree, kernel, frame)] = figures
    return results, cpu, faults


def print_table(results, cpu, frames, size):
    width, height = (int(v) for v in size.split("x"))
    print(f"\ndynamic operations at {size}, counted per basic block on lavapipe (glslang, "
          "spirv-opt -O): today's kernel (first release's)")
    head = ["kernel", "frame", "per", "operations", "x first"] + list(spirv_counters.CATEGORIES)
    rows = [head]
    for kernel, unit in (("FireKernel", "pixel"), ("AnchorKernel", "thread")):
        for frame in frames:
            today, first = results.get(("today", kernel, frame)), \
                results.get(("first", kernel, frame))
            if today is None:
                continue
            units = [width * height if unit == "pixel" else max(r[1], 1) if r else 1
                     for r in (today, first)]
            per = [sum(r[0].values()) / n if r else None for r, n in zip((today, first), units)]
            rows.append([kernel, frame, unit,
                         f"{per[0]:,.0f} ({per[1]:,.0f})" if per[1] else f"{per[0]:,.0f}",
                         f"{per[0] / per[1]:.1f}x" if per[1] else "-"]
                        + [f"{today[0][c] / units[0]:,.0f}" for c in spirv_counters.CATEGORIES])
    widths = [max(len(r[i]) for r in rows) for i in range(len(head))]
    for row in rows:
        print("  ".join(v.ljust(w) for v, w in zip(row, widths)).rstrip())
    for (tree, frame), (differing, noise) in sorted(cpu.items()):
        if tree == "today":
            print(f"{frame}: {differing} texels or records differ from the CPU build")
    # The kernels skip the noise of surely dark pixels: the cost of a pixel that evaluates it.
    for frame in frames:
        fire, first = results.get(("today", "FireKernel", frame)), \
            results.get(("first", "FireKernel", frame))
        noise = cpu.get(("today", frame), (0, 0))[1]
        if fire and first and noise:
            per_noise = sum(fire[0].values()) / noise
            per_first = sum(first[0].values()) / (width * height)
            print(f"{frame}: {noise / (width * height):.1%} of the pixels evaluate the noise; "
                  f"all FireKernel executed over those pixels alone: {per_noise:,.0f} "
                  f"({per_noise / per_first:.1f}x the first release's per pixel)")
