#include "kernels/fan_out.h"

#include <atomic>
#include <exception>
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

// Joins every started thread on every way out.
class Joiner {
  public:
    explicit Joiner(std::vector<std::thread>& threads) : threads_(threads) {}
    ~Joiner() {
        for (std::thread& thread : threads_) thread.join();
    }
    Joiner(const Joiner&) = delete;
    Joiner& operator=(const Joiner&) = delete;

  private:
    std::vector<std::thread>& threads_;
};

}  // namespace

unsigned FanOut(unsigned threads, const std::function<void(unsigned index)>& work) {
    if (threads <= 1) {
        work(0);
        return 1;
    }
    std::vector<std::exception_ptr> errors;
    std::vector<std::thread> workers;
    try {
        errors.resize(threads);
        workers.reserve(threads - 1);
    } catch (const std::bad_alloc&) {
        work(0);  // no memory for the bookkeeping: the calling thread does it all
        return 1;
    }
    {
        const Joiner joiner(workers);
        for (unsigned index = 1; index < threads; ++index) {
            try {
                CheckInjectedStartFailure();
                // Nothing escapes the thread function: an escaping exception would terminate.
                workers.emplace_back([&work, &errors, index] {
                    try {
                        work(index);
                    } catch (...) {
                        errors[index] = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                continue;  // a passing shortage: the next start may still succeed
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        try {
            work(0);
        } catch (...) {
            errors[0] = std::current_exception();
        }
    }
    for (const std::exception_ptr& error : errors) {
        if (error) std::rethrow_exception(error);
    }
    return static_cast<unsigned>(workers.size()) + 1;
}

namespace fan_out_testing {

void FailThreadStarts(int count) {
    gFailThreadStarts.store(count);
}

}  // namespace fan_out_testing

}  // namespace pyrix
