// Linux stand-in for the Direct3D 11 declarations the renderer uses, under the platform's names
// and values. Interfaces declare only the methods the renderer calls.
#pragma once

#include <dxgi.h>
#include <windows.h>

#define D3D11_SDK_VERSION 7u

enum D3D_DRIVER_TYPE {
    D3D_DRIVER_TYPE_UNKNOWN = 0,
    D3D_DRIVER_TYPE_HARDWARE = 1,
};

enum D3D_FEATURE_LEVEL {
    D3D_FEATURE_LEVEL_10_0 = 0xa000,
    D3D_FEATURE_LEVEL_10_1 = 0xa100,
    D3D_FEATURE_LEVEL_11_0 = 0xb000,
    D3D_FEATURE_LEVEL_11_1 = 0xb100,
};

enum D3D11_USAGE {
    D3D11_USAGE_DEFAULT = 0,
    D3D11_USAGE_IMMUTABLE = 1,
    D3D11_USAGE_DYNAMIC = 2,
    D3D11_USAGE_STAGING = 3,
};

enum D3D11_BIND_FLAG {
    D3D11_BIND_CONSTANT_BUFFER = 0x4,
    D3D11_BIND_SHADER_RESOURCE = 0x8,
    D3D11_BIND_UNORDERED_ACCESS = 0x80,
};

enum D3D11_CPU_ACCESS_FLAG {
    D3D11_CPU_ACCESS_WRITE = 0x10000,
    D3D11_CPU_ACCESS_READ = 0x20000,
};

enum D3D11_RESOURCE_MISC_FLAG {
    D3D11_RESOURCE_MISC_BUFFER_STRUCTURED = 0x40,
};

enum D3D11_MAP {
    D3D11_MAP_READ = 1,
    D3D11_MAP_WRITE = 2,
};

enum D3D11_MAP_FLAG {
    D3D11_MAP_FLAG_DO_NOT_WAIT = 0x100000,
};

enum D3D11_UAV_DIMENSION {
    D3D11_UAV_DIMENSION_UNKNOWN = 0,
    D3D11_UAV_DIMENSION_BUFFER = 1,
    D3D11_UAV_DIMENSION_TEXTURE2D = 4,
};

enum D3D11_SRV_DIMENSION {
    D3D11_SRV_DIMENSION_UNKNOWN = 0,
    D3D11_SRV_DIMENSION_BUFFER = 1,
};

struct D3D11_BUFFER_DESC {
    UINT ByteWidth;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
    UINT StructureByteStride;
};

struct D3D11_TEXTURE2D_DESC {
    UINT Width;
    UINT Height;
    UINT MipLevels;
    UINT ArraySize;
    DXGI_FORMAT Format;
    DXGI_SAMPLE_DESC SampleDesc;
    D3D11_USAGE Usage;
    UINT BindFlags;
    UINT CPUAccessFlags;
    UINT MiscFlags;
};

struct D3D11_BUFFER_UAV {
    UINT FirstElement;
    UINT NumElements;
    UINT Flags;
};

struct D3D11_UNORDERED_ACCESS_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_UAV_DIMENSION ViewDimension;
    union {
        D3D11_BUFFER_UAV Buffer;
    };
};

struct D3D11_BUFFER_SRV {
    UINT FirstElement;
    UINT NumElements;
};

struct D3D11_SHADER_RESOURCE_VIEW_DESC {
    DXGI_FORMAT Format;
    D3D11_SRV_DIMENSION ViewDimension;
    union {
        D3D11_BUFFER_SRV Buffer;
    };
};

struct D3D11_SUBRESOURCE_DATA {
    const void* pSysMem;
    UINT SysMemPitch;
    UINT SysMemSlicePitch;
};

struct D3D11_MAPPED_SUBRESOURCE {
    void* pData;
    UINT RowPitch;
    UINT DepthPitch;
};

struct D3D11_BOX {
    UINT left, top, front, right, bottom, back;
};

struct ID3D11DeviceChild : public IUnknown {};
struct ID3D11Resource : public ID3D11DeviceChild {};
struct ID3D11Buffer : public ID3D11Resource {};
struct ID3D11Texture2D : public ID3D11Resource {};
struct ID3D11View : public ID3D11DeviceChild {};
struct ID3D11UnorderedAccessView : public ID3D11View {};
struct ID3D11ShaderResourceView : public ID3D11View {};
struct ID3D11ComputeShader : public ID3D11DeviceChild {};
struct ID3D11ClassLinkage : public ID3D11DeviceChild {};
struct ID3D11ClassInstance : public ID3D11DeviceChild {};

struct ID3D11Device : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateBuffer(const D3D11_BUFFER_DESC* desc,
                                                   const D3D11_SUBRESOURCE_DATA* initialData,
                                                   ID3D11Buffer** buffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc,
                                                      const D3D11_SUBRESOURCE_DATA* initialData,
                                                      ID3D11Texture2D** texture) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    CreateShaderResourceView(ID3D11Resource* resource, const D3D11_SHADER_RESOURCE_VIEW_DESC* desc,
                             ID3D11ShaderResourceView** view) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateUnorderedAccessView(
        ID3D11Resource* resource, const D3D11_UNORDERED_ACCESS_VIEW_DESC* desc,
        ID3D11UnorderedAccessView** view) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateComputeShader(const void* bytecode, SIZE_T length,
                                                          ID3D11ClassLinkage* classLinkage,
                                                          ID3D11ComputeShader** shader) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDeviceRemovedReason() = 0;
};

struct ID3D11DeviceContext : public ID3D11DeviceChild {
    virtual HRESULT STDMETHODCALLTYPE Map(ID3D11Resource* resource, UINT subresource,
                                          D3D11_MAP mapType, UINT mapFlags,
                                          D3D11_MAPPED_SUBRESOURCE* mapped) = 0;
    virtual void STDMETHODCALLTYPE Unmap(ID3D11Resource* resource, UINT subresource) = 0;
    virtual void STDMETHODCALLTYPE Dispatch(UINT groupsX, UINT groupsY, UINT groupsZ) = 0;
    virtual void STDMETHODCALLTYPE CopyResource(ID3D11Resource* destination,
                                                ID3D11Resource* source) = 0;
    virtual void STDMETHODCALLTYPE UpdateSubresource(ID3D11Resource* destination, UINT subresource,
                                                     const D3D11_BOX* box, const void* data,
                                                     UINT rowPitch, UINT depthPitch) = 0;
    virtual void STDMETHODCALLTYPE CSSetShaderResources(UINT startSlot, UINT count,
                                                        ID3D11ShaderResourceView* const* views) = 0;
    virtual void STDMETHODCALLTYPE
    CSSetUnorderedAccessViews(UINT startSlot, UINT count, ID3D11UnorderedAccessView* const* views,
                              const UINT* initialCounts) = 0;
    virtual void STDMETHODCALLTYPE CSSetShader(ID3D11ComputeShader* shader,
                                               ID3D11ClassInstance* const* classInstances,
                                               UINT classInstanceCount) = 0;
    virtual void STDMETHODCALLTYPE CSSetConstantBuffers(UINT startSlot, UINT count,
                                                        ID3D11Buffer* const* buffers) = 0;
    virtual void STDMETHODCALLTYPE Flush() = 0;
};

HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType,
                                 HMODULE software, UINT flags,
                                 const D3D_FEATURE_LEVEL* featureLevels, UINT featureLevelCount,
                                 UINT sdkVersion, ID3D11Device** device,
                                 D3D_FEATURE_LEVEL* featureLevel,
                                 ID3D11DeviceContext** immediateContext);
