#include "tools/pyrix/frame_scheduler.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace pyrix {

int32_t RenderFrames(int32_t first, int32_t last, int32_t threads,
                     const std::function<bool(int32_t frame)>& renderFrame,
                     const std::atomic<bool>& cancel) {
    if (last < first) return 0;
    const int64_t frames = static_cast<int64_t>(last) - first + 1;
    const int64_t count = std::clamp<int64_t>(threads, 1, frames);

    std::atomic<int64_t> next{first};
    std::atomic<bool> failed{false};
    std::atomic<int32_t> started{0};
    auto worker = [&] {
        while (!cancel.load() && !failed.load()) {
            const int64_t frame = next.fetch_add(1);
            if (frame > last) break;
            ++started;
            if (!renderFrame(static_cast<int32_t>(frame))) failed = true;
        }
    };

    std::vector<std::thread> pool;
    try {
        for (int64_t i = 1; i < count; ++i) pool.emplace_back(worker);
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones running share all frames between them.
    }
    worker();
    for (std::thread& t : pool) t.join();
    return started.load();
}

}  // namespace pyrix
