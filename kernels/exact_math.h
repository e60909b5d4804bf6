// The fire field's sine, exponential, logarithm, division and square root, built only from
// operations whose results every Direct3D 11 device and every CPU rounds alike: float add,
// subtract and multiply (round to nearest), comparisons, floor, and 32-bit integer arithmetic.
// fire_field.hlsli computes the same operations in the same order, so the CPU and any GPU give
// the same bits. See docs/same_bits.md for what this rests on.
//
// Denormals: Direct3D 11 flushes them to zero on the input and output of every float operation.
// The CPU kernels do the same by running with FlushDenormals in scope (FTZ and DAZ on x86).
#pragma once

namespace pyrix {

// sin(x), within 1 ulp for every finite float; NaN for infinities and NaN. The reduction is
// exact (the 2/pi product is taken in integer arithmetic), so huge arguments are as good as
// small ones.
float ExactSin(float x);

// 2^y, within 1 ulp for y in [-126, 127.5); +0 where 2^y is below 2^-126 (never a denormal);
// +inf from 127.5 on.
float ExactExp2(float y);

// log2(x) for x >= 0, within 1 ulp for x <= 0.125; -inf for x <= 0 (denormals count as 0).
float ExactLog2(float x);

// a / b for b > 0 (finite, normal): a reciprocal by Newton steps, the quotient corrected once
// with its exact residual.
float ExactDiv(float a, float b);

// sqrt(v) for v >= 0: an inverse square root by Newton steps, corrected once with its exact
// residual.
float ExactSqrt(float v);

// Runs the enclosing scope with denormals flushed to zero on the input and output of float
// operations, as Direct3D 11 does. Restores the caller's mode on exit. Per thread.
class FlushDenormals {
  public:
    FlushDenormals();
    ~FlushDenormals();
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

  private:
    unsigned saved_;
};

}  // namespace pyrix
