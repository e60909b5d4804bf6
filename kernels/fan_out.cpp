#include "kernels/fan_out.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace pyrix {

namespace {

// Zero except in tests; read once per thread start, which costs far more than the load.
std::atomic<int> gFailThreadStarts{0};

void CheckInjectedStartFailure() {
    int pending = gFailThreadStarts.load(std::memory_order_relaxed);
    while (pending != 0) {
        const int next = pending < 0 ? pending : pending - 1;
        if (gFailThreadStarts.compare_exchange_weak(pending, next)) {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
    }
}

}  // namespace

struct FanOutTeam::Shared {
    std::mutex lock;
    std::condition_variable wake;      // workers: a new round, or the end
    std::condition_variable finished;  // Run: the last worker of the round is done
    uint64_t round = 0;
    unsigned working = 0;  // workers 1 .. working take part in the current round
    unsigned pending = 0;  // of those, the ones not yet done
    bool quit = false;
    const std::function<void(unsigned)>* work = nullptr;
    std::vector<std::exception_ptr> errors;
    std::vector<std::thread> threads;  // worker index - 1

    // `seen`: the round before the thread was started, which it takes no part in.
    void Serve(unsigned index, uint64_t seen) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return quit || round != seen; });
            if (quit) return;
            seen = round;
            if (index > working) continue;
            const std::function<void(unsigned)>& job = *work;
            guard.unlock();
            std::exception_ptr error;
            try {
                job(index);
            } catch (...) {
                error = std::current_exception();
            }
            guard.lock();
            errors[index] = error;
            if (--pending == 0) finished.notify_one();
        }
    }
};

FanOutTeam::FanOutTeam() : shared_(new Shared) {}

FanOutTeam::~FanOutTeam() {
    {
        const std::lock_guard<std::mutex> guard(shared_->lock);
        shared_->quit = true;
    }
    shared_->wake.notify_all();
    for (std::thread& thread : shared_->threads) thread.join();
}

unsigned FanOutTeam::Run(unsigned threads, const std::function<void(unsigned index)>& work) {
    Shared& shared = *shared_;
    if (threads <= 1) {
        work(0);
        return 1;
    }
    // Only this thread changes the list and the size of errors, and only between rounds.
    try {
        if (shared.errors.size() < threads) shared.errors.resize(threads);
        shared.threads.reserve(threads - 1);
    } catch (const std::bad_alloc&) {
        work(0);  // no memory for the bookkeeping: the calling thread does it all
        return 1;
    }
    for (size_t attempt = shared.threads.size(); attempt < threads - 1; ++attempt) {
        try {
            CheckInjectedStartFailure();
            const unsigned index = static_cast<unsigned>(shared.threads.size()) + 1;
            const uint64_t seen = shared.round;  // no round runs while threads start
            shared.threads.emplace_back([&shared, index, seen] { shared.Serve(index, seen); });
        } catch (const std::system_error&) {
            continue;  // a passing shortage: the next start, or the next Run, may succeed
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    const unsigned workers = std::min(static_cast<unsigned>(shared.threads.size()), threads - 1);
    {
        const std::lock_guard<std::mutex> guard(shared.lock);
        shared.work = &work;
        shared.working = workers;
        shared.pending = workers;
        ++shared.round;
    }
    shared.wake.notify_all();
    std::exception_ptr first;
    try {
        work(0);
    } catch (...) {
        first = std::current_exception();
    }
    std::unique_lock<std::mutex> guard(shared.lock);
    shared.finished.wait(guard, [&] { return shared.pending == 0; });
    for (unsigned index = 1; !first && index <= workers; ++index) first = shared.errors[index];
    for (unsigned index = 1; index <= workers; ++index) shared.errors[index] = nullptr;
    shared.work = nullptr;
    guard.unlock();
    if (first) std::rethrow_exception(first);
    return workers + 1;
}

// A team of its own for the one fan-out: its threads start here and are joined on the way out.
unsigned FanOut(unsigned threads, const std::function<void(unsigned index)>& work) {
    std::unique_ptr<FanOutTeam> team;
    if (threads > 1) {
        try {
            team = std::make_unique<FanOutTeam>();
        } catch (const std::bad_alloc&) {
        }
    }
    if (team == nullptr) {
        work(0);  // one thread asked for, or no memory for a team: the calling thread does it all
        return 1;
    }
    return team->Run(threads, work);
}

unsigned FanOut(FanOutTeam* team, unsigned threads,
                const std::function<void(unsigned index)>& work) {
    return team != nullptr ? team->Run(threads, work) : FanOut(threads, work);
}

namespace fan_out_testing {

void FailThreadStarts(int count) {
    gFailThreadStarts.store(count);
}

}  // namespace fan_out_testing

}  // namespace pyrix
