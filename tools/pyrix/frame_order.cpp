#include "tools/pyrix/frame_order.h"

#include <algorithm>
#include <utility>

namespace pyrix::preview {

InOrderFrames::InOrderFrames(int32_t first, size_t capacity, Sink sink)
    : next_(first), capacity_(std::max<size_t>(capacity, 1)), sink_(std::move(sink)) {}

bool InOrderFrames::AwaitTurn(int32_t frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The frame due next is always running, never held back here: its end wakes the others.
    const auto near = [&] {
        return stopped_ || static_cast<int64_t>(frame) - next_ <= static_cast<int64_t>(capacity_);
    };
    if (!near()) {
        ++threadsAwaiting_;
        changed_.wait(lock, near);
        --threadsAwaiting_;
    }
    return !stopped_;
}

void InOrderFrames::Add(int32_t frame, FrameImage image) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    waiting_.emplace(frame, std::move(image));
    mostWaiting_ = std::max(mostWaiting_, waiting_.size() - (waiting_.count(next_) ? 1 : 0));
    try {
        for (auto due = waiting_.find(next_); due != waiting_.end(); due = waiting_.find(next_)) {
            sink_(due->second);
            waiting_.erase(due);
            ++next_;
        }
    } catch (...) {
        stopped_ = true;
        waiting_.clear();
        changed_.notify_all();
        throw;
    }
    changed_.notify_all();
}

void InOrderFrames::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    waiting_.clear();
    changed_.notify_all();
}

size_t InOrderFrames::mostWaiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mostWaiting_;
}

int32_t InOrderFrames::threadsAwaiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threadsAwaiting_;
}

InOrderFrames::Turn::Turn(InOrderFrames* order, int32_t frame)
    : order_(order), frame_(frame), granted_(order == nullptr || order->AwaitTurn(frame)) {}

InOrderFrames::Turn::~Turn() {
    if (order_ != nullptr && granted_ && !added_) order_->Stop();
}

void InOrderFrames::Turn::Add(FrameImage image) {
    if (order_ != nullptr) order_->Add(frame_, std::move(image));
    added_ = true;
}

}  // namespace pyrix::preview
