#include "dxbc/kernel_validation.h"

#include <cstddef>

#include "dxbc/dxbc.h"
#include "kernels/conversion_block.h"
#include "kernels/params_block.h"

namespace dxbc {

using pyrix::AnchorRecord;
using pyrix::ConversionBlock;
using pyrix::kAnchorGroupThreads;
using pyrix::kConvertGroupWidth;
using pyrix::kFireGroupHeight;
using pyrix::kFireGroupWidth;
using pyrix::OutputBlock;
using pyrix::ParamsBlock;
using pyrix::TablesBlock;

namespace {

constexpr uint32_t kComputeReflectionType = 0x4353;  // "CS"

struct ExpectedBinding {
    const char* name;
    uint32_t inputType;
    uint32_t bindPoint;
    uint32_t dimension;
    uint32_t returnType;
    // Structured buffers only: the element's size, component type and count (1: a scalar).
    uint32_t stride;
    uint16_t elementType;
    uint32_t elementColumns;
};

struct ExpectedField {
    const char* name;
    uint32_t offset;
    uint16_t type;
};

// The Params constant buffer as the host writes it.
const ExpectedField kParamsFields[] = {
    {"width", offsetof(ParamsBlock, width), kTypeUint},
    {"height", offsetof(ParamsBlock, height), kTypeUint},
    {"originX", offsetof(ParamsBlock, originX), kTypeInt},
    {"originY", offsetof(ParamsBlock, originY), kTypeInt},
    {"fullWidth", offsetof(ParamsBlock, fullWidth), kTypeFloat},
    {"fullHeight", offsetof(ParamsBlock, fullHeight), kTypeFloat},
    {"detail", offsetof(ParamsBlock, detail), kTypeFloat},
    {"time", offsetof(ParamsBlock, time), kTypeFloat},
    {"shiftX", offsetof(ParamsBlock, shiftX), kTypeFloat},
    {"shiftY", offsetof(ParamsBlock, shiftY), kTypeFloat},
    {"emitterSize", offsetof(ParamsBlock, emitterSize), kTypeFloat},
    {"softness", offsetof(ParamsBlock, softness), kTypeFloat},
};

struct ExpectedArray {
    const char* name;
    uint32_t offset;
    uint32_t size;
    uint16_t type;
};

// The Tables constant buffer as MakeTablesBlock fills it: arrays of 4-component vectors.
const ExpectedArray kTablesArrays[] = {
    {"exp2Table", offsetof(TablesBlock, exp2), sizeof(TablesBlock::exp2), kTypeFloat},
    {"log2Table", offsetof(TablesBlock, log2), sizeof(TablesBlock::log2), kTypeFloat},
    {"twoOverPiTable", offsetof(TablesBlock, twoOverPi), sizeof(TablesBlock::twoOverPi), kTypeUint},
    {"inverseFactorialTable", offsetof(TablesBlock, inverseFactorials),
     sizeof(TablesBlock::inverseFactorials), kTypeUint},
};
constexpr uint32_t kTablesRegister = 1;

const ExpectedBinding kFireBindings[] = {
    {"Params", kInputConstantBuffer, 0, kDimensionUnknown, 0, 0, 0, 0},
    {"Tables", kInputConstantBuffer, kTablesRegister, kDimensionUnknown, 0, 0, 0, 0},
    {"anchorInput", kInputStructured, 0, kDimensionBuffer, kReturnMixed, sizeof(AnchorRecord),
     kTypeFloat, 4},
    {"output", kInputUavTyped, 0, kDimensionTexture2D, kReturnFloat, 0, 0, 0},
    {"redoGroups", kInputUavStructured, 3, kDimensionBuffer, kReturnMixed, sizeof(uint32_t),
     kTypeUint, 1},
};

// FireKernelToBuffer: the host's GPU buffer instead of the texture, with its row pitch.
const ExpectedBinding kFireBufferBindings[] = {
    {"Params", kInputConstantBuffer, 0, kDimensionUnknown, 0, 0, 0, 0},
    {"Tables", kInputConstantBuffer, kTablesRegister, kDimensionUnknown, 0, 0, 0, 0},
    {"Output", kInputConstantBuffer, 2, kDimensionUnknown, 0, 0, 0, 0},
    {"anchorInput", kInputStructured, 0, kDimensionBuffer, kReturnMixed, sizeof(AnchorRecord),
     kTypeFloat, 4},
    {"worldPixels", kInputUavStructured, 2, kDimensionBuffer, kReturnMixed, 4 * sizeof(uint32_t),
     kTypeUint, 4},
    {"redoGroups", kInputUavStructured, 3, kDimensionBuffer, kReturnMixed, sizeof(uint32_t),
     kTypeUint, 1},
};

const ExpectedField kOutputFields[] = {
    {"rowPitch", offsetof(OutputBlock, rowPitch), kTypeUint},
};

const ExpectedBinding kAnchorBindings[] = {
    {"Params", kInputConstantBuffer, 0, kDimensionUnknown, 0, 0, 0, 0},
    {"Tables", kInputConstantBuffer, kTablesRegister, kDimensionUnknown, 0, 0, 0, 0},
    {"anchorOutput", kInputUavStructured, 1, kDimensionBuffer, kReturnMixed, sizeof(AnchorRecord),
     kTypeFloat, 4},
};

// ConvertKernel: its own constant buffer, the fire texture read through a view, packed words.
const ExpectedField kConversionFields[] = {
    {"width", offsetof(ConversionBlock, width), kTypeUint},
    {"rows", offsetof(ConversionBlock, rows), kTypeUint},
    {"pixelWords", offsetof(ConversionBlock, pixelWords), kTypeUint},
    {"unused", offsetof(ConversionBlock, unused), kTypeUint},
};

const ExpectedBinding kConvertBindings[] = {
    {"Conversion", kInputConstantBuffer, 0, kDimensionUnknown, 0, 0, 0, 0},
    {"fireImage", kInputTexture, 0, kDimensionTexture2D, kReturnFloat, 0, 0, 0},
    {"pixels", kInputUavStructured, 0, kDimensionBuffer, kReturnMixed, sizeof(uint32_t), kTypeUint,
     1},
};

// The constant buffer `name`, with a problem noted when it is missing (null) or not `size` bytes.
const ConstantBuffer* FindConstants(const Reflection& reflection, const std::string& name,
                                    size_t size, std::vector<std::string>* problems) {
    const ConstantBuffer* buffer = reflection.FindConstantBuffer(name);
    if (buffer == nullptr) {
        problems->push_back("no constant buffer " + name);
    } else if (buffer->size != size) {
        problems->push_back(name + " is " + std::to_string(buffer->size) + " bytes, not " +
                            std::to_string(size));
    }
    return buffer;
}

void CheckConstants(const Reflection& reflection, const std::string& name, size_t size,
                    const ExpectedField* fields, size_t fieldCount,
                    std::vector<std::string>* problems) {
    const ConstantBuffer* params = FindConstants(reflection, name, size, problems);
    if (params == nullptr) return;
    if (params->variables.size() != fieldCount) {
        problems->push_back(name + " has " + std::to_string(params->variables.size()) +
                            " fields, not " + std::to_string(fieldCount));
        return;
    }
    for (size_t i = 0; i < fieldCount; ++i) {
        const Variable& variable = params->variables[i];
        const ExpectedField& field = fields[i];
        if (variable.name != field.name || variable.offset != field.offset || variable.size != 4 ||
            variable.typeClass != kClassScalar || variable.type != field.type) {
            problems->push_back(name + " field " + std::to_string(i) + " is " + variable.name +
                                " at " + std::to_string(variable.offset) + ", expected " +
                                field.name + " at " + std::to_string(field.offset));
        }
    }
}

// The tables are read at run-time indices, so their buffer must be declared so.
void CheckTables(const Shader& shader, std::vector<std::string>* problems) {
    const ConstantBuffer* tables =
        FindConstants(shader.reflection, "Tables", sizeof(TablesBlock), problems);
    if (tables == nullptr) return;
    const size_t count = sizeof(kTablesArrays) / sizeof(kTablesArrays[0]);
    for (size_t i = 0; i < count; ++i) {
        const ExpectedArray& want = kTablesArrays[i];
        const Variable* variable = i < tables->variables.size() ? &tables->variables[i] : nullptr;
        if (variable == nullptr || variable->name != want.name || variable->offset != want.offset ||
            variable->size != want.size || variable->typeClass != kClassVector ||
            variable->type != want.type || variable->columns != 4) {
            problems->push_back(std::string("Tables field ") + std::to_string(i) +
                                " is not the array " + want.name + " at " +
                                std::to_string(want.offset));
        }
    }
    if ((shader.program.dynamicConstantBuffers & (1u << kTablesRegister)) == 0) {
        problems->push_back("Tables (cb1) is not declared dynamically indexed");
    }
}

void CheckParams(const Reflection& reflection, std::vector<std::string>* problems) {
    CheckConstants(reflection, "Params", sizeof(ParamsBlock), kParamsFields,
                   sizeof(kParamsFields) / sizeof(kParamsFields[0]), problems);
}

// A structured buffer's element is described as a constant buffer of the resource's name.
void CheckElement(const Reflection& reflection, const ExpectedBinding& want,
                  std::vector<std::string>* problems) {
    const std::string name = want.name;
    const ConstantBuffer* element = reflection.FindConstantBuffer(name);
    if (element == nullptr || element->variables.size() != 1) {
        problems->push_back("no element description for " + name);
        return;
    }
    const Variable& variable = element->variables[0];
    const uint16_t typeClass = want.elementColumns == 1 ? kClassScalar : kClassVector;
    if (variable.typeClass != typeClass || variable.type != want.elementType ||
        variable.columns != want.elementColumns || variable.rows != 1 ||
        variable.size != want.stride) {
        problems->push_back("element of " + name + " is not " +
                            (want.elementType == kTypeFloat ? "float" : "uint") +
                            (want.elementColumns == 1 ? "" : std::to_string(want.elementColumns)));
    }
}

void CheckBindings(const Reflection& reflection, const ExpectedBinding* expected, size_t count,
                   std::vector<std::string>* problems) {
    if (reflection.bindings.size() != count) {
        problems->push_back(std::to_string(reflection.bindings.size()) + " bindings, expected " +
                            std::to_string(count));
    }
    for (size_t i = 0; i < count; ++i) {
        const ExpectedBinding& want = expected[i];
        const ResourceBinding* binding = reflection.FindBinding(want.name);
        if (binding == nullptr) {
            problems->push_back(std::string("no binding ") + want.name);
            continue;
        }
        const std::string prefix = std::string("binding ") + want.name + ": ";
        if (binding->inputType != want.inputType) {
            problems->push_back(prefix + "input type " + std::to_string(binding->inputType) +
                                ", expected " + std::to_string(want.inputType));
        }
        if (binding->bindPoint != want.bindPoint || binding->bindCount != 1) {
            problems->push_back(prefix + "register " + std::to_string(binding->bindPoint) +
                                " (count " + std::to_string(binding->bindCount) + "), expected " +
                                std::to_string(want.bindPoint));
        }
        if (want.inputType == kInputConstantBuffer) {
            continue;
        }
        if (binding->dimension != want.dimension || binding->returnType != want.returnType) {
            problems->push_back(prefix + "dimension " + std::to_string(binding->dimension) +
                                " return type " + std::to_string(binding->returnType));
        }
        if (want.stride != 0) {
            if (binding->sampleCountOrStride != want.stride) {
                problems->push_back(prefix + "stride " +
                                    std::to_string(binding->sampleCountOrStride));
            }
            CheckElement(reflection, want, problems);
        }
    }
}

void CheckConversion(const Reflection& reflection, std::vector<std::string>* problems) {
    CheckBindings(reflection, kConvertBindings,
                  sizeof(kConvertBindings) / sizeof(kConvertBindings[0]), problems);
    CheckConstants(reflection, "Conversion", sizeof(ConversionBlock), kConversionFields,
                   sizeof(kConversionFields) / sizeof(kConversionFields[0]), problems);
}

// The bindings and constant buffers the renderer sets for the kernel.
void CheckInterface(KernelKind kind, const Shader& shader, std::vector<std::string>* problems) {
    const Reflection& reflection = shader.reflection;
    if (kind == KernelKind::kConvert) {
        CheckConversion(reflection, problems);
        return;
    }
    if (kind == KernelKind::kFire) {
        CheckBindings(reflection, kFireBindings, sizeof(kFireBindings) / sizeof(kFireBindings[0]),
                      problems);
    } else if (kind == KernelKind::kFireBuffer) {
        CheckBindings(reflection, kFireBufferBindings,
                      sizeof(kFireBufferBindings) / sizeof(kFireBufferBindings[0]), problems);
        CheckConstants(reflection, "Output", sizeof(OutputBlock), kOutputFields,
                       sizeof(kOutputFields) / sizeof(kOutputFields[0]), problems);
    } else {
        CheckBindings(reflection, kAnchorBindings,
                      sizeof(kAnchorBindings) / sizeof(kAnchorBindings[0]), problems);
    }
    CheckParams(reflection, problems);
    CheckTables(shader, problems);
}

}  // namespace

std::vector<std::string> ValidateKernel(KernelKind kind, const uint8_t* data, size_t size) {
    std::vector<std::string> problems;
    Shader shader;
    std::string error;
    if (!ReadShader(data, size, &shader, &error)) {
        problems.push_back(error);
        return problems;
    }
    const Program& program = shader.program;
    if (program.fourCc != kChunkShex) {
        problems.push_back("program chunk is not SHEX");
    }
    if (program.programType != kProgramCompute || program.major != 5 || program.minor != 0) {
        problems.push_back("program is not a shader model 5.0 compute shader (type " +
                           std::to_string(program.programType) + ", " +
                           std::to_string(program.major) + "." + std::to_string(program.minor) +
                           ")");
    }
    const Reflection& reflection = shader.reflection;
    if (reflection.programType != kComputeReflectionType || reflection.major != 5 ||
        reflection.minor != 0) {
        problems.push_back("reflection is not for a cs_5_0 shader");
    }
    const std::array<uint32_t, 3> group =
        kind == KernelKind::kFire || kind == KernelKind::kFireBuffer
            ? std::array<uint32_t, 3>{kFireGroupWidth, kFireGroupHeight, 1}
        : kind == KernelKind::kConvert ? std::array<uint32_t, 3>{kConvertGroupWidth, 1, 1}
                                       : std::array<uint32_t, 3>{kAnchorGroupThreads, 1, 1};
    if (!program.hasThreadGroup) {
        problems.push_back("no thread-group declaration");
    } else if (program.threadGroup != group) {
        problems.push_back("thread group " + std::to_string(program.threadGroup[0]) + "x" +
                           std::to_string(program.threadGroup[1]) + "x" +
                           std::to_string(program.threadGroup[2]) + ", expected " +
                           std::to_string(group[0]) + "x" + std::to_string(group[1]) + "x" +
                           std::to_string(group[2]));
    }
    // Without refactoring allowed no driver may fuse a multiply and an add or reorder the
    // arithmetic: the exact operations of the fire field depend on it.
    if ((program.globalFlags & kGlobalFlagRefactoringAllowed) != 0) {
        problems.push_back("dcl_globalFlags allows refactoring");
    }
    if (program.impreciseArithmetic != 0) {
        problems.push_back(std::to_string(program.impreciseArithmetic) +
                           " float add/multiply instructions not marked precise");
    }
    // Dynamically indexed temporaries live in scratch memory on real GPUs, not in registers.
    if (program.indexableTemps != 0) {
        problems.push_back(std::to_string(program.indexableTemps) +
                           " indexable temporary arrays (dcl_indexableTemp)");
    }
    CheckInterface(kind, shader, &problems);
    return problems;
}

}  // namespace dxbc
