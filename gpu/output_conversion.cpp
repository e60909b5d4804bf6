#include "gpu/output_conversion.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr float kFloatLimit = 1000000.0f;

template <class Channel, size_t N>
void WritePixel(uint8_t* destination, const Channel (&pixel)[N]) {
    std::memcpy(destination, pixel, sizeof(pixel));  // host rows need not be aligned
}

// Joins every started worker on every way out, so no thread outlives the frame.
class WorkerThreads {
  public:
    ~WorkerThreads() {
        for (std::thread& worker : workers_) worker.join();
    }
    void Start(const std::function<void()>& work) { workers_.emplace_back(work); }
    void Reserve(size_t count) { workers_.reserve(count); }

  private:
    std::vector<std::thread> workers_;
};

}  // namespace

int64_t BytesPerPixel(int32_t depth) {
    switch (depth) {
        case 2:
            return 16;
        case 1:
            return 8;
        default:
            return 4;
    }
}

float SanitizeFloat(float v) {
    uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof(bits));
    if ((bits & 0x7F800000u) == 0x7F800000u) return 0.0f;  // infinity or NaN
    return std::clamp(v, -kFloatLimit, kFloatLimit);
}

float SanitizeUnit(float v) {
    return std::clamp(SanitizeFloat(v), 0.0f, 1.0f);
}

void ConvertRow::operator()(int32_t y) const {
    const auto* texel = reinterpret_cast<const float*>(source_.data + size_t(y) * source_.rowPitch);
    uint8_t* row = request_.pixels + int64_t(y) * request_.rowBytes;
    const int64_t pixelBytes = BytesPerPixel(request_.depth);
    for (int32_t x = 0; x < request_.width; ++x, texel += 4, row += pixelBytes) {
        const float r = texel[0], g = texel[1], b = texel[2], a = texel[3];
        if (request_.depth == 2) {
            const float pixel[4] = {SanitizeUnit(a), SanitizeFloat(r), SanitizeFloat(g),
                                    SanitizeFloat(b)};
            WritePixel(row, pixel);
        } else if (request_.depth == 1) {
            const uint16_t pixel[4] = {static_cast<uint16_t>(SanitizeUnit(a) * 32768.0f + 0.5f),
                                       static_cast<uint16_t>(SanitizeUnit(r) * 32768.0f + 0.5f),
                                       static_cast<uint16_t>(SanitizeUnit(g) * 32768.0f + 0.5f),
                                       static_cast<uint16_t>(SanitizeUnit(b) * 32768.0f + 0.5f)};
            WritePixel(row, pixel);
        } else {
            const uint8_t pixel[4] = {static_cast<uint8_t>(SanitizeUnit(a) * 255.0f + 0.5f),
                                      static_cast<uint8_t>(SanitizeUnit(r) * 255.0f + 0.5f),
                                      static_cast<uint8_t>(SanitizeUnit(g) * 255.0f + 0.5f),
                                      static_cast<uint8_t>(SanitizeUnit(b) * 255.0f + 0.5f)};
            WritePixel(row, pixel);
        }
    }
}

void ConvertRows(const ReadbackImage& source, const RenderRequest& request) {
    const ConvertRow convert(source, request);
    ParallelForRows(request.height, RowFunction(convert));
}

unsigned ConversionThreadCount(unsigned reportedConcurrency) {
    return std::min(std::max(reportedConcurrency, 1u), kMaxConversionThreads);
}

void ParallelForRows(int32_t n, const RowFunction& rowFunction) {
    if (n < kSerialRowLimit) {
        for (int32_t r = 0; r < n; ++r) rowFunction(r);
        return;
    }
    const unsigned threads = ConversionThreadCount(std::thread::hardware_concurrency());
    std::atomic<int32_t> next{0};
    const std::function<void()> chunkLoop = [&] {
        for (int32_t start = next.fetch_add(kRowChunk); start < n;
             start = next.fetch_add(kRowChunk)) {
            const int32_t end = std::min(start, n - kRowChunk) + kRowChunk;  // no overflow
            for (int32_t r = start; r < end; ++r) rowFunction(r);
        }
    };
    WorkerThreads workers;  // declared after what the workers use: joined before it goes
    workers.Reserve(threads - 1);
    for (unsigned i = 1; i < threads; ++i) workers.Start(chunkLoop);
    chunkLoop();
}
