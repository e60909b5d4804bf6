// The device's thread, which stands in for the GPU: work submitted by the immediate context
// runs there in order, and the device's loss is decided call by call.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "standins/win32/standin_state.h"

namespace d3d_standin {

using Work = std::function<void()>;

// Executes submitted work in order on its own thread, standing in for the GPU.
class DeviceQueue {
  public:
    DeviceQueue() : thread_([this] { Run(); }) {}
    ~DeviceQueue() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    void Submit(std::vector<Work>& work) {
        if (work.empty()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Work& item : work) queue_.push_back(std::move(item));
        }
        work.clear();
        wake_.notify_all();
    }

    // No work queued or running. Taking the mutex also makes the device's writes visible.
    bool Idle() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.empty() && !running_;
    }

    void WaitIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !running_; });
    }

    // S_OK while the device works; once it is lost, the reason, for good.
    std::atomic<HRESULT> removedReason{S_OK};

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // Holding is a process-wide switch without its own notification: re-check it often.
            wake_.wait_for(lock, std::chrono::milliseconds(1),
                           [this] { return stop_ || (!queue_.empty() && !gDevicesHeld); });
            if (stop_) return;
            if (queue_.empty() || gDevicesHeld) continue;
            Work work = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
            lock.unlock();
            work();
            work = nullptr;
            lock.lock();
            running_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Work> queue_;
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: starts after everything it uses
};

// S_OK when a call into the device of `queue` goes ahead, else the code it fails with: the
// injected reason for the call that loses the device, DXGI_ERROR_DEVICE_REMOVED after it.
inline HRESULT DeviceCall(DeviceQueue& queue) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (queue.removedReason != S_OK) return DXGI_ERROR_DEVICE_REMOVED;
    if (!c.loss.active) return S_OK;
    if (c.loss.skip > 0) {
        --c.loss.skip;
        return S_OK;
    }
    c.loss.active = false;
    queue.removedReason = c.loss.reason;
    ++c.counters.devicesRemoved;
    return c.loss.reason;
}

}  // namespace d3d_standin
