// Frames that finish out of order, handed on in order to a writer that takes them one by one
// (the animated image). A frame further ahead than `capacity` frames of the one due next is not
// started until the clip catches up, so one slow frame cannot make the rest of the clip pile up
// in memory: at most `capacity` finished frames wait.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

class InOrderFrames {
  public:
    using Sink = std::function<void(const FrameImage&)>;
    InOrderFrames(int32_t first, size_t capacity, Sink sink);

    // One frame's place in the order, held while it renders. False when the run stopped before
    // the frame's turn came near. A turn left without Add stops the run (a failed or cancelled
    // frame): the frames after it can never be handed on, and those waiting give up.
    class Turn {
      public:
        Turn(InOrderFrames* order, int32_t frame);  // order null: no order kept, always granted
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        explicit operator bool() const { return granted_; }
        // Hands on the frame and every waiting one that follows it. Throws what the sink throws.
        void Add(FrameImage image);

      private:
        InOrderFrames* order_;
        int32_t frame_;
        bool granted_;
        bool added_ = false;
    };

    void Stop();
    size_t mostWaiting() const;       // the most finished frames that waited at once
    int32_t threadsAwaiting() const;  // threads held back before their frame, now

  private:
    bool AwaitTurn(int32_t frame);
    void Add(int32_t frame, FrameImage image);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int32_t, FrameImage> waiting_;
    int32_t next_;
    size_t capacity_;
    Sink sink_;
    bool stopped_ = false;
    size_t mostWaiting_ = 0;
    int32_t threadsAwaiting_ = 0;
};

}  // namespace pyrix::preview
