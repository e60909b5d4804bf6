// ExactSin over every float pattern, ExactExp2 over [-126, 128) (and +0 below), ExactLog2 over
// every positive normal float, each against the correctly rounded result. glibc's double sin,
// exp2 and log2 (within 2 ulps of double) decide the rounding wherever the result lies more than
// 2^-46 relatively from a float rounding midpoint; MPFR decides the rest. Prints the number of
// misrounded results of each (a few of them) and the time.
//
//   exact_math_exhaustive            all 2^32 patterns (make exhaustive)
//   exact_math_exhaustive --sample   2^22 patterns spread over all of them (make test)
#include <mpfr.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "kernels/exact_math.h"

namespace {

float FromBits(uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof(v));
    return v;
}

uint32_t Bits(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof(bits));
    return bits;
}

enum Function { kSin, kExp2, kLog2, kFunctions };
constexpr const char* kNames[kFunctions] = {"sin", "exp2", "log2"};

// The correctly rounded float of f(v): from the double result when every value within 2^-46 of
// it rounds to the same float, from MPFR otherwise.
float Expected(Function function, float v, double approximation, mpfr_t x, mpfr_t y,
               uint64_t* mpfrCalls) {
    const double margin = std::fabs(approximation) * 0x1p-46;
    const float low = static_cast<float>(approximation - margin);
    if (low == static_cast<float>(approximation + margin)) {
        return low;
    }
    ++*mpfrCalls;
    mpfr_set_flt(x, v, MPFR_RNDN);
    if (function == kSin) {
        mpfr_sin(y, x, MPFR_RNDN);
    } else if (function == kExp2) {
        mpfr_exp2(y, x, MPFR_RNDN);
    } else {
        mpfr_log2(y, x, MPFR_RNDN);
    }
    return mpfr_get_flt(y, MPFR_RNDN);
}

struct Tally {
    uint64_t checked[kFunctions] = {};
    uint64_t wrong[kFunctions] = {};
    uint64_t mpfrCalls = 0;
    std::vector<uint32_t> examples[kFunctions];

    void Record(Function function, uint32_t bits, bool right) {
        ++checked[function];
        if (!right) {
            ++wrong[function];
            if (examples[function].size() < 8) {
                examples[function].push_back(bits);
            }
        }
    }
};

void Check(uint32_t bits, mpfr_t x, mpfr_t y, Tally* tally) {
    const float v = FromBits(bits);
    if (!std::isfinite(v)) {
        return;
    }
    {
        const float want =
            Expected(kSin, v, std::sin(static_cast<double>(v)), x, y, &tally->mpfrCalls);
        tally->Record(kSin, bits, Bits(pyrix::ExactSin(v)) == Bits(want));
    }
    if (v < -126.0f) {
        tally->Record(kExp2, bits, Bits(pyrix::ExactExp2(v)) == 0u);
    } else if (v < 128.0f) {
        const float want =
            Expected(kExp2, v, std::exp2(static_cast<double>(v)), x, y, &tally->mpfrCalls);
        tally->Record(kExp2, bits, Bits(pyrix::ExactExp2(v)) == Bits(want));
    }
    if (v >= 0x1p-126f) {
        const float want =
            Expected(kLog2, v, std::log2(static_cast<double>(v)), x, y, &tally->mpfrCalls);
        tally->Record(kLog2, bits, Bits(pyrix::ExactLog2(v)) == Bits(want));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool sample = argc > 1 && std::strcmp(argv[1], "--sample") == 0;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    // Chunks of 2^20 patterns, handed out in turn; the sample takes 4 patterns of each chunk,
    // spread by an odd stride.
    constexpr uint64_t kChunks = 4096;
    std::atomic<uint64_t> next{0};
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            mpfr_t x, y;
            mpfr_init2(x, 24);
            mpfr_init2(y, 24);
            for (uint64_t chunk = next++; chunk < kChunks; chunk = next++) {
                if (sample) {
                    for (uint32_t i = 0; i < 1024; ++i) {
                        const uint32_t index = static_cast<uint32_t>(chunk * 1024 + i);
                        Check(index * 0x9E3779B1u, x, y, &tallies[t]);
                    }
                    continue;
                }
                const uint32_t first = static_cast<uint32_t>(chunk << 20);
                for (uint32_t i = 0; i < (1u << 20); ++i) {
                    Check(first + i, x, y, &tallies[t]);
                }
            }
            mpfr_clear(x);
            mpfr_clear(y);
            mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE);  // the constants MPFR kept for this thread
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    mpfr_free_cache();
    Tally all;
    for (const Tally& tally : tallies) {
        for (int f = 0; f < kFunctions; ++f) {
            all.checked[f] += tally.checked[f];
            all.wrong[f] += tally.wrong[f];
            all.examples[f].insert(all.examples[f].end(), tally.examples[f].begin(),
                                   tally.examples[f].end());
        }
        all.mpfrCalls += tally.mpfrCalls;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "%s run: sin over every finite float, exp2 over [-126, 128) and +0 below, log2 "
        "over every positive normal float\n",
        sample ? "sampled" : "exhaustive");
    uint64_t wrong = 0;
    for (int f = 0; f < kFunctions; ++f) {
        std::printf("%-4s %10llu checked, %llu misrounded", kNames[f],
                    static_cast<unsigned long long>(all.checked[f]),
                    static_cast<unsigned long long>(all.wrong[f]));
        for (uint32_t bits : all.examples[f]) {
            std::printf(" %a", static_cast<double>(FromBits(bits)));
        }
        std::printf("\n");
        wrong += all.wrong[f];
    }
    const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf(
        "%llu close cases decided by MPFR; %.0f s on %u threads (%.1f s of processor "
        "time: the machine may be shared)\n",
        static_cast<unsigned long long>(all.mpfrCalls), seconds, threads, cpuSeconds);
    return wrong == 0 ? 0 : 1;
}
