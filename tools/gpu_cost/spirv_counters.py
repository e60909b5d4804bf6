"""A counter on every basic block of a compute kernel's SPIR-V, and what each block costs.

instrument() takes the kernel's disassembly (spirv-dis --raw-id) and returns the assembly of the
same kernel with, at the start of every block, an atomic increment of its own element of a
buffer of uint32 counters (descriptor set `counter_set`, binding 0), and the blocks' weights.
The operations a block executes are weighted as below, per vector component of the result where
an operation works per component; a block's weight times its counter is what the block executed.
"""
import re

TRANSCENDENTAL_WEIGHT, GROUP_SHARED_WEIGHT, MEMORY_WEIGHT, OTHER_WEIGHT = 4, 2, 4, 1
CATEGORIES = ("transcendental", "group-shared", "memory", "other")
# GLSL.std.450 instructions that the transcendental unit computes; a float division is a
# reciprocal there, too.
TRANSCENDENTAL = {"Sin", "Cos", "Tan", "Asin", "Acos", "Atan", "Sinh", "Cosh", "Tanh", "Asinh",
                  "Acosh", "Atanh", "Atan2", "Pow", "Exp", "Log", "Exp2", "Log2", "Sqrt",
                  "InverseSqrt"}
TRANSCENDENTAL_OPS = {"OpFDiv", "OpFRem", "OpFMod"}
# Register moves, structure and bookkeeping: no operation of their own.
FREE = {"OpLabel", "OpBranch", "OpSelectionMerge", "OpLoopMerge", "OpReturn", "OpReturnValue",
        "OpUnreachable", "OpKill", "OpFunction", "OpFunctionEnd", "OpFunctionParameter",
        "OpFunctionCall", "OpVariable", "OpLine", "OpNoLine", "OpUndef", "OpPhi", "OpCopyObject",
        "OpCompositeConstruct", "OpCompositeExtract", "OpCompositeInsert", "OpVectorShuffle",
        "OpBitcast", "OpAccessChain", "OpInBoundsAccessChain", "OpPtrAccessChain"}
# Storage a load or store of which only moves registers (after spirv-opt, what is left there is
# arrays indexed at run time), and the handles of images and samplers.
REGISTERS = {"Function", "Private", "UniformConstant"}
LINE = re.compile(r"^\s*(?:(%\w+)\s*=\s*)?(Op\w+)(.*)$")


class Module:
    """What the weights need to know of the module's declarations."""

    def __init__(self):
        self.components, self.pointer_class, self.storage = {}, {}, {}

    def declare(self, result, op, operands):
        if op == "OpTypeVector":
            self.components[result] = int(operands[1])
        elif op == "OpTypePointer":
            self.pointer_class[result] = operands[0]
        elif result and operands and operands[0] in self.pointer_class:
            self.storage[result] = self.pointer_class[operands[0]]

    def width(self, operands):
        return self.components.get(operands[0], 1) if operands else 1


def operation(module, op, operands):
    """(category, weight) of one instruction inside a block."""
    if op in FREE:
        return None, 0
    if op in ("OpLoad", "OpStore") or op.startswith("OpAtomic"):
        pointer = operands[0] if op in ("OpStore", "OpAtomicStore") else operands[1]
        storage = module.storage.get(pointer, "")
        if storage in REGISTERS:
            return None, 0
        if storage == "Workgroup":
            return "group-shared", GROUP_SHARED_WEIGHT
        return "memory", MEMORY_WEIGHT
    if op.startswith("OpImage"):
        return "memory", MEMORY_WEIGHT
    if (op == "OpExtInst" and len(operands) > 2 and operands[2] in TRANSCENDENTAL) or \
            op in TRANSCENDENTAL_OPS:
        return "transcendental", TRANSCENDENTAL_WEIGHT * module.width(operands)
    return "other", OTHER_WEIGHT * module.width(operands)


def parse(assembly):
    """The lines, and per block: its label line's index and its weight per category."""
    lines = assembly.splitlines()
    module, blocks, in_function, function = Module(), [], False, None
    for index, line in enumerate(lines):
        match = LINE.match(line)
        if not match:
            continue
        result, op, rest = match.group(1), match.group(2), match.group(3).split()
        in_function = (in_function or op == "OpFunction") and op != "OpFunctionEnd"
        module.declare(result, op, rest)
        if not in_function:
            continue
        if op == "OpFunction":
            function = result
        elif op == "OpLabel":
            blocks.append({"line": index, "function": function,
                           "weights": dict.fromkeys(CATEGORIES, 0)})
        elif blocks:
            category, weight = operation(module, op, rest)
            if category:
                blocks[-1]["weights"][category] += weight
    return lines, blocks


def counter_declarations(uint, blocks, counter_set):
    decorations = ["OpDecorate %_gc_array ArrayStride 4",
                   "OpMemberDecorate %_gc_block 0 Offset 0",
                   "OpDecorate %_gc_block BufferBlock",
                   f"OpDecorate %_gc_counters DescriptorSet {counter_set}",
                   "OpDecorate %_gc_counters Binding 0"]
    declarations = [f"%_gc_array = OpTypeRuntimeArray {uint}",
                    "%_gc_block = OpTypeStruct %_gc_array",
                    "%_gc_block_pointer = OpTypePointer Uniform %_gc_block",
                    f"%_gc_pointer = OpTypePointer Uniform {uint}",
                    "%_gc_counters = OpVariable %_gc_block_pointer Uniform",
                    f"%_gc_zero = OpConstant {uint} 0",
                    f"%_gc_one = OpConstant {uint} 1",
                    f"%_gc_device = OpConstant {uint} 1",
                    f"%_gc_relaxed = OpConstant {uint} 0"]
    declarations += [f"%_gc_index_{k} = OpConstant {uint} {k}" for k in range(len(blocks))]
    return decorations, declarations


def instrument(assembly, counter_set):
    """(instrumented assembly, block weights, the index of the entry point's first block) of a
    module's disassembly: that block's counter is the number of threads that ran."""
    lines, blocks = parse(assembly)
    uint = next((m.group(1) for m in (re.match(r"^\s*(%\w+) = OpTypeInt 32 0\s*$", line)
                                      for line in lines) if m), None)
    if uint is None or "OpFunction" not in assembly:
        raise ValueError("a module without 32-bit unsigned integers or functions")
    decorations, declarations = counter_declarations(uint, blocks, counter_set)
    after = {}
    for k, block in enumerate(blocks):
        at = block["line"] + 1
        while at < len(lines) and re.search(r"= Op(Phi|Variable)\b|^\s*OpLine\b", lines[at]):
            at += 1
        after.setdefault(at, []).extend([
            f"%_gc_at_{k} = OpAccessChain %_gc_pointer %_gc_counters %_gc_zero %_gc_index_{k}",
            f"%_gc_add_{k} = OpAtomicIAdd {uint} %_gc_at_{k} %_gc_device %_gc_relaxed %_gc_one"])
    last_decoration = max(i for i, line in enumerate(lines)
                          if re.match(r"^\s*Op(Member)?Decorate\b", line))
    first_function = next(i for i, line in enumerate(lines) if re.search(r"= OpFunction\b", line))
    out = []
    for index, line in enumerate(lines):
        out.extend(after.get(index, []))
        if index == first_function:
            out.extend(declarations)
        out.append(line)
        if index == last_decoration:
            out.extend(decorations)
    entry = re.search(r"OpEntryPoint GLCompute (%\w+)", assembly).group(1)
    first = next(k for k, block in enumerate(blocks) if block["function"] == entry)
    return "\n".join(out) + "\n", [block["weights"] for block in blocks], first
