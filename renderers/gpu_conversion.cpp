#include "renderers/gpu_conversion.h"

#include <cstring>
#include <stdexcept>

#include "kernels/conversion_block.h"
#include "kernels/kernel_bytecode.h"
#include "kernels/params_block.h"
#include "renderers/output_conversion.h"

namespace pyrix {

void GpuConversion::Create(ID3D11Device* device) {
    Check(device->CreateComputeShader(kConvertKernelBytecode, kConvertKernelBytecodeSize, nullptr,
                                      kernel_.Put()),
          "GPU shader initialization failed");
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = sizeof(ConversionBlock);
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    Check(device->CreateBuffer(&desc, nullptr, constants_.Put()),
          "GPU constant buffer allocation failed");
}

void GpuConversion::EnsureBuffers(ID3D11Device* device, uint32_t bytes,
                                  const CreationCheck& check) {
    if (bufferBytes_ == bytes) return;
    ReleaseBuffers();
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = bytes;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
    desc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    desc.StructureByteStride = sizeof(uint32_t);
    check(device->CreateBuffer(&desc, nullptr, pixels_.Put()), "GPU texture allocation failed");

    D3D11_UNORDERED_ACCESS_VIEW_DESC uavDesc = {};
    uavDesc.Format = DXGI_FORMAT_UNKNOWN;
    uavDesc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    uavDesc.Buffer.NumElements = bytes / sizeof(uint32_t);
    check(device->CreateUnorderedAccessView(pixels_.Get(), &uavDesc, pixelsUav_.Put()),
          "GPU output view failed");

    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    desc.StructureByteStride = 0;
    check(device->CreateBuffer(&desc, nullptr, readback_.Put()), "GPU readback allocation failed");
    bufferBytes_ = bytes;
}

void GpuConversion::ReleaseBuffers() {
    bufferBytes_ = 0;
    readback_.Reset();
    pixelsUav_.Reset();
    pixels_.Reset();
}

void GpuConversion::Queue(ID3D11DeviceContext* gpu, ID3D11ShaderResourceView* image, uint32_t width,
                          uint32_t rows, int32_t depth) const {
    const ConversionBlock block = {width, rows, depth == kPixelDepth16 ? 2u : 1u, 0u};
    ID3D11UnorderedAccessView* const noUav = nullptr;
    ID3D11ShaderResourceView* const noSrv = nullptr;
    gpu->UpdateSubresource(constants_.Get(), 0, nullptr, &block, 0, 0);
    gpu->CSSetShader(kernel_.Get(), nullptr, 0);
    gpu->CSSetConstantBuffers(0, 1, constants_.GetAddressOf());
    gpu->CSSetShaderResources(0, 1, &image);
    gpu->CSSetUnorderedAccessViews(0, 1, pixelsUav_.GetAddressOf(), nullptr);
    gpu->Dispatch(FireGroupCount(width, kConvertGroupWidth), rows, 1);
    gpu->CSSetUnorderedAccessViews(0, 1, &noUav, nullptr);
    gpu->CSSetShaderResources(0, 1, &noSrv);
    gpu->CopyResource(readback_.Get(), pixels_.Get());
}

void GpuConversion::CopyRows(const uint8_t* pixels, const RenderRequest& request) {
    const size_t rowBytes = size_t(request.width) * size_t(BytesPerPixel(request.depth));
    ParallelForRows(request.height, [&](int32_t y) {
        std::memcpy(request.pixels + int64_t(y) * request.rowBytes, pixels + size_t(y) * rowBytes,
                    rowBytes);
    });
}

}  // namespace pyrix
