#include "tools/pyrix/frame_scheduler.h"

#include <algorithm>

#include "kernels/fan_out.h"

namespace pyrix::preview {

int32_t RenderFrames(int32_t first, int32_t last, int32_t threads,
                     const std::function<bool(int32_t frame)>& renderFrame,
                     const std::atomic<bool>& cancel) {
    if (last < first) return 0;
    const int64_t frames = static_cast<int64_t>(last) - first + 1;
    const int64_t count = std::clamp<int64_t>(threads, 1, frames);

    std::atomic<int64_t> next{first};
    std::atomic<bool> failed{false};
    std::atomic<int32_t> started{0};
    // Threads that cannot be started leave their frames to the others; a frame that throws
    // stops the run like one that fails, and its exception reaches the caller.
    FanOut(static_cast<unsigned>(count), [&](unsigned) {
        while (!cancel.load() && !failed.load()) {
            const int64_t frame = next.fetch_add(1);
            if (frame > last) break;
            ++started;
            try {
                if (!renderFrame(static_cast<int32_t>(frame))) failed = true;
            } catch (...) {
                failed = true;
                throw;
            }
        }
    });
    return started.load();
}

}  // namespace pyrix::preview
