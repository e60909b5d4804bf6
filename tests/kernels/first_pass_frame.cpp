#include "tests/kernels/first_pass_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernels/exact_math.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

float Fract(float x) {
    return x - std::floor(x);
}

float Pow4(float x) {
    return x * x * x * x;
}

// gradientHash, cornerContribution, simplexNoise and turbulence of fire_field.cpp, with
// FirstPassSin for the sine: where no sine is undecided, the same bits (the test checks it).
Float2 FirstPassGradient(float cx, float cy, bool* undecided) {
    bool a = false, b = false;
    const float sa = FirstPassSin(kHashRowAX * cx + kHashRowAY * cy, &a);
    const float sb = FirstPassSin(kHashRowBX * cx + kHashRowBY * cy, &b);
    *undecided = *undecided || a || b;
    return Float2{2.0f * Fract(kHashScale * sa) - 1.0f, 2.0f * Fract(kHashScale * sb) - 1.0f};
}

float FirstPassCorner(float x, float y, float cx, float cy, bool* undecided) {
    const float h = std::max(0.5f - (x * x + y * y), 0.0f);
    const Float2 gradient = FirstPassGradient(cx, cy, undecided);
    return Pow4(h) * (x * gradient.x + y * gradient.y);
}

float FirstPassNoise(float px, float py, bool* undecided) {
    const Float2 cell = latticeCell(Float2{px, py});
    const float t = (cell.x + cell.y) * kUnskewG2;
    const float x0x = px - cell.x + t;
    const float x0y = py - cell.y + t;
    const float ox = x0y < x0x ? 1.0f : 0.0f;
    const float oy = x0y < x0x ? 0.0f : 1.0f;
    const float n0 = FirstPassCorner(x0x, x0y, cell.x, cell.y, undecided);
    const float n1 = FirstPassCorner(x0x - ox + kUnskewG2, x0y - oy + kUnskewG2, cell.x + ox,
                                     cell.y + oy, undecided);
    const float n2 = FirstPassCorner(x0x + kFarCornerOffset, x0y + kFarCornerOffset, cell.x + 1.0f,
                                     cell.y + 1.0f, undecided);
    return kNoiseScale * (n0 + n1 + n2);
}

float FirstPassTurbulence(const FireFieldParams& field, float qx, float qy, bool* undecided) {
    Float2 p = firstOctave(field, qx, qy);
    float sum = field.amplitude[0] * FirstPassNoise(p.x, p.y, undecided);
    for (int octave = 1; octave < 5; ++octave) {
        p = nextOctave(octave, p);
        sum = sum + field.amplitude[octave] * FirstPassNoise(p.x, p.y, undecided);
    }
    return 0.5f + 0.5f * field.contrast * sum;
}

bool Lit(const FireColour& c) {
    return c.red != 0.0f || c.green != 0.0f || c.blue != 0.0f;
}

void Store(const TexelImage& output, uint32_t x, uint32_t y, const float (&texel)[4]) {
    char* row = reinterpret_cast<char*>(output.texels) + static_cast<size_t>(y) * output.rowPitch;
    std::memcpy(row + static_cast<size_t>(x) * sizeof(texel), texel, sizeof(texel));
}

// One texel as FireThread (cpu_kernels.cpp) gives it, with the first pass's turbulence.
void FirstPassTexel(const ParamsBlock& params, const FireFieldParams& field, float baseOffset,
                    const TexelImage& output, uint32_t x, uint32_t y, FirstPassCount* count) {
    const int64_t px = static_cast<int64_t>(x) + params.originX;
    const int64_t py = static_cast<int64_t>(y) + params.originY;
    if (px < 0 || py < 0 || static_cast<float>(px) >= params.fullWidth ||
        static_cast<float>(py) >= params.fullHeight) {
        Store(output, x, y, {0.0f, 0.0f, 0.0f, 0.0f});
        return;
    }
    const Float2 q =
        domainPoint(params, baseOffset, static_cast<float>(px), static_cast<float>(py));
    const ShapePoint shape = shapeCoordinates(field, q.x, q.y);
    if (0.0f >= params.emitterSize || surelyDark(field, shape)) {
        Store(output, x, y, {0.0f, 0.0f, 0.0f, 1.0f});
        return;
    }
    bool undecided = false;
    const FireColour first =
        fireShade(field, shape, FirstPassTurbulence(field, q.x, q.y, &undecided));
    Store(output, x, y, {first.red, first.green, first.blue, 1.0f});
    if (undecided) {
        ++count->undecided;
        const FireColour whole = fireShade(field, shape, turbulence(field, q.x, q.y));
        const bool same = std::memcmp(&first, &whole, sizeof(FireColour)) == 0;
        count->changedLit += !same && (Lit(first) || Lit(whole)) ? 1 : 0;
    }
}

}  // namespace

ParamsBlock PyrixFrameParams(uint32_t width, uint32_t height, float detail, int frame,
                             float offset) {
    ParamsBlock params{};
    params.width = width;
    params.height = height;
    params.fullWidth = static_cast<float>(width);
    params.fullHeight = static_cast<float>(height);
    params.detail = detail;
    params.time = static_cast<float>(frame) * 0.03f * 1.0f + offset;
    params.shiftX = 0.5f - 0.5f;
    params.shiftY = 0.7f - 0.91f;
    params.emitterSize = 1.0f;
    params.softness = 0.0f;
    return params;
}

FirstPassCount RunFirstPassAlone(const ParamsBlock& params, const TexelImage& output) {
    const AnchorRecord anchor = RunAnchorKernel(params);
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    FirstPassCount count{0, 0};
    const uint32_t columns = std::min(params.width, output.width);
    const uint32_t rows = std::min(params.height, output.height);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < columns; ++x) {
            FirstPassTexel(params, field, anchor.baseOffset, output, x, y, &count);
        }
    }
    return count;
}

}  // namespace pyrix
