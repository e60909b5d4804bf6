// The stand-in's device: it makes buffers, textures, views and compute shaders (recognising the
// plug-in's kernels by their bytecode), and D3D11CreateDevice makes it with its context.
#include <memory>
#include <string>
#include <utility>

#include "standins/win32/device_queue.h"
#include "standins/win32/standin_objects.h"

namespace d3d_standin {

ID3D11DeviceContext* NewDeviceContext(std::shared_ptr<DeviceQueue> queue);

namespace {

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
        if (desc != nullptr && BeyondSizeLimit(desc->ByteWidth)) return Refuse(call, buffer);
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
        if (desc != nullptr &&
            BeyondSizeLimit(uint64_t(desc->Width) * desc->Height * kTexelBytes)) {
            return Refuse(call, texture);
        }
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
        return Create(
            call, Call::CreateShaderResourceView, view, [&]() -> ID3D11ShaderResourceView* {
                if (state == nullptr || (state->bindFlags & D3D11_BIND_SHADER_RESOURCE) == 0) {
                    return nullptr;
                }
                if (state->isTexture && desc == nullptr) {  // the whole texture
                    return new ShaderResourceView(TargetOf(*state));
                }
                if (desc == nullptr || state->isTexture ||
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
    static bool BeyondSizeLimit(uint64_t bytes) {
        const uint64_t limit = gResourceSizeLimit.load();
        return limit != 0 && bytes > limit;
    }

    // A creation refused for its size, as a device does beyond its resource size limit.
    template <class Interface>
    HRESULT Refuse(const std::string& call, Interface** out) {
        if (out != nullptr) *out = nullptr;
        if (RecordingCalls()) Log(call + " -> " + HexResult(E_OUTOFMEMORY));
        return E_OUTOFMEMORY;
    }

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

}  // namespace

}  // namespace d3d_standin

using namespace d3d_standin;

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
    *immediateContext = NewDeviceContext(queue);
    Count(&Counters::devicesCreated);
    if (RecordingCalls()) Log(call);
    return S_OK;
}
