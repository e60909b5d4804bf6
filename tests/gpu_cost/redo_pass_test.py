#!/usr/bin/env python3
"""gpu_cost_run's two fire passes: a first pass that marks every group and writes wrong texels,
then today's FireKernelRedo. The marks must reach the redo pass (the CPU build's bits, no mark
left) and be read between the passes (every group counted as marked); without the redo pass the
same first pass must differ everywhere, or the comparison proves nothing.

usage: redo_pass_test.py BUILD/gpu_cost_run WORK_DIR
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "gpu_cost"))
import dynamic_counts  # noqa: E402
import gpu_cost  # noqa: E402

WIDTH, HEIGHT = 40, 20  # 3 x 3 groups of 16 x 8, the last column and row partly outside


def main():
    runner, work = sys.argv[1:3]
    os.makedirs(work, exist_ok=True)
    glslang = gpu_cost.GLSLANG + ["-I" + gpu_cost.TODAY]
    found = gpu_cost.today_kernels()
    spv = {entry: dynamic_counts.kernel_modules(glslang, gpu_cost.TODAY, entry, found[entry][0],
                                                os.path.join(work, entry))[0]
           for entry in ("AnchorKernel", "FireKernelRedo")}
    spv["FireKernel"] = dynamic_counts.kernel_modules(
        glslang, HERE, "MarkEveryGroup", "mark_every_group.hlsl",
        os.path.join(work, "MarkEveryGroup"))[0]
    size, groups = f"{WIDTH}x{HEIGHT}", 9
    _, both = dynamic_counts.kernel_run(runner, "reference", size, spv, os.path.join(work, "both"))
    del spv["FireKernelRedo"]
    _, first = dynamic_counts.kernel_run(runner, "reference", size, spv,
                                         os.path.join(work, "first"))
    print("both passes:", both, "\nthe first alone:", first)
    expected = ({"cpu_differing_texels": 0, "groups": groups, "marked_groups": groups,
                 "any_marked": 1, "marks_left": 0},
                {"cpu_differing_texels": WIDTH * HEIGHT, "groups": groups,
                 "marked_groups": groups, "any_marked": 1, "marks_left": groups + 1})
    for facts, wanted in zip((both, first), expected):
        if any(facts[k] != v for k, v in wanted.items()):
            sys.exit(f"FAIL: {facts}, expected {wanted}")


if __name__ == "__main__":
    main()
