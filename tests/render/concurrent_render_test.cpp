// Several host threads rendering through EffectMain at once, with and without aborts: no
// deadlock, no data race (run under the thread sanitizer), and every frame either complete and
// equal to the reference or cancelled with 517.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "tests/render/render_test_support.h"

namespace pyrix {

namespace render_test {
namespace {

using test_support::CompareWithReference;
using test_support::HostBuffer;

constexpr int kThreads = 4;
constexpr int kFramesPerThread = 3;

struct FrameResult {
    PF_Err result = -1;
    std::string comparison;
};

class ConcurrentRender : public RenderEntryTest {
  protected:
    // One thread's frames: sizes, depths and paths differ between threads and frames, so the
    // renderer's textures are replaced while other threads wait for it.
    void RenderFrames(int thread, std::vector<FrameResult>* results) {
        for (int frame = 0; frame < kFramesPerThread; ++frame) {
            const int32_t width = 16 + 8 * thread + frame;
            const int32_t height = 8 + 4 * frame;
            const int32_t originX = 3 * thread;
            const int32_t originY = frame;
            FrameResult& out = (*results)[size_t(frame)];
            const bool smart = (thread + frame) % 2 == 0;
            if (smart) {
                const A_short bits = A_short(8 << (frame % 3));  // 8, 16, 32
                const int32_t depth = bits == 32 ? 2 : (bits == 16 ? 1 : 0);
                SmartRecords records(PF_LRect{originX, originY, originX + width, originY + height},
                                     bits);
                HostBuffer buffer(width, height, depth);
                out.result = SmartFrameOnThisThread(host, records, buffer, nullptr);
                if (out.result == PF_Err_NONE) {
                    out.comparison = CompareWithReference(
                        buffer, ExpectedParams(knobs, geometry, width, height, originX, originY));
                }
            } else {
                // The legacy path reads the output origin from in_data, shared by all threads:
                // these frames start at the layer's corner.
                const bool deep = frame % 2 == 1;
                HostBuffer buffer(width, height, deep ? 1 : 0);
                PF_EffectWorld world = WorldOf(buffer, 0, 0, deep);
                ParamArray params(knobs, geometry);
                out.result = EffectMain(PF_Cmd_RENDER, host.in_data(), nullptr, params.pointers,
                                        &world, nullptr);
                if (out.result == PF_Err_NONE) {
                    out.comparison = CompareWithReference(
                        buffer, ExpectedParams(knobs, geometry, width, height, 0, 0));
                }
            }
        }
    }

    // Runs every thread to the end and returns all frames' results.
    std::vector<std::vector<FrameResult>> RunAll() {
        std::vector<std::vector<FrameResult>> results(kThreads,
                                                      std::vector<FrameResult>(kFramesPerThread));
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([this, t, &results] { RenderFrames(t, &results[size_t(t)]); });
        }
        for (std::thread& thread : threads) thread.join();
        return results;
    }
};

TEST_F(ConcurrentRender, EveryFrameIsComplete) {
    for (const auto& thread : RunAll()) {
        for (const FrameResult& frame : thread) {
            EXPECT_EQ(frame.result, PF_Err_NONE);
            EXPECT_EQ(frame.comparison, "");
        }
    }
    EXPECT_EQ(d3d_standin::LiveObjects(d3d_standin::Kind::Device), 1) << "one renderer shared";
}

TEST_F(ConcurrentRender, WithAbortsEveryFrameIsCompleteOrCancelled) {
    // Every fifth abort test, from whichever thread, says stop.
    auto calls = std::make_shared<std::atomic<int>>(0);
    host.SetAbort([calls] { return (++*calls % 5 == 0) ? PF_Interrupt_CANCEL : PF_Err_NONE; });
    int cancelled = 0;
    for (const auto& thread : RunAll()) {
        for (const FrameResult& frame : thread) {
            if (frame.result == PF_Interrupt_CANCEL) {
                ++cancelled;
                continue;
            }
            EXPECT_EQ(frame.result, PF_Err_NONE);
            EXPECT_EQ(frame.comparison, "");
        }
    }
    EXPECT_GT(cancelled, 0);
}

}  // namespace
}  // namespace render_test

}  // namespace pyrix
