#include "renderers/renderer.h"

#include <chrono>
#include <thread>

#include "renderers/cpu_renderer.h"
#include "renderers/gpu_renderer.h"
#include "renderers/render_frame.h"

namespace pyrix {

namespace {

constexpr std::chrono::milliseconds kLockRetryInterval{3};

// Guards gRenderer: its lookup, creation and retirement, never a render. Never held together
// with a renderer's own lock.
std::mutex gRendererLock;
std::shared_ptr<Renderer> gRenderer;

// Sleeps until the steady clock has advanced by `interval`, in whole milliseconds.
void SleepFor(std::chrono::milliseconds interval) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + interval;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::chrono::ceil<std::chrono::milliseconds>(end - now));
    }
}

// The one place a renderer is made: the GPU when a Direct3D device can be had (software
// adapters are still never used), else the CPU unless the switch says otherwise. A throwing
// constructor frees the memory; the next call tries the GPU again.
std::shared_ptr<Renderer> CreateRenderer() {
    const CpuFallback fallback = CpuFallbackSetting();
    if (fallback == CpuFallback::Force) return std::make_shared<CpuRenderer>();
    try {
        return std::make_shared<GpuRenderer>();
    } catch (const NoGpuDevice&) {
        if (fallback == CpuFallback::Off) throw;
    }
    return std::make_shared<CpuRenderer>();
}

}  // namespace

std::shared_ptr<Renderer> GetRenderer() {
    std::lock_guard<std::mutex> guard(gRendererLock);
    if (gRenderer && gRenderer->deviceLost) gRenderer.reset();
    if (!gRenderer) gRenderer = CreateRenderer();
    return gRenderer;
}

void RetireRenderer(const Renderer& renderer) {
    std::shared_ptr<Renderer> retired;  // destroyed, if last, after the lock is released
    std::lock_guard<std::mutex> guard(gRendererLock);
    if (gRenderer.get() == &renderer) retired = std::move(gRenderer);
}

void ReleaseRenderer() {
    std::shared_ptr<Renderer> renderer;
    {
        std::lock_guard<std::mutex> guard(gRendererLock);
        renderer = std::move(gRenderer);
    }
    if (!renderer) return;
    // Waits for a frame in flight; frames that hold the renderer without having started keep
    // it alive until they are done, so none of them meets freed memory.
    const std::lock_guard<std::mutex> frame(renderer->lock);
}

std::unique_lock<std::mutex> LockByPolling(std::mutex& lock, const FrameContext& context) {
    // Polling rather than blocking, so that a frame queued behind a long one notices an abort.
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    while (!guard.owns_lock()) {
        if (IsAborted(context)) return guard;
        SleepFor(kLockRetryInterval);
        guard.try_lock();
    }
    return guard;
}

}  // namespace pyrix
