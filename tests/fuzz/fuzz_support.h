// What the fuzz targets share: a reader that turns the fuzzer's bytes into choices (zeros once
// the bytes run out, so every input is a complete run) and the one way a target reports a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

// A fault the sanitizers cannot see: abort so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what, long long detail = 0) {
    std::fprintf(stderr, "fuzz target fault: %s (%lld)\n", what, detail);
    std::fflush(stderr);
    std::abort();
}

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <typename T>
    T Raw() {
        T value{};
        uint8_t bytes[sizeof(T)] = {};
        for (uint8_t& b : bytes) b = Byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

    bool Bit() { return (Byte() & 1) != 0; }

    // One in `n` (n >= 1), decided by one byte.
    bool OneIn(int n) { return Byte() % n == 0; }

    // A value in [low, high], from one or four bytes depending on the span.
    int32_t Range(int32_t low, int32_t high) {
        const uint32_t span = static_cast<uint32_t>(static_cast<int64_t>(high) - low) + 1u;
        const uint32_t pick = span <= 256u ? Byte() : Raw<uint32_t>();
        return static_cast<int32_t>(static_cast<int64_t>(low) + (span == 0u ? pick : pick % span));
    }

    template <typename T, size_t N>
    T Pick(const T (&choices)[N]) {
        return choices[Byte() % N];
    }

    // Bytes left, as a string of at most `limit` characters ending at a zero byte.
    size_t TakeString(char* out, size_t limit) {
        size_t n = 0;
        while (n + 1 < limit && !Empty()) {
            const char c = static_cast<char>(Byte());
            if (c == '\0') break;
            out[n++] = c;
        }
        out[n] = '\0';
        return n;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fuzz
