// The process-wide Direct3D 11 renderer: device, kernels, buffers, output textures and the GPU
// poll timer, created by the first frame render and destroyed at global set-down.
#pragma once

#include <cstdint>
#include <mutex>

#include "gpu/com_ref.h"
#include "gpu/platform.h"
#include "host/render_records.h"
#include "kernels/params_block.h"

class GpuRenderer {
  public:
    // Creates everything but the output textures; throws std::runtime_error with a message
    // naming the step that failed, having released what was created.
    GpuRenderer();
    ~GpuRenderer();
    GpuRenderer(const GpuRenderer&) = delete;
    GpuRenderer& operator=(const GpuRenderer&) = delete;

    // Renders one validated frame into request's buffer. False when the host asked to abort.
    bool Render(const RenderRequest& request, const ParamsBlock& params,
                const FrameContext& context);

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
    HANDLE waitTimer = nullptr;  // null: the GPU wait yields instead

  private:
    void EnsureOutputTextures(uint32_t width, uint32_t height);
    void ReleaseOutputTextures();
    void WaitForGpu();
};

// The process-wide renderer, created on first use (creation errors propagate, and the next
// call tries again).
GpuRenderer& GetGpuRenderer();
