// Linux stand-in for the DXGI, Direct3D 11 and Win32 calls that the renderer makes. Compute
// dispatches run the CPU build of the kernels on one device thread per device, so that work is
// really in flight between Flush and the readback's Map.

#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kernels/cpu_kernels.h"
#include "kernels/fast_fire_kernel.h"
#include "kernels/params_block.h"
#include "standins/win32/d3d_control.h"
#include "standins/win32/kernel_identity.h"
#include "standins/win32/standin_state.h"

// The device runs the plug-in's own kernels on the CPU.
using pyrix::AnchorRecord;
using pyrix::ParamsBlock;
using pyrix::RunAnchorKernel;
using pyrix::RunFastFireKernelGroupRows;
using pyrix::RunFireKernelGroupRows;
using pyrix::TexelImage;

const IID IID_IDXGIFactory1 = {
    0x770aae78, 0xf26f, 0x4dba, {0xa8, 0x29, 0x25, 0x3c, 0x83, 0xd1, 0xb3, 0x87}};

namespace d3d_standin {

Controls& GetControls() {
    static Controls controls;
    return controls;
}

std::atomic<bool> gDevicesHeld{false};
std::atomic<bool> gReferenceKernels{false};
std::atomic<bool> gRecordCalls{false};
std::array<std::atomic<int>, static_cast<size_t>(Kind::kCount)> gLive{};

namespace {

constexpr size_t kMaxLogLines = 20000;

bool RecordingCalls() {
    return gRecordCalls.load(std::memory_order_relaxed);
}

void Log(std::string line) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.log.size() < kMaxLogLines) c.log.push_back(std::move(line));
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

std::string HexResult(HRESULT result) {
    return Format("0x%08x", static_cast<unsigned>(result));
}

// True (and the injected code in *result) when this call is to fail.
bool TakeFault(Call call, HRESULT* result) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    Fault& fault = c.faults[static_cast<size_t>(call)];
    if (!fault.active) return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    *result = fault.result;
    if (fault.count != kEveryCall && --fault.count <= 0) fault.active = false;
    return true;
}

void Count(int Counters::*counter) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    ++(c.counters.*counter);
}

class LiveToken {
  public:
    explicit LiveToken(Kind kind) : kind_(kind) { ++gLive[static_cast<size_t>(kind_)]; }
    ~LiveToken() { --gLive[static_cast<size_t>(kind_)]; }
    LiveToken(const LiveToken&) = delete;
    LiveToken& operator=(const LiveToken&) = delete;

  private:
    Kind kind_;
};

// Reference counting shared by every COM object of the stand-in.
template <class Interface>
class ComObject : public Interface {
  public:
    explicit ComObject(Kind kind) : live_(kind) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return refs_.fetch_add(1) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1) - 1;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<ULONG> refs_{1};
    LiveToken live_;
};

// ---- DXGI -------------------------------------------------------------------------------------

class Adapter final : public ComObject<IDXGIAdapter1> {
  public:
    Adapter(UINT index, AdapterConfig config)
        : ComObject(Kind::Adapter), index_(index), config_(std::move(config)) {}

    HRESULT STDMETHODCALLTYPE GetDesc1(DXGI_ADAPTER_DESC1* desc) override {
        if (RecordingCalls()) Log("GetDesc1");
        if (desc == nullptr) return E_INVALIDARG;
        const size_t capacity = sizeof(desc->Description) / sizeof(desc->Description[0]);
        const size_t length = std::min(config_.description.size(), capacity - 1);
        std::wmemcpy(desc->Description, config_.description.data(), length);
        desc->Description[length] = L'\0';
        desc->DedicatedVideoMemory = config_.dedicatedVideoMemory;
        desc->Flags = config_.flags;
        return S_OK;
    }

    UINT index() const { return index_; }
    const AdapterConfig& config() const { return config_; }

  private:
    UINT index_;
    AdapterConfig config_;
};

class Factory final : public ComObject<IDXGIFactory1> {
  public:
    explicit Factory(std::vector<AdapterConfig> adapters)
        : ComObject(Kind::Factory), adapters_(std::move(adapters)) {}

    HRESULT STDMETHODCALLTYPE EnumAdapters1(UINT index, IDXGIAdapter1** adapter) override {
        if (RecordingCalls()) Log(Format("EnumAdapters1 %u", index));
        if (adapter == nullptr) return DXGI_ERROR_INVALID_CALL;
        *adapter = nullptr;
        HRESULT fault = S_OK;
        if (TakeFault(Call::EnumAdapters1, &fault)) return fault;
        if (index >= adapters_.size()) return DXGI_ERROR_NOT_FOUND;
        *adapter = new Adapter(index, adapters_[index]);
        return S_OK;
    }

  private:
    std::vector<AdapterConfig> adapters_;
};

// ---- Resources and views ----------------------------------------------------------------------

// Memory of a buffer or texture. Queued work holds it by shared_ptr, so a resource released
// while the device still works on it stays valid until that work is done.
using Storage = std::shared_ptr<std::vector<float>>;

Storage MakeStorage(size_t bytes) {
    return std::make_shared<std::vector<float>>((bytes + sizeof(float) - 1) / sizeof(float), 0.0f);
}

// What the context needs to know about a resource; cross-cast from ID3D11Resource.
class ResourceState {
  public:
    virtual ~ResourceState() = default;

    Storage storage;
    std::string name;  // "buffer16", "texture64x32": how the call log refers to it
    UINT bindFlags = 0;
    bool isTexture = false;
    bool isStaging = false;
    UINT width = 0;  // textures: texels; buffers: bytes
    UINT height = 0;
    UINT structureStride = 0;
    bool mapped = false;  // touched only by the thread that owns the immediate context
};

ResourceState* StateOf(ID3D11Resource* resource) {
    return resource == nullptr ? nullptr : dynamic_cast<ResourceState*>(resource);
}

class Buffer final : public ComObject<ID3D11Buffer>, public ResourceState {
  public:
    explicit Buffer(const D3D11_BUFFER_DESC& desc) : ComObject(Kind::Buffer) {
        storage = MakeStorage(desc.ByteWidth);
        name = Format("buffer%u", desc.ByteWidth);
        bindFlags = desc.BindFlags;
        width = desc.ByteWidth;
        height = 1;
        structureStride = desc.StructureByteStride;
    }
};

constexpr UINT kTexelBytes = 16;  // DXGI_FORMAT_R32G32B32A32_FLOAT

class Texture2D final : public ComObject<ID3D11Texture2D>, public ResourceState {
  public:
    explicit Texture2D(const D3D11_TEXTURE2D_DESC& desc) : ComObject(Kind::Texture2D) {
        storage = MakeStorage(size_t(desc.Width) * desc.Height * kTexelBytes);
        name = Format("texture%ux%u", desc.Width, desc.Height);
        bindFlags = desc.BindFlags;
        isTexture = true;
        isStaging = desc.Usage == D3D11_USAGE_STAGING;
        width = desc.Width;
        height = desc.Height;
    }
};

// What a view gives the kernels: the viewed resource's memory and shape.
struct ViewTarget {
    Storage storage;
    std::string name;
    bool isTexture = false;
    UINT width = 0;
    UINT height = 0;
};

ViewTarget TargetOf(const ResourceState& resource) {
    return {resource.storage, resource.name, resource.isTexture, resource.width, resource.height};
}

template <class Interface, Kind kKind>
class View final : public ComObject<Interface> {
  public:
    explicit View(ViewTarget target) : ComObject<Interface>(kKind), target_(std::move(target)) {}
    const ViewTarget& target() const { return target_; }

  private:
    ViewTarget target_;
};

using UnorderedAccessView = View<ID3D11UnorderedAccessView, Kind::UnorderedAccessView>;
using ShaderResourceView = View<ID3D11ShaderResourceView, Kind::ShaderResourceView>;

class ComputeShader final : public ComObject<ID3D11ComputeShader> {
  public:
    explicit ComputeShader(KernelIdentity kernel)
        : ComObject(Kind::ComputeShader), kernel_(kernel) {}
    KernelIdentity kernel() const { return kernel_; }

  private:
    KernelIdentity kernel_;
};

const char* KernelName(KernelIdentity kernel) {
    switch (kernel) {
        case KernelIdentity::Fire:
            return "fire";
        case KernelIdentity::Anchor:
            return "anchor";
        default:
            return "unknown";
    }
}

// ---- The device thread ------------------------------------------------------------------------

using Work = std::function<void()>;

// Executes submitted work in order on its own thread, standing in for the GPU.
class DeviceQueue {
  public:
    DeviceQueue() : thread_([this] { Run(); }) {}
    ~DeviceQueue() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;

    void Submit(std::vector<Work>& work) {
        if (work.empty()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Work& item : work) queue_.push_back(std::move(item));
        }
        work.clear();
        wake_.notify_all();
    }

    // No work queued or running. Taking the mutex also makes the device's writes visible.
    bool Idle() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.empty() && !running_;
    }

    void WaitIdle() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !running_; });
    }

    // S_OK while the device works; once it is lost, the reason, for good.
    std::atomic<HRESULT> removedReason{S_OK};

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            // Holding is a process-wide switch without its own notification: re-check it often.
            wake_.wait_for(lock, std::chrono::milliseconds(1),
                           [this] { return stop_ || (!queue_.empty() && !gDevicesHeld); });
            if (stop_) return;
            if (queue_.empty() || gDevicesHeld) continue;
            Work work = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
            lock.unlock();
            work();
            work = nullptr;
            lock.lock();
            running_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Work> queue_;
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;  // last: starts after everything it uses
};

// S_OK when a call into the device of `queue` goes ahead, else the code it fails with: the
// injected reason for the call that loses the device, DXGI_ERROR_DEVICE_REMOVED after it.
HRESULT DeviceCall(DeviceQueue& queue) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (queue.removedReason != S_OK) return DXGI_ERROR_DEVICE_REMOVED;
    if (!c.loss.active) return S_OK;
    if (c.loss.skip > 0) {
        --c.loss.skip;
        return S_OK;
    }
    c.loss.active = false;
    queue.removedReason = c.loss.reason;
    ++c.counters.devicesRemoved;
    return c.loss.reason;
}

// A buffer large enough for the anchor kernel's record.
bool HoldsAnchor(const ViewTarget& view) {
    return view.storage && !view.isTexture && view.width >= sizeof(AnchorRecord);
}

ParamsBlock ReadParams(const Storage& storage) {
    ParamsBlock params{};
    std::memcpy(&params, storage->data(), sizeof(params));
    return params;
}

// ---- Immediate context ------------------------------------------------------------------------

class DeviceContext final : public ComObject<ID3D11DeviceContext> {
  public:
    explicit DeviceContext(std::shared_ptr<DeviceQueue> queue)
        : ComObject(Kind::DeviceContext), queue_(std::move(queue)) {}

    HRESULT STDMETHODCALLTYPE Map(ID3D11Resource* resource, UINT subresource, D3D11_MAP mapType,
                                  UINT mapFlags, D3D11_MAPPED_SUBRESOURCE* mapped) override {
        ResourceState* state = StateOf(resource);
        const std::string call =
            RecordingCalls()
                ? Format("Map %s %u type=%d flags=0x%x", state ? state->name.c_str() : "null",
                         subresource, static_cast<int>(mapType), mapFlags)
                : std::string();
        HRESULT result = DeviceCall(*queue_);
        if (result != S_OK) {
            pending_.clear();
            if (RecordingCalls()) Log(call + " -> " + HexResult(result));
            return result;
        }
        if (TakeFault(Call::Map, &result)) {
            if (RecordingCalls()) Log(call + " -> " + HexResult(result));
            return result;
        }
        if (state == nullptr || mapped == nullptr || subresource != 0 || !state->isStaging ||
            mapType != D3D11_MAP_READ || state->mapped) {
            if (RecordingCalls()) Log(call + " -> " + HexResult(E_INVALIDARG));
            return E_INVALIDARG;
        }
        queue_->Submit(pending_);  // a Map submits what is still recorded, as a driver does
        if (!queue_->Idle()) {
            if ((mapFlags & D3D11_MAP_FLAG_DO_NOT_WAIT) != 0) {
                Count(&Counters::mapStillDrawing);
                return DXGI_ERROR_WAS_STILL_DRAWING;
            }
            queue_->WaitIdle();
        }
        state->mapped = true;
        mapped->pData = state->storage->data();
        mapped->RowPitch = state->width * kTexelBytes;
        mapped->DepthPitch = mapped->RowPitch * state->height;
        if (RecordingCalls()) Log(call);
        return S_OK;
    }

    void STDMETHODCALLTYPE Unmap(ID3D11Resource* resource, UINT subresource) override {
        if (Dropped("Unmap")) return;
        ResourceState* state = StateOf(resource);
        if (RecordingCalls())
            Log(Format("Unmap %s %u", state ? state->name.c_str() : "null", subresource));
        if (state != nullptr && subresource == 0) state->mapped = false;
    }

    void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource* destination, UINT subresource,
                                             const D3D11_BOX* box, const void* data, UINT rowPitch,
                                             UINT depthPitch) override {
        if (Dropped("UpdateSubresource")) return;
        ResourceState* state = StateOf(destination);
        if (RecordingCalls())
            Log(Format("UpdateSubresource %s %u box=%s pitch=%u,%u",
                       state ? state->name.c_str() : "null", subresource, box ? "set" : "null",
                       rowPitch, depthPitch));
        if (state == nullptr || state->isTexture || box != nullptr || data == nullptr) return;
        // The data is captured now; the copy into the resource happens in order on the device.
        auto bytes = std::make_shared<std::vector<uint8_t>>(
            static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + state->width);
        Storage storage = state->storage;
        pending_.push_back(
            [storage, bytes] { std::memcpy(storage->data(), bytes->data(), bytes->size()); });
    }

    void STDMETHODCALLTYPE CSSetShader(ID3D11ComputeShader* shader, ID3D11ClassInstance* const*,
                                       UINT classInstanceCount) override {
        if (Dropped("CSSetShader")) return;
        auto* impl = static_cast<ComputeShader*>(shader);
        kernel_ = impl ? impl->kernel() : KernelIdentity::Unknown;
        if (RecordingCalls())
            Log(Format("CSSetShader %s instances=%u", impl ? KernelName(kernel_) : "null",
                       classInstanceCount));
    }

    void STDMETHODCALLTYPE CSSetConstantBuffers(UINT startSlot, UINT count,
                                                ID3D11Buffer* const* buffers) override {
        if (Dropped("CSSetConstantBuffers")) return;
        std::string names;
        for (UINT i = 0; i < count; ++i) {
            ResourceState* state = buffers ? StateOf(buffers[i]) : nullptr;
            if (RecordingCalls()) names += std::string(" ") + (state ? state->name : "null");
            if (startSlot + i == 0) constants_ = state ? TargetOf(*state) : ViewTarget{};
        }
        if (RecordingCalls()) Log(Format("CSSetConstantBuffers %u %u", startSlot, count) + names);
    }

    void STDMETHODCALLTYPE CSSetUnorderedAccessViews(UINT startSlot, UINT count,
                                                     ID3D11UnorderedAccessView* const* views,
                                                     const UINT* initialCounts) override {
        if (Dropped("CSSetUnorderedAccessViews")) return;
        std::string names;
        for (UINT i = 0; i < count; ++i) {
            auto* view = views ? static_cast<UnorderedAccessView*>(views[i]) : nullptr;
            if (RecordingCalls())
                names += " " + (view ? "uav(" + view->target().name + ")" : std::string("null"));
            if (startSlot + i < uavs_.size())
                uavs_[startSlot + i] = view ? view->target() : ViewTarget{};
        }
        if (RecordingCalls())
            Log(Format("CSSetUnorderedAccessViews %u %u", startSlot, count) + names +
                (initialCounts ? " counts=set" : " counts=null"));
    }

    void STDMETHODCALLTYPE CSSetShaderResources(UINT startSlot, UINT count,
                                                ID3D11ShaderResourceView* const* views) override {
        if (Dropped("CSSetShaderResources")) return;
        std::string names;
        for (UINT i = 0; i < count; ++i) {
            auto* view = views ? static_cast<ShaderResourceView*>(views[i]) : nullptr;
            if (RecordingCalls())
                names += " " + (view ? "srv(" + view->target().name + ")" : std::string("null"));
            if (startSlot + i == 0) resource0_ = view ? view->target() : ViewTarget{};
        }
        if (RecordingCalls()) Log(Format("CSSetShaderResources %u %u", startSlot, count) + names);
    }

    void STDMETHODCALLTYPE Dispatch(UINT groupsX, UINT groupsY, UINT groupsZ) override {
        if (Dropped("Dispatch")) return;
        if (RecordingCalls()) Log(Format("Dispatch %u %u %u", groupsX, groupsY, groupsZ));
        Count(&Counters::dispatches);
        if (groupsX == 0 || groupsY == 0 || groupsZ == 0) return;
        const ViewTarget constants = constants_;
        if (!constants.storage || constants.width < sizeof(ParamsBlock)) {
            if (RecordingCalls()) Log("DispatchSkipped: no constant buffer at b0");
            return;
        }
        if (kernel_ == KernelIdentity::Anchor) {
            const ViewTarget anchor = uavs_[1];
            if (!HoldsAnchor(anchor)) {
                if (RecordingCalls()) Log("DispatchSkipped: no anchor buffer at u1");
                return;
            }
            pending_.push_back([constants, anchor] {
                const AnchorRecord record = RunAnchorKernel(ReadParams(constants.storage));
                std::memcpy(anchor.storage->data(), &record, sizeof(record));
            });
        } else if (kernel_ == KernelIdentity::Fire) {
            const ViewTarget anchor = resource0_;
            const ViewTarget output = uavs_[0];
            if (!HoldsAnchor(anchor)) {
                if (RecordingCalls()) Log("DispatchSkipped: no anchor buffer at t0");
                return;
            }
            if (!output.storage || !output.isTexture) {
                if (RecordingCalls()) Log("DispatchSkipped: no output texture at u0");
                return;
            }
            const bool reference = gReferenceKernels;
            pending_.push_back([constants, anchor, output, groupsY, reference] {
                const ParamsBlock params = ReadParams(constants.storage);
                AnchorRecord record{};
                std::memcpy(&record, anchor.storage->data(), sizeof(record));
                // The kernels drop writes beyond the bound texture, as a GPU does.
                const TexelImage image{output.storage->data(), size_t(output.width) * kTexelBytes,
                                       output.width, output.height};
                if (reference) {
                    RunFireKernelGroupRows(params, record, image, 0, groupsY);
                } else {
                    RunFastFireKernelGroupRows(params, record, image, 0, groupsY);
                }
            });
        } else {
            if (RecordingCalls()) Log("DispatchSkipped: no compute shader");
        }
    }

    void STDMETHODCALLTYPE CopyResource(ID3D11Resource* destination,
                                        ID3D11Resource* source) override {
        if (Dropped("CopyResource")) return;
        ResourceState* to = StateOf(destination);
        ResourceState* from = StateOf(source);
        if (RecordingCalls())
            Log(Format("CopyResource %s <- %s", to ? to->name.c_str() : "null",
                       from ? from->name.c_str() : "null"));
        if (to == nullptr || from == nullptr || to == from || to->isTexture != from->isTexture ||
            to->width != from->width || to->height != from->height) {
            return;  // the runtime drops invalid copies
        }
        Storage target = to->storage;
        Storage origin = from->storage;
        pending_.push_back([target, origin] { *target = *origin; });
    }

    void STDMETHODCALLTYPE Flush() override {
        if (Dropped("Flush")) return;
        if (RecordingCalls()) Log("Flush");
        queue_->Submit(pending_);
    }

  private:
    // A void call into a lost device does nothing; true when this one is dropped.
    bool Dropped(const char* call) {
        const HRESULT lost = DeviceCall(*queue_);
        if (lost == S_OK) return false;
        pending_.clear();
        if (RecordingCalls()) Log(std::string(call) + " -> dropped");
        return true;
    }

    std::shared_ptr<DeviceQueue> queue_;
    std::vector<Work> pending_;  // recorded, not yet submitted
    KernelIdentity kernel_ = KernelIdentity::Unknown;
    ViewTarget constants_;
    ViewTarget resource0_;
    std::array<ViewTarget, 2> uavs_;
};

// ---- Device -----------------------------------------------------------------------------------

class Device final : public ComObject<ID3D11Device> {
  public:
    explicit Device(std::shared_ptr<DeviceQueue> queue)
        : ComObject(Kind::Device), queue_(std::move(queue)) {}

    HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC* desc,
                                           const D3D11_SUBRESOURCE_DATA* initialData,
                                           ID3D11Buffer** buffer) override {
        std::string call = "CreateBuffer";
        if (desc != nullptr) {
            call += Format(
                " ByteWidth=%u Usage=%d BindFlags=0x%x CPUAccessFlags=0x%x MiscFlags=0x%x "
                "StructureByteStride=%u",
                desc->ByteWidth, static_cast<int>(desc->Usage), desc->BindFlags,
                desc->CPUAccessFlags, desc->MiscFlags, desc->StructureByteStride);
        }
        call += initialData ? " init=set" : " init=null";
        return Create(call, Call::CreateBuffer, buffer, [&]() -> ID3D11Buffer* {
            if (desc == nullptr || desc->ByteWidth == 0) return nullptr;
            const bool structured = (desc->MiscFlags & D3D11_RESOURCE_MISC_BUFFER_STRUCTURED) != 0;
            if (structured && (desc->StructureByteStride == 0 ||
                               desc->ByteWidth % desc->StructureByteStride != 0)) {
                return nullptr;
            }
            if ((desc->BindFlags & D3D11_BIND_CONSTANT_BUFFER) != 0 &&
                (desc->BindFlags != D3D11_BIND_CONSTANT_BUFFER || desc->ByteWidth % 16 != 0)) {
                return nullptr;
            }
            auto* created = new Buffer(*desc);
            if (initialData != nullptr && initialData->pSysMem != nullptr) {
                std::memcpy(created->storage->data(), initialData->pSysMem, desc->ByteWidth);
            }
            return created;
        });
    }

    HRESULT STDMETHODCALLTYPE CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                              const D3D11_SUBRESOURCE_DATA* initialData,
                                              ID3D11Texture2D** texture) override {
        std::string call = "CreateTexture2D";
        if (desc != nullptr) {
            call += Format(
                " %ux%u MipLevels=%u ArraySize=%u Format=%d Sample=%u,%u Usage=%d BindFlags=0x%x "
                "CPUAccessFlags=0x%x MiscFlags=0x%x",
                desc->Width, desc->Height, desc->MipLevels, desc->ArraySize,
                static_cast<int>(desc->Format), desc->SampleDesc.Count, desc->SampleDesc.Quality,
                static_cast<int>(desc->Usage), desc->BindFlags, desc->CPUAccessFlags,
                desc->MiscFlags);
        }
        call += initialData ? " init=set" : " init=null";
        return Create(call, Call::CreateTexture2D, texture, [&]() -> ID3D11Texture2D* {
            // Only what this stand-in can hold: single-level float4 textures within the limits.
            if (desc == nullptr || initialData != nullptr || desc->Width == 0 ||
                desc->Height == 0 || desc->Width > 16384 || desc->Height > 16384 ||
                desc->MipLevels != 1 || desc->ArraySize != 1 ||
                desc->Format != DXGI_FORMAT_R32G32B32A32_FLOAT || desc->SampleDesc.Count != 1 ||
                desc->SampleDesc.Quality != 0 || desc->MiscFlags != 0) {
                return nullptr;
            }
            if (desc->Usage == D3D11_USAGE_STAGING) {
                if (desc->BindFlags != 0 || desc->CPUAccessFlags == 0) return nullptr;
            } else if (desc->Usage != D3D11_USAGE_DEFAULT || desc->CPUAccessFlags != 0) {
                return nullptr;
            }
            return new Texture2D(*desc);
        });
    }

    HRESULT STDMETHODCALLTYPE CreateShaderResourceView(ID3D11Resource* resource,
                                                       const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                                                       ID3D11ShaderResourceView** view) override {
        ResourceState* state = StateOf(resource);
        std::string call =
            std::string("CreateShaderResourceView ") + (state ? state->name : "null");
        call += desc ? Format(" Format=%d Dimension=%d FirstElement=%u NumElements=%u",
                              static_cast<int>(desc->Format), static_cast<int>(desc->ViewDimension),
                              desc->Buffer.FirstElement, desc->Buffer.NumElements)
                     : std::string(" desc=null");
        return Create(call, Call::CreateShaderResourceView, view,
                      [&]() -> ID3D11ShaderResourceView* {
                          if (state == nullptr || desc == nullptr || state->isTexture ||
                              (state->bindFlags & D3D11_BIND_SHADER_RESOURCE) == 0 ||
                              desc->ViewDimension != D3D11_SRV_DIMENSION_BUFFER ||
                              !BufferRangeFits(*state, desc->Format, desc->Buffer.FirstElement,
                                               desc->Buffer.NumElements)) {
                              return nullptr;
                          }
                          return new ShaderResourceView(TargetOf(*state));
                      });
    }

    HRESULT STDMETHODCALLTYPE CreateUnorderedAccessView(
        ID3D11Resource* resource, const D3D11_UNORDERED_ACCESS_VIEW_DESC* desc,
        ID3D11UnorderedAccessView** view) override {
        ResourceState* state = StateOf(resource);
        std::string call =
            std::string("CreateUnorderedAccessView ") + (state ? state->name : "null");
        call +=
            desc ? Format(" Format=%d Dimension=%d FirstElement=%u NumElements=%u Flags=%u",
                          static_cast<int>(desc->Format), static_cast<int>(desc->ViewDimension),
                          desc->Buffer.FirstElement, desc->Buffer.NumElements, desc->Buffer.Flags)
                 : std::string(" desc=null");
        return Create(
            call, Call::CreateUnorderedAccessView, view, [&]() -> ID3D11UnorderedAccessView* {
                if (state == nullptr || (state->bindFlags & D3D11_BIND_UNORDERED_ACCESS) == 0) {
                    return nullptr;
                }
                if (state->isTexture) {
                    // Whole texture in its own format, or an explicit 2D view of it.
                    if (desc != nullptr && desc->ViewDimension != D3D11_UAV_DIMENSION_TEXTURE2D) {
                        return nullptr;
                    }
                } else if (desc == nullptr || desc->ViewDimension != D3D11_UAV_DIMENSION_BUFFER ||
                           desc->Buffer.Flags != 0 ||
                           !BufferRangeFits(*state, desc->Format, desc->Buffer.FirstElement,
                                            desc->Buffer.NumElements)) {
                    return nullptr;
                }
                return new UnorderedAccessView(TargetOf(*state));
            });
    }

    HRESULT STDMETHODCALLTYPE CreateComputeShader(const void* bytecode, SIZE_T length,
                                                  ID3D11ClassLinkage* classLinkage,
                                                  ID3D11ComputeShader** shader) override {
        const KernelIdentity kernel = IdentifyKernel(bytecode, length);
        std::string call = Format("CreateComputeShader %s %zu linkage=%s", KernelName(kernel),
                                  static_cast<size_t>(length), classLinkage ? "set" : "null");
        return Create(call, Call::CreateComputeShader, shader, [&]() -> ID3D11ComputeShader* {
            if (kernel == KernelIdentity::Unknown || classLinkage != nullptr) return nullptr;
            return new ComputeShader(kernel);
        });
    }

    HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() override {
        if (RecordingCalls()) Log("GetDeviceRemovedReason");
        return DeviceCall(*queue_) == S_OK ? S_OK : queue_->removedReason.load();
    }

  private:
    // Structured buffers only, viewed element-wise within their size.
    static bool BufferRangeFits(const ResourceState& buffer, DXGI_FORMAT format, UINT first,
                                UINT count) {
        if (format != DXGI_FORMAT_UNKNOWN || buffer.structureStride == 0 || count == 0) {
            return false;
        }
        const uint64_t end = (uint64_t(first) + count) * buffer.structureStride;
        return end <= buffer.width;
    }

    // The common shape of every creation call: log, injected fault, validation, result.
    template <class Interface, class Make>
    HRESULT Create(const std::string& call, Call kind, Interface** out, Make make) {
        if (out == nullptr) {
            if (RecordingCalls()) Log(call + " -> " + HexResult(E_INVALIDARG));
            return E_INVALIDARG;
        }
        *out = nullptr;
        HRESULT result = DeviceCall(*queue_);
        if (result != S_OK || TakeFault(kind, &result)) {
            if (RecordingCalls()) Log(call + " -> " + HexResult(result));
            return result;
        }
        Interface* created = make();
        if (created == nullptr) {
            if (RecordingCalls()) Log(call + " -> " + HexResult(E_INVALIDARG));
            return E_INVALIDARG;
        }
        if (RecordingCalls()) Log(call);
        *out = created;
        return S_OK;
    }

    std::shared_ptr<DeviceQueue> queue_;  // kept for the device's lifetime, shared with its context
};

// ---- Waitable timers --------------------------------------------------------------------------

}  // namespace

// Declared with the controls' state, which keeps the set of open timers.
struct WaitableTimer {
    LiveToken live{Kind::WaitableTimer};
    bool armed = false;
    std::chrono::steady_clock::time_point due;
};

namespace {

WaitableTimer* FindTimer(HANDLE handle) {
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    auto* timer = static_cast<WaitableTimer*>(handle);
    return c.timers.count(timer) != 0 ? timer : nullptr;
}

}  // namespace

}  // namespace d3d_standin

// ---- The platform's entry points --------------------------------------------------------------

using namespace d3d_standin;

HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void** factory) {
    if (RecordingCalls()) Log("CreateDXGIFactory1");
    if (factory == nullptr) return E_POINTER;
    *factory = nullptr;
    HRESULT result = S_OK;
    if (TakeFault(Call::CreateDXGIFactory1, &result)) return result;
    if (std::memcmp(&riid, &IID_IDXGIFactory1, sizeof(IID)) != 0) return E_NOINTERFACE;
    std::vector<AdapterConfig> adapters;
    {
        Controls& c = GetControls();
        std::lock_guard<std::mutex> lock(c.mutex);
        adapters = c.adapters;
    }
    *factory = static_cast<IDXGIFactory1*>(new Factory(std::move(adapters)));
    return S_OK;
}

HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType,
                                 HMODULE software, UINT flags,
                                 const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount,
                                 UINT sdkVersion, ID3D11Device** device,
                                 D3D_FEATURE_LEVEL* featureLevel,
                                 ID3D11DeviceContext** immediateContext) {
    auto* chosen = adapter ? dynamic_cast<Adapter*>(adapter) : nullptr;
    std::string levels;
    for (UINT i = 0; featureLevels != nullptr && i < featureLevelCount; ++i) {
        levels += Format("%s0x%x", i ? "," : "", static_cast<unsigned>(featureLevels[i]));
    }
    std::string call = Format(
        "D3D11CreateDevice adapter=%d driver=%d software=%s flags=0x%x "
        "levels=%s sdk=%u",
        chosen ? static_cast<int>(chosen->index()) : -1, static_cast<int>(driverType),
        software ? "set" : "null", flags, levels.c_str(), sdkVersion);
    auto fail = [&](HRESULT result) {
        if (RecordingCalls()) Log(call + " -> " + HexResult(result));
        return result;
    };
    if (device != nullptr) *device = nullptr;
    if (immediateContext != nullptr) *immediateContext = nullptr;
    HRESULT result = S_OK;
    if (TakeFault(Call::D3D11CreateDevice, &result)) return fail(result);
    // An explicit adapter requires the unknown driver type; this stand-in has nothing else.
    if (chosen == nullptr || driverType != D3D_DRIVER_TYPE_UNKNOWN || software != nullptr ||
        sdkVersion != D3D11_SDK_VERSION || device == nullptr || immediateContext == nullptr) {
        return fail(E_INVALIDARG);
    }
    const D3D_FEATURE_LEVEL* supported = nullptr;
    for (UINT i = 0; featureLevels != nullptr && i < featureLevelCount && !supported; ++i) {
        if (featureLevels[i] <= chosen->config().maxFeatureLevel) supported = &featureLevels[i];
    }
    if (supported == nullptr) return fail(DXGI_ERROR_UNSUPPORTED);
    if (featureLevel != nullptr) *featureLevel = *supported;
    auto queue = std::make_shared<DeviceQueue>();
    *device = new Device(queue);
    *immediateContext = new DeviceContext(queue);
    Count(&Counters::devicesCreated);
    if (RecordingCalls()) Log(call);
    return S_OK;
}

HANDLE WINAPI CreateWaitableTimerExW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name, DWORD flags,
                                     DWORD desiredAccess) {
    if (RecordingCalls())
        Log(Format("CreateWaitableTimerExW attributes=%s name=%s flags=0x%x access=0x%x",
                   attributes ? "set" : "null", name ? "set" : "null", flags, desiredAccess));
    HRESULT ignored = S_OK;
    if (TakeFault(Call::CreateWaitableTimerExW, &ignored)) return nullptr;
    auto* timer = new WaitableTimer();
    Controls& c = GetControls();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.timers.insert(timer);
    return timer;
}

BOOL WINAPI SetWaitableTimer(HANDLE handle, const LARGE_INTEGER* dueTime, LONG period,
                             PTIMERAPCROUTINE completionRoutine, LPVOID, BOOL resume) {
    Count(&Counters::setWaitableTimer);
    WaitableTimer* timer = FindTimer(handle);
    // Only one-shot relative timers without completion routines are stood in for.
    if (timer == nullptr || dueTime == nullptr || dueTime->QuadPart > 0 || period != 0 ||
        completionRoutine != nullptr || resume) {
        return FALSE;
    }
    const auto delay = std::chrono::nanoseconds(-dueTime->QuadPart * 100);
    timer->due = std::chrono::steady_clock::now() + delay;
    timer->armed = true;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Count(&Counters::waitForSingleObject);
    WaitableTimer* timer = FindTimer(handle);
    if (timer == nullptr) return WAIT_FAILED;
    if (!timer->armed && milliseconds == INFINITE) return WAIT_FAILED;  // would never return
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    if (timer->armed && timer->due <= deadline) {
        std::this_thread::sleep_until(timer->due);
        timer->armed = false;  // a synchronisation timer resets when a wait is satisfied
        return WAIT_OBJECT_0;
    }
    std::this_thread::sleep_until(deadline);
    return WAIT_TIMEOUT;
}

BOOL WINAPI SwitchToThread() {
    Count(&Counters::switchToThread);
    std::this_thread::yield();
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (RecordingCalls()) Log("CloseHandle");
    Controls& c = GetControls();
    WaitableTimer* timer = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        auto found = c.timers.find(static_cast<WaitableTimer*>(handle));
        if (found == c.timers.end()) return FALSE;
        timer = *found;
        c.timers.erase(found);
    }
    delete timer;
    return TRUE;
}
