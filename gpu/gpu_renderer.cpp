#include "gpu/gpu_renderer.h"

#include <stdexcept>

#include "gpu/cpu_renderer.h"
#include "gpu/render_frame.h"
#include "kernels/kernel_bytecode.h"

namespace {

// Guards gRenderer: its lookup, creation and retirement, never a render. Never held together
// with a renderer's own lock.
std::mutex gRendererLock;
std::shared_ptr<Renderer> gRenderer;

void Check(HRESULT result, const char* message) {
    if (FAILED(result)) throw std::runtime_error(message);
}

void CheckDevice(HRESULT result, const char* message) {
    if (FAILED(result)) throw NoGpuDevice(message);
}

// The hardware adapter with the most dedicated video memory; on a tie the first enumerated.
ComRef<IDXGIAdapter1> ChooseAdapter(IDXGIFactory1* factory) {
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
    return best;
}

}  // namespace

GpuRenderer::GpuRenderer() {
    ComRef<IDXGIFactory1> factory;
    CheckDevice(CreateDXGIFactory1(IID_IDXGIFactory1, reinterpret_cast<void**>(factory.Put())),
                "DXGI initialization failed");

    ComRef<IDXGIAdapter1> adapter = ChooseAdapter(factory.Get());
    if (!adapter) throw NoGpuDevice("No hardware GPU available");

    // Only 11.0: an adapter below it fails here rather than falling back to another one.
    const D3D_FEATURE_LEVEL featureLevels[] = {D3D_FEATURE_LEVEL_11_0};
    D3D_FEATURE_LEVEL obtainedLevel = D3D_FEATURE_LEVEL_11_0;
    ID3D11DeviceContext** contextOut = deviceContext.Put();
    ID3D11Device** deviceOut = device.Put();
    CheckDevice(D3D11CreateDevice(adapter.Get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, featureLevels,
                                  1, D3D11_SDK_VERSION, deviceOut, &obtainedLevel, contextOut),
                "Direct3D 11 GPU initialization failed");

    Check(device->CreateComputeShader(kFireKernelBytecode, kFireKernelBytecodeSize, nullptr,
                                      fireKernel.Put()),
          "GPU shader initialization failed");
    Check(device->CreateComputeShader(kAnchorKernelBytecode, kAnchorKernelBytecodeSize, nullptr,
                                      anchorKernel.Put()),
          "GPU anchor shader initialization failed");

    D3D11_BUFFER_DESC anchorDesc = {};
    anchorDesc.ByteWidth = sizeof(AnchorRecord);
    anchorDesc.Usage = D3D11_USAGE_DEFAULT;
    anchorDesc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
    anchorDesc.CPUAccessFlags = 0;
    anchorDesc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    anchorDesc.StructureByteStride = sizeof(AnchorRecord);
    Check(device->CreateBuffer(&anchorDesc, nullptr, anchorBuffer.Put()),
          "GPU anchor buffer allocation failed");

    D3D11_UNORDERED_ACCESS_VIEW_DESC uavDesc = {};
    uavDesc.Format = DXGI_FORMAT_UNKNOWN;
    uavDesc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    uavDesc.Buffer.FirstElement = 0;
    uavDesc.Buffer.NumElements = 1;
    uavDesc.Buffer.Flags = 0;
    Check(device->CreateUnorderedAccessView(anchorBuffer.Get(), &uavDesc, anchorUav.Put()),
          "GPU anchor UAV failed");

    D3D11_SHADER_RESOURCE_VIEW_DESC srvDesc = {};
    srvDesc.Format = DXGI_FORMAT_UNKNOWN;
    srvDesc.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
    srvDesc.Buffer.FirstElement = 0;
    srvDesc.Buffer.NumElements = 1;
    Check(device->CreateShaderResourceView(anchorBuffer.Get(), &srvDesc, anchorSrv.Put()),
          "GPU anchor SRV failed");

    D3D11_BUFFER_DESC paramsDesc = {};
    paramsDesc.ByteWidth = sizeof(ParamsBlock);
    paramsDesc.Usage = D3D11_USAGE_DEFAULT;
    paramsDesc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    paramsDesc.CPUAccessFlags = 0;
    paramsDesc.MiscFlags = 0;
    paramsDesc.StructureByteStride = 0;
    Check(device->CreateBuffer(&paramsDesc, nullptr, paramsBuffer.Put()),
          "GPU constant buffer allocation failed");

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
    outputUav.Reset();
    readbackTexture.Reset();
    outputTexture.Reset();
}

void GpuRenderer::NoteFailure(HRESULT result) {
    if (result == DXGI_ERROR_DEVICE_REMOVED || result == DXGI_ERROR_DEVICE_RESET ||
        FAILED(device->GetDeviceRemovedReason())) {
        deviceLost = true;
    }
}

namespace {

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

void ReleaseGpuRenderer() {
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
