// Parsing a container: its chunk table, the reflection (RDEF) and the program (SHEX/SHDR).
#include "dxbc/dxbc.h"

#include <cstring>

#include "dxbc/bounded_reader.h"

namespace dxbc {

const Chunk* Container::Find(uint32_t fourCc) const {
    for (const Chunk& chunk : chunks) {
        if (chunk.fourCc == fourCc) {
            return &chunk;
        }
    }
    return nullptr;
}

bool ParseContainer(const uint8_t* data, size_t size, Container* container, std::string* error) {
    const Bytes bytes(data, size);
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t chunkCount = 0;
    if (!bytes.U32(0, &magic) || magic != kContainerMagic) {
        return Fail(error, "not a DXBC container");
    }
    if (!bytes.U32(20, &version) || !bytes.U32(24, &container->totalSize) ||
        !bytes.U32(28, &chunkCount)) {
        return Fail(error, "truncated container header");
    }
    if (version != 1) {
        return Fail(error, "unknown container version " + std::to_string(version));
    }
    if (container->totalSize != size) {
        return Fail(error, "container size " + std::to_string(container->totalSize) +
                               " differs from its " + std::to_string(size) + " bytes");
    }
    if (chunkCount > (size - kHeaderSize) / 4) {
        return Fail(error, "chunk table larger than the container");
    }
    for (int i = 0; i < 4; ++i) {
        container->storedChecksum[i] = LoadU32(data + 4 + 4 * i);
    }
    container->chunks.clear();
    for (uint32_t i = 0; i < chunkCount; ++i) {
        uint32_t chunkOffset = 0;
        Chunk chunk{};
        if (!bytes.U32(kHeaderSize + 4 * size_t{i}, &chunkOffset) ||
            !bytes.U32(chunkOffset, &chunk.fourCc) ||
            !bytes.U32(size_t{chunkOffset} + 4, &chunk.size)) {
            return Fail(error, "chunk " + std::to_string(i) + " lies outside the container");
        }
        chunk.offset = size_t{chunkOffset} + 8;
        if (!ChunkIsInside(size, chunk)) {
            return Fail(error, "chunk " + std::to_string(i) + " runs past the container's end");
        }
        container->chunks.push_back(chunk);
    }
    return true;
}

const ResourceBinding* Reflection::FindBinding(const std::string& name) const {
    for (const ResourceBinding& binding : bindings) {
        if (binding.name == name) {
            return &binding;
        }
    }
    return nullptr;
}

const ConstantBuffer* Reflection::FindConstantBuffer(const std::string& name) const {
    for (const ConstantBuffer& buffer : constantBuffers) {
        if (buffer.name == name) {
            return &buffer;
        }
    }
    return nullptr;
}

namespace {

// Where RDEF's records are and how large each is; shader model 5 states the sizes in an "RD11"
// header (header, constant buffer, binding, variable, type, member, interface slot count).
struct RdefLayout {
    uint32_t bufferCount = 0;
    uint32_t bufferOffset = 0;
    uint32_t bindingCount = 0;
    uint32_t bindingOffset = 0;
    uint32_t bufferSize = 24;
    uint32_t bindingSize = 32;
    uint32_t variableSize = 24;
};

bool ReadRdefHeader(const Bytes& chunk, uint32_t chunkSize, Reflection* reflection,
                    RdefLayout* layout, std::string* error) {
    uint8_t minor = 0;
    uint8_t major = 0;
    uint16_t programType = 0;
    uint32_t creatorOffset = 0;
    if (!chunk.U32(0, &layout->bufferCount) || !chunk.U32(4, &layout->bufferOffset) ||
        !chunk.U32(8, &layout->bindingCount) || !chunk.U32(12, &layout->bindingOffset) ||
        !chunk.U8(16, &minor) || !chunk.U8(17, &major) || !chunk.U16(18, &programType) ||
        !chunk.U32(24, &creatorOffset)) {
        return Fail(error, "truncated RDEF header");
    }
    reflection->major = major;
    reflection->minor = minor;
    reflection->programType = programType;
    if (!chunk.String(creatorOffset, &reflection->creator)) {
        return Fail(error, "RDEF creator string outside the chunk");
    }
    if (major >= 5) {
        uint32_t tag = 0;
        if (!chunk.U32(28, &tag) || tag != MakeFourCc('R', 'D', '1', '1') ||
            !chunk.U32(36, &layout->bufferSize) || !chunk.U32(40, &layout->bindingSize) ||
            !chunk.U32(44, &layout->variableSize)) {
            return Fail(error, "RDEF without a valid RD11 header");
        }
        if (layout->bufferSize < 24 || layout->bindingSize < 32 || layout->variableSize < 24) {
            return Fail(error, "RDEF record sizes too small");
        }
    }
    if (layout->bindingCount > chunkSize / layout->bindingSize ||
        layout->bufferCount > chunkSize / layout->bufferSize) {
        return Fail(error, "RDEF counts larger than the chunk");
    }
    return true;
}

bool ReadBindings(const Bytes& chunk, const RdefLayout& layout, Reflection* reflection,
                  std::string* error) {
    reflection->bindings.clear();
    for (uint32_t i = 0; i < layout.bindingCount; ++i) {
        const size_t at = size_t{layout.bindingOffset} + size_t{i} * layout.bindingSize;
        ResourceBinding binding;
        uint32_t nameOffset = 0;
        if (!chunk.U32(at, &nameOffset) || !chunk.U32(at + 4, &binding.inputType) ||
            !chunk.U32(at + 8, &binding.returnType) || !chunk.U32(at + 12, &binding.dimension) ||
            !chunk.U32(at + 16, &binding.sampleCountOrStride) ||
            !chunk.U32(at + 20, &binding.bindPoint) || !chunk.U32(at + 24, &binding.bindCount) ||
            !chunk.U32(at + 28, &binding.flags) || !chunk.String(nameOffset, &binding.name)) {
            return Fail(error, "RDEF binding " + std::to_string(i) + " outside the chunk");
        }
        reflection->bindings.push_back(binding);
    }
    return true;
}

// The variables of `buffer`, `count` records from `offset` on.
bool ReadVariables(const Bytes& chunk, const RdefLayout& layout, uint32_t count, uint32_t offset,
                   ConstantBuffer* buffer, std::string* error) {
    for (uint32_t v = 0; v < count; ++v) {
        const size_t vat = size_t{offset} + size_t{v} * layout.variableSize;
        Variable variable;
        uint32_t variableName = 0;
        uint32_t typeOffset = 0;
        if (!chunk.U32(vat, &variableName) || !chunk.U32(vat + 4, &variable.offset) ||
            !chunk.U32(vat + 8, &variable.size) || !chunk.U32(vat + 16, &typeOffset) ||
            !chunk.String(variableName, &variable.name) ||
            !chunk.U16(typeOffset, &variable.typeClass) ||
            !chunk.U16(size_t{typeOffset} + 2, &variable.type) ||
            !chunk.U16(size_t{typeOffset} + 4, &variable.rows) ||
            !chunk.U16(size_t{typeOffset} + 6, &variable.columns)) {
            return Fail(error, "RDEF variable " + std::to_string(v) + " of " + buffer->name +
                                   " outside the chunk");
        }
        buffer->variables.push_back(variable);
    }
    return true;
}

bool ReadConstantBuffers(const Bytes& chunk, uint32_t chunkSize, const RdefLayout& layout,
                         Reflection* reflection, std::string* error) {
    reflection->constantBuffers.clear();
    for (uint32_t i = 0; i < layout.bufferCount; ++i) {
        const size_t at = size_t{layout.bufferOffset} + size_t{i} * layout.bufferSize;
        ConstantBuffer buffer;
        uint32_t nameOffset = 0;
        uint32_t variableCount = 0;
        uint32_t variableOffset = 0;
        if (!chunk.U32(at, &nameOffset) || !chunk.U32(at + 4, &variableCount) ||
            !chunk.U32(at + 8, &variableOffset) || !chunk.U32(at + 12, &buffer.size) ||
            !chunk.U32(at + 20, &buffer.kind) || !chunk.String(nameOffset, &buffer.name)) {
            return Fail(error, "RDEF constant buffer " + std::to_string(i) + " outside the chunk");
        }
        if (variableCount > chunkSize / layout.variableSize) {
            return Fail(error, "RDEF variable count larger than the chunk");
        }
        if (!ReadVariables(chunk, layout, variableCount, variableOffset, &buffer, error)) {
            return false;
        }
        reflection->constantBuffers.push_back(buffer);
    }
    return true;
}

}  // namespace

bool ParseReflection(const uint8_t* data, size_t size, const Chunk& rdef, Reflection* reflection,
                     std::string* error) {
    if (!ChunkIsInside(size, rdef)) {
        return Fail(error, "RDEF chunk outside the container");
    }
    const Bytes chunk(data + rdef.offset, rdef.size);
    RdefLayout layout;
    return ReadRdefHeader(chunk, rdef.size, reflection, &layout, error) &&
           ReadBindings(chunk, layout, reflection, error) &&
           ReadConstantBuffers(chunk, rdef.size, layout, reflection, error);
}

// What the validator needs to know of one instruction: the thread group, the global flags,
// arithmetic without the precise mark, indexable temporaries and dynamically indexed buffers.
bool NoteInstruction(const Bytes& bytes, uint32_t word, uint32_t token, uint32_t length,
                     Program* program, std::string* error) {
    const uint32_t opcode = token & 0x7ff;
    if (opcode == kOpcodeThreadGroup) {
        if (length != 4) {
            return Fail(error, "malformed thread-group declaration");
        }
        for (uint32_t i = 0; i < 3; ++i) {
            bytes.U32(size_t{word + 1 + i} * 4, &program->threadGroup[i]);
        }
        program->hasThreadGroup = true;
    }
    if (opcode == kOpcodeGlobalFlags) {
        program->globalFlags = token & 0x00FFF800u;
    }
    if (IsFusableArithmetic(opcode) && (token & kPreciseAll) != kPreciseAll) {
        ++program->impreciseArithmetic;
    }
    if (opcode == kOpcodeIndexableTemp) {
        ++program->indexableTemps;
    }
    uint32_t bufferRegister = 0;
    if (opcode == kOpcodeConstantBuffer && length >= 4 &&
        bytes.U32(size_t{word + 2} * 4, &bufferRegister) && bufferRegister < 32 &&
        (token & kConstantBufferDynamicIndexed) != 0) {
        program->dynamicConstantBuffers |= 1u << bufferRegister;
    }
    return true;
}

bool ParseProgram(const uint8_t* data, size_t size, const Chunk& chunk, Program* program,
                  std::string* error) {
    if (!ChunkIsInside(size, chunk)) {
        return Fail(error, "program chunk outside the container");
    }
    const Bytes bytes(data + chunk.offset, chunk.size);
    uint32_t version = 0;
    uint32_t lengthInWords = 0;
    if (!bytes.U32(0, &version) || !bytes.U32(4, &lengthInWords)) {
        return Fail(error, "truncated program header");
    }
    program->fourCc = chunk.fourCc;
    program->minor = version & 0xf;
    program->major = (version >> 4) & 0xf;
    program->programType = version >> 16;
    program->hasThreadGroup = false;
    program->threadGroup = {0, 0, 0};
    program->globalFlags = 0;
    program->impreciseArithmetic = 0;
    program->indexableTemps = 0;
    program->dynamicConstantBuffers = 0;
    if (lengthInWords < 2 || lengthInWords > chunk.size / 4) {
        return Fail(error, "program length does not fit its chunk");
    }
    uint32_t word = 2;
    while (word < lengthInWords) {
        uint32_t token = 0;
        bytes.U32(size_t{word} * 4, &token);
        const uint32_t opcode = token & 0x7ff;
        uint32_t length = (token >> 24) & 0x7f;
        if (opcode == kOpcodeCustomData) {
            if (!bytes.U32(size_t{word} * 4 + 4, &length)) {
                return Fail(error, "truncated custom-data block");
            }
        }
        if (length == 0 || length > lengthInWords - word) {
            return Fail(error, "malformed instruction at word " + std::to_string(word));
        }
        if (!NoteInstruction(bytes, word, token, length, program, error)) return false;
        word += length;
    }
    return true;
}

bool ReadShader(const uint8_t* data, size_t size, Shader* shader, std::string* error) {
    if (!ParseContainer(data, size, &shader->container, error)) {
        return false;
    }
    if (ComputeChecksum(data, size) != shader->container.storedChecksum) {
        return Fail(error, "container checksum does not match its contents");
    }
    const Chunk* rdef = shader->container.Find(kChunkRdef);
    if (rdef == nullptr) {
        return Fail(error, "no RDEF chunk");
    }
    if (!ParseReflection(data, size, *rdef, &shader->reflection, error)) {
        return false;
    }
    const Chunk* program = shader->container.Find(kChunkShex);
    if (program == nullptr) {
        program = shader->container.Find(kChunkShdr);
    }
    if (program == nullptr) {
        return Fail(error, "no SHEX or SHDR program chunk");
    }
    return ParseProgram(data, size, *program, &shader->program, error);
}

}  // namespace dxbc
