// What every part of a fast FireKernel dispatch shares: the frame mapping precomputed per
// column, the gradient tables and the black-pixel bound. Plain data only: this header is also
// compiled into the AVX2 unit, which must not share inline code with the portable ones.
#pragma once

#include <cstdint>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/fire_field.h"
#include "kernels/params_block.h"

namespace pyrix {

namespace fast_fire {

constexpr int kOctaves = 5;

// Gradients of the lattice points (originX + column, originY + row), 0 <= column < columns,
// 0 <= row < rows, as gradientHash computes them. An empty table (columns = 0) sends every
// lookup to gradientHash.
struct GradientTable {
    const float* gx = nullptr;  // row-major, rows of `stride` entries
    const float* gy = nullptr;
    float originX = 0.0f;  // whole numbers within +-2^24, so that origin + column is exact
    float originY = 0.0f;
    float columns = 0.0f;  // as floats for the range test; exact, at most 2^24
    float rows = 0.0f;
    int32_t stride = 0;
};

// The columns [begin, end) of a texel row whose pixels may be lit; the other pixels of the row
// inside the frame are (0, 0, 0, 1).
struct RowSpan {
    uint32_t begin;
    uint32_t end;
};

// The domain rectangle that the evaluated pixels of some rows cover.
struct DomainBounds {
    float qxMin;
    float qxMax;
    float qyMin;
    float qyMax;
    bool empty;
};

// The per-column arrays hold `columns` values followed by padding up to a whole vector, so
// that a vector load at any column below `columns` stays inside.
struct Plan {
    ParamsBlock params;
    FireFieldParams field;
    float baseOffset;
    TexelImage output;
    uint32_t columns;     // texel columns written: min(params.width, output.width)
    uint32_t frameBegin;  // texel columns [frameBegin, frameEnd) lie inside the full frame
    uint32_t frameEnd;
    const float* qx;      // domain x of each texel column
    const float* shapeX;  // qx / emitterSize
    const float* p1x;     // detail * qx, first octave
    const float* p1xM17;  // 1.7 * p1x and 1.1 * p1x, the column halves of the second octave
    const float* p1xM11;
    bool skipBlack;      // skip pixels that the bound proves black
    bool vectorShading;  // shade in lanes; false: the reference's fireSample per pixel
    // Skip the rows whose height coordinate W exceeds 1; set only when s <= 1. There the
    // reference gives +0 in every channel whatever f is (surelyDark, fire_field.cpp, says why).
    bool skipFade;
    float halfContrast;  // 0.5 * contrast, as turbulence rounds it
    float timeScroll;    // 3 * time
    GradientTable tables[kOctaves];
};

// The row work of one instruction set (fast_fire_rows.h instantiated for its lanes).
struct RowFunctions {
    // Spans of the rows [rowBegin, rowEnd) into spans[0 ..], their domain rectangle merged
    // into bounds.
    void (*scanRows)(const Plan& plan, uint32_t rowBegin, uint32_t rowEnd, RowSpan* spans,
                     DomainBounds* bounds);
    // Texels of the rows [rowBegin, rowEnd); spans[0] belongs to rowBegin.
    void (*renderRows)(const Plan& plan, const RowSpan* spans, uint32_t rowBegin, uint32_t rowEnd);
};

RowFunctions PortableRowFunctions();
#if defined(__x86_64__) || defined(__i386__)
#define PYRIX_FAST_FIRE_AVX2 1
RowFunctions Avx2RowFunctions();  // call only where the processor has AVX2
#endif

}  // namespace fast_fire

}  // namespace pyrix
