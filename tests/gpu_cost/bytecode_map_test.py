#!/usr/bin/env python3
"""Which bytecode gpu_cost measures for each kernel: today's from kernel_list of
tools/dxbc/compile_kernels.sh, each entry its own file; the first release's named after its
source."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "gpu_cost"))
import gpu_cost  # noqa: E402

SCRIPT = '''kernels="x"
# kind:entry point:source:output
kernel_list=("fire:FireKernel:fire_kernel:fire_kernel"
             "firebuffer:FireKernelToBuffer:fire_kernel:fire_buffer_kernel")
names=()
'''


class BytecodeMap(unittest.TestCase):
    def test_the_list_across_lines(self):
        self.assertEqual(gpu_cost.kernel_list(SCRIPT),
                         {"FireKernel": ("fire_kernel.hlsl", "fire_kernel.dxbc"),
                          "FireKernelToBuffer": ("fire_kernel.hlsl", "fire_buffer_kernel.dxbc")})

    def test_a_malformed_item_or_no_list_is_refused(self):
        with self.assertRaises(RuntimeError):
            gpu_cost.kernel_list(SCRIPT.replace("fire:FireKernel:", "FireKernel:"))
        with self.assertRaises(RuntimeError):
            gpu_cost.kernel_list("names=()\n")

    def test_every_kernel_of_today_has_a_file_of_its_own(self):
        found = gpu_cost.today_kernels()
        files = [dxbc for _, dxbc in found.values()]
        self.assertNotIn(None, files, found)
        self.assertEqual(len(set(files)), len(files), found)

    def test_every_first_release_kernel_has_its_file(self):
        found = gpu_cost.find_kernels(gpu_cost.FIRST_RELEASE)
        self.assertEqual(set(found), {"AnchorKernel", "FireKernel"})
        self.assertNotIn(None, [dxbc for _, dxbc in found.values()], found)


if __name__ == "__main__":
    unittest.main()
