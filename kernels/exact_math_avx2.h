// The AVX2 build of the exact operations that the fast kernel's rows use (exact_math_lanes.h on
// eight lanes), over arrays, so that tools/exact_math can check it lane for lane against the
// scalar build. Plain declarations only: the AVX2 unit compiles this header too.
#pragma once

#include <cstddef>

namespace pyrix {

// out[i] = f(in[i]) for i < n, n a multiple of 8.
struct ExactLaneFunctions {
    void (*sqrt)(const float* in, float* out, size_t n);
    void (*exp2)(const float* in, float* out, size_t n);
    void (*log2)(const float* in, float* out, size_t n);
};

#if defined(__x86_64__) || defined(__i386__)
// Call only where the processor has AVX2 (BestFastFireIsa() in fast_fire_kernel.h).
ExactLaneFunctions Avx2ExactLaneFunctions();
#endif

}  // namespace pyrix
