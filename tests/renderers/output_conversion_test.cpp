#include "renderers/output_conversion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "kernels/fan_out.h"
#include "tests/renderers/reference_frame.h"

namespace pyrix {

namespace {

using test_support::HostBuffer;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A read-back image of width x height texels, every texel (r, g, b, a), with padded rows.
struct Source {
    Source(int32_t width, int32_t height, float r, float g, float b, float a)
        : pitch(uint32_t(width) * 16 + 32), bytes(size_t(pitch) * size_t(height)) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const float texel[4] = {r, g, b, a};
                std::memcpy(&bytes[size_t(y) * pitch + size_t(x) * 16], texel, 16);
            }
        }
    }
    ReadbackImage image() const { return {bytes.data(), pitch}; }

    uint32_t pitch;
    std::vector<uint8_t> bytes;
};

template <class T>
T Channel(const HostBuffer& buffer, int32_t x, int32_t y, int channel) {
    T value;
    std::memcpy(&value, buffer.Pixel(x, y) + channel * sizeof(T), sizeof(T));
    return value;
}

TEST(Sanitize, NonFiniteBecomesZeroAndRangeIsLimited) {
    EXPECT_EQ(SanitizeFloat(kNaN), 0.0f);
    EXPECT_EQ(SanitizeFloat(kInf), 0.0f);
    EXPECT_EQ(SanitizeFloat(-kInf), 0.0f);
    EXPECT_EQ(SanitizeFloat(2.5e6f), 1e6f);
    EXPECT_EQ(SanitizeFloat(-2.5e6f), -1e6f);
    EXPECT_EQ(SanitizeFloat(-0.25f), -0.25f);
    EXPECT_EQ(SanitizeFloat(std::numeric_limits<float>::max()), 1e6f);
    EXPECT_EQ(SanitizeUnit(kNaN), 0.0f);
    EXPECT_EQ(SanitizeUnit(kInf), 0.0f);
    EXPECT_EQ(SanitizeUnit(1.5f), 1.0f);
    EXPECT_EQ(SanitizeUnit(-1.5f), 0.0f);
    EXPECT_EQ(SanitizeUnit(0.75f), 0.75f);
}

// One source value in every channel, and what each layout makes of it.
struct ChannelCase {
    float source;
    uint8_t eightBit;
    uint16_t sixteenBit;
    float floatColour;
    float floatAlpha;
};

class ConvertChannel : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(ConvertChannel, EveryLayoutRoundsAndClampsAsTheHostExpects) {
    const ChannelCase c = GetParam();
    const Source source(3, 2, c.source, c.source, c.source, c.source);
    for (int32_t depth : {0, 1, 2}) {
        HostBuffer buffer(3, 2, depth);
        ConvertRows(source.image(), buffer.request);
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 3; ++x) {
                for (int channel = 0; channel < 4; ++channel) {
                    SCOPED_TRACE(::testing::Message()
                                 << "depth " << depth << " channel " << channel);
                    if (depth == 0) {
                        EXPECT_EQ(Channel<uint8_t>(buffer, x, y, channel), c.eightBit);
                    } else if (depth == 1) {
                        EXPECT_EQ(Channel<uint16_t>(buffer, x, y, channel), c.sixteenBit);
                    } else {
                        const float expected = channel == 0 ? c.floatAlpha : c.floatColour;
                        EXPECT_EQ(Channel<float>(buffer, x, y, channel), expected);
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Values, ConvertChannel,
                         ::testing::Values(ChannelCase{1.0f, 255, 32768, 1.0f, 1.0f},
                                           ChannelCase{0.5f, 128, 16384, 0.5f, 0.5f},
                                           ChannelCase{0.001f, 0, 33, 0.001f, 0.001f},
                                           ChannelCase{0.0f, 0, 0, 0.0f, 0.0f},
                                           ChannelCase{2.0f, 255, 32768, 2.0f, 1.0f},
                                           ChannelCase{-0.5f, 0, 0, -0.5f, 0.0f},
                                           ChannelCase{-3e6f, 0, 0, -1e6f, 0.0f},
                                           ChannelCase{3e6f, 255, 32768, 1e6f, 1.0f},
                                           ChannelCase{kNaN, 0, 0, 0.0f, 0.0f},
                                           ChannelCase{kInf, 0, 0, 0.0f, 0.0f},
                                           ChannelCase{-kInf, 0, 0, 0.0f, 0.0f}));

TEST(ConvertRows, ChannelsAreWrittenAlphaRedGreenBlue) {
    const Source source(2, 1, 0.25f, 0.5f, 0.75f, 1.0f);
    HostBuffer eight(2, 1, 0);
    ConvertRows(source.image(), eight.request);
    EXPECT_EQ(std::vector<uint8_t>(eight.Pixel(1, 0), eight.Pixel(1, 0) + 4),
              (std::vector<uint8_t>{255, 64, 128, 191}));

    HostBuffer floats(2, 1, 2);
    ConvertRows(source.image(), floats.request);
    EXPECT_EQ(Channel<float>(floats, 1, 0, 0), 1.0f);
    EXPECT_EQ(Channel<float>(floats, 1, 0, 1), 0.25f);
    EXPECT_EQ(Channel<float>(floats, 1, 0, 2), 0.5f);
    EXPECT_EQ(Channel<float>(floats, 1, 0, 3), 0.75f);
}

TEST(ConvertRows, UnknownDepthIsEightBits) {
    const Source source(2, 2, 0.5f, 0.5f, 0.5f, 1.0f);
    HostBuffer buffer(2, 2, 7);  // allocated as 4 bytes per pixel
    ConvertRows(source.image(), buffer.request);
    EXPECT_EQ(Channel<uint8_t>(buffer, 1, 1, 0), 255);
    EXPECT_EQ(Channel<uint8_t>(buffer, 1, 1, 1), 128);
    EXPECT_EQ(buffer.bytes[16], test_support::kUntouched);  // nothing beyond 2 x 2 x 4 bytes
}

TEST(ConvertRows, NegativeStrideRunsRowsTowardLowerAddresses) {
    Source source(2, 3, 0.0f, 0.0f, 0.0f, 1.0f);
    // Mark each source row with its index in red.
    for (uint32_t y = 0; y < 3; ++y) {
        const float red = float(y + 1) / 4.0f;
        std::memcpy(&source.bytes[y * source.pitch], &red, 4);
    }
    HostBuffer buffer(2, 3, 0, -12);  // 8 bytes of pixels, 4 of padding, upward
    ConvertRows(source.image(), buffer.request);
    for (int32_t y = 0; y < 3; ++y) {
        const uint8_t* row = buffer.request.pixels - int64_t(y) * 12;
        EXPECT_EQ(row[1], static_cast<uint8_t>(float(y + 1) / 4.0f * 255.0f + 0.5f)) << y;
        EXPECT_EQ(row[8], test_support::kUntouched) << "padding of row " << y;
    }
    EXPECT_EQ(buffer.request.pixels, buffer.bytes.data() + 24);
}

TEST(ConvertRows, PaddingAndUnalignedRowsAreHandled) {
    const Source source(3, 200, 0.5f, 2.0f, -1.0f, 1.0f);
    HostBuffer buffer(3, 200, 2, 3 * 16 + 5);  // float pixels at odd addresses from row 1 on
    ConvertRows(source.image(), buffer.request);
    for (int32_t y = 0; y < 200; ++y) {
        EXPECT_EQ(Channel<float>(buffer, 2, y, 1), 0.5f);
        EXPECT_EQ(Channel<float>(buffer, 2, y, 2), 2.0f);
        EXPECT_EQ(Channel<float>(buffer, 2, y, 3), -1.0f);
        EXPECT_EQ(buffer.Pixel(0, y)[48], test_support::kUntouched);
    }
}

// 8-bit rows are converted four pixels at a time. Every pixel, at every position within its
// group of four and in the remainder, matches the one-channel formula, for special values and
// for values on both sides of every rounding step k + 0.5; bytes after the row stay untouched.
TEST(ConvertRows, EightBitPixelsMatchTheChannelFormulaEverywhere) {
    std::vector<float> values = {kNaN, -kNaN, kInf, -kInf, -0.0f, 0.0f,   -1.0f,
                                 1.0f, 2.0f,  1e7f, -1e7f, 0.5f,  1e-45f, -1e-45f};
    for (int k = 0; k < 255; ++k) {
        const float edge = (static_cast<float>(k) + 0.5f) / 255.0f;
        for (float v : {std::nextafter(edge, 0.0f), edge, std::nextafter(edge, 1.0f)}) {
            values.push_back(v);
        }
    }
    const auto expected = [](float v) {
        return static_cast<uint8_t>(SanitizeUnit(v) * 255.0f + 0.5f);
    };
    for (int32_t width : {1, 3, 4, 5, 7, 8, 9, 199}) {
        // Channel c of texel x takes value (x * 4 + c + shift) of the list, so that across the
        // shifts every value visits every channel and position.
        for (size_t shift = 0; shift < values.size(); shift += 53) {
            std::vector<float> texels(size_t(width) * 4);
            for (size_t i = 0; i < texels.size(); ++i) {
                texels[i] = values[(i + shift) % values.size()];
            }
            HostBuffer buffer(width, 1, 0, int64_t(width) * 4 + 3);
            const ReadbackImage source{reinterpret_cast<const uint8_t*>(texels.data()),
                                       uint32_t(width) * 16};
            ConvertRows(source, buffer.request);
            for (int32_t x = 0; x < width; ++x) {
                const float* texel = &texels[size_t(x) * 4];
                const float argb[4] = {texel[3], texel[0], texel[1], texel[2]};
                for (int c = 0; c < 4; ++c) {
                    ASSERT_EQ(Channel<uint8_t>(buffer, x, 0, c), expected(argb[c]))
                        << "width " << width << ", pixel " << x << ", channel " << c << ", value "
                        << argb[c];
                }
            }
            EXPECT_EQ(buffer.Pixel(width, 0)[0], test_support::kUntouched);
        }
    }
}

// The host thread's rounding does not reach the bytes: values next to the 8-bit rounding edges,
// converted on a thread that rounds toward zero, give what rounding to nearest gives.
TEST(ConvertRows, TheHostsRoundingModeChangesNoByte) {
    std::vector<float> texels;
    for (int k = 0; k < 255; ++k) {
        const float edge = (static_cast<float>(k) + 0.5f) / 255.0f;
        for (float v : {std::nextafter(edge, 0.0f), edge, std::nextafter(edge, 1.0f)}) {
            texels.insert(texels.end(), {v, v, v, v});
        }
    }
    const int32_t width = int32_t(texels.size() / 4);
    const ReadbackImage source{reinterpret_cast<const uint8_t*>(texels.data()),
                               uint32_t(width) * 16};
    HostBuffer nearest(width, 1, 0), towardZero(width, 1, 0);
    ConvertRows(source, nearest.request);
    const int callers = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    ConvertRows(source, towardZero.request);
    std::fesetround(callers);
    size_t differing = 0;
    for (size_t i = 0; i < nearest.bytes.size(); ++i) {
        differing += towardZero.bytes[i] != nearest.bytes[i] ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u);
}

TEST(ConversionThreadCount, AtLeastOneAtMostSix) {
    EXPECT_EQ(ConversionThreadCount(0), 1u);
    EXPECT_EQ(ConversionThreadCount(1), 1u);
    EXPECT_EQ(ConversionThreadCount(2), 2u);
    EXPECT_EQ(ConversionThreadCount(6), 6u);
    EXPECT_EQ(ConversionThreadCount(64), 6u);
}

// Which thread converted each row.
std::vector<std::thread::id> RunRows(int32_t n) {
    std::vector<std::thread::id> owner(size_t(n > 0 ? n : 0));
    std::vector<std::atomic<int>> calls(owner.size());
    ParallelForRows(n, [&](int32_t r) {
        calls[size_t(r)].fetch_add(1);
        owner[size_t(r)] = std::this_thread::get_id();
    });
    for (size_t r = 0; r < calls.size(); ++r) EXPECT_EQ(calls[r].load(), 1) << "row " << r;
    return owner;
}

class ParallelRows : public ::testing::TestWithParam<int32_t> {};

TEST_P(ParallelRows, EveryRowExactlyOnceInChunksOfEight) {
    const int32_t n = GetParam();
    const std::vector<std::thread::id> owner = RunRows(n);
    std::map<std::thread::id, int> rowsPerThread;
    for (size_t r = 0; r < owner.size(); ++r) {
        ++rowsPerThread[owner[r]];
        EXPECT_EQ(owner[r], owner[r / 8 * 8]) << "row " << r << " left its chunk";
    }
    if (n < kSerialRowLimit) {
        for (const auto& entry : rowsPerThread) EXPECT_EQ(entry.first, std::this_thread::get_id());
    } else {
        EXPECT_LE(rowsPerThread.size(), ConversionThreadCount(std::thread::hardware_concurrency()));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ParallelRows,
                         ::testing::Values(-5, 0, 1, 9, 127, 128, 129, 1000, 16384));

TEST(ParallelRows, RefusedThreadStartsLeaveTheRowsToTheOthers) {
    for (int refused : {1, -1}) {
        const fan_out_testing::ScopedThreadStartFailures failures(refused);
        const std::vector<std::thread::id> owner = RunRows(1000);  // every row exactly once
        if (refused < 0) {
            for (const std::thread::id& id : owner) EXPECT_EQ(id, std::this_thread::get_id());
        }
    }
}

TEST(ParallelRows, SmallFramesRunInOrderOnTheCallingThread) {
    std::vector<int32_t> order;
    ParallelForRows(127, [&](int32_t r) { order.push_back(r); });  // unsynchronised on purpose
    ASSERT_EQ(order.size(), 127u);
    for (int32_t r = 0; r < 127; ++r) EXPECT_EQ(order[size_t(r)], r);
}

TEST(ParallelRows, LargeFramesShareTheWorkBetweenThreads) {
    if (ConversionThreadCount(std::thread::hardware_concurrency()) < 2) {
        GTEST_SKIP() << "one processor: the calling thread converts alone";
    }
    // Every row waits until a second thread has converted a row too, which only a second
    // converting thread can do (a lone thread gives up after the timeout and fails).
    std::mutex mutex;
    std::condition_variable arrived;
    std::set<std::thread::id> seen;
    ParallelForRows(kSerialRowLimit, [&](int32_t) {
        std::unique_lock<std::mutex> lock(mutex);
        seen.insert(std::this_thread::get_id());
        arrived.notify_all();
        arrived.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() >= 2; });
    });
    EXPECT_GE(seen.size(), 2u);
}

}  // namespace

}  // namespace pyrix
