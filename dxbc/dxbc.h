// A small reader and signer for DXBC containers (compiled Direct3D shaders): the container and
// its chunks, the container checksum, the resource bindings and constant buffers of the RDEF
// chunk, and the header and thread-group declaration of the shader program chunk.
//
// Every read is bounds-checked: the input may be any bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dxbc {

constexpr uint32_t MakeFourCc(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}

constexpr uint32_t kContainerMagic = MakeFourCc('D', 'X', 'B', 'C');
constexpr uint32_t kChunkRdef = MakeFourCc('R', 'D', 'E', 'F');
constexpr uint32_t kChunkShdr = MakeFourCc('S', 'H', 'D', 'R');  // SM4-style program chunk
constexpr uint32_t kChunkShex = MakeFourCc('S', 'H', 'E', 'X');  // SM5 program chunk
constexpr size_t kHeaderSize = 32;  // magic, checksum, version, total size, chunk count

using Checksum = std::array<uint32_t, 4>;

// The container checksum: an MD5 variant over everything after the checksum field (from byte 20
// on) whose final block carries the bit count in its first and last words.
Checksum ComputeChecksum(const uint8_t* container, size_t size);

struct Chunk {
    uint32_t fourCc;
    size_t offset;  // of the chunk's data, past its 8-byte header
    uint32_t size;
};

struct Container {
    Checksum storedChecksum;
    uint32_t totalSize;
    std::vector<Chunk> chunks;

    const Chunk* Find(uint32_t fourCc) const;
};

// Parses the header and the chunk table; every chunk must lie inside the container and the
// container's recorded size must be the buffer's size.
bool ParseContainer(const uint8_t* data, size_t size, Container* container, std::string* error);

// Shader input types and dimensions of RDEF resource bindings (the values of D3D_SHADER_INPUT_TYPE
// and D3D_SRV_DIMENSION).
enum InputType : uint32_t {
    kInputConstantBuffer = 0,
    kInputTexture = 2,
    kInputUavTyped = 4,
    kInputStructured = 5,
    kInputUavStructured = 6,
};
enum Dimension : uint32_t {
    kDimensionUnknown = 0,
    kDimensionBuffer = 1,
    kDimensionTexture2D = 4,
};
enum ReturnType : uint32_t {
    kReturnFloat = 5,
    kReturnMixed = 6,
};
// Variable classes and types (D3D_SHADER_VARIABLE_CLASS / _TYPE).
enum VariableClass : uint16_t { kClassScalar = 0, kClassVector = 1 };
enum VariableType : uint16_t { kTypeInt = 2, kTypeFloat = 3, kTypeUint = 19 };

struct ResourceBinding {
    std::string name;
    uint32_t inputType;
    uint32_t returnType;
    uint32_t dimension;
    uint32_t sampleCountOrStride;  // the element stride for structured buffers
    uint32_t bindPoint;
    uint32_t bindCount;
    uint32_t flags;
};

struct Variable {
    std::string name;
    uint32_t offset;
    uint32_t size;
    uint16_t typeClass;
    uint16_t type;
    uint16_t rows;
    uint16_t columns;
};

struct ConstantBuffer {
    std::string name;
    uint32_t size;
    uint32_t kind;  // 0 a cbuffer, 3 the element description of a structured buffer
    std::vector<Variable> variables;
};

struct Reflection {
    uint32_t programType;  // 0x4353 ("CS") for compute shaders
    uint32_t major;
    uint32_t minor;
    std::string creator;
    std::vector<ResourceBinding> bindings;
    std::vector<ConstantBuffer> constantBuffers;

    const ResourceBinding* FindBinding(const std::string& name) const;
    const ConstantBuffer* FindConstantBuffer(const std::string& name) const;
};

bool ParseReflection(const uint8_t* data, size_t size, const Chunk& rdef, Reflection* reflection,
                     std::string* error);

constexpr uint32_t kProgramCompute = 5;

struct Program {
    uint32_t fourCc;  // kChunkShex or kChunkShdr
    uint32_t programType;
    uint32_t major;
    uint32_t minor;
    bool hasThreadGroup;
    std::array<uint32_t, 3> threadGroup;
    uint32_t globalFlags;             // of dcl_globalFlags (bits 11-23 of its token), 0 without one
    uint32_t impreciseArithmetic;     // float add/mul/mad/div/dp instructions not marked precise
    uint32_t indexableTemps;          // dcl_indexableTemp declarations (arrays in scratch memory)
    uint32_t dynamicConstantBuffers;  // bit n: cb n (below 32) is declared dynamically indexed
};

// An instruction token's precise mask with all four components set.
constexpr uint32_t kPreciseAll = 0xFu << 19;

// dcl_constantBuffer's access pattern: set, the buffer may be read at run-time indices.
constexpr uint32_t kConstantBufferDynamicIndexed = 1u << 11;

// dcl_globalFlags' flag that lets a driver fuse and reorder float arithmetic.
constexpr uint32_t kGlobalFlagRefactoringAllowed = 1u << 11;

// Reads the version token and walks the instructions for the thread-group and global-flags
// declarations.
bool ParseProgram(const uint8_t* data, size_t size, const Chunk& chunk, Program* program,
                  std::string* error);

// Everything of a compiled shader that the readers above understand.
struct Shader {
    Container container;
    Reflection reflection;
    Program program;
};

// Parses container, RDEF and program chunk, and checks the stored checksum.
bool ReadShader(const uint8_t* data, size_t size, Shader* shader, std::string* error);

// Renames an SM5 program chunk written as SHDR to SHEX, marks every float add, multiply,
// multiply-add, division and dot product precise, and re-signs the container. The input's own
// checksum must be valid (ParseProgram has then walked the instructions); the result is a copy.
bool ConvertToShex(const std::vector<uint8_t>& input, std::vector<uint8_t>* output,
                   std::string* error);

// Writes the container checksum of a complete container into its header.
void Sign(std::vector<uint8_t>* container);

}  // namespace dxbc
