#!/usr/bin/env python3
"""The block counters of gpu_cost: the weight of each kind of operation, and a module that still
assembles and validates with one counter per block."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "gpu_cost"))
import spirv_counters  # noqa: E402

KERNEL = """OpCapability Shader
%1 = OpExtInstImport "GLSL.std.450"
OpMemoryModel Logical GLSL450
OpEntryPoint GLCompute %main "main"
OpExecutionMode %main LocalSize 4 1 1
OpDecorate %image DescriptorSet 0
OpDecorate %image Binding 0
%void = OpTypeVoid
%fn = OpTypeFunction %void
%uint = OpTypeInt 32 0
%float = OpTypeFloat 32
%v2float = OpTypeVector %float 2
%v4float = OpTypeVector %float 4
%bool = OpTypeBool
%uint_0 = OpConstant %uint 0
%uint_8 = OpConstant %uint 8
%float_1 = OpConstant %float 1
%v2one = OpConstantComposite %v2float %float_1 %float_1
%v4one = OpConstantComposite %v4float %float_1 %float_1 %float_1 %float_1
%shared_array = OpTypeArray %float %uint_8
%shared_pointer = OpTypePointer Workgroup %shared_array
%shared_float = OpTypePointer Workgroup %float
%shared = OpVariable %shared_pointer Workgroup
%local_pointer = OpTypePointer Function %float
%image_type = OpTypeImage %float 2D 0 0 0 2 Rgba32f
%image_pointer = OpTypePointer UniformConstant %image_type
%image = OpVariable %image_pointer UniformConstant
%v2uint = OpTypeVector %uint 2
%coordinate = OpConstantComposite %v2uint %uint_0 %uint_0
%main = OpFunction %void None %fn
%entry = OpLabel
%local = OpVariable %local_pointer Function
%element = OpAccessChain %shared_float %shared %uint_0
%loaded = OpLoad %float %element
%sine = OpExtInst %float %1 Sin %loaded
%sum = OpFAdd %v4float %v4one %v4one
%quotient = OpFDiv %v2float %v2one %v2one
OpStore %local %sine
%positive = OpFOrdGreaterThan %bool %sine %float_1
OpSelectionMerge %done None
OpBranchConditional %positive %write %done
%write = OpLabel
%target = OpLoad %image_type %image
OpImageWrite %target %coordinate %sum
OpBranch %done
%done = OpLabel
OpReturn
OpFunctionEnd
"""


class SpirvCountersTest(unittest.TestCase):
    def test_weights_per_kind_of_operation(self):
        _, weights, first = spirv_counters.instrument(KERNEL, 3)
        self.assertEqual(first, 0)
        # Sin (4) and a two-wide division (2 x 4); a shared load; a four-wide add, a compare and
        # the branch; the local store, the access chain and the merge cost nothing.
        self.assertEqual(weights[0], {"transcendental": 12, "group-shared": 2, "memory": 0,
                                      "other": 6})
        # The image's handle is no memory access, the write is.
        self.assertEqual(weights[1], {"transcendental": 0, "group-shared": 0, "memory": 4,
                                      "other": 0})
        self.assertEqual(weights[2], dict.fromkeys(spirv_counters.CATEGORIES, 0))

    def test_instrumented_module_validates_with_a_counter_per_block(self):
        text, weights, _ = spirv_counters.instrument(KERNEL, 3)
        self.assertEqual(text.count("OpAtomicIAdd"), len(weights))
        with tempfile.TemporaryDirectory() as work:
            source, binary = os.path.join(work, "k.spvasm"), os.path.join(work, "k.spv")
            with open(source, "w") as out:
                out.write(text)
            subprocess.run(["spirv-as", "--target-env", "vulkan1.0", source, "-o", binary],
                           check=True)
            subprocess.run(["spirv-val", "--target-env", "vulkan1.0", binary], check=True)
            listing = subprocess.run(["spirv-dis", binary], check=True, capture_output=True,
                                     text=True).stdout
        self.assertIn("DescriptorSet 3", listing)


if __name__ == "__main__":
    unittest.main()
