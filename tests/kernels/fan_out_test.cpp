// FanOut: refused thread starts and exceptions on any thread end in finished work or a
// rethrown error, never in std::terminate.
#include "kernels/fan_out.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace pyrix {

namespace {

using fan_out_testing::ScopedThreadStartFailures;

// Items shared through a counter, as every user of FanOut shares them.
struct SharedItems {
    explicit SharedItems(int count) : done(size_t(count)) {}
    void Work() {
        for (size_t item = next++; item < done.size(); item = next++) ++done[item];
    }
    bool EachOnce() const {
        for (const std::atomic<int>& d : done) {
            if (d != 1) return false;
        }
        return true;
    }
    std::atomic<size_t> next{0};
    std::vector<std::atomic<int>> done;
};

TEST(FanOut, RefusedStartsLeaveTheWorkToTheThreadsThatRun) {
    struct Case {
        int refused;
        unsigned threadsThatWork;
    };
    for (const Case c : {Case{0, 4}, Case{1, 3}, Case{3, 1}, Case{-1, 1}}) {
        const ScopedThreadStartFailures failures(c.refused);
        SharedItems items(1000);
        EXPECT_EQ(FanOut(4, [&](unsigned) { items.Work(); }), c.threadsThatWork) << c.refused;
        EXPECT_TRUE(items.EachOnce()) << c.refused;
    }
}

TEST(FanOut, AnExceptionOnAnyThreadReachesTheCallerAfterTheOthersFinish) {
    for (unsigned thrower : {0u, 2u}) {
        SharedItems items(1000);
        EXPECT_THROW(FanOut(3,
                            [&](unsigned index) {
                                if (index == thrower) throw std::bad_alloc();
                                items.Work();
                            }),
                     std::bad_alloc);
        EXPECT_TRUE(items.EachOnce()) << "the other threads took every item";
    }
}

// A team keeps the threads it started for its next runs, starts those it lacks again, and
// hands back errors as FanOut does.
TEST(FanOutTeam, KeepsItsThreadsAndStartsTheMissingOnesOnTheNextRun) {
    FanOutTeam team;
    {
        const ScopedThreadStartFailures failures(2);
        SharedItems items(1000);
        EXPECT_EQ(team.Run(4, [&](unsigned) { items.Work(); }), 2u);
        EXPECT_TRUE(items.EachOnce());
    }
    std::vector<std::thread::id> first(4);
    std::vector<std::thread::id> second(4);
    EXPECT_EQ(team.Run(4, [&](unsigned index) { first[index] = std::this_thread::get_id(); }), 4u);
    EXPECT_EQ(team.Run(3, [&](unsigned index) { second[index] = std::this_thread::get_id(); }), 3u);
    EXPECT_EQ(first[0], std::this_thread::get_id());
    for (unsigned index : {1u, 2u}) {
        EXPECT_EQ(first[index], second[index]) << index;
        EXPECT_NE(first[index], first[0]) << index;
    }
    for (unsigned thrower : {0u, 2u}) {
        SharedItems items(1000);
        EXPECT_THROW(team.Run(3,
                              [&](unsigned index) {
                                  if (index == thrower) throw std::bad_alloc();
                                  items.Work();
                              }),
                     std::bad_alloc);
        EXPECT_TRUE(items.EachOnce()) << thrower;
    }
}

}  // namespace

}  // namespace pyrix
