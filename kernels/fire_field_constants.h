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
// The largest |simplexNoise|: a corner adds 70 h^4 (x . g), h = 0.5 - |x|^2, |g| <= sqrt 2, which
// peaks at |x|^2 = 1/18 at 70 sqrt(2) (4/9)^4 / sqrt(18) = 0.911; three corners, rounded up.
constexpr float kNoiseBound = 2.75f;
// A distance d from the flame at which a point is black: 16 * 0.11^1.2 = 1.13 > 1.
constexpr float kDarkDistance = 0.11f;

// The scale of octaves 2 to 5 after each one's rotation (octaveScale in the HLSL's turbulence).
constexpr float kOctaveScale[4] = {1.01f, 1.04f, 1.04f, 1.03f};

}  // namespace pyrix
