// sin, exp2, log2 and sqrt of one float pattern against the correctly rounded result. glibc's
// double sin, exp2 and log2 (within 2 ulps of double) decide the rounding wherever the result
// lies more than 2^-46 relatively from a float rounding midpoint; MPFR decides the rest. The
// square root's reference is the processor's own (IEEE: correctly rounded by definition).
#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/exact_math.h"
#include "kernels/float_bits.h"
#include "tools/exact_math/checks.h"

namespace exact_math_check {

namespace {

enum Function { kSine, kPower, kLogarithm };

// The correctly rounded float of f(v): from the double result when every value within 2^-46 of
// it rounds to the same float, from MPFR otherwise.
float Expected(Function function, float v, double approximation, Mpfr* mpfr, uint64_t* calls) {
    const double margin = std::fabs(approximation) * 0x1p-46;
    const float low = static_cast<float>(approximation - margin);
    if (low == static_cast<float>(approximation + margin)) {
        return low;
    }
    ++*calls;
    mpfr_set_flt(mpfr->x, v, MPFR_RNDN);
    if (function == kSine) {
        mpfr_sin(mpfr->y, mpfr->x, MPFR_RNDN);
    } else if (function == kPower) {
        mpfr_exp2(mpfr->y, mpfr->x, MPFR_RNDN);
    } else {
        mpfr_log2(mpfr->y, mpfr->x, MPFR_RNDN);
    }
    return mpfr_get_flt(mpfr->y, MPFR_RNDN);
}

// log2 as IEEE gives it for the float the kernels read (a denormal is a zero of its sign).
float ExpectedLog2(float v, Mpfr* mpfr, uint64_t* calls) {
    if (std::fabs(v) < 0x1p-126f) {
        return -INFINITY;
    }
    if (!(v > 0.0f) || std::isinf(v)) {
        return v > 0.0f ? v : NAN;
    }
    return Expected(kLogarithm, v, std::log2(static_cast<double>(v)), mpfr, calls);
}

// IEEE's square root of the float the kernels read: a denormal is a zero of its sign. (No root
// of a normal float is denormal.)
float ExpectedSqrt(float v) {
    return std::fabs(v) < 0x1p-126f ? std::copysign(0.0f, v) : std::sqrt(v);
}

// Right in the caller's float mode and again with denormals flushed, the kernels' mode.
bool RightInBothModes(float (*function)(float), float v, float want) {
    float flushed;
    {
        const pyrix::FlushDenormals flush;
        flushed = function(v);
    }
    return SameResult(function(v), want) && SameResult(flushed, want);
}

}  // namespace

void CheckPattern(uint32_t bits, unsigned checks, Mpfr* mpfr, Tally* tally) {
    const float v = FloatFromBits(bits);
    if ((checks & (1u << kSqrt)) != 0) {
        tally->Record(kSqrt, RightInBothModes(&pyrix::ExactSqrt, v, ExpectedSqrt(v)), bits);
    }
    if ((checks & (1u << kLog2)) != 0) {
        const float want = ExpectedLog2(v, mpfr, &tally->mpfrCalls);
        tally->Record(kLog2, RightInBothModes(&pyrix::ExactLog2, v, want), bits);
    }
    if (!std::isfinite(v)) {
        return;
    }
    if ((checks & ((1u << kSin) | (1u << kSinFloatFirst))) != 0) {
        const float sine =
            Expected(kSine, v, std::sin(static_cast<double>(v)), mpfr, &tally->mpfrCalls);
        if ((checks & (1u << kSin)) != 0) {
            tally->Record(kSin, RightInBothModes(&pyrix::ExactSin, v, sine), bits);
        }
        if ((checks & (1u << kSinFloatFirst)) != 0) {
            tally->Record(kSinFloatFirst, RightInBothModes(&pyrix::ExactSinFloatFirst, v, sine),
                          bits);
        }
    }
    if ((checks & (1u << kExp2)) == 0) {
        return;
    }
    if (v < -126.0f) {
        tally->Record(kExp2, RightInBothModes(&pyrix::ExactExp2, v, 0.0f), bits);
    } else if (v < 128.0f) {
        const float power =
            Expected(kPower, v, std::exp2(static_cast<double>(v)), mpfr, &tally->mpfrCalls);
        tally->Record(kExp2, RightInBothModes(&pyrix::ExactExp2, v, power), bits);
    }
}

void CheckLanes(const pyrix::ExactLaneFunctions& lanes, const uint32_t* patterns, size_t n,
                Tally* tally) {
    std::vector<float> in(n);
    std::vector<float> out(n);
    std::memcpy(in.data(), patterns, n * sizeof(float));
    const struct {
        Check check;
        void (*function)(const float*, float*, size_t);
        float (*scalar)(float);
    } functions[] = {{kSqrtLanes, lanes.sqrt, &pyrix::ExactSqrt},
                     {kExp2Lanes, lanes.exp2, &pyrix::ExactExp2},
                     {kLog2Lanes, lanes.log2, &pyrix::ExactLog2}};
    for (const auto& f : functions) {
        f.function(in.data(), out.data(), n);
        for (size_t i = 0; i < n; ++i) {
            tally->Record(f.check, SameResult(out[i], f.scalar(in[i])), patterns[i]);
        }
    }
}

void Tally::Record(Check check, bool right, uint32_t a, uint32_t b) {
    ++checked[check];
    if (!right) {
        ++wrong[check];
        if (examples[check].size() < 8) {
            examples[check].push_back(a);
            examples[check].push_back(b);
        }
    }
}

void Tally::Add(const Tally& other) {
    for (int c = 0; c < kChecks; ++c) {
        checked[c] += other.checked[c];
        wrong[c] += other.wrong[c];
        examples[c].insert(examples[c].end(), other.examples[c].begin(), other.examples[c].end());
    }
    mpfrCalls += other.mpfrCalls;
}

}  // namespace exact_math_check
