// The container's checksum (a variant of MD5 over everything after the checksum field), signing,
// and the rewrite of an SHDR program into a signed SHEX one with every float operation precise.
#include <cstring>

#include "dxbc/bounded_reader.h"
#include "dxbc/dxbc.h"

namespace dxbc {

namespace {

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
        // The compiler declares every constant buffer immediately indexed, also the tables
        // (every buffer after b0) that the kernels read at run-time indices; a driver may
        // rely on the declaration.
        if (opcode == kOpcodeConstantBuffer && length >= 4 &&
            LoadU32(words + size_t{word + 2} * 4) != 0) {
            StoreU32(words + size_t{word} * 4, token | kConstantBufferDynamicIndexed);
        }
        word += length;
    }
    Sign(output);
    return true;
}

}  // namespace dxbc
