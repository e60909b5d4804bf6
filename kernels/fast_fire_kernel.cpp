// The fast FireKernel: prepares a dispatch (per-column mapping, spans of the rows that may be
// lit, one gradient table per octave) and renders its rows on a few threads.
#include "kernels/fast_fire_kernel.h"

#include <math.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "kernels/exact_math.h"
#include "kernels/fan_out.h"
#include "kernels/fast_fire_plan.h"
#include "kernels/fire_field.h"

namespace pyrix {

namespace {

struct ScalarLanes {
    static constexpr int kWidth = 1;
    using F = float;
    using M = bool;
    using I = int32_t;

    static F Set(float v) { return v; }
    static F Load(const float* p) { return *p; }
    static void Store(float* p, F v) { *p = v; }
    static F Add(F a, F b) { return a + b; }
    static F Sub(F a, F b) { return a - b; }
    static F Mul(F a, F b) { return a * b; }
    static F Sqrt(F a) { return ExactSqrt(a); }
    static F RoundedSqrt(F a) { return std::sqrt(a); }
    static F Exp2(F a) { return ExactExp2(a); }
    static F Log2(F a) { return ExactLog2(a); }
    static F Floor(F a) { return std::floor(a); }
    static F Max(F a, F b) { return (a < b) ? b : a; }
    static F Min(F a, F b) { return (b < a) ? b : a; }
    static M Less(F a, F b) { return a < b; }
    static M Greater(F a, F b) { return a > b; }
    static M GreaterEqual(F a, F b) { return a >= b; }
    static M NotGreaterEqual(F a, F b) { return !(a >= b); }
    static M And(M a, M b) { return a && b; }
    static M AndNot(M a, M b) { return !a && b; }
    static F Select(M m, F a, F b) { return m ? a : b; }
    static int Bits(M m) { return m ? 1 : 0; }
    static bool AllSame(F v) { return v == v; }
    static float First(F v) { return v; }
    static I TableIndex(M m, F row, F column, int32_t stride) {
        return m ? static_cast<int32_t>(row) * stride + static_cast<int32_t>(column) : 0;
    }
    static void Lookup(const float* gxBase, const float* gyBase, I index, M m, F* gx, F* gy) {
        *gx = m ? gxBase[index] : 0.0f;
        *gy = m ? gyBase[index] : 0.0f;
    }
};

#include "kernels/fast_fire_rows.h"

using PortableRows = FireRows<ScalarLanes>;

using fast_fire::DomainBounds;
using fast_fire::GradientTable;
using fast_fire::Plan;
using fast_fire::RowSpan;

// Tables larger than this hash directly instead (two floats per entry).
constexpr double kMaxTableEntries = 1 << 21;
// Table coordinates stay within +-2^24, where floats hold every whole number.
constexpr double kMaxLattice = 16777216.0;

// Rows handed out per fetch of a shared counter. Small, so that a thread the system leaves
// waiting holds back little work: the others take the rest.
constexpr uint32_t kRowChunk = 2;

bool IsFinite(float v) {
    return std::isfinite(v);
}

bool FieldInputsFinite(const ParamsBlock& params, const AnchorRecord& anchor) {
    return IsFinite(params.fullWidth) && IsFinite(params.fullHeight) && IsFinite(params.detail) &&
           IsFinite(params.time) && IsFinite(params.shiftX) && IsFinite(params.shiftY) &&
           IsFinite(params.emitterSize) && IsFinite(params.softness) && IsFinite(anchor.baseOffset);
}

// FanOut with denormals flushed on every thread that evaluates the field, as Direct3D does.
void OnThreads(unsigned threads, FanOutTeam* team, const std::function<void(unsigned)>& work) {
    FanOut(team, threads, [&work](unsigned thread) {
        const FlushDenormals flush;
        work(thread);
    });
}

// The lattice rectangle of one octave for a domain rectangle, following the float chain of
// turbulence and simplexNoise in double precision with a margin for the float roundings.
// Lookups outside the rectangle still hash directly, so the margin only has to make them rare.
struct LatticeBox {
    double xLo;
    double yLo;
    double columns;
    double rows;
    bool usable;
};

void OctaveBoxes(const FireFieldParams& field, const DomainBounds& bounds,
                 LatticeBox boxes[fast_fire::kOctaves]) {
    const double qxs[2] = {double(bounds.qxMin), double(bounds.qxMax)};
    const double qys[2] = {double(bounds.qyMin), double(bounds.qyMax)};
    double px[4];
    double py[4];
    for (int corner = 0; corner < 4; ++corner) {
        px[corner] = static_cast<double>(field.detail) * qxs[corner & 1];
        py[corner] = static_cast<double>(field.detail) * qys[corner >> 1] -
                     3.0 * static_cast<double>(field.time);
    }
    double magnitude = 0.0;
    for (int octave = 0; octave < fast_fire::kOctaves; ++octave) {
        double xLo = std::numeric_limits<double>::infinity();
        double xHi = -xLo;
        double yLo = xLo;
        double yHi = xHi;
        for (int corner = 0; corner < 4; ++corner) {
            if (octave > 0) {
                const double mx = 1.7 * px[corner] - 1.3 * py[corner];
                const double my = 1.1 * px[corner] + 1.5 * py[corner];
                const double scale = static_cast<double>(kOctaveScale[octave - 1]);
                px[corner] = scale * mx;
                py[corner] = scale * my;
            }
            const double skew = (px[corner] + py[corner]) * static_cast<double>(kSkewF2);
            const double sx = px[corner] + skew;
            const double sy = py[corner] + skew;
            magnitude = std::max({magnitude, std::fabs(px[corner]) * 2.0,
                                  std::fabs(py[corner]) * 2.0, std::fabs(sx), std::fabs(sy)});
            xLo = std::min(xLo, sx);
            xHi = std::max(xHi, sx);
            yLo = std::min(yLo, sy);
            yHi = std::max(yHi, sy);
        }
        const double margin = 2.0 + 1e-5 * (octave + 1) * magnitude;
        LatticeBox& box = boxes[octave];
        box.xLo = std::floor(xLo - margin);
        box.yLo = std::floor(yLo - margin);
        const double xEnd = std::floor(xHi + margin) + 2.0;  // the far corner is i + 1
        const double yEnd = std::floor(yHi + margin) + 2.0;
        box.columns = xEnd - box.xLo;
        box.rows = yEnd - box.yLo;
        box.usable = std::isfinite(magnitude) && box.xLo >= -kMaxLattice &&
                     box.yLo >= -kMaxLattice && xEnd <= kMaxLattice && yEnd <= kMaxLattice &&
                     box.columns * box.rows <= kMaxTableEntries;
    }
}

// Everything one dispatch allocates.
struct Dispatch {
    Plan plan{};
    std::vector<float> qx;
    std::vector<float> shapeX;
    std::vector<float> p1x;
    std::vector<float> p1xM17;
    std::vector<float> p1xM11;
    std::vector<RowSpan> spans;
    std::vector<float> tableGx[fast_fire::kOctaves];
    std::vector<float> tableGy[fast_fire::kOctaves];
};

void PrepareColumns(Dispatch& dispatch) {
    Plan& plan = dispatch.plan;
    const ParamsBlock& params = plan.params;
    const size_t padded = static_cast<size_t>(plan.columns) + 8;
    for (std::vector<float>* column :
         {&dispatch.qx, &dispatch.shapeX, &dispatch.p1x, &dispatch.p1xM17, &dispatch.p1xM11}) {
        column->assign(padded, 0.0f);
    }
    // The frame's columns are one interval: px grows with x, and so does float(px).
    plan.frameBegin = plan.columns;
    plan.frameEnd = plan.columns;
    for (uint32_t x = 0; x < plan.columns; ++x) {
        const int64_t px = static_cast<int64_t>(x) + params.originX;
        const bool inFrame = px >= 0 && static_cast<float>(px) < params.fullWidth;
        if (!inFrame) {
            if (plan.frameBegin < plan.columns) {
                plan.frameEnd = x;
                break;
            }
            continue;
        }
        if (plan.frameBegin == plan.columns) {
            plan.frameBegin = x;
        }
        const float qx = domainX(params, static_cast<float>(px));
        dispatch.qx[x] = qx;
        dispatch.shapeX[x] = ExactDiv(qx, plan.field.emitterSize);
        dispatch.p1x[x] = plan.field.detail * qx;
        dispatch.p1xM17[x] = 1.7f * dispatch.p1x[x];
        dispatch.p1xM11[x] = 1.1f * dispatch.p1x[x];
    }
    if (plan.frameBegin == plan.columns) {
        plan.frameBegin = 0;
        plan.frameEnd = 0;
    }
    plan.qx = dispatch.qx.data();
    plan.shapeX = dispatch.shapeX.data();
    plan.p1x = dispatch.p1x.data();
    plan.p1xM17 = dispatch.p1xM17.data();
    plan.p1xM11 = dispatch.p1xM11.data();
}

void AllocateTables(Dispatch& dispatch, const DomainBounds& bounds) {
    Plan& plan = dispatch.plan;
    if (bounds.empty) {
        return;
    }
    LatticeBox boxes[fast_fire::kOctaves];
    OctaveBoxes(plan.field, bounds, boxes);
    for (int octave = 0; octave < fast_fire::kOctaves; ++octave) {
        const LatticeBox& box = boxes[octave];
        if (!box.usable) {
            continue;
        }
        const size_t entries = static_cast<size_t>(box.columns * box.rows);
        // Padding for the eight-float loads of the vector lookup.
        dispatch.tableGx[octave].resize(entries + 8);
        dispatch.tableGy[octave].resize(entries + 8);
        GradientTable& table = plan.tables[octave];
        table.gx = dispatch.tableGx[octave].data();
        table.gy = dispatch.tableGy[octave].data();
        table.originX = static_cast<float>(box.xLo);
        table.originY = static_cast<float>(box.yLo);
        table.columns = static_cast<float>(box.columns);
        table.rows = static_cast<float>(box.rows);
        table.stride = static_cast<int32_t>(box.columns);
    }
}

// One table row of one octave: exactly the gradients that gradientHash returns.
void FillTableRow(const GradientTable& table, uint32_t row) {
    const int32_t columns = table.stride;
    float* gx = const_cast<float*>(table.gx) + static_cast<size_t>(row) * columns;
    float* gy = const_cast<float*>(table.gy) + static_cast<size_t>(row) * columns;
    const float cy = table.originY + static_cast<float>(row);
    for (int32_t column = 0; column < columns; ++column) {
        const Float2 gradient = gradientHash(table.originX + static_cast<float>(column), cy);
        gx[column] = gradient.x;
        gy[column] = gradient.y;
    }
}

fast_fire::RowFunctions RowFunctionsFor(FastFireIsa isa) {
#ifdef PYRIX_FAST_FIRE_AVX2
    if (isa == FastFireIsa::Avx2 && BestFastFireIsa() == FastFireIsa::Avx2) {
        return fast_fire::Avx2RowFunctions();
    }
#else
    (void)isa;
#endif
    return fast_fire::PortableRowFunctions();
}

unsigned ThreadCount(unsigned requested, uint32_t rows) {
    unsigned threads = requested;
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    threads = std::min(threads, kMaxFastFireThreads);
    const uint32_t chunks = (rows + kFireGroupHeight - 1) / kFireGroupHeight;
    return std::max(1u, std::min(threads, chunks));
}

}  // namespace

fast_fire::RowFunctions fast_fire::PortableRowFunctions() {
    return RowFunctions{&PortableRows::ScanRows, &PortableRows::RenderRows};
}

FastFireIsa BestFastFireIsa() {
#ifdef PYRIX_FAST_FIRE_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? FastFireIsa::Avx2 : FastFireIsa::Portable;
#else
    return FastFireIsa::Portable;
#endif
}

namespace {

// No field to speed up, or inputs the bounds of the fast path do not cover: the reference's own
// loop, one group row at a time so that a stop is still noticed.
bool RunReferenceGroupRows(const ParamsBlock& params, const AnchorRecord& anchor,
                           const TexelImage& output, uint32_t groupRowBegin, uint32_t groupRowEnd,
                           const FastFireOptions& options) {
    for (uint32_t group = groupRowBegin; group < groupRowEnd; ++group) {
        if (options.stop && options.stop()) return false;
        RunFireKernelGroupRows(params, anchor, output, group, group + 1);
    }
    return true;
}

void PlanDispatch(Dispatch& dispatch, const ParamsBlock& params, const AnchorRecord& anchor,
                  const TexelImage& output, uint32_t columns, uint32_t rowCount,
                  const FastFireOptions& options) {
    Plan& plan = dispatch.plan;
    plan.params = params;
    plan.field = MakeFireFieldParams(params);
    plan.baseOffset = anchor.baseOffset;
    plan.output = output;
    plan.columns = columns;
    plan.skipBlack = options.skipBlack;
    plan.vectorShading = options.vectorShading;
    // Above the fade every pixel is +0 black when s <= 1; see the note on skipFade.
    plan.skipFade = options.skipBlack && params.softness <= 1.0f;
    plan.halfContrast = 0.5f * plan.field.contrast;
    plan.timeScroll = 3.0f * plan.field.time;
    PrepareColumns(dispatch);
    dispatch.spans.resize(rowCount);
}

DomainBounds MergeBounds(const std::vector<DomainBounds>& bounds) {
    DomainBounds merged = bounds[0];
    for (const DomainBounds& part : bounds) {
        if (part.empty) {
            continue;
        }
        if (merged.empty) {
            merged = part;
            continue;
        }
        merged.qxMin = std::min(merged.qxMin, part.qxMin);
        merged.qxMax = std::max(merged.qxMax, part.qxMax);
        merged.qyMin = std::min(merged.qyMin, part.qyMin);
        merged.qyMax = std::max(merged.qyMax, part.qyMax);
    }
    return merged;
}

// Which pixels of each row may be lit, and the domain rectangle they cover.
DomainBounds ScanRows(Dispatch& dispatch, const fast_fire::RowFunctions& functions,
                      unsigned threads, FanOutTeam* team, uint32_t rowBegin, uint32_t rowCount) {
    std::vector<DomainBounds> bounds(threads, DomainBounds{0.0f, 0.0f, 0.0f, 0.0f, true});
    std::atomic<uint32_t> nextScan{0};
    OnThreads(threads, team, [&](unsigned thread) {
        for (uint32_t start = nextScan.fetch_add(kRowChunk); start < rowCount;
             start = nextScan.fetch_add(kRowChunk)) {
            const uint32_t end = std::min(rowCount, start + kRowChunk);
            functions.scanRows(dispatch.plan, rowBegin + start, rowBegin + end,
                               &dispatch.spans[start], &bounds[thread]);
        }
    });
    return MergeBounds(bounds);
}

// The gradients of every lattice point in the tables, one sine each.
void FillTables(const Plan& plan, unsigned threads, FanOutTeam* team) {
    std::vector<std::pair<int, uint32_t>> tableRows;
    for (int octave = 0; octave < fast_fire::kOctaves; ++octave) {
        const uint32_t tableRowCount = static_cast<uint32_t>(plan.tables[octave].rows);
        for (uint32_t row = 0; row < tableRowCount; ++row) {
            tableRows.emplace_back(octave, row);
        }
    }
    std::atomic<size_t> nextTableRow{0};
    OnThreads(threads, team, [&](unsigned) {
        for (size_t item = nextTableRow.fetch_add(1); item < tableRows.size();
             item = nextTableRow.fetch_add(1)) {
            FillTableRow(plan.tables[tableRows[item].first], tableRows[item].second);
        }
    });
}

// Only the calling thread asks stop: the caller's test need not be safe to call from other
// threads. False when stopped.
bool RenderTexels(const Dispatch& dispatch, const fast_fire::RowFunctions& functions,
                  unsigned threads, FanOutTeam* team, uint32_t rowBegin, uint32_t rowCount,
                  const std::function<bool()>& stop) {
    std::atomic<uint32_t> nextRender{0};
    std::atomic<bool> stopped{false};
    OnThreads(threads, team, [&](unsigned thread) {
        for (;;) {
            if (thread == 0 && stop && stop()) stopped = true;
            if (stopped) return;
            const uint32_t start = nextRender.fetch_add(kRowChunk);
            if (start >= rowCount) return;
            const uint32_t end = std::min(rowCount, start + kRowChunk);
            functions.renderRows(dispatch.plan, &dispatch.spans[start], rowBegin + start,
                                 rowBegin + end);
        }
    });
    return !stopped;
}

}  // namespace

bool RunFastFireKernelGroupRows(const ParamsBlock& params, const AnchorRecord& anchor,
                                const TexelImage& output, uint32_t groupRowBegin,
                                uint32_t groupRowEnd, const FastFireOptions& options) {
    // The plan's floats and bounds are the field's: in the kernels' mode, whatever the calling
    // thread's.
    const FlushDenormals flush;
    // The same clipping to the bound texture as the reference.
    const uint32_t columns = std::min(params.width, output.width);
    const uint64_t rows = std::min(params.height, output.height);
    const uint64_t rowBegin64 = static_cast<uint64_t>(groupRowBegin) * kFireGroupHeight;
    const uint64_t rowEnd64 = std::min(rows, static_cast<uint64_t>(groupRowEnd) * kFireGroupHeight);
    if (columns == 0 || rowBegin64 >= rowEnd64) {
        return true;
    }
    if (!FieldInputsFinite(params, anchor) || 0.0f >= params.emitterSize) {
        return RunReferenceGroupRows(params, anchor, output, groupRowBegin, groupRowEnd, options);
    }
    const uint32_t rowBegin = static_cast<uint32_t>(rowBegin64);
    const uint32_t rowEnd = static_cast<uint32_t>(rowEnd64);
    const uint32_t rowCount = rowEnd - rowBegin;

    Dispatch dispatch;
    PlanDispatch(dispatch, params, anchor, output, columns, rowCount, options);
    const fast_fire::RowFunctions functions = RowFunctionsFor(options.isa);
    const unsigned threads = ThreadCount(options.threads, rowCount);

    const DomainBounds lit =
        ScanRows(dispatch, functions, threads, options.team, rowBegin, rowCount);
    if (options.gradientTables) {
        AllocateTables(dispatch, lit);
    }
    FillTables(dispatch.plan, threads, options.team);
    return RenderTexels(dispatch, functions, threads, options.team, rowBegin, rowCount,
                        options.stop);
}

bool RunFastFireKernel(const ParamsBlock& params, const AnchorRecord& anchor,
                       const TexelImage& output, const FastFireOptions& options) {
    return RunFastFireKernelGroupRows(params, anchor, output, 0,
                                      FireGroupCount(params.height, kFireGroupHeight), options);
}

}  // namespace pyrix
