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

// sin(x) correctly rounded (to nearest, ties to even) for every finite float; NaN for
// infinities and NaN. The reduction is exact (the 2/pi product is taken in integer
// arithmetic), so huge arguments are as good as small ones.
float ExactSin(float x);

// The same bits as ExactSin for every float, computed in the kernels' order (exact_sin.hlsli):
// a float-float path first, ExactSin's integer series for the arguments it leaves undecided
// (about one in 80,000). The kernels take it because a GPU builds the series' 64-bit products
// from 16-bit halves; the CPU keeps ExactSin, whose native 64-bit products make the series the
// cheaper. `make exhaustive` checks both on every float.
float ExactSinFloatFirst(float x);

// The fire kernel's first pass's sine (FloatPathSine, fire_kernel.hlsl): the float path's answer
// alone, with *undecided set where ExactSinFloatFirst would go on to the integer series; there
// it may differ from ExactSin. For checks that need a frame the second pass must repair.
float FirstPassSin(float x, bool* undecided);

// 2^y correctly rounded (to nearest, ties to even) for y in [-126, 128); +0 below -126 (never
// a denormal), +inf from 128 on.
float ExactExp2(float y);

// log2(x) correctly rounded for every positive normal float; otherwise as IEEE for the float
// that the kernels read (a denormal is a zero of its sign): -inf for +-0, NaN below 0 and for
// NaN, +inf for +inf.
float ExactLog2(float x);

// The rare cases of ExactExp2 and ExactLog2 whose float-float result lies too close to a
// rounding midpoint, decided in 64-bit fixed point: 2^y for y in [-126, 128), and log2(x) from
// the float-float result hi + lo (within 2^-36 of it).
float ExactExp2Rare(float y);
float ExactLog2Rare(float x, float hi, float lo);

// a / b correctly rounded (to nearest, ties to even) for every normal a and b, of either sign,
// whose quotient is a normal float; a signed zero where it lies below 2^-126 (flushed, as
// Direct3D does), and IEEE's results for zeros (denormals read as zeros), infinities and NaN.
// The rounding is decided from the exact remainder a - q b (exact_math_lanes.h gives the
// argument).
float ExactDiv(float a, float b);

// sqrt(v) correctly rounded for every positive normal v; a zero or denormal gives a zero of its
// sign, +inf stays, a negative v or NaN gives NaN. Decided from the exact remainder v - s s.
float ExactSqrt(float v);

// Runs the enclosing scope with denormals flushed to zero on the input and output of float
// operations, as Direct3D 11 does, and rounding to nearest whatever the caller's rounding mode.
// Restores the caller's mode on exit. Per thread.
class FlushDenormals {
  public:
    static unsigned Mode(unsigned from);  // the kernels' mode, made from a thread's mode
    FlushDenormals();
    ~FlushDenormals();
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

  private:
    unsigned saved_;
};

// Runs the enclosing scope in a float mode taken earlier with Current(), and restores the mode
// it found on exit: a call out of the kernels (a host callback) from inside FlushDenormals gets
// the mode its thread came in with. Per thread.
class InFloatMode {
  public:
    static unsigned Current();
    static void Set(unsigned mode);
    explicit InFloatMode(unsigned mode);
    ~InFloatMode();
    InFloatMode(const InFloatMode&) = delete;
    InFloatMode& operator=(const InFloatMode&) = delete;

  private:
    unsigned saved_;
};

}  // namespace pyrix
