// The process-wide Direct3D 11 renderer: device, kernels, buffers, output textures and the GPU
// poll timer, created by the first frame render and destroyed at global set-down, or retired
// when its device is lost (driver reset, unplugged GPU) so that the next frame makes another.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "gpu/com_ref.h"
#include "gpu/platform.h"
#include "host/render_records.h"
#include "kernels/params_block.h"

// How a frame on a renderer ended, when it did not throw.
enum class RenderOutcome {
    Complete,    // the host buffer holds the frame
    Aborted,     // the host's abort test asked to stop
    DeviceLost,  // the device was already lost when the frame began: nothing was touched
};

class GpuRenderer {
  public:
    // Creates everything but the output textures; throws std::runtime_error with a message
    // naming the step that failed, having released what was created.
    GpuRenderer();
    ~GpuRenderer();
    GpuRenderer(const GpuRenderer&) = delete;
    GpuRenderer& operator=(const GpuRenderer&) = delete;

    // Renders one validated frame into request's buffer. With `mayReportLoss`, a device found
    // lost before any work gives DeviceLost; without it the frame goes on and fails as any
    // frame on a lost device does. Throws std::runtime_error for a GPU failure; a failure
    // that shows the device lost also sets `deviceLost`.
    RenderOutcome Render(const RenderRequest& request, const ParamsBlock& params,
                         const FrameContext& context, bool mayReportLoss = true);

    // Destruction runs in reverse: the output textures first, the device last.
    std::mutex lock;  // one frame at a time on the device; taken by polling
    ComRef<ID3D11Device> device;
    ComRef<ID3D11DeviceContext> deviceContext;  // used only by the holder of `lock`
    ComRef<ID3D11ComputeShader> fireKernel;
    ComRef<ID3D11ComputeShader> anchorKernel;
    ComRef<ID3D11Buffer> anchorBuffer;
    ComRef<ID3D11UnorderedAccessView> anchorUav;
    ComRef<ID3D11ShaderResourceView> anchorSrv;
    ComRef<ID3D11Buffer> paramsBuffer;
    ComRef<ID3D11Texture2D> outputTexture;
    ComRef<ID3D11Texture2D> readbackTexture;
    ComRef<ID3D11UnorderedAccessView> outputUav;
    uint32_t allocatedWidth = 0;  // size the output textures were made for; 0 when none
    uint32_t allocatedHeight = 0;
    HANDLE waitTimer = nullptr;           // null: the GPU wait yields instead
    std::atomic<bool> deviceLost{false};  // for good: the renderer is retired, never reused

  private:
    void EnsureOutputTextures(uint32_t width, uint32_t height);
    void ReleaseOutputTextures();
    void WaitForGpu();
    // After a failed call: a removed or reset device, or one that says it is gone, is lost.
    void NoteFailure(HRESULT result);
};

// The process-wide renderer, created on first use or after the previous one's device was lost
// (creation errors propagate, and the next call tries again). The caller shares ownership, so
// the renderer outlives its retirement or set-down until the caller's frame is done.
std::shared_ptr<GpuRenderer> GetGpuRenderer();

// Drops `renderer` from the process-wide holder if it is still there; frames that hold it
// finish on it. The next GetGpuRenderer builds a new one from the adapter choice on.
void RetireGpuRenderer(const GpuRenderer& renderer);
