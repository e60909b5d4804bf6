#include "renderers/output_conversion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "kernels/exact_math.h"
#include "kernels/fan_out.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define PYRIX_CONVERT_SSE2 1
#endif

namespace pyrix {

namespace {

// The 8-bit layout, four pixels at a time with SSE2 (which every x86-64 processor has): the
// same single-precision operations as ConvertChannel8 in the same order, without fused
// multiply-adds, so the same bytes (a denormal or a zero gives 0 either way); it keeps the
// conversion about as fast as a copy of its source.
void ConvertPixels8Bit(const float* texel, uint8_t* destination, int32_t width) {
    int32_t x = 0;
#ifdef PYRIX_CONVERT_SSE2
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(kScale8Bit);
    const __m128 half = _mm_set1_ps(kRoundHalf);
    const __m128i exponent = _mm_set1_epi32(0x7F800000);
    for (; x + 4 <= width; x += 4) {
        __m128i channels[4];
        for (int pixel = 0; pixel < 4; ++pixel) {
            const __m128 v = _mm_loadu_ps(texel + 4 * (int64_t(x) + pixel));
            // Infinities and NaNs (all exponent bits set) give 0; finite values clamp to
            // [0, 1] (the clamp to +-1e6 before that changes nothing here).
            const __m128i special =
                _mm_cmpeq_epi32(_mm_and_si128(_mm_castps_si128(v), exponent), exponent);
            const __m128 unit =
                _mm_andnot_ps(_mm_castsi128_ps(special), _mm_min_ps(_mm_max_ps(v, zero), one));
            channels[pixel] = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(unit, scale), half));
        }
        // Every lane holds 0..255, so the saturating packs only narrow: R, G, B, A bytes.
        const __m128i rgba = _mm_packus_epi16(_mm_packs_epi32(channels[0], channels[1]),
                                              _mm_packs_epi32(channels[2], channels[3]));
        // The little-endian pixel word R | G << 8 | B << 16 | A << 24 rotated left by one
        // byte lies in memory as A, R, G, B.
        const __m128i argb = _mm_or_si128(_mm_slli_epi32(rgba, 8), _mm_srli_epi32(rgba, 24));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 4 * int64_t(x)), argb);
    }
#endif
    ConvertPixels<uint8_t>(texel + 4 * int64_t(x), destination + 4 * int64_t(x), width - x,
                           Channel8{});
}

// Converts one row of the source into the same row of the host buffer.
class ConvertRow {
  public:
    ConvertRow(const ReadbackImage& source, const RenderRequest& request)
        : source_(source), request_(request) {}
    void operator()(int32_t y) const;

  private:
    const ReadbackImage& source_;
    const RenderRequest& request_;
};

}  // namespace

void ConvertRow::operator()(int32_t y) const {
    const auto* texels =
        reinterpret_cast<const float*>(source_.data + size_t(y) * source_.rowPitch);
    uint8_t* row = request_.pixels + int64_t(y) * request_.rowBytes;
    // One loop per layout: the layout is the same for every pixel of the frame.
    switch (request_.depth) {
        case kPixelDepth32Float:
            ConvertPixels<float>(texels, row, request_.width, Channel32{});
            break;
        case kPixelDepth16:
            ConvertPixels<uint16_t>(texels, row, request_.width, Channel16{});
            break;
        default:
            ConvertPixels8Bit(texels, row, request_.width);
            break;
    }
}

void ConvertRows(const ReadbackImage& source, const RenderRequest& request, FanOutTeam* team) {
    const ConvertRow convert(source, request);
    ParallelForRows(request.height, RowFunction(convert), team);
}

unsigned ConversionThreadCount(unsigned reportedConcurrency) {
    return std::min(std::max(reportedConcurrency, 1u), kMaxConversionThreads);
}

void ParallelForRows(int32_t n, const RowFunction& rowFunction, FanOutTeam* team) {
    // The kernels' float mode on every thread, set once per thread rather than per row: the
    // host's rounding changes no byte.
    if (n < kSerialRowLimit) {
        const FlushDenormals kernelsMode;
        for (int32_t r = 0; r < n; ++r) rowFunction(r);
        return;
    }
    const unsigned threads = ConversionThreadCount(std::thread::hardware_concurrency());
    std::atomic<int32_t> next{0};
    FanOut(team, threads, [&](unsigned) {
        const FlushDenormals kernelsMode;
        for (int32_t start = next.fetch_add(kRowChunk); start < n;
             start = next.fetch_add(kRowChunk)) {
            const int32_t end = std::min(start, n - kRowChunk) + kRowChunk;  // no overflow
            for (int32_t r = start; r < end; ++r) rowFunction(r);
        }
    });
}

}  // namespace pyrix
