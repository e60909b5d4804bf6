// The fast FireKernel's rows eight pixels at a time with AVX2. This unit alone is compiled with
// -mavx2 (never -mfma: a fused multiply-add would round differently from the reference) and is
// only entered after the processor has reported AVX2. It shares no inline code with the other
// units: everything below has internal linkage.
#include <immintrin.h>
#include <math.h>

#include <cstddef>
#include <cstdint>

#include "kernels/exact_math_avx2.h"
#include "kernels/exact_math_tables.h"
#include "kernels/fast_fire_plan.h"

namespace pyrix {

namespace {

#include "kernels/exact_math_lanes.h"

struct Avx2Lanes {
    static constexpr int kWidth = 8;
    using F = __m256;
    using M = __m256;
    using I = __m256i;
    using U = __m256i;

    static F Set(float v) { return _mm256_set1_ps(v); }
    static F Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, F v) { _mm256_storeu_ps(p, v); }
    static F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F Sqrt(F a) { return ExactLanes<Avx2Lanes>::Sqrt(a); }
    static F RoundedSqrt(F a) { return _mm256_sqrt_ps(a); }
    static F Exp2(F a) { return ExactLanes<Avx2Lanes>::Exp2(a); }
    static F Log2(F a) { return ExactLanes<Avx2Lanes>::Log2(a); }
    static U AsBits(F v) { return _mm256_castps_si256(v); }
    static F FromBits(U v) { return _mm256_castsi256_ps(v); }
    static U USet(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
    static U UAdd(U a, U b) { return _mm256_add_epi32(a, b); }
    static U USub(U a, U b) { return _mm256_sub_epi32(a, b); }
    static U UShiftLeft(U a, int n) { return _mm256_slli_epi32(a, n); }
    static U UShiftRight(U a, int n) { return _mm256_srli_epi32(a, n); }
    static U UAnd(U a, U b) { return _mm256_and_si256(a, b); }
    static U UOr(U a, U b) { return _mm256_or_si256(a, b); }
    static F ToFloat(U a) { return _mm256_cvtepi32_ps(a); }
    static F Gather(const float* table, U index) { return _mm256_i32gather_ps(table, index, 4); }
    static U ToInt(F a) { return _mm256_cvttps_epi32(a); }
    static F Floor(F a) { return _mm256_round_ps(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
    // vmaxps returns its second operand unless the first is greater: std::max(a, b) keeps a
    // unless a < b, signed zeros and NaNs included.
    static F Max(F a, F b) { return _mm256_max_ps(b, a); }
    static F Min(F a, F b) { return _mm256_min_ps(b, a); }
    static M Less(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
    static M Greater(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
    static M GreaterEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
    static M NotGreaterEqual(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_NGE_UQ); }
    static M And(M a, M b) { return _mm256_and_ps(a, b); }
    static M AndNot(M a, M b) { return _mm256_andnot_ps(a, b); }
    static M Or(M a, M b) { return _mm256_or_ps(a, b); }
    static F Select(M m, F a, F b) { return _mm256_blendv_ps(b, a, m); }
    static int Bits(M m) { return _mm256_movemask_ps(m); }
    static bool AllSame(F v) {
        const F first = _mm256_permutevar8x32_ps(v, _mm256_setzero_si256());
        return _mm256_movemask_ps(_mm256_cmp_ps(v, first, _CMP_EQ_OQ)) == 0xFF;
    }
    static float First(F v) { return _mm256_cvtss_f32(v); }
    static I TableIndex(M m, F row, F column, int32_t stride) {
        const I index = _mm256_add_epi32(
            _mm256_mullo_epi32(_mm256_cvttps_epi32(row), _mm256_set1_epi32(stride)),
            _mm256_cvttps_epi32(column));
        return _mm256_and_si256(index, _mm256_castps_si256(m));
    }
    // Table entries index[l] of the lanes in m (0 elsewhere). Neighbouring pixels mostly fall
    // into the same or adjacent lattice cells: when all eight entries of a table lie within
    // eight consecutive floats, one load and a permute replace the far slower gather. (Tables
    // carry eight floats of padding for that load.)
    static void Lookup(const float* gxBase, const float* gyBase, I index, M m, F* gx, F* gy) {
        if (Bits(m) == 0xFF) {
            __m256i low = _mm256_min_epi32(index, _mm256_permute2x128_si256(index, index, 1));
            low = _mm256_min_epi32(low, _mm256_shuffle_epi32(low, _MM_SHUFFLE(1, 0, 3, 2)));
            low = _mm256_min_epi32(low, _mm256_shuffle_epi32(low, _MM_SHUFFLE(2, 3, 0, 1)));
            const I offset = _mm256_sub_epi32(index, low);
            const I far = _mm256_cmpgt_epi32(offset, _mm256_set1_epi32(7));
            if (_mm256_testz_si256(far, far)) {
                const int first = _mm256_cvtsi256_si32(low);
                *gx = _mm256_permutevar8x32_ps(_mm256_loadu_ps(gxBase + first), offset);
                *gy = _mm256_permutevar8x32_ps(_mm256_loadu_ps(gyBase + first), offset);
                return;
            }
        }
        *gx = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), gxBase, index, m, 4);
        *gy = _mm256_mask_i32gather_ps(_mm256_setzero_ps(), gyBase, index, m, 4);
    }
};

#include "kernels/fast_fire_rows.h"

using Rows = FireRows<Avx2Lanes>;

template <Avx2Lanes::F (*Function)(Avx2Lanes::F)>
void EachLane(const float* in, float* out, size_t n) {
    for (size_t i = 0; i < n; i += Avx2Lanes::kWidth) {
        Avx2Lanes::Store(out + i, Function(Avx2Lanes::Load(in + i)));
    }
}

}  // namespace

fast_fire::RowFunctions fast_fire::Avx2RowFunctions() {
    return RowFunctions{&Rows::ScanRows, &Rows::RenderRows};
}

ExactLaneFunctions Avx2ExactLaneFunctions() {
    return ExactLaneFunctions{&EachLane<&Avx2Lanes::Sqrt>, &EachLane<&Avx2Lanes::Exp2>,
                              &EachLane<&Avx2Lanes::Log2>};
}

}  // namespace pyrix
