// Runs one piece of work on several threads, the calling one included. The work shares its
// items through atomic counters, so whatever threads start finish all of it: a thread the
// system refuses to start is not a failure, and nothing here can end in std::terminate.
#pragma once

#include <functional>
#include <memory>

namespace pyrix {

// Calls work(index) once on each of up to `threads` threads (index 0 on the calling thread)
// and returns when all calls have finished, with the number of threads that worked. Threads
// that cannot be started (no resources, no memory) are left out. An exception thrown by any
// call is rethrown here once every thread has finished; the first by index wins.
unsigned FanOut(unsigned threads, const std::function<void(unsigned index)>& work);

// Worker threads kept for the several fan-outs of one piece of work (a frame), so that it
// starts its threads once instead of once per fan-out: starting a thread costs far more than
// waking one, most of all under Wine. Each Run tries again to start the threads the team lacks;
// the destructor joins them. One Run at a time.
class FanOutTeam {
  public:
    FanOutTeam();
    ~FanOutTeam();
    FanOutTeam(const FanOutTeam&) = delete;
    FanOutTeam& operator=(const FanOutTeam&) = delete;

    // FanOut on the team's threads.
    unsigned Run(unsigned threads, const std::function<void(unsigned index)>& work);

  private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
};

// Run on `team` when there is one, else FanOut.
unsigned FanOut(FanOutTeam* team, unsigned threads,
                const std::function<void(unsigned index)>& work);

namespace fan_out_testing {

// Makes the next `count` thread starts in FanOut fail as the system does when it has no
// threads left (std::system_error, resource_unavailable_try_again); -1: every start until
// cleared with 0. For tests only.
void FailThreadStarts(int count);

// FailThreadStarts(count) for one scope.
class ScopedThreadStartFailures {
  public:
    explicit ScopedThreadStartFailures(int count) { FailThreadStarts(count); }
    ~ScopedThreadStartFailures() { FailThreadStarts(0); }
    ScopedThreadStartFailures(const ScopedThreadStartFailures&) = delete;
    ScopedThreadStartFailures& operator=(const ScopedThreadStartFailures&) = delete;
};

}  // namespace fan_out_testing

}  // namespace pyrix
