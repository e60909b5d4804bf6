// 64-bit unsigned fixed point in two 32-bit words, the arithmetic of the sine and of the rare
// cases of exp2 and log2 (exact_sin.cpp, exact_math.cpp). exact_math.hlsli has the same
// functions on uint2(high, low).
#pragma once

#include <cstdint>

#include "kernels/exact_math_tables.h"

namespace pyrix {

// The full 64-bit product of two 32-bit words. (The HLSL, without a wide multiply, builds the
// same product from 16-bit halves.)
inline void Multiply(uint32_t a, uint32_t b, uint32_t* high, uint32_t* low) {
    const uint64_t product = static_cast<uint64_t>(a) * b;
    *low = static_cast<uint32_t>(product);
    *high = static_cast<uint32_t>(product >> 32);
}

// An unsigned 64-bit value in two words.
struct Wide {
    uint32_t high;
    uint32_t low;
};

inline Wide WideSub(Wide a, Wide b) {
    const uint32_t borrow = a.low < b.low ? 1u : 0u;
    return Wide{a.high - b.high - borrow, a.low - b.low};
}

inline Wide WideAdd(Wide a, Wide b) {
    const uint32_t low = a.low + b.low;
    const uint32_t carry = low < a.low ? 1u : 0u;
    return Wide{a.high + b.high + carry, low};
}

// 2^64 / n! for an even index = 2 (n - 2), high word first.
inline Wide InverseFactorial(uint32_t index) {
    return Wide{kInverseFactorials[index], kInverseFactorials[index + 1u]};
}

inline bool WideGreater(Wide a, Wide b) {
    return a.high > b.high || (a.high == b.high && a.low > b.low);
}

// a << n mod 2^64 for n < 64.
inline Wide WideShiftLeft(Wide a, uint32_t n) {
    if (n >= 32u) {
        return Wide{a.low << (n - 32u), 0u};
    }
    if (n == 0u) {
        return a;
    }
    return Wide{(a.high << n) | (a.low >> (32u - n)), a.low << n};
}

// floor(a * b / 2^64), exactly. (One wide product where the compiler has it; the words are
// the same either way.)
inline Wide WideMulHigh(Wide a, Wide b) {
#ifdef __SIZEOF_INT128__
    __extension__ using Product = unsigned __int128;
    const Product product = static_cast<Product>((static_cast<uint64_t>(a.high) << 32) | a.low) *
                            ((static_cast<uint64_t>(b.high) << 32) | b.low);
    const uint64_t high = static_cast<uint64_t>(product >> 64);
    return Wide{static_cast<uint32_t>(high >> 32), static_cast<uint32_t>(high)};
#else
    uint32_t ll1, ll0, lh1, lh0, hl1, hl0, hh1, hh0;
    Multiply(a.low, b.low, &ll1, &ll0);
    Multiply(a.low, b.high, &lh1, &lh0);
    Multiply(a.high, b.low, &hl1, &hl0);
    Multiply(a.high, b.high, &hh1, &hh0);
    (void)ll0;
    uint32_t w1 = ll1 + lh0;
    uint32_t carry1 = w1 < ll1 ? 1u : 0u;
    w1 = w1 + hl0;
    carry1 = carry1 + (w1 < hl0 ? 1u : 0u);
    uint32_t w2 = lh1 + hl1;
    uint32_t carry2 = w2 < lh1 ? 1u : 0u;
    w2 = w2 + hh0;
    carry2 = carry2 + (w2 < hh0 ? 1u : 0u);
    w2 = w2 + carry1;
    carry2 = carry2 + (w2 < carry1 ? 1u : 0u);
    return Wide{hh1 + carry2, w2};
#endif
}

// a >> n for any n >= 0.
inline Wide WideShiftRight(Wide a, uint32_t n) {
    if (n >= 64u) {
        return Wide{0u, 0u};
    }
    if (n >= 32u) {
        return Wide{0u, a.high >> (n - 32u)};
    }
    if (n == 0u) {
        return a;
    }
    return Wide{a.high >> n, (a.low >> n) | (a.high << (32u - n))};
}

}  // namespace pyrix
