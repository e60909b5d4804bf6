// The Direct3D 11 renderer: device, kernels, buffers, output textures and the GPU poll timer,
// created by the first frame render and destroyed at global set-down, or retired when its
// device is lost (driver reset, unplugged GPU) so that the next frame makes another.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "renderers/com_ref.h"
#include "renderers/gpu_conversion.h"
#include "renderers/platform.h"
#include "renderers/renderer.h"

namespace pyrix {

// No Direct3D device to be had at all: no DXGI, no hardware adapter, or the chosen adapter
// refuses a device. The one creation failure that the CPU renderer may stand in for.
class NoGpuDevice : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Bytes per resource, read when a renderer is created: lowers the device's limit (for tests of
// the bands of rows that frames beyond it are rendered in, and for support); unset, empty or
// invalid: no effect. A band keeps at least one row of thread groups (8 rows) however low it is.
constexpr const char* kGpuResourceLimitVariable = "PYRIX_GPU_RESOURCE_LIMIT";

// Direct3D 11's limit on one resource: a quarter of the video memory, at least 128 MiB and at
// most 2 GiB; the variable above may lower it.
uint64_t GpuResourceLimit(uint64_t dedicatedVideoMemory);

class GpuRenderer final : public Renderer {
  public:
    // Creates everything but the output textures; throws std::runtime_error (NoGpuDevice up to
    // the device) with a message naming the step that failed, having released what was created.
    GpuRenderer();
    ~GpuRenderer() override;

    // A failure that shows the device lost also sets `deviceLost`.
    RenderOutcome Render(const RenderRequest& request, const ParamsBlock& params,
                         const FrameContext& context, bool mayReportLoss) override;

  private:
    // One band of rows of the frame: all of it when its resources fit within resourceLimit.
    // The resources hold textureRows rows, every band's but the last, which uses fewer.
    RenderOutcome RenderBand(const RenderRequest& band, const ParamsBlock& params,
                             uint32_t textureRows, const FrameContext& context);
    // Maps a read-back resource once the GPU is done; false when the host aborts meanwhile.
    bool MapWhenDone(ID3D11Resource* resource, const FrameContext& context,
                     D3D11_MAPPED_SUBRESOURCE* mapped);
    void EnsureOutputTextures(uint32_t width, uint32_t height);
    // The fire kernel's first or second pass over the frame's groups, with their resources.
    void DispatchFire(ID3D11ComputeShader* kernel, const ParamsBlock& params);
    // The texture converted to host pixels (8, 16 bits) or copied, into the read-back resource.
    void QueueReadback(const ParamsBlock& params, int32_t depth);
    // Waits for the first pass's marks; false when the host aborts meanwhile.
    bool FirstPassMarked(const ParamsBlock& params, const FrameContext& context, bool* marked);
    void EnsureRedoMarks();
    void EnsureFloatReadback();
    // A failed creation: releases the frame's resources, notes a lost device, throws `message`.
    void FailedCreation(HRESULT result, const char* message);
    void ReleaseOutputTextures();
    void WaitForGpu();
    // After a failed call: a removed or reset device, or one that says it is gone, is lost.
    void NoteFailure(HRESULT result);

    // Destruction runs in reverse: the output textures first, the device last.
    ComRef<ID3D11Device> device;
    ComRef<ID3D11DeviceContext> deviceContext;  // used only by the holder of `lock`
    ComRef<ID3D11ComputeShader> fireKernel;
    ComRef<ID3D11ComputeShader> fireRedoKernel;  // renders again the groups fireKernel marks
    ComRef<ID3D11ComputeShader> anchorKernel;
    ComRef<ID3D11Buffer> anchorBuffer;
    ComRef<ID3D11UnorderedAccessView> anchorUav;
    ComRef<ID3D11ShaderResourceView> anchorSrv;
    ComRef<ID3D11Buffer> paramsBuffer;
    ComRef<ID3D11Buffer> tablesBuffer;  // bound at b1 for the device's life
    GpuConversion conversion;           // 8- and 16-bit frames
    ComRef<ID3D11Texture2D> outputTexture;
    ComRef<ID3D11Texture2D> readbackTexture;  // 32-bit frames
    ComRef<ID3D11UnorderedAccessView> outputUav;
    ComRef<ID3D11ShaderResourceView> outputSrv;
    ComRef<ID3D11Buffer> redoMarks;  // a uint per thread group of the output texture, and one (u3)
    ComRef<ID3D11UnorderedAccessView> redoMarksUav;
    ComRef<ID3D11Buffer> redoMarksReadback;
    uint32_t allocatedWidth = 0;  // size the output textures were made for; 0 when none
    uint32_t allocatedHeight = 0;
    HANDLE waitTimer = nullptr;  // null: the GPU wait yields instead
    uint64_t resourceLimit = 0;  // bytes per resource
};

}  // namespace pyrix
