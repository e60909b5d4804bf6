// Reading and writing a container's little-endian fields, with every read bounded by the range
// it reads from: the container, or one of its chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "dxbc/dxbc.h"

namespace dxbc {

inline uint32_t LoadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline void StoreU32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

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

inline bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) {
        *error = message;
    }
    return false;
}

inline bool ChunkIsInside(size_t size, const Chunk& chunk) {
    return chunk.offset <= size && size - chunk.offset >= chunk.size;
}

// Opcodes of the shader program tokens that the reader needs.
constexpr uint32_t kOpcodeCustomData = 0x35;
constexpr uint32_t kOpcodeThreadGroup = 0x9b;
constexpr uint32_t kOpcodeGlobalFlags = 0x6a;
constexpr uint32_t kOpcodeIndexableTemp = 0x69;
constexpr uint32_t kOpcodeConstantBuffer = 0x59;

// Float additions and products (add, div, dp2, dp3, dp4, mad, mul): the instructions a driver
// could fuse or reorder unless they are marked precise.
inline bool IsFusableArithmetic(uint32_t opcode) {
    return opcode == 0x00 || opcode == 0x0e || opcode == 0x0f || opcode == 0x10 || opcode == 0x11 ||
           opcode == 0x32 || opcode == 0x38;
}

}  // namespace dxbc
