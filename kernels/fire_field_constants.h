// The constants of the fire field, shared by the scalar reference (fire_field.cpp) and the fast
// paths (fast_fire_rows.h, fast_fire_kernel.cpp). fire_field.hlsli writes the same literals; the
// kernel sources test compares both, to the bit.
#pragma once

namespace pyrix {

constexpr float kSkewF2 = 0.36602542f;            // (sqrt(3) - 1) / 2
constexpr float kUnskewG2 = 0.21132487f;          // (3 - sqrt(3)) / 6
constexpr float kFarCornerOffset = -0.57735026f;  // 2 * G2 - 1
constexpr float kHashRowAX = 127.1f;
constexpr float kHashRowAY = 311.7f;
constexpr float kHashRowBX = 269.5f;
constexpr float kHashRowBY = 183.3f;
constexpr float kHashScale = 43758.547f;
constexpr float kNoiseScale = 70.0f;
constexpr float kHeatExponent = -2.596851f;  // -1.8 / ln 2: 2^(k x) = exp(-1.8 x)
// |simplexNoise| stays below kNoiseBound. Each corner adds h^4 (x . g) with h = 0.5 - |x|^2 > 0
// and both gradient components in [-1, 1], so |x . g| <= |x.x| + |x.y|. The largest value of
// 70 * sum over the three corners of h^4 (|x.x| + |x.y|), over every point of the plane and
// either middle corner, is 0.99789 (at the centre of the simplex; found on a grid of spacing
// 5e-4 over [-1, 2]^2, beyond which no corner reaches). Each term's gradient is at most
// sqrt(2) (4 h^3 - 7 h^4) <= 0.112, so the three terms change by at most 70 * 0.336 * 3.6e-4
// = 0.0085 between a point and its nearest grid point: the maximum is below 1.0064. The rest
// is room for the float roundings of the corner offsets, the turbulence's sum and the bound's
// own (each below 1e-5 against at least 8e-4 of room in maxTurbulence for softness in [0, 1]).
constexpr float kNoiseBound = 1.02f;
// A point whose d = max(0, r - f * lift) reaches this is black: 16 * d^1.2 >= 1.0095 there,
// far beyond the errors of ExactLog2 and ExactExp2, so 1 - 16 * exp2(1.2 * log2(d)) < 0.
constexpr float kBlackDistance = 0.1f;

// The scale of octaves 2 to 5 after each one's rotation (octaveScale in the HLSL's turbulence).
constexpr float kOctaveScale[4] = {1.01f, 1.04f, 1.04f, 1.03f};

}  // namespace pyrix
