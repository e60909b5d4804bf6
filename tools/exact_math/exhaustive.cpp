// Every float through ExactSin, and exp2/log2 over the fire field's ranges, against references of
// higher precision: glibc's double sin (exact reduction) screens each result, MPFR decides every
// one the screen puts above 0.9 ulp; exp2l and log2l for the others. Prints the largest errors
// and the time. Run with `make exhaustive`.
#include <mpfr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "kernels/exact_math.h"

namespace {

float FromBits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    return v;
}

double UlpError(float got, long double exact) {
    int exponent = 0;
    std::frexp(static_cast<double>(exact), &exponent);
    exponent = std::max(exponent, -125);  // below 2^-126 the ulp is that of the denormals
    return static_cast<double>(std::fabs(static_cast<long double>(got) - exact) /
                               std::ldexp(1.0L, exponent - 24));
}

struct Worst {
    double sin = 0.0, exp2 = 0.0, log2 = 0.0;
    uint32_t sinAt = 0, exp2At = 0, log2At = 0;
    uint64_t mpfrChecks = 0;
};

void Run(uint64_t begin, uint64_t end, Worst* worst) {
    mpfr_t x, s;
    mpfr_init2(x, 24);
    mpfr_init2(s, 80);
    for (uint64_t i = begin; i < end; ++i) {
        const uint32_t bits = static_cast<uint32_t>(i);
        const float v = FromBits(bits);
        if (!std::isfinite(v)) {
            continue;
        }
        const float got = ExactSin(v);
        double error = UlpError(got, std::sin(static_cast<double>(v)));
        if (error > 0.9) {
            mpfr_set_flt(x, v, MPFR_RNDN);
            mpfr_sin(s, x, MPFR_RNDN);
            error = UlpError(got, mpfr_get_ld(s, MPFR_RNDN));
            ++worst->mpfrChecks;
        }
        if (error > worst->sin) {
            worst->sin = error;
            worst->sinAt = bits;
        }
        // exp2 over [-126, 0] (y <= 0 in the field), log2 over normal d <= 0.125.
        if (v <= 0.0f && v >= -126.0f) {
            const double e = UlpError(ExactExp2(v), exp2l(v));
            if (e > worst->exp2) {
                worst->exp2 = e;
                worst->exp2At = bits;
            }
        }
        if (v >= 0x1p-126f && v <= 0.125f) {
            const double e = UlpError(ExactLog2(v), log2l(v));
            if (e > worst->log2) {
                worst->log2 = e;
                worst->log2At = bits;
            }
        }
    }
    mpfr_clear(x);
    mpfr_clear(s);
}

}  // namespace

int main() {
    const auto start = std::chrono::steady_clock::now();
    const unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    std::vector<Worst> worst(threads);
    std::vector<std::thread> workers;
    const uint64_t total = uint64_t{1} << 32;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(Run, total * t / threads, total * (t + 1) / threads, &worst[t]);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    Worst all;
    for (const Worst& w : worst) {
        if (w.sin > all.sin) all.sin = w.sin, all.sinAt = w.sinAt;
        if (w.exp2 > all.exp2) all.exp2 = w.exp2, all.exp2At = w.exp2At;
        if (w.log2 > all.log2) all.log2 = w.log2, all.log2At = w.log2At;
        all.mpfrChecks += w.mpfrChecks;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sin  over all 2^32 patterns: max %.4f ulp at %a (%llu decided by MPFR)\n", all.sin,
                static_cast<double>(FromBits(all.sinAt)),
                static_cast<unsigned long long>(all.mpfrChecks));
    std::printf("exp2 over [-126, 0]:         max %.4f ulp at %a\n", all.exp2,
                static_cast<double>(FromBits(all.exp2At)));
    std::printf("log2 over [2^-126, 0.125]:   max %.4f ulp at %a\n", all.log2,
                static_cast<double>(FromBits(all.log2At)));
    std::printf("time %.0f s on %u threads\n", seconds, threads);
    return all.sin <= 1.0 && all.exp2 <= 1.0 && all.log2 <= 1.0 ? 0 : 1;
}
