#!/usr/bin/env python3
"""gpu_cost_stats builds each pipeline's layout from the module itself: a kernel with one resource
of each kind compiles on RADV, with every binding of the kind the HLSL declares.

usage: layout_test.py BUILD/gpu_cost_stats WORK_DIR
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "gpu_cost"))
import gpu_cost  # noqa: E402

# glslang's bindings: b at 0, t from 16, u from 32, s from 48 (gpu_cost.GLSLANG).
EXPECTED = {("0", "0"): "uniform_buffer", ("0", "1"): "uniform_buffer",
            ("0", "16"): "storage_buffer", ("0", "17"): "sampled_image",
            ("0", "18"): "uniform_texel_buffer", ("0", "32"): "storage_image",
            ("0", "33"): "storage_buffer", ("0", "34"): "storage_texel_buffer",
            ("0", "48"): "sampler"}


def main():
    stats, work = sys.argv[1:3]
    os.makedirs(work, exist_ok=True)
    spv = os.path.join(work, "every_resource.spv")
    gpu_cost.run(gpu_cost.GLSLANG + ["-e", "EveryResource", "-o", spv, "every_resource.hlsl"],
                 cwd=HERE)
    environment = dict(os.environ, RADV_FORCE_FAMILY="navi21", MESA_SHADER_CACHE_DISABLE="true")
    done = subprocess.run([stats, spv], capture_output=True, text=True, env=environment)
    print(done.stdout, done.stderr)
    lines = [line.split("\t") for line in done.stdout.splitlines()]
    found = {(w[1], w[2]): w[3] for w in lines if w[0] == "binding"}
    if done.returncode != 0 or found != EXPECTED:
        sys.exit(f"FAIL: exit {done.returncode}, bindings {found}, expected {EXPECTED}")
    if not any(w[0] == "statistic" and w[1] == "VGPRs" and int(w[2]) > 0 for w in lines):
        sys.exit("FAIL: no VGPRs reported")


if __name__ == "__main__":
    main()
