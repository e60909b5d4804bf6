#include "gpu/render_frame.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include "gpu/gpu_renderer.h"
#include "gpu/output_conversion.h"
#include "gpu/renderer.h"

namespace {

constexpr std::chrono::milliseconds kLockRetryInterval{3};
constexpr LONGLONG kGpuPollInterval = -10000;  // 1 ms, relative, in 100-nanosecond units
constexpr DWORD kGpuPollTimeoutMs = 10;
// Renderers a frame may find lost before it starts on one; the last it renders on regardless.
constexpr int kRendererAttempts = 3;
// The largest stride whose kMaxFrameDimension rows still span less than INT64_MAX bytes.
constexpr uint64_t kMaxRowBytes = uint64_t(INT64_MAX) / kMaxFrameDimension;

bool IsFinite(float v) {
    return std::isfinite(v);
}

float Clamp(float v, float lo, float hi) {
    return std::min(std::max(v, lo), hi);
}

// |rowBytes| without overflow, also for the most negative value.
uint64_t StrideMagnitude(int64_t rowBytes) {
    return rowBytes < 0 ? uint64_t(0) - static_cast<uint64_t>(rowBytes)
                        : static_cast<uint64_t>(rowBytes);
}

// Sleeps until the steady clock has advanced by `interval`, in whole milliseconds.
void SleepFor(std::chrono::milliseconds interval) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + interval;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_for(std::chrono::ceil<std::chrono::milliseconds>(end - now));
    }
}

// Unmaps the read-back texture on every way out of the conversion.
class MappedReadback {
  public:
    MappedReadback(ID3D11DeviceContext* context, ID3D11Resource* resource)
        : context_(context), resource_(resource) {}
    ~MappedReadback() { context_->Unmap(resource_, 0); }
    MappedReadback(const MappedReadback&) = delete;
    MappedReadback& operator=(const MappedReadback&) = delete;

  private:
    ID3D11DeviceContext* context_;
    ID3D11Resource* resource_;
};

}  // namespace

ParamsBlock MakeParamsBlock(const RenderRequest& request, const EffectSettings& settings,
                            const FrameExtent& full) {
    ParamsBlock params = {};
    params.width = static_cast<uint32_t>(request.width);
    params.height = static_cast<uint32_t>(request.height);
    params.originX = request.originX;
    params.originY = request.originY;
    params.fullWidth = static_cast<float>(full.width);
    params.fullHeight = static_cast<float>(full.height);
    params.detail = Clamp(settings.detail, 0.0f, 5.0f);
    const float speed = Clamp(settings.speed, -1000000.0f, 1000000.0f);
    const float offset = Clamp(settings.offset, -1000000.0f, 1000000.0f);
    params.time = settings.frameNumber * 0.03f * speed + offset;
    params.shiftX = settings.positionX - 0.5f;
    params.shiftY = settings.positionY - 0.91f;
    params.emitterSize = Clamp(settings.emitterSize, 0.0f, 1000.0f) / 100.0f;
    params.softness = Clamp(settings.softness, 0.0f, 100.0f) / 100.0f;
    return params;
}

bool RenderFrame(const RenderRequest& request, const EffectSettings& settings,
                 const FrameContext& context) {
    if (request.pixels == nullptr || request.width <= 0 || request.height <= 0) return true;

    const FrameExtent full = FullFrameExtent(context);
    if (full.width < 1 || full.height < 1 || full.width > kMaxFrameDimension ||
        full.height > kMaxFrameDimension || request.width > kMaxFrameDimension ||
        request.height > kMaxFrameDimension) {
        throw std::runtime_error("Unsupported frame dimensions (maximum 16384)");
    }

    if (IsAborted(context)) return false;

    if (!IsFinite(settings.detail) || !IsFinite(settings.speed) || !IsFinite(settings.offset) ||
        !IsFinite(settings.frameNumber)) {
        throw std::runtime_error("Non-finite effect parameter");
    }
    if (!IsFinite(settings.positionX) || !IsFinite(settings.positionY) ||
        !IsFinite(settings.emitterSize) || !IsFinite(settings.softness)) {
        throw std::runtime_error("Non-finite position/emitter parameter");
    }

    // A stride so large that the frame's rows would not fit in the address range is as wrong
    // as one too small (this also covers the most negative value, which has no magnitude).
    const uint64_t rowBytesNeeded = uint64_t(request.width) * BytesPerPixel(request.depth);
    const uint64_t magnitude = StrideMagnitude(request.rowBytes);
    if (magnitude < rowBytesNeeded || magnitude > kMaxRowBytes) {
        throw std::runtime_error("Invalid output stride");
    }

    const ParamsBlock params = MakeParamsBlock(request, settings, full);
    for (int attempt = 1;; ++attempt) {
        const std::shared_ptr<Renderer> renderer = GetRenderer();
        RenderOutcome outcome = RenderOutcome::Complete;
        try {
            outcome = renderer->Render(request, params, context, attempt < kRendererAttempts);
        } catch (...) {
            // This frame saw the loss and fails with its message; the next one starts afresh.
            if (renderer->deviceLost) RetireRenderer(*renderer);
            throw;
        }
        switch (outcome) {
            case RenderOutcome::DeviceLost:
                RetireRenderer(*renderer);
                continue;
            case RenderOutcome::Aborted:
                return false;
            case RenderOutcome::Complete:
                return !IsAborted(context);
        }
    }
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

RenderOutcome GpuRenderer::Render(const RenderRequest& request, const ParamsBlock& params,
                                  const FrameContext& context, bool mayReportLoss) {
    const std::unique_lock<std::mutex> guard = LockByPolling(lock, context);
    if (!guard.owns_lock() || IsAborted(context)) return RenderOutcome::Aborted;
    // Lost by an earlier frame, or between frames (a driver reset while idle): nothing of this
    // frame has touched the device yet, so it can move to a new renderer.
    if (mayReportLoss && (deviceLost || FAILED(device->GetDeviceRemovedReason()))) {
        deviceLost = true;
        return RenderOutcome::DeviceLost;
    }

    EnsureOutputTextures(params.width, params.height);

    ID3D11DeviceContext* gpu = deviceContext.Get();
    ID3D11UnorderedAccessView* const noUav = nullptr;
    ID3D11ShaderResourceView* const noSrv = nullptr;
    gpu->UpdateSubresource(paramsBuffer.Get(), 0, nullptr, &params, 0, 0);
    gpu->CSSetShader(anchorKernel.Get(), nullptr, 0);
    gpu->CSSetConstantBuffers(0, 1, paramsBuffer.GetAddressOf());
    gpu->CSSetUnorderedAccessViews(1, 1, anchorUav.GetAddressOf(), nullptr);
    gpu->Dispatch(1, 1, 1);
    gpu->CSSetUnorderedAccessViews(1, 1, &noUav, nullptr);
    gpu->CSSetShaderResources(0, 1, anchorSrv.GetAddressOf());
    gpu->CSSetShader(fireKernel.Get(), nullptr, 0);
    gpu->CSSetConstantBuffers(0, 1, paramsBuffer.GetAddressOf());
    gpu->CSSetUnorderedAccessViews(0, 1, outputUav.GetAddressOf(), nullptr);
    gpu->Dispatch(FireGroupCount(params.width, kFireGroupWidth),
                  FireGroupCount(params.height, kFireGroupHeight), 1);
    gpu->CSSetUnorderedAccessViews(0, 1, &noUav, nullptr);
    gpu->CSSetShaderResources(0, 1, &noSrv);
    gpu->CopyResource(readbackTexture.Get(), outputTexture.Get());
    gpu->Flush();

    D3D11_MAPPED_SUBRESOURCE mapped = {};
    for (;;) {
        const HRESULT result =
            gpu->Map(readbackTexture.Get(), 0, D3D11_MAP_READ, D3D11_MAP_FLAG_DO_NOT_WAIT, &mapped);
        if (result == DXGI_ERROR_WAS_STILL_DRAWING) {
            if (IsAborted(context)) return RenderOutcome::Aborted;
            WaitForGpu();
            continue;
        }
        if (FAILED(result)) {
            NoteFailure(result);
            throw std::runtime_error("GPU readback failed");
        }
        break;
    }
    {
        const MappedReadback unmap(gpu, readbackTexture.Get());
        ConvertRows(ReadbackImage{static_cast<const uint8_t*>(mapped.pData), mapped.RowPitch},
                    request);
    }
    return IsAborted(context) ? RenderOutcome::Aborted : RenderOutcome::Complete;
}

void GpuRenderer::EnsureOutputTextures(uint32_t width, uint32_t height) {
    if (allocatedWidth == width && allocatedHeight == height) return;
    ReleaseOutputTextures();

    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R32G32B32A32_FLOAT;
    desc.SampleDesc.Count = 1;
    desc.SampleDesc.Quality = 0;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    // A failure leaves no texture behind, so the next frame makes all three again.
    const auto check = [this](HRESULT result, const char* message) {
        if (SUCCEEDED(result)) return;
        ReleaseOutputTextures();
        NoteFailure(result);
        throw std::runtime_error(message);
    };
    check(device->CreateTexture2D(&desc, nullptr, outputTexture.Put()),
          "GPU texture allocation failed");
    check(device->CreateUnorderedAccessView(outputTexture.Get(), nullptr, outputUav.Put()),
          "GPU output view failed");
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    check(device->CreateTexture2D(&desc, nullptr, readbackTexture.Put()),
          "GPU readback allocation failed");
    allocatedWidth = width;
    allocatedHeight = height;
}

void GpuRenderer::WaitForGpu() {
    LARGE_INTEGER due = {};
    due.QuadPart = kGpuPollInterval;
    if (waitTimer != nullptr && SetWaitableTimer(waitTimer, &due, 0, nullptr, nullptr, FALSE)) {
        WaitForSingleObject(waitTimer, kGpuPollTimeoutMs);
    } else {
        SwitchToThread();
    }
}
