#include "tools/pyrix/frame_scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "kernels/fan_out.h"
#include "tools/pyrix/frame_order.h"

namespace pyrix::preview {
namespace {

class Scheduler : public testing::TestWithParam<int32_t> {};

TEST_P(Scheduler, RendersEveryFrameOnce) {
    std::mutex mutex;
    std::multiset<int32_t> frames;
    std::set<std::thread::id> threads;
    std::atomic<bool> cancel{false};
    const int32_t started = RenderFrames(
        5, 24, GetParam(),
        [&](int32_t frame) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::lock_guard<std::mutex> lock(mutex);
            frames.insert(frame);
            threads.insert(std::this_thread::get_id());
            return true;
        },
        cancel);
    EXPECT_EQ(started, 20);
    std::multiset<int32_t> expected;
    for (int32_t f = 5; f <= 24; ++f) expected.insert(f);
    EXPECT_EQ(frames, expected);
    EXPECT_LE(threads.size(), static_cast<size_t>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Threads, Scheduler, testing::Values(1, 2, 4, 100));

TEST(SchedulerConcurrency, RunsFramesAtOnceOnSeveralThreads) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<bool> cancel{false};
    RenderFrames(
        1, 8, 4,
        [&](int32_t) {
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            // Wait until a second frame has started, or long enough to be sure none will.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (most.load() < 2 && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            --running;
            return true;
        },
        cancel);
    EXPECT_GE(most.load(), 2);
}

TEST(SchedulerStops, NoFrameStartsAfterAFailure) {
    std::atomic<bool> cancel{false};
    std::vector<int32_t> frames;
    const int32_t started = RenderFrames(
        1, 10, 1,
        [&](int32_t frame) {
            frames.push_back(frame);
            return frame != 3;
        },
        cancel);
    EXPECT_EQ(started, 3);
    EXPECT_EQ(frames, (std::vector<int32_t>{1, 2, 3}));
}

TEST(SchedulerStops, CancelSkipsTheFramesNotYetStarted) {
    std::atomic<bool> cancel{false};
    std::vector<int32_t> frames;
    EXPECT_EQ(RenderFrames(
                  1, 100, 1,
                  [&](int32_t frame) {
                      frames.push_back(frame);
                      if (frame == 2) cancel = true;
                      return true;
                  },
                  cancel),
              2);
    EXPECT_EQ(frames, (std::vector<int32_t>{1, 2}));

    // On several threads the frames already taken finish; the rest are never started.
    cancel = false;
    std::atomic<int32_t> calls{0};
    const int32_t started = RenderFrames(
        1, 100, 3,
        [&](int32_t frame) {
            ++calls;
            if (frame == 2) cancel = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return true;
        },
        cancel);
    EXPECT_EQ(started, calls.load());
    EXPECT_LT(started, 20);

    std::atomic<bool> cancelled{true};
    EXPECT_EQ(RenderFrames(
                  1, 5, 2, [](int32_t) { return true; }, cancelled),
              0);
}

TEST(SchedulerThreads, RefusedThreadStartsLeaveEveryFrameToTheOthers) {
    const fan_out_testing::ScopedThreadStartFailures failures(-1);
    std::atomic<bool> cancel{false};
    std::set<int32_t> frames;  // only the calling thread renders
    EXPECT_EQ(RenderFrames(
                  1, 12, 4,
                  [&](int32_t frame) {
                      EXPECT_TRUE(frames.insert(frame).second);
                      return true;
                  },
                  cancel),
              12);
    EXPECT_EQ(frames.size(), 12u);
}

TEST(SchedulerStops, AThrowingFrameStopsTheRunAndReachesTheCaller) {
    std::atomic<bool> cancel{false};
    std::atomic<int32_t> calls{0};
    EXPECT_THROW(RenderFrames(
                     1, 1000, 3,
                     [&](int32_t frame) -> bool {
                         ++calls;
                         if (frame == 4) throw std::runtime_error("frame 4");
                         // Slow enough that the other threads cannot finish the whole range
                         // while the throw unwinds (slow under the sanitizers).
                         std::this_thread::sleep_for(std::chrono::milliseconds(1));
                         return true;
                     },
                     cancel),
                 std::runtime_error);
    EXPECT_LT(calls.load(), 1000);
}

TEST(SchedulerRange, EmptyRangeCallsNothing) {
    std::atomic<bool> cancel{false};
    EXPECT_EQ(RenderFrames(
                  5, 4, 2, [](int32_t) -> bool { throw 1; }, cancel),
              0);
}

// Frame 1 of an animation is slow: the frames after it wait for it, at most `capacity` of them
// finished. It ends once the other threads are all held back (or, unbounded, have done every
// frame), then succeeds or fails; a failure wakes those held back and hands nothing on.
void RunWithASlowFirstFrame(bool firstFails, std::vector<int32_t>* handedOn, size_t* mostWaiting) {
    InOrderFrames order(1, 2, [&](const FrameImage& image) { handedOn->push_back(image.width); });
    std::atomic<int32_t> done{0};
    std::atomic<bool> cancel{false};
    RenderFrames(
        1, 12, 4,
        [&](int32_t frame) {
            InOrderFrames::Turn turn(&order, frame);
            if (!turn) return false;
            while (frame == 1 && order.threadsAwaiting() < 3 && done.load() < 11) {
                std::this_thread::yield();
            }
            if (frame == 1 && firstFails) return false;
            turn.Add(FrameImage::Blank(frame, 1, 8));
            ++done;
            return true;
        },
        cancel);
    *mostWaiting = order.mostWaiting();
}

TEST(AnimationOrder, FinishedFramesWaitInOrderAndBounded) {
    std::vector<int32_t> handedOn;
    size_t mostWaiting = 0;
    RunWithASlowFirstFrame(false, &handedOn, &mostWaiting);
    EXPECT_EQ(handedOn, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // Frames 2 and 3 finish and wait; the three other threads are then held back before 4 and
    // later, so exactly `capacity` wait, no more and no fewer.
    EXPECT_EQ(mostWaiting, 2u);

    handedOn.clear();
    RunWithASlowFirstFrame(true, &handedOn, &mostWaiting);
    EXPECT_TRUE(handedOn.empty());
    EXPECT_EQ(mostWaiting, 2u);
}

}  // namespace
}  // namespace pyrix::preview
