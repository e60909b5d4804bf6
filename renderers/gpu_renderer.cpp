#include "renderers/gpu_renderer.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "kernels/exact_math_tables.h"
#include "kernels/kernel_bytecode.h"
#include "renderers/gpu_readback.h"
#include "renderers/output_conversion.h"

namespace pyrix {

namespace {

constexpr LONGLONG kGpuPollInterval = -10000;  // 1 ms, relative, in 100-nanosecond units
constexpr uint64_t kFloatTexelBytes = 16;      // DXGI_FORMAT_R32G32B32A32_FLOAT

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

void CheckDevice(HRESULT result, const char* message) {
    if (FAILED(result)) throw NoGpuDevice(message);
}

// The hardware adapter with the most dedicated video memory; on a tie the first enumerated.
ComRef<IDXGIAdapter1> ChooseAdapter(IDXGIFactory1* factory, uint64_t* videoMemory) {
    ComRef<IDXGIAdapter1> best;
    SIZE_T bestMemory = 0;
    for (UINT index = 0;; ++index) {
        ComRef<IDXGIAdapter1> adapter;
        // DXGI_ERROR_NOT_FOUND ends the list; any other failure ends it just the same.
        if (FAILED(factory->EnumAdapters1(index, adapter.Put()))) break;
        DXGI_ADAPTER_DESC1 desc = {};
        if (FAILED(adapter->GetDesc1(&desc))) continue;  // unknown adapters are not trusted
        if ((desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) != 0) continue;
        if (!best || desc.DedicatedVideoMemory > bestMemory) {
            best = std::move(adapter);
            bestMemory = desc.DedicatedVideoMemory;
        }
    }
    *videoMemory = bestMemory;
    return best;
}

// The device on the chosen adapter; NoGpuDevice when there is none to be had.
void CreateDevice(ComRef<ID3D11Device>& device, ComRef<ID3D11DeviceContext>& context,
                  uint64_t* videoMemory) {
    ComRef<IDXGIFactory1> factory;
    CheckDevice(CreateDXGIFactory1(IID_IDXGIFactory1, reinterpret_cast<void**>(factory.Put())),
                "DXGI initialization failed");

    ComRef<IDXGIAdapter1> adapter = ChooseAdapter(factory.Get(), videoMemory);
    if (!adapter) throw NoGpuDevice("No hardware GPU available");

    // Only 11.0: an adapter below it fails here rather than falling back to another one.
    const D3D_FEATURE_LEVEL featureLevels[] = {D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL obtainedLevel = D3D_FEATURE_LEVEL_11_0;
    ID3D11DeviceContext** contextOut = context.Put();
    ID3D11Device** deviceOut = device.Put();
    CheckDevice(D3D11CreateDevice(adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, featureLevels,
                                  1, D3D11_SDK_VERSION, deviceOut, &obtainedLevel, contextOut),
                "Direct3D 11 GPU initialization failed");
}

// The anchor kernel's one-record structured buffer, written through `uav` and read through `srv`.
void CreateAnchorBuffer(ID3D11Device* device, ComRef<ID3D11Buffer>& buffer,
                        ComRef<ID3D11UnorderedAccessView>& uav,
                        ComRef<ID3D11ShaderResourceView>& srv) {
    D3D11_BUFFER_DESC anchorDesc = {};
    anchorDesc.ByteWidth = sizeof(AnchorRecord);
    anchorDesc.Usage = D3D11_USAGE_DEFAULT;
    anchorDesc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    anchorDesc.CPUAccessFlags = 0;
    anchorDesc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    anchorDesc.StructureByteStride = sizeof(AnchorRecord);
    Check(device->CreateBuffer(&anchorDesc, nullptr, buffer.Put()),
          "GPU anchor buffer allocation failed");

    D3D11_UNORDERED_ACCESS_VIEW_DESC uavDesc = {};
    uavDesc.Format = DXGI_FORMAT_UNKNOWN;
    uavDesc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    uavDesc.Buffer.FirstElement = 0;
    uavDesc.Buffer.NumElements = 1;
    uavDesc.Buffer.Flags = 0;
    Check(device->CreateUnorderedAccessView(buffer.Get(), &uavDesc, uav.Put()),
          "GPU anchor UAV failed");

    D3D11_SHADER_RESOURCE_VIEW_DESC srvDesc = {};
    srvDesc.Format = DXGI_FORMAT_UNKNOWN;
    srvDesc.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
    srvDesc.Buffer.FirstElement = 0;
    srvDesc.Buffer.NumElements = 1;
    Check(device->CreateShaderResourceView(buffer.Get(), &srvDesc, srv.Put()),
          "GPU anchor SRV failed");
}

// The exact math's tables (b1), filled at creation and bound once: no frame changes them.
void CreateTablesBuffer(ID3D11Device* device, ID3D11DeviceContext* context,
                        ComRef<ID3D11Buffer>& buffer) {
    const TablesBlock tables = MakeTablesBlock();
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = sizeof(TablesBlock);
    desc.Usage = D3D11_USAGE_IMMUTABLE;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    D3D11_SUBRESOURCE_DATA data = {};
    data.pSysMem = &tables;
    Check(device->CreateBuffer(&desc, &data, buffer.Put()),
          "GPU constant buffer allocation failed");
    context->CSSetConstantBuffers(1, 1, buffer.GetAddressOf());
}

D3D11_TEXTURE2D_DESC FloatTextureDesc(uint32_t width, uint32_t height) {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R32G32B32A32_FLOAT;
    desc.SampleDesc.Count = 1;
    desc.SampleDesc.Quality = 0;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_UNORDERED_ACCESS | D3D11_BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = 0;
    desc.MiscFlags = 0;
    return desc;
}

// Rows per band: the float texture, the largest resource, within `limit`; whole thread groups,
// and at least one row of them whatever a lowered limit says (the widest frame's 8 rows are
// 2 MiB, far below any device's own limit): thinner bands only multiply the round trips.
uint32_t BandRows(uint32_t width, uint32_t height, uint64_t limit) {
    uint64_t rows =
        std::max<uint64_t>(limit / (uint64_t{width} * kFloatTexelBytes), kFireGroupHeight);
    if (rows >= height) return height;
    rows -= rows % kFireGroupHeight;
    return static_cast<uint32_t>(rows);
}

}  // namespace

uint64_t GpuResourceLimit(uint64_t dedicatedVideoMemory) {
    const uint64_t mebibyte = uint64_t{1} << 20;
    uint64_t limit = std::min(std::max(dedicatedVideoMemory / 4, 128 * mebibyte), 2048 * mebibyte);
    const char* lowered = std::getenv(kGpuResourceLimitVariable);
    if (lowered != nullptr && *lowered != '\0') {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(lowered, &end, 10);
        if (*end == '\0' && value > 0 && value < limit) limit = value;
    }
    return limit;
}

GpuRenderer::GpuRenderer() {
    uint64_t videoMemory = 0;
    CreateDevice(device, deviceContext, &videoMemory);
    resourceLimit = GpuResourceLimit(videoMemory);

    Check(device->CreateComputeShader(kFireKernelBytecode, kFireKernelBytecodeSize, nullptr,
                                      fireKernel.Put()),
          "GPU shader initialization failed");
    Check(device->CreateComputeShader(kAnchorKernelBytecode, kAnchorKernelBytecodeSize, nullptr,
                                      anchorKernel.Put()),
          "GPU anchor shader initialization failed");
    CreateAnchorBuffer(device.Get(), anchorBuffer, anchorUav, anchorSrv);

    D3D11_BUFFER_DESC paramsDesc = {};
    paramsDesc.ByteWidth = sizeof(ParamsBlock);
    paramsDesc.Usage = D3D11_USAGE_DEFAULT;
    paramsDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    paramsDesc.CPUAccessFlags = 0;
    paramsDesc.MiscFlags = 0;
    paramsDesc.StructureByteStride = 0;
    Check(device->CreateBuffer(&paramsDesc, nullptr, paramsBuffer.Put()),
          "GPU constant buffer allocation failed");
    CreateTablesBuffer(device.Get(), deviceContext.Get(), tablesBuffer);
    conversion.Create(device.Get());
    Check(device->CreateComputeShader(kFireKernelRedoBytecode, kFireKernelRedoBytecodeSize, nullptr,
                                      fireRedoKernel.Put()),
          "GPU shader initialization failed");

    // Without a high-resolution timer the GPU wait yields the thread instead.
    waitTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                       TIMER_ALL_ACCESS);
}

GpuRenderer::~GpuRenderer() {
    if (waitTimer != nullptr) CloseHandle(waitTimer);
    ReleaseOutputTextures();
    // The remaining references release in reverse declaration order.
}

void GpuRenderer::ReleaseOutputTextures() {
    allocatedWidth = 0;
    allocatedHeight = 0;
    conversion.ReleaseBuffers();
    outputSrv.Reset();
    outputUav.Reset();
    redoMarksReadback.Reset();
    redoMarksUav.Reset();
    redoMarks.Reset();
    readbackTexture.Reset();
    outputTexture.Reset();
}

void GpuRenderer::NoteFailure(HRESULT result) {
    if (result == DXGI_ERROR_DEVICE_REMOVED || result == DXGI_ERROR_DEVICE_RESET ||
        FAILED(device->GetDeviceRemovedReason())) {
        deviceLost = true;
    }
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

    // Frames whose resources would pass the limit are rendered in bands of rows, each a frame
    // of its own whose rectangle starts further down: the same bytes as one pass.
    const uint32_t bandRows = BandRows(params.width, params.height, resourceLimit);
    for (uint32_t first = 0; first < params.height; first += bandRows) {
        ParamsBlock bandParams = params;
        bandParams.height = std::min(bandRows, params.height - first);
        bandParams.originY =
            static_cast<int32_t>(std::min<int64_t>(int64_t{params.originY} + first, INT32_MAX));
        RenderRequest band = request;
        band.height = static_cast<int32_t>(bandParams.height);
        band.pixels = request.pixels + int64_t{first} * request.rowBytes;
        if (RenderBand(band, bandParams, bandRows, context) == RenderOutcome::Aborted) {
            return RenderOutcome::Aborted;
        }
    }
    return IsAborted(context) ? RenderOutcome::Aborted : RenderOutcome::Complete;
}

RenderOutcome GpuRenderer::RenderBand(const RenderRequest& band, const ParamsBlock& params,
                                      uint32_t textureRows, const FrameContext& context) {
    EnsureOutputTextures(params.width, textureRows);
    const bool converts = ConvertsOnGpu(band.depth);
    if (converts) {
        const auto bytes =
            static_cast<uint32_t>(GpuReadbackBytes(band.width, textureRows, band.depth));
        conversion.EnsureBuffers(device.Get(), bytes, [this](HRESULT result, const char* message) {
            FailedCreation(result, message);
        });
    } else {
        EnsureFloatReadback();
    }
    EnsureRedoMarks();

    ID3D11DeviceContext* gpu = deviceContext.Get();
    ID3D11UnorderedAccessView* const noUav = nullptr;
    gpu->UpdateSubresource(paramsBuffer.Get(), 0, nullptr, &params, 0, 0);
    gpu->CSSetShader(anchorKernel.Get(), nullptr, 0);
    gpu->CSSetConstantBuffers(0, 1, paramsBuffer.GetAddressOf());
    gpu->CSSetUnorderedAccessViews(1, 1, anchorUav.GetAddressOf(), nullptr);
    gpu->Dispatch(1, 1, 1);
    gpu->CSSetUnorderedAccessViews(1, 1, &noUav, nullptr);
    DispatchFire(fireKernel.Get(), params);
    gpu->CopyResource(redoMarksReadback.Get(), redoMarks.Get());
    QueueReadback(params, band.depth);
    // A frame abandoned here leaves its marks for a later second pass, which renders those
    // groups again: time lost, never bits.
    bool marked = false;
    if (!FirstPassMarked(params, context, &marked)) return RenderOutcome::Aborted;
    if (marked) {
        // Rare: the groups that the first pass could not finish render again, and the frame is
        // read back anew.
        DispatchFire(fireRedoKernel.Get(), params);
        QueueReadback(params, band.depth);
    }

    ID3D11Resource* readback =
        converts ? static_cast<ID3D11Resource*>(conversion.readback()) : readbackTexture.Get();
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (!MapWhenDone(readback, context, &mapped)) return RenderOutcome::Aborted;
    const MappedReadback unmap(gpu, readback);
    const auto* data = static_cast<const uint8_t*>(mapped.pData);
    if (converts) {
        GpuConversion::CopyRows(data, band);
    } else {
        ConvertRows(ReadbackImage{data, mapped.RowPitch}, band);
    }
    return RenderOutcome::Complete;
}

void GpuRenderer::DispatchFire(ID3D11ComputeShader* kernel, const ParamsBlock& params) {
    ID3D11DeviceContext* gpu = deviceContext.Get();
    ID3D11UnorderedAccessView* const noUav = nullptr;
    ID3D11ShaderResourceView* const noSrv = nullptr;
    gpu->CSSetShaderResources(0, 1, anchorSrv.GetAddressOf());
    gpu->CSSetShader(kernel, nullptr, 0);
    gpu->CSSetConstantBuffers(0, 1, paramsBuffer.GetAddressOf());
    gpu->CSSetUnorderedAccessViews(0, 1, outputUav.GetAddressOf(), nullptr);
    gpu->CSSetUnorderedAccessViews(3, 1, redoMarksUav.GetAddressOf(), nullptr);
    gpu->Dispatch(FireGroupCount(params.width, kFireGroupWidth),
                  FireGroupCount(params.height, kFireGroupHeight), 1);
    gpu->CSSetUnorderedAccessViews(3, 1, &noUav, nullptr);
    gpu->CSSetUnorderedAccessViews(0, 1, &noUav, nullptr);
    gpu->CSSetShaderResources(0, 1, &noSrv);
}

void GpuRenderer::QueueReadback(const ParamsBlock& params, int32_t depth) {
    ID3D11DeviceContext* gpu = deviceContext.Get();
    if (ConvertsOnGpu(depth)) {
        conversion.Queue(gpu, outputSrv.Get(), params.width, params.height, depth);
    } else {
        gpu->CopyResource(readbackTexture.Get(), outputTexture.Get());
    }
    gpu->Flush();
}

// The word after the groups' marks: whether the first pass marked any.
bool GpuRenderer::FirstPassMarked(const ParamsBlock& params, const FrameContext& context,
                                  bool* marked) {
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (!MapWhenDone(redoMarksReadback.Get(), context, &mapped)) return false;
    const MappedReadback unmap(deviceContext.Get(), redoMarksReadback.Get());
    const auto* words = static_cast<const uint32_t*>(mapped.pData);
    *marked = words[FireGroupTotal(params.width, params.height)] != 0;
    return true;
}

bool GpuRenderer::MapWhenDone(ID3D11Resource* resource, const FrameContext& context,
                              D3D11_MAPPED_SUBRESOURCE* mapped) {
    for (;;) {
        const HRESULT result =
            deviceContext->Map(resource, 0, D3D11_MAP_READ, D3D11_MAP_FLAG_DO_NOT_WAIT, mapped);
        if (result == DXGI_ERROR_WAS_STILL_DRAWING) {
            if (IsAborted(context)) return false;
            WaitForGpu();
            continue;
        }
        if (FAILED(result)) {
            NoteFailure(result);
            throw std::runtime_error("GPU readback failed");
        }
        return true;
    }
}

void GpuRenderer::EnsureOutputTextures(uint32_t width, uint32_t height) {
    if (allocatedWidth == width && allocatedHeight == height) return;
    ReleaseOutputTextures();
    // A failure leaves no texture behind, so the next frame makes them all again.
    const D3D11_TEXTURE2D_DESC desc = FloatTextureDesc(width, height);
    FailedCreation(device->CreateTexture2D(&desc, nullptr, outputTexture.Put()),
                   "GPU texture allocation failed");
    FailedCreation(device->CreateUnorderedAccessView(outputTexture.Get(), nullptr, outputUav.Put()),
                   "GPU output view failed");
    FailedCreation(device->CreateShaderResourceView(outputTexture.Get(), nullptr, outputSrv.Put()),
                   "GPU output view failed");
    allocatedWidth = width;
    allocatedHeight = height;
}

// A mark per thread group of the texture and a word for whether any is marked, zero at
// creation: each frame's second pass clears the marks its first pass set. With a CPU-readable
// copy for that word.
void GpuRenderer::EnsureRedoMarks() {
    if (redoMarks) return;
    const auto words = static_cast<UINT>(FireGroupTotal(allocatedWidth, allocatedHeight) + 1);
    const std::vector<uint32_t> zeros(words, 0u);
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = static_cast<UINT>(words * sizeof(uint32_t));
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
    desc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    desc.StructureByteStride = sizeof(uint32_t);
    D3D11_SUBRESOURCE_DATA data = {};
    data.pSysMem = zeros.data();
    FailedCreation(device->CreateBuffer(&desc, &data, redoMarks.Put()),
                   "GPU texture allocation failed");
    D3D11_UNORDERED_ACCESS_VIEW_DESC view = {};
    view.Format = DXGI_FORMAT_UNKNOWN;
    view.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    view.Buffer.NumElements = words;
    FailedCreation(device->CreateUnorderedAccessView(redoMarks.Get(), &view, redoMarksUav.Put()),
                   "GPU output view failed");
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    FailedCreation(device->CreateBuffer(&desc, nullptr, redoMarksReadback.Put()),
                   "GPU readback allocation failed");
}

void GpuRenderer::EnsureFloatReadback() {
    if (readbackTexture) return;
    D3D11_TEXTURE2D_DESC desc = FloatTextureDesc(allocatedWidth, allocatedHeight);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    FailedCreation(device->CreateTexture2D(&desc, nullptr, readbackTexture.Put()),
                   "GPU readback allocation failed");
}

void GpuRenderer::FailedCreation(HRESULT result, const char* message) {
    if (SUCCEEDED(result)) return;
    ReleaseOutputTextures();
    NoteFailure(result);
    throw std::runtime_error(message);
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

}  // namespace pyrix
