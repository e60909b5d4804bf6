// Renders a range of frames on several host threads, each thread taking the next frame, as the
// host's multi-frame rendering does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace pyrix::preview {

// Calls renderFrame(frame) once for each frame in [first, last] that is started, on `threads`
// threads (at least one, at most one per frame). A frame is started only while `cancel` is
// clear and no earlier call has returned false or thrown; frames already running always
// finish. Threads that cannot be started leave their frames to those that did. Returns the
// number of frames started; an exception from renderFrame is rethrown once all have finished.
int32_t RenderFrames(int32_t first, int32_t last, int32_t threads,
                     const std::function<bool(int32_t frame)>& renderFrame,
                     const std::atomic<bool>& cancel);

}  // namespace pyrix::preview
