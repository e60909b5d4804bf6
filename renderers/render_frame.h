// The frame render: validation and the process-wide renderer's lifetime. Free of platform and
// kernel headers so that the host side can include it.
#pragma once

#include <cstdint>

#include "render/effect_settings.h"
#include "render/render_records.h"

namespace pyrix {

constexpr int32_t kMaxFrameDimension = 16384;

// The kernels' float mode (round to nearest, denormals flushed) for the host side's own float
// arithmetic on a frame: its settings and its extent. A host thread that rounds otherwise must
// change no bit of them. Restores the thread's mode on exit; per thread.
class FrameFloatMode {
  public:
    FrameFloatMode();
    ~FrameFloatMode();
    FrameFloatMode(const FrameFloatMode&) = delete;
    FrameFloatMode& operator=(const FrameFloatMode&) = delete;

  private:
    unsigned saved_;
};

// The frame's full extent (FullFrameExtent) worked out in FrameFloatMode: every command that
// sizes a frame gets the same pixels whatever the host thread's rounding.
FrameExtent FrameFullExtent(const FrameContext& context);

// Renders one frame into request's buffer. True when the frame is complete or there was
// nothing to render, false when the host's abort test asked to stop. Throws
// std::runtime_error for an invalid request or a GPU failure.
bool RenderFrame(const RenderRequest& request, const EffectSettings& settings,
                 const FrameContext& context);

// Drops the process-wide renderer, if any, at global set-down: waits for the frame rendering on
// it; frames that still hold it finish on it, and the last one out destroys it.
void ReleaseRenderer();

}  // namespace pyrix
