// What a frame renders on: the Direct3D 11 renderer, or the CPU renderer where no GPU can serve.
// One process-wide renderer at a time, chosen when it is created.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kernels/params_block.h"
#include "render/render_records.h"

namespace pyrix {

// How a frame on a renderer ended, when it did not throw.
enum class RenderOutcome {
    Complete,    // the host buffer holds the frame
    Aborted,     // the host's abort test asked to stop
    DeviceLost,  // the device was already lost when the frame began: nothing was touched
};

class Renderer {
  public:
    virtual ~Renderer() = default;
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Renders one validated frame into request's buffer. With `mayReportLoss`, a device found
    // lost before any work gives DeviceLost; without it the frame goes on and fails as any
    // frame on a lost device does. Throws std::runtime_error for a failure of the device.
    virtual RenderOutcome Render(const RenderRequest& request, const ParamsBlock& params,
                                 const FrameContext& context, bool mayReportLoss) = 0;

    std::mutex lock;                      // one frame at a time; taken by polling
    std::atomic<bool> deviceLost{false};  // for good: the renderer is retired, never reused

  protected:
    Renderer() = default;
};

// The process-wide renderer, created on first use or after the previous one's device was lost
// (creation errors propagate, and the next call tries again). The caller shares ownership, so
// the renderer outlives its retirement or set-down until the caller's frame is done.
std::shared_ptr<Renderer> GetRenderer();

// Drops `renderer` from the process-wide holder if it is still there; frames that hold it
// finish on it. The next GetRenderer makes a new one.
void RetireRenderer(const Renderer& renderer);

// The longest a frame waits for its GPU work without asking the host's abort, in milliseconds.
constexpr uint32_t kGpuPollTimeoutMs = 10;

// Takes `lock` by trying, asking the abort test and sleeping 3 ms between tries, so that a
// frame queued behind a long one notices an abort. Not owning when the abort test said stop.
std::unique_lock<std::mutex> LockByPolling(std::mutex& lock, const FrameContext& context);

}  // namespace pyrix
