// pyrix's GPU acceleration on Direct3D 12: the device and queue it offers, its GPU worlds as
// buffers, their read-back for files, and the count of references the effect keeps.
#include "tools/pyrix/host_gpu_d3d12.h"

#define WIDL_EXPLICIT_AGGREGATE_RETURNS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off
#include <d3d12.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "renderers/com_ref.h"
#include "standins/host_simulator/gpu_device_suite.h"

namespace pyrix::preview {

namespace {

constexpr size_t kPixelBytes = 16;  // four floats
constexpr size_t kRowAlign = 256;   // a row pitch that is not the width's, as hosts use

template <class T>
void** Out(ComRef<T>& ref) {
    return reinterpret_cast<void**>(ref.Put());
}

void Check(HRESULT result, const char* what) {
    if (FAILED(result)) {
        throw std::runtime_error(std::string("pyrix: Direct3D 12 ") + what + " failed (0x" +
                                 std::to_string(static_cast<unsigned long>(result)) + ")");
    }
}

// References on `object` besides the caller's own.
ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

ComRef<ID3D12Resource> CreateBuffer(ID3D12Device* device, D3D12_HEAP_TYPE heap, UINT64 bytes,
                                    D3D12_RESOURCE_STATES state) {
    D3D12_HEAP_PROPERTIES heapProperties = {};
    heapProperties.Type = heap;
    D3D12_RESOURCE_DESC desc = {};
    desc.Dimension = D3D12_RESOURCE_DIMENSION_BUFFER;
    desc.Width = bytes;
    desc.Height = 1;
    desc.DepthOrArraySize = 1;
    desc.MipLevels = 1;
    desc.SampleDesc.Count = 1;
    desc.Layout = D3D12_TEXTURE_LAYOUT_ROW_MAJOR;
    desc.Flags = heap == D3D12_HEAP_TYPE_DEFAULT ? D3D12_RESOURCE_FLAG_ALLOW_UNORDERED_ACCESS
                                                 : D3D12_RESOURCE_FLAG_NONE;
    ComRef<ID3D12Resource> buffer;
    const HRESULT result =
        device->CreateCommittedResource(&heapProperties, D3D12_HEAP_FLAG_NONE, &desc, state,
                                        nullptr, __uuidof(ID3D12Resource), Out(buffer));
    if (FAILED(result)) buffer.Reset();
    return buffer;
}

class Direct3D12HostGpu final : public HostGpu, public host_sim::GpuFrameHost {
  public:
    explicit Direct3D12HostGpu(EffectHost& host);
    ~Direct3D12HostGpu() override;
    bool Offer(std::ostream& err);
    bool Stop(std::ostream& err) override;
    bool Restart(std::ostream& err) override { return Offer(err); }
    void SetReadBack(bool readBack) override { readBack_ = readBack; }
    bool StillWorking(int milliseconds) override;
    int GpuFrames() const override { return gpuFrames_; }

    void* gpuData() const override { return gpuData_; }
    bool CreateWorld(PF_EffectWorld* world) override;
    bool ReadWorld(const PF_EffectWorld& world, PF_EffectWorld* out) override;
    void DisposeWorld(PF_EffectWorld* world) override;

  private:
    bool CopyToReadback(ID3D12Resource* world, ID3D12Resource* readback, UINT64 bytes);
    bool WaitForQueue(DWORD milliseconds);
    void ReleaseRetired(UINT64 completed);

    EffectHost& host_;
    ComRef<ID3D12Device> device_;
    ComRef<ID3D12CommandQueue> queue_;
    ComRef<ID3D12CommandAllocator> allocator_;  // read-backs, one at a time
    ComRef<ID3D12GraphicsCommandList> list_;
    ComRef<ID3D12Fence> fence_;
    UINT64 fenceValue_ = 0;
    HANDLE event_ = nullptr;
    std::mutex readLock_;  // the read-back recorder, the fence's values and retired_
    // Worlds disposed of, each released once the queue passes the fence value beside it: an
    // abandoned frame's work may still write its world, as a host that does not wait allows.
    std::vector<std::pair<UINT64, ID3D12Resource*>> retired_;
    host_sim::GpuDeviceSuite suite_;
    void* gpuData_ = nullptr;
    ULONG deviceBaseline_ = 0;
    ULONG queueBaseline_ = 0;
    std::atomic<bool> readBack_{true};
    std::atomic<int> gpuFrames_{0};
};

Direct3D12HostGpu::Direct3D12HostGpu(EffectHost& host) : host_(host), suite_(host) {
    Check(D3D12CreateDevice(nullptr, D3D_FEATURE_LEVEL_11_0, __uuidof(ID3D12Device), Out(device_)),
          "device creation");
    D3D12_COMMAND_QUEUE_DESC queueDesc = {};
    queueDesc.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
    Check(device_->CreateCommandQueue(&queueDesc, __uuidof(ID3D12CommandQueue), Out(queue_)),
          "queue creation");
    Check(device_->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT,
                                          __uuidof(ID3D12CommandAllocator), Out(allocator_)),
          "command allocator creation");
    Check(device_->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, allocator_.Get(), nullptr,
                                     __uuidof(ID3D12GraphicsCommandList), Out(list_)),
          "command list creation");
    Check(list_->Close(), "command list");
    Check(device_->CreateFence(0, D3D12_FENCE_FLAG_NONE, __uuidof(ID3D12Fence), Out(fence_)),
          "fence creation");
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event_ == nullptr) throw std::runtime_error("pyrix: no event for the GPU fence");
    suite_.SetDevice(PF_GPU_Framework_DIRECTX, device_.Get(), queue_.Get());
    deviceBaseline_ = References(device_.Get());
    queueBaseline_ = References(queue_.Get());
}

Direct3D12HostGpu::~Direct3D12HostGpu() {
    host_.SetGpuFrameHost(nullptr);
    if (gpuData_ != nullptr) host_.GpuDeviceSetdown(gpuData_, PF_GPU_Framework_DIRECTX, 0);
    WaitForQueue(INFINITE);
    ReleaseRetired(UINT64_MAX);
    if (event_ != nullptr) CloseHandle(event_);
}

bool Direct3D12HostGpu::Offer(std::ostream& err) {
    void* gpuData = nullptr;
    const CommandResult result = host_.GpuDeviceSetup(PF_GPU_Framework_DIRECTX, 0, &gpuData);
    const PF_OutFlags2 both =
        PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 | PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING;
    if (!result.ok() || gpuData == nullptr || (result.outFlags2 & both) != both) {
        if (!result.ok()) err << result.Describe() << "\n";
        err << "pyrix: the effect declined the host's Direct3D 12 device\n";
        if (gpuData != nullptr) host_.GpuDeviceSetdown(gpuData, PF_GPU_Framework_DIRECTX, 0);
        return false;
    }
    gpuData_ = gpuData;
    host_.SetGpuFrameHost(this);
    return true;
}

bool Direct3D12HostGpu::Stop(std::ostream& err) {
    host_.SetGpuFrameHost(nullptr);
    if (gpuData_ == nullptr) return true;
    const CommandResult result =
        host_.GpuDeviceSetdown(std::exchange(gpuData_, nullptr), PF_GPU_Framework_DIRECTX, 0);
    if (!result.ok()) {
        err << result.Describe() << "\n";
        return false;
    }
    {
        // The worlds of frames given up hold the device too, until the queue passes them.
        std::lock_guard<std::mutex> hold(readLock_);
        WaitForQueue(INFINITE);
    }
    const ULONG device = References(device_.Get());
    const ULONG queue = References(queue_.Get());
    if (device != deviceBaseline_ || queue != queueBaseline_) {
        err << "pyrix: after set-down the effect still holds " << (device - deviceBaseline_)
            << " references to the device and " << (queue - queueBaseline_) << " to the queue\n";
        return false;
    }
    return true;
}

bool Direct3D12HostGpu::CreateWorld(PF_EffectWorld* world) {
    const size_t rowBytes =
        (static_cast<size_t>(world->width) * kPixelBytes + kRowAlign - 1) / kRowAlign * kRowAlign;
    const UINT64 bytes = static_cast<UINT64>(rowBytes) * static_cast<UINT64>(world->height);
    ComRef<ID3D12Resource> buffer =
        CreateBuffer(device_.Get(), D3D12_HEAP_TYPE_DEFAULT, bytes, D3D12_RESOURCE_STATE_COMMON);
    if (!buffer) return false;
    ID3D12Resource* resource = buffer.Get();
    resource->AddRef();  // the world's own reference, until DisposeWorld
    world->rowbytes = static_cast<A_long>(rowBytes);
    world->data = reinterpret_cast<PF_PixelPtr>(resource);
    suite_.SetWorld(world, resource, static_cast<size_t>(bytes));
    return true;
}

void Direct3D12HostGpu::DisposeWorld(PF_EffectWorld* world) {
    suite_.ForgetWorld(world);
    auto* resource = reinterpret_cast<ID3D12Resource*>(world->data);
    world->data = nullptr;
    if (resource == nullptr) return;
    std::lock_guard<std::mutex> hold(readLock_);
    const UINT64 value = ++fenceValue_;
    queue_->Signal(fence_.Get(), value);  // failed: released with pyrix's device
    retired_.emplace_back(value, resource);
    ReleaseRetired(fence_->GetCompletedValue());
}

void Direct3D12HostGpu::ReleaseRetired(UINT64 completed) {
    size_t kept = 0;
    for (const auto& [value, resource] : retired_) {
        if (value <= completed) {
            resource->Release();
        } else {
            retired_[kept++] = {value, resource};
        }
    }
    retired_.resize(kept);
}

bool Direct3D12HostGpu::StillWorking(int milliseconds) {
    std::lock_guard<std::mutex> hold(readLock_);
    return !WaitForQueue(static_cast<DWORD>(milliseconds));
}

bool Direct3D12HostGpu::CopyToReadback(ID3D12Resource* world, ID3D12Resource* readback,
                                       UINT64 bytes) {
    if (FAILED(allocator_->Reset()) || FAILED(list_->Reset(allocator_.Get(), nullptr))) {
        return false;
    }
    list_->CopyBufferRegion(readback, 0, world, 0, bytes);
    if (FAILED(list_->Close())) return false;
    ID3D12CommandList* lists[] = {list_.Get()};
    queue_->ExecuteCommandLists(1, lists);
    return WaitForQueue(INFINITE);
}

// Whether the queue gets through all work sent to it so far within `milliseconds`; with
// readLock_ held.
bool Direct3D12HostGpu::WaitForQueue(DWORD milliseconds) {
    const UINT64 value = ++fenceValue_;
    if (FAILED(queue_->Signal(fence_.Get(), value))) return false;
    // A wait given up before may still set the event: the fence decides.
    if (fence_->GetCompletedValue() < value) {
        if (FAILED(fence_->SetEventOnCompletion(value, event_))) return false;
        const DWORD start = GetTickCount();
        while (fence_->GetCompletedValue() < value) {
            const DWORD spent = GetTickCount() - start;
            if (milliseconds != INFINITE && spent >= milliseconds) return false;
            WaitForSingleObject(event_, milliseconds == INFINITE ? INFINITE : milliseconds - spent);
        }
    }
    const UINT64 completed = fence_->GetCompletedValue();
    ReleaseRetired(completed);
    return completed != UINT64_MAX;
}

// A frame counts once it is read back (or, without read-back, once the effect gave it).
bool Direct3D12HostGpu::ReadWorld(const PF_EffectWorld& world, PF_EffectWorld* out) {
    if (!readBack_) {
        ++gpuFrames_;
        return true;
    }
    const UINT64 bytes = static_cast<UINT64>(world.rowbytes) * static_cast<UINT64>(world.height);
    ComRef<ID3D12Resource> readback = CreateBuffer(device_.Get(), D3D12_HEAP_TYPE_READBACK, bytes,
                                                   D3D12_RESOURCE_STATE_COPY_DEST);
    if (!readback) return false;
    {
        std::lock_guard<std::mutex> hold(readLock_);
        if (!CopyToReadback(reinterpret_cast<ID3D12Resource*>(world.data), readback.Get(), bytes)) {
            return false;
        }
    }
    void* mapped = nullptr;
    const D3D12_RANGE all = {0, static_cast<SIZE_T>(bytes)};
    if (FAILED(readback->Map(0, &all, &mapped))) return false;
    // The GPU world's pixels are b, g, r, a; the host's memory holds a, r, g, b.
    for (A_long y = 0; y < world.height; ++y) {
        const auto* src = static_cast<const uint32_t*>(mapped) +
                          static_cast<size_t>(y) * static_cast<size_t>(world.rowbytes) / 4;
        auto* dst = reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(out->data) +
                                                static_cast<size_t>(y) *
                                                    static_cast<size_t>(out->rowbytes));
        for (A_long x = 0; x < world.width; ++x, src += 4, dst += 4) {
            dst[0] = src[3];
            dst[1] = src[2];
            dst[2] = src[1];
            dst[3] = src[0];
        }
    }
    const D3D12_RANGE nothingWritten = {0, 0};
    readback->Unmap(0, &nothingWritten);
    ++gpuFrames_;
    return true;
}

}  // namespace

std::unique_ptr<HostGpu> StartDirect3D12HostGpu(EffectHost& host, std::ostream& err) {
    std::unique_ptr<Direct3D12HostGpu> gpu;
    try {
        gpu = std::make_unique<Direct3D12HostGpu>(host);
    } catch (const std::exception& e) {
        err << e.what() << "\n";
        return nullptr;
    }
    if (!gpu->Offer(err)) return nullptr;
    return gpu;
}

}  // namespace pyrix::preview
