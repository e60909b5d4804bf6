#include "dxbc/dxbc.h"

#include <cstring>

namespace dxbc {

namespace {

// ------------------------------------------------------------------------------- checksum

constexpr uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr uint32_t kMd5Shifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                     5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                     4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                     6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

uint32_t LoadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void StoreU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

uint32_t RotateLeft(uint32_t value, uint32_t bits) {
    return (value << bits) | (value >> (32 - bits));
}

void Md5Block(Checksum& state, const uint8_t* block) {
    uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        words[i] = LoadU32(block + 4 * i);
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    for (uint32_t i = 0; i < 64; ++i) {
        uint32_t f;
        uint32_t g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t rotated = RotateLeft(a + f + kMd5Sines[i] + words[g], kMd5Shifts[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// ------------------------------------------------------------------------- bounded reads

class Bytes {
  public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool U32(size_t offset, uint32_t* value) const {
        if (offset > size_ || size_ - offset < 4) {
            return false;
        }
        *value = LoadU32(data_ + offset);
        return true;
    }
    bool U16(size_t offset, uint16_t* value) const {
        if (offset > size_ || size_ - offset < 2) {
            return false;
        }
        *value = static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool U8(size_t offset, uint8_t* value) const {
        if (offset >= size_) {
            return false;
        }
        *value = data_[offset];
        return true;
    }
    // A zero-terminated string that ends inside the range.
    bool String(size_t offset, std::string* value) const {
        if (offset >= size_) {
            return false;
        }
        const void* end = std::memchr(data_ + offset, 0, size_ - offset);
        if (end == nullptr) {
            return false;
        }
        value->assign(reinterpret_cast<const char*>(data_ + offset),
                      static_cast<const uint8_t*>(end) - (data_ + offset));
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    return false;
}

bool ChunkIsInside(size_t size, const Chunk& chunk) {
    return chunk.offset <= size && size - chunk.offset >= chunk.size;
}

// Opcodes of the shader program tokens that the reader needs.
constexpr uint32_t kOpcodeCustomData = 0x35;
constexpr uint32_t kOpcodeThreadGroup = 0x9b;
constexpr uint32_t kOpcodeGlobalFlags = 0x6a;
constexpr uint32_t kOpcodeIndexableTemp = 0x69;

// Float additions and products (add, div, dp2, dp3, dp4, mad, mul): the instructions a driver
// could fuse or reorder unless they are marked precise.
bool IsFusableArithmetic(uint32_t opcode) {
    return opcode == 0x00 || opcode == 0x0e || opcode == 0x0f || opcode == 0x10 || opcode == 0x11 ||
           opcode == 0x32 || opcode == 0x38;
}

}  // namespace

Checksum ComputeChecksum(const uint8_t* container, size_t size) {
    Checksum state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    if (size < 20) {
        return state;
    }
    const uint8_t* data = container + 20;
    const size_t length = size - 20;
    const uint32_t bits = static_cast<uint32_t>(length * 8);
    const size_t fullBlocks = length / 64;
    for (size_t i = 0; i < fullBlocks; ++i) {
        Md5Block(state, data + 64 * i);
    }
    const size_t left = length % 64;
    const uint8_t* tail = data + 64 * fullBlocks;
    uint8_t block[64] = {};
    if (left >= 56) {
        // No room for the trailer: the data and its 0x80 end one block, the counts fill another.
        std::memcpy(block, tail, left);
        block[left] = 0x80;
        Md5Block(state, block);
        std::memset(block, 0, sizeof(block));
    } else {
        std::memcpy(block + 4, tail, left);
        block[4 + left] = 0x80;
    }
    StoreU32(block, bits);
    StoreU32(block + 60, (bits >> 2) | 1);
    Md5Block(state, block);
    return state;
}

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

bool ParseReflection(const uint8_t* data, size_t size, const Chunk& rdef, Reflection* reflection,
                     std::string* error) {
    if (!ChunkIsInside(size, rdef)) {
        return Fail(error, "RDEF chunk outside the container");
    }
    const Bytes chunk(data + rdef.offset, rdef.size);
    uint32_t bufferCount = 0;
    uint32_t bufferOffset = 0;
    uint32_t bindingCount = 0;
    uint32_t bindingOffset = 0;
    uint8_t minor = 0;
    uint8_t major = 0;
    uint16_t programType = 0;
    uint32_t creatorOffset = 0;
    if (!chunk.U32(0, &bufferCount) || !chunk.U32(4, &bufferOffset) ||
        !chunk.U32(8, &bindingCount) || !chunk.U32(12, &bindingOffset) || !chunk.U8(16, &minor) ||
        !chunk.U8(17, &major) || !chunk.U16(18, &programType) || !chunk.U32(24, &creatorOffset)) {
        return Fail(error, "truncated RDEF header");
    }
    reflection->major = major;
    reflection->minor = minor;
    reflection->programType = programType;
    if (!chunk.String(creatorOffset, &reflection->creator)) {
        return Fail(error, "RDEF creator string outside the chunk");
    }
    // Shader model 5 adds an "RD11" header with the sizes of the records: header, constant
    // buffer, binding, variable, type, member, followed by the interface slot count.
    uint32_t bufferSize = 24;
    uint32_t bindingSize = 32;
    uint32_t variableSize = 24;
    if (major >= 5) {
        uint32_t tag = 0;
        if (!chunk.U32(28, &tag) || tag != MakeFourCc('R', 'D', '1', '1') ||
            !chunk.U32(36, &bufferSize) || !chunk.U32(40, &bindingSize) ||
            !chunk.U32(44, &variableSize)) {
            return Fail(error, "RDEF without a valid RD11 header");
        }
        if (bufferSize < 24 || bindingSize < 32 || variableSize < 24) {
            return Fail(error, "RDEF record sizes too small");
        }
    }
    if (bindingCount > rdef.size / bindingSize || bufferCount > rdef.size / bufferSize) {
        return Fail(error, "RDEF counts larger than the chunk");
    }
    reflection->bindings.clear();
    for (uint32_t i = 0; i < bindingCount; ++i) {
        const size_t at = size_t{bindingOffset} + size_t{i} * bindingSize;
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
    reflection->constantBuffers.clear();
    for (uint32_t i = 0; i < bufferCount; ++i) {
        const size_t at = size_t{bufferOffset} + size_t{i} * bufferSize;
        ConstantBuffer buffer;
        uint32_t nameOffset = 0;
        uint32_t variableCount = 0;
        uint32_t variableOffset = 0;
        if (!chunk.U32(at, &nameOffset) || !chunk.U32(at + 4, &variableCount) ||
            !chunk.U32(at + 8, &variableOffset) || !chunk.U32(at + 12, &buffer.size) ||
            !chunk.U32(at + 20, &buffer.kind) || !chunk.String(nameOffset, &buffer.name)) {
            return Fail(error, "RDEF constant buffer " + std::to_string(i) + " outside the chunk");
        }
        if (variableCount > rdef.size / variableSize) {
            return Fail(error, "RDEF variable count larger than the chunk");
        }
        for (uint32_t v = 0; v < variableCount; ++v) {
            const size_t vat = size_t{variableOffset} + size_t{v} * variableSize;
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
                return Fail(error, "RDEF variable " + std::to_string(v) + " of " + buffer.name +
                                       " outside the chunk");
            }
            buffer.variables.push_back(variable);
        }
        reflection->constantBuffers.push_back(buffer);
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

void Sign(std::vector<uint8_t>* container) {
    if (container->size() < kHeaderSize) {
        return;
    }
    const Checksum checksum = ComputeChecksum(container->data(), container->size());
    for (int i = 0; i < 4; ++i) {
        StoreU32(container->data() + 4 + 4 * i, checksum[i]);
    }
}

bool ConvertToShex(const std::vector<uint8_t>& input, std::vector<uint8_t>* output,
                   std::string* error) {
    Shader shader;
    if (!ReadShader(input.data(), input.size(), &shader, error)) {
        return false;
    }
    if (shader.program.fourCc == kChunkShex) {
        *output = input;
        return true;
    }
    if (shader.program.major != 5) {
        return Fail(error, "an SHDR program of shader model " +
                               std::to_string(shader.program.major) + " stays SHDR");
    }
    const Chunk* program = shader.container.Find(kChunkShdr);
    *output = input;
    StoreU32(output->data() + program->offset - 8, kChunkShex);
    // The compiler drops HLSL's precise; without the mark a driver may fuse a multiply and an
    // add (Mesa does), which changes the rounding the exact operations rely on.
    uint8_t* words = output->data() + program->offset;
    const uint32_t lengthInWords = LoadU32(words + 4);
    uint32_t word = 2;
    while (word < lengthInWords) {
        const uint32_t token = LoadU32(words + size_t{word} * 4);
        const uint32_t opcode = token & 0x7ff;
        const uint32_t length = opcode == kOpcodeCustomData ? LoadU32(words + size_t{word} * 4 + 4)
                                                            : (token >> 24) & 0x7f;
        if (IsFusableArithmetic(opcode)) {
            StoreU32(words + size_t{word} * 4, token | kPreciseAll);
        }
        word += length;
    }
    Sign(output);
    return true;
}

}  // namespace dxbc
