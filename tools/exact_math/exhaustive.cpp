// The accuracy run of the exact operations: sin, exp2, log2 and sqrt over every float pattern
// (unary_checks.cpp), division over its sets (division_checks.cpp). Prints the number of
// misrounded results of each (with a few of them) and the time; exits 1 if any is wrong.
//
//   exact_math_exhaustive                 everything (make exhaustive)
//   exact_math_exhaustive --sample        2^22 patterns spread over all, and a sample of the
//                                         divisions (make test)
//   exact_math_exhaustive --only div,sqrt the named groups only (sin, exp2, log2, sqrt, div,
//                                         avx2: the AVX2 build of sqrt, exp2, log2 against
//                                         the scalar one)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "kernels/fast_fire_kernel.h"
#include "kernels/float_bits.h"
#include "tools/exact_math/checks.h"

namespace {

using namespace exact_math_check;

constexpr uint32_t kChunks = 4096;

struct Run {
    bool sample = false;
    unsigned checks = (1u << kChecks) - 1u;  // bit 1 << c for check c
    pyrix::ExactLaneFunctions lanes{};       // null where the processor has no AVX2
    unsigned Unary() const { return checks & ((1u << kDivFixed) - 1u); }
    bool Division() const { return (checks & (1u << kDivFixed)) != 0; }
    bool Lanes() const { return (checks & (1u << kSqrtLanes)) != 0; }
};

// One chunk of 2^20 patterns in batches of 1024; the sample takes one batch of patterns spread
// over all 2^32 by an odd stride.
void RunChunk(const Run& run, uint32_t chunk, Mpfr* mpfr, Tally* tally) {
    uint32_t patterns[1024];
    const uint32_t batches = run.sample ? 1u : 1024u;
    for (uint32_t batch = 0; batch < batches; ++batch) {
        for (uint32_t i = 0; i < 1024; ++i) {
            patterns[i] =
                run.sample ? (chunk * 1024 + i) * 0x9E3779B1u : (chunk << 20) + batch * 1024 + i;
            CheckPattern(patterns[i], run.Unary(), mpfr, tally);
        }
        if (run.Lanes()) {
            CheckLanes(run.lanes, patterns, 1024, tally);
        }
    }
}

// Both kinds of work from one queue: the pattern chunks, then the division items.
Tally RunAll(const Run& run, unsigned threads) {
    const uint32_t chunks = run.Unary() != 0 || run.Lanes() ? kChunks : 0;
    const uint32_t items = chunks + (run.Division() ? DivisionItems(run.sample) : 0);
    std::atomic<uint32_t> next{0};
    std::vector<Tally> tallies(threads);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            Mpfr mpfr;
            mpfr_init2(mpfr.x, 24);
            mpfr_init2(mpfr.y, 24);
            for (uint32_t item = next++; item < items; item = next++) {
                if (item < chunks) {
                    RunChunk(run, item, &mpfr, &tallies[t]);
                } else {
                    CheckDivisionItem(item - chunks, run.sample, &tallies[t]);
                }
            }
            mpfr_clear(mpfr.x);
            mpfr_clear(mpfr.y);
            mpfr_free_cache2(MPFR_FREE_LOCAL_CACHE);  // the constants MPFR kept for this thread
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    mpfr_free_cache();
    Tally all;
    for (const Tally& tally : tallies) {
        all.Add(tally);
    }
    return all;
}

// The checks named in a list such as "div,sqrt" ("div" names the three division sets); false
// for an empty list or a name that is no group's, so that a typing error never checks nothing.
bool NamedChecks(const std::string& list, unsigned* checks) {
    *checks = 0;
    size_t start = 0;
    do {
        const size_t end = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, end - start);
        unsigned named = 0;
        for (int c = 0; c < kChecks; ++c) {
            if (name == GroupName(c)) named |= 1u << c;
        }
        if (named == 0) {
            std::fprintf(stderr, "--only: \"%s\" is none of sin, exp2, log2, sqrt, div, avx2\n",
                         name.c_str());
            return false;
        }
        *checks |= named;
        start = end + 1;
    } while (start <= list.size());
    return true;
}

uint64_t Report(const Run& run, const Tally& all) {
    std::printf(
        "%s run: sin (the CPU's integer path, and the float path first as the kernels take it), "
        "exp2, log2 and sqrt over %s float patterns (exp2 +0 below -126, sin finite only), each in "
        "the caller's float mode "
        "and with denormals flushed, and "
        "their AVX2 build against the scalar one; division over every "
        "significand of a against fixed divisors and divisors next to powers of two, and "
        "quotients next to a rounding midpoint%s\n",
        run.sample ? "sampled" : "exhaustive", run.sample ? "2^22" : "all 2^32",
        run.sample ? " (a sample)" : "");
    uint64_t wrong = 0;
    for (int c = 0; c < kChecks; ++c) {
        if ((run.checks & (1u << c)) == 0) {
            continue;
        }
        std::printf("%-14s %10llu checked, %llu misrounded", kNames[c],
                    static_cast<unsigned long long>(all.checked[c]),
                    static_cast<unsigned long long>(all.wrong[c]));
        for (size_t i = 0; i < all.examples[c].size(); i += 2) {
            std::printf(c >= kDivFixed && c <= kDivMidpoints ? " %a/%a" : " %a",
                        static_cast<double>(FloatFromBits(all.examples[c][i])),
                        static_cast<double>(FloatFromBits(all.examples[c][i + 1])));
        }
        std::printf("\n");
        wrong += all.wrong[c];
    }
    return wrong;
}

}  // namespace

int main(int argc, char** argv) {
    Run run;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sample") == 0) {
            run.sample = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            if (!NamedChecks(argv[++i], &run.checks)) return 2;
        } else {
            std::fprintf(stderr, "usage: %s [--sample] [--only sin,exp2,log2,sqrt,div,avx2]\n",
                         argv[0]);
            return 2;
        }
    }
    if (pyrix::BestFastFireIsa() == pyrix::FastFireIsa::Avx2) {
        run.lanes = pyrix::Avx2ExactLaneFunctions();
    } else if (run.Lanes()) {
        std::printf("no AVX2 on this processor: its lanes are not checked\n");
        run.checks &= ~((1u << kSqrtLanes) | (1u << kExp2Lanes) | (1u << kLog2Lanes));
    }
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    const unsigned threads = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    const Tally all = RunAll(run, threads);
    const uint64_t wrong = Report(run, all);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf(
        "%llu close cases decided by MPFR; %.0f s on %u threads (%.1f s of processor "
        "time: the machine may be shared)\n",
        static_cast<unsigned long long>(all.mpfrCalls), seconds, threads, cpuSeconds);
    return wrong == 0 ? 0 : 1;
}
