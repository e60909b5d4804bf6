// Runs the compiled kernels on a real Direct3D 11 device (under Wine: wined3d on Mesa's
// software OpenGL) outside the plug-in, to tell a kernel fault from a renderer fault:
//  - AnchorKernel reproduces the worked anchor heights to four digits, with the CPU build's bits;
//  - FireKernel and its second pass FireKernelRedo, fed that anchor, give the CPU build's bits on
//    whole frames, at a late time too, on a frame whose every group hashes directly, and on one
//    whose sines the first pass leaves undecided, which it marks; the second pass alone, with
//    every group marked, renders the whole frame and clears every mark;
//  - ConvertKernel gives the CPU build's host pixels for every class of float, at 8, 16, 32 bits.
// Usage: kernel_probe ANCHOR.dxbc FIRE.dxbc FIRE_REDO.dxbc CONVERT.dxbc
//        (exit status 0 when all checks pass)
#include <d3d11.h>
#include <dxgi.h>
#include <windows.h>
#include <wrl/client.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernels/convert_kernel.h"
#include "kernels/cpu_kernels.h"
#include "kernels/exact_math_tables.h"
#include "kernels/params_block.h"
#include "tests/kernels/group_plan.h"

using namespace pyrix;

using Microsoft::WRL::ComPtr;

namespace {

std::vector<char> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error(std::string("cannot read ") + path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void Check(HRESULT result, const char* what) {
    if (FAILED(result)) {
        char text[160];
        std::snprintf(text, sizeof(text), "%s failed: 0x%08lx", what,
                      static_cast<unsigned long>(result));
        throw std::runtime_error(text);
    }
}

class Device {
  public:
    Device() {
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        Check(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                D3D11_SDK_VERSION, &device_, nullptr, &context_),
              "D3D11CreateDevice at feature level 11.0");
        // The exact math's tables at b1 for the device's life, as the renderer keeps them.
        const TablesBlock block = MakeTablesBlock();
        D3D11_BUFFER_DESC desc{};
        desc.ByteWidth = sizeof(TablesBlock);
        desc.Usage = D3D11_USAGE_IMMUTABLE;
        desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        D3D11_SUBRESOURCE_DATA data{&block, 0, 0};
        Check(device_->CreateBuffer(&desc, &data, &tables_), "CreateBuffer (tables)");
        context_->CSSetConstantBuffers(1, 1, tables_.GetAddressOf());
    }

    ID3D11Device* device() const { return device_.Get(); }
    ID3D11DeviceContext* context() const { return context_.Get(); }

    ComPtr<ID3D11ComputeShader> Kernel(const std::vector<char>& bytecode) const {
        ComPtr<ID3D11ComputeShader> kernel;
        Check(device_->CreateComputeShader(bytecode.data(), bytecode.size(), nullptr, &kernel),
              "CreateComputeShader");
        return kernel;
    }

    template <typename Block>
    ComPtr<ID3D11Buffer> ConstantBuffer(const Block& params) const {
        D3D11_BUFFER_DESC desc{};
        desc.ByteWidth = sizeof(Block);
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
        D3D11_SUBRESOURCE_DATA data{&params, 0, 0};
        ComPtr<ID3D11Buffer> buffer;
        Check(device_->CreateBuffer(&desc, &data, &buffer), "CreateBuffer (constants)");
        return buffer;
    }

    // Copies a resource to a CPU-readable one and hands its mapped bytes to `read`.
    template <typename Read>
    void ReadBack(ID3D11Resource* source, ID3D11Resource* staging, Read read) const {
        context_->CopyResource(staging, source);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        Check(context_->Map(staging, 0, D3D11_MAP_READ, 0, &mapped), "Map");
        read(mapped);
        context_->Unmap(staging, 0);
    }

  private:
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11Buffer> tables_;
};

// The anchor buffer: one 16-byte structured element, read-write for AnchorKernel at u1 and
// read-only for FireKernel at t0.
struct AnchorBuffer {
    ComPtr<ID3D11Buffer> buffer, staging;
    ComPtr<ID3D11UnorderedAccessView> uav;
    ComPtr<ID3D11ShaderResourceView> srv;

    explicit AnchorBuffer(ID3D11Device* device) {
        D3D11_BUFFER_DESC desc{};
        desc.ByteWidth = sizeof(AnchorRecord);
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_UNORDERED_ACCESS;
        desc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
        desc.StructureByteStride = sizeof(AnchorRecord);
        Check(device->CreateBuffer(&desc, nullptr, &buffer), "CreateBuffer (anchor)");
        D3D11_UNORDERED_ACCESS_VIEW_DESC uavDesc{};
        uavDesc.Format = DXGI_FORMAT_UNKNOWN;
        uavDesc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
        uavDesc.Buffer.NumElements = 1;
        Check(device->CreateUnorderedAccessView(buffer.Get(), &uavDesc, &uav), "anchor UAV");
        D3D11_SHADER_RESOURCE_VIEW_DESC srvDesc{};
        srvDesc.Format = DXGI_FORMAT_UNKNOWN;
        srvDesc.ViewDimension = D3D11_SRV_DIMENSION_BUFFER;
        srvDesc.Buffer.NumElements = 1;
        Check(device->CreateShaderResourceView(buffer.Get(), &srvDesc, &srv), "anchor SRV");
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        desc.MiscFlags = 0;
        desc.StructureByteStride = 0;
        Check(device->CreateBuffer(&desc, nullptr, &staging), "CreateBuffer (anchor staging)");
    }
};

void DispatchAnchor(const Device& gpu, ID3D11ComputeShader* kernel, ID3D11Buffer* constants,
                    const AnchorBuffer& anchor) {
    ID3D11DeviceContext* context = gpu.context();
    context->CSSetShader(kernel, nullptr, 0);
    context->CSSetConstantBuffers(0, 1, &constants);
    ID3D11UnorderedAccessView* uav = anchor.uav.Get();
    context->CSSetUnorderedAccessViews(1, 1, &uav, nullptr);
    context->Dispatch(1, 1, 1);
    ID3D11UnorderedAccessView* none = nullptr;
    context->CSSetUnorderedAccessViews(1, 1, &none, nullptr);
}

// A texture of four floats per texel, as the kernels write and read them.
D3D11_TEXTURE2D_DESC FloatTextureDesc(uint32_t width, uint32_t height, UINT bindFlags) {
    D3D11_TEXTURE2D_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R32G32B32A32_FLOAT;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = bindFlags;
    return desc;
}

ParamsBlock KernelParams(float detail, float time, float emitterSize, float softness) {
    ParamsBlock params{};
    params.width = 1;
    params.height = 1;
    params.fullWidth = 1.0f;
    params.fullHeight = 1.0f;
    params.detail = detail;
    params.time = time;
    params.emitterSize = emitterSize;
    params.softness = softness;
    return params;
}

struct AnchorCase {
    const char* what;
    float detail, time, emitterSize, softness;
    double expected;  // the worked value, to four digits
};

// The worked anchor heights of the kernels (computed with a correctly rounded sine).
constexpr AnchorCase kAnchorCases[] = {
    {"detail 1, time 0, size 1, softness 0", 1.0f, 0.0f, 1.0f, 0.0f, -0.1809},
    {"softness 0.5", 1.0f, 0.0f, 1.0f, 0.5f, -0.1741},
    {"softness 1", 1.0f, 0.0f, 1.0f, 1.0f, -0.1670},
    {"detail 2, time 1", 2.0f, 1.0f, 1.0f, 0.0f, -0.1789},
    {"emitter size 0.5", 1.0f, 0.0f, 0.5f, 0.0f, -0.1809},
    {"emitter size 3", 1.0f, 0.0f, 3.0f, 0.0f, -0.1809},
    // Visible at the first scan sample: the bisection starts from sample 0, the scan's start.
    {"first sample visible (softness -5)", 3.0f, 0.0f, 1.0f, -5.0f, -0.2477},
};

int CheckAnchors(const Device& gpu, ID3D11ComputeShader* kernel) {
    int failures = 0;
    AnchorBuffer anchor(gpu.device());
    auto run = [&](const ParamsBlock& params) {
        ComPtr<ID3D11Buffer> constants = gpu.ConstantBuffer(params);
        DispatchAnchor(gpu, kernel, constants.Get(), anchor);
        AnchorRecord record{};
        gpu.ReadBack(anchor.buffer.Get(), anchor.staging.Get(),
                     [&](const D3D11_MAPPED_SUBRESOURCE& mapped) {
                         std::memcpy(&record, mapped.pData, sizeof(record));
                     });
        return record;
    };
    for (const AnchorCase& c : kAnchorCases) {
        const AnchorRecord gpuRecord =
            run(KernelParams(c.detail, c.time, c.emitterSize, c.softness));
        const AnchorRecord cpuRecord =
            RunAnchorKernel(KernelParams(c.detail, c.time, c.emitterSize, c.softness));
        // Four digits: the value rounds to the worked one.
        const bool ok =
            std::fabs(static_cast<double>(gpuRecord.baseOffset) - c.expected) <= 0.00005 &&
            std::memcmp(&gpuRecord, &cpuRecord, sizeof(AnchorRecord)) == 0;
        std::printf("%s anchor %-38s GPU %.6f  CPU %.6f  worked %.4f\n", ok ? "ok  " : "FAIL",
                    c.what, static_cast<double>(gpuRecord.baseOffset),
                    static_cast<double>(cpuRecord.baseOffset), c.expected);
        failures += ok ? 0 : 1;
    }
    // No emitter: the record is all zero, whatever was in the buffer before.
    const AnchorRecord empty = run(KernelParams(1.0f, 0.0f, 0.0f, 0.0f));
    const bool emptyOk = empty.baseOffset == 0.0f && empty.unusedY == 0.0f &&
                         empty.unusedZ == 0.0f && empty.unusedW == 0.0f;
    std::printf("%s anchor %-38s GPU %.6f\n", emptyOk ? "ok  " : "FAIL", "emitter size 0",
                static_cast<double>(empty.baseOffset));
    return failures + (emptyOk ? 0 : 1);
}

void CreateWordBuffers(ID3D11Device* device, uint32_t count, ComPtr<ID3D11Buffer>* pixels,
                       ComPtr<ID3D11Buffer>* staging, ComPtr<ID3D11UnorderedAccessView>* uav);

struct FireKernels {
    ID3D11ComputeShader* anchor;
    ID3D11ComputeShader* fire;
    ID3D11ComputeShader* redo;
};

struct Marks {
    bool any;       // the word after the groups' marks, after the first pass
    uint32_t left;  // words still set after the second
};

// The fire kernel's passes over the frame's groups as the renderer runs them: the first, then
// the second where the first marked a group. With `everyGroupMarked`, the second alone over
// marks that name every group.
Marks DispatchFire(const Device& gpu, const FireKernels& kernels, const ParamsBlock& params,
                   ID3D11UnorderedAccessView* output, bool everyGroupMarked) {
    const UINT groupsX = (params.width + kFireGroupWidth - 1) / kFireGroupWidth;
    const UINT groupsY = (params.height + kFireGroupHeight - 1) / kFireGroupHeight;
    const UINT words = groupsX * groupsY + 1;
    ComPtr<ID3D11Buffer> marks, staging;
    ComPtr<ID3D11UnorderedAccessView> marksUav;
    CreateWordBuffers(gpu.device(), words, &marks, &staging, &marksUav);
    ID3D11DeviceContext* context = gpu.context();
    const UINT mark = everyGroupMarked ? 1u : 0u;
    const UINT initial[4] = {mark, mark, mark, mark};
    context->ClearUnorderedAccessViewUint(marksUav.Get(), initial);
    ID3D11UnorderedAccessView* views[4] = {output, nullptr, nullptr, marksUav.Get()};
    context->CSSetUnorderedAccessViews(0, 4, views, nullptr);
    // How many words are set, and whether the last one (some group marked) is.
    const auto readMarks = [&](bool* any) {
        uint32_t set = 0;
        gpu.ReadBack(marks.Get(), staging.Get(), [&](const D3D11_MAPPED_SUBRESOURCE& mapped) {
            const auto* word = static_cast<const uint32_t*>(mapped.pData);
            for (UINT i = 0; i < words; ++i) set += word[i] != 0 ? 1 : 0;
            *any = word[words - 1] != 0;
        });
        return set;
    };
    Marks result{everyGroupMarked, 0};
    if (!everyGroupMarked) {
        context->CSSetShader(kernels.fire, nullptr, 0);
        context->Dispatch(groupsX, groupsY, 1);
        readMarks(&result.any);
    }
    if (result.any) {
        context->CSSetShader(kernels.redo, nullptr, 0);
        context->Dispatch(groupsX, groupsY, 1);
    }
    ID3D11UnorderedAccessView* none[4] = {};
    context->CSSetUnorderedAccessViews(0, 4, none, nullptr);
    bool stillAny = false;
    result.left = readMarks(&stillAny);
    return result;
}

// A frame with a rectangle that reaches past the full frame's right and top edges, so that the
// outside texels (transparent black) are compared too. Shrunk by `shrink` at a high detail, a
// group's pixels reach more lattice points than its table holds and it hashes directly: with
// `allFallBack`, the plan's mirror must find that every group of the frame does.
// With `expectMarks`, a frame whose lattice points have sines that the first pass leaves
// undecided: it must mark some group.
int CheckFire(const Device& gpu, const FireKernels& kernels, float time, float detail = 1.3f,
              int shrink = 1, bool allFallBack = false, bool everyGroupMarked = false,
              bool expectMarks = false) {
    ParamsBlock params{};
    params.width = 203 / static_cast<uint32_t>(shrink);
    params.height = 117 / static_cast<uint32_t>(shrink);
    params.originX = 40 / shrink;
    params.originY = -9 / shrink;
    params.fullWidth = 240.0f / static_cast<float>(shrink);
    params.fullHeight = 135.0f / static_cast<float>(shrink);
    params.detail = detail;
    params.time = time;
    params.shiftX = 0.07f;
    params.shiftY = 0.7f - 0.91f;
    params.emitterSize = 1.4f;
    params.softness = 0.35f;

    D3D11_TEXTURE2D_DESC desc =
        FloatTextureDesc(params.width, params.height, D3D11_BIND_UNORDERED_ACCESS);
    ComPtr<ID3D11Texture2D> texture, staging;
    Check(gpu.device()->CreateTexture2D(&desc, nullptr, &texture), "CreateTexture2D");
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    Check(gpu.device()->CreateTexture2D(&desc, nullptr, &staging), "CreateTexture2D (staging)");
    ComPtr<ID3D11UnorderedAccessView> outputUav;
    Check(gpu.device()->CreateUnorderedAccessView(texture.Get(), nullptr, &outputUav),
          "output UAV");

    AnchorBuffer anchor(gpu.device());
    ComPtr<ID3D11Buffer> constants = gpu.ConstantBuffer(params);
    DispatchAnchor(gpu, kernels.anchor, constants.Get(), anchor);
    ID3D11DeviceContext* context = gpu.context();
    ID3D11ShaderResourceView* srv = anchor.srv.Get();
    context->CSSetShaderResources(0, 1, &srv);
    ID3D11Buffer* constantBuffer = constants.Get();
    context->CSSetConstantBuffers(0, 1, &constantBuffer);
    const Marks marks = DispatchFire(gpu, kernels, params, outputUav.Get(), everyGroupMarked);

    std::vector<float> gpuTexels(static_cast<size_t>(params.width) * params.height * 4);
    gpu.ReadBack(texture.Get(), staging.Get(), [&](const D3D11_MAPPED_SUBRESOURCE& mapped) {
        for (uint32_t y = 0; y < params.height; ++y) {
            std::memcpy(
                &gpuTexels[static_cast<size_t>(y) * params.width * 4],
                static_cast<const char*>(mapped.pData) + static_cast<size_t>(y) * mapped.RowPitch,
                params.width * 16);
        }
    });

    std::vector<float> cpuTexels(gpuTexels.size());
    const AnchorRecord cpuAnchor = RunAnchorKernel(params);
    RunFireKernel(params, cpuAnchor,
                  TexelImage{cpuTexels.data(), params.width * 16, params.width, params.height});

    size_t differing = 0;
    size_t fire = 0;
    double worst = 0.0;
    const size_t texels = gpuTexels.size() / 4;
    for (size_t i = 0; i < texels; ++i) {
        if (std::memcmp(&gpuTexels[i * 4], &cpuTexels[i * 4], 4 * sizeof(float)) != 0) {
            ++differing;
            for (size_t c = 0; c < 4; ++c) {
                worst = std::fmax(worst, std::fabs(static_cast<double>(gpuTexels[i * 4 + c]) -
                                                   static_cast<double>(cpuTexels[i * 4 + c])));
            }
        }
        fire += cpuTexels[i * 4] > 0.02f ? 1 : 0;
    }
    const GroupPlanCost plan = PlanGroups(params);
    // Fire on at least 1 % of the frame, so that two black frames cannot pass.
    const bool ok = differing == 0 && fire * 100 >= texels && marks.left == 0 &&
                    (!expectMarks || marks.any) &&
                    (!allFallBack || (plan.groups > 0 && plan.directGroups == plan.groups));
    std::printf(
        "%s fire kernel%s, time %g, detail %g, 1/%d: %zu of %zu texels differ from the CPU "
        "kernels (worst %.6f), fire on %zu, anchor %.6f; %ld of %ld groups hash directly "
        "(%ld octaves); %s, %u marks left\n",
        ok ? "ok  " : "FAIL", everyGroupMarked ? " (second pass alone)" : "",
        static_cast<double>(time), static_cast<double>(detail), shrink, differing, texels, worst,
        fire, static_cast<double>(cpuAnchor.baseOffset), plan.directGroups, plan.groups,
        plan.directOctaves, marks.any ? "groups marked" : "no group marked", marks.left);
    return ok ? 0 : 1;
}

// A structured buffer of `count` words with its UAV, and a CPU-readable copy of it.
void CreateWordBuffers(ID3D11Device* device, uint32_t count, ComPtr<ID3D11Buffer>* pixels,
                       ComPtr<ID3D11Buffer>* staging, ComPtr<ID3D11UnorderedAccessView>* uav) {
    D3D11_BUFFER_DESC bufferDesc{};
    bufferDesc.ByteWidth = count * 4;
    bufferDesc.Usage = D3D11_USAGE_DEFAULT;
    bufferDesc.BindFlags = D3D11_BIND_UNORDERED_ACCESS;
    bufferDesc.MiscFlags = D3D11_RESOURCE_MISC_BUFFER_STRUCTURED;
    bufferDesc.StructureByteStride = 4;
    Check(device->CreateBuffer(&bufferDesc, nullptr, pixels->GetAddressOf()),
          "CreateBuffer (pixels)");
    D3D11_UNORDERED_ACCESS_VIEW_DESC uavDesc{};
    uavDesc.Format = DXGI_FORMAT_UNKNOWN;
    uavDesc.ViewDimension = D3D11_UAV_DIMENSION_BUFFER;
    uavDesc.Buffer.NumElements = count;
    Check(device->CreateUnorderedAccessView(pixels->Get(), &uavDesc, uav->GetAddressOf()),
          "pixel UAV");
    bufferDesc.Usage = D3D11_USAGE_STAGING;
    bufferDesc.BindFlags = 0;
    bufferDesc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    bufferDesc.MiscFlags = 0;
    Check(device->CreateBuffer(&bufferDesc, nullptr, staging->GetAddressOf()),
          "CreateBuffer (staging)");
}

// Every class of float (zeros, denormals, halves, around 1, +-1e6, NaN, infinities), one per
// channel, through ConvertKernel on the device and its CPU build: the same words at each depth.
int CheckConversion(const Device& gpu, ID3D11ComputeShader* kernel) {
    const uint32_t classes[] = {0x00000000u, 0x80000000u, 0x00000001u, 0x80000001u, 0x007FFFFFu,
                                0x00800000u, 0x3F000000u, 0x3B000000u, 0x3F7FFFFFu, 0x3F800000u,
                                0x3F800001u, 0xBF000000u, 0x49742400u, 0x49742401u, 0xC9742400u,
                                0xC9742401u, 0x7FC00000u, 0xFFC00000u, 0x7F800000u, 0xFF800000u};
    const uint32_t width = 70, rows = 3;  // two thread groups, the second partly idle
    std::vector<uint32_t> texels(size_t(width) * rows * 4);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = classes[(i * 7 + i / 4) % 20];

    const D3D11_TEXTURE2D_DESC desc = FloatTextureDesc(width, rows, D3D11_BIND_SHADER_RESOURCE);
    const D3D11_SUBRESOURCE_DATA initial{texels.data(), width * 16, 0};
    ComPtr<ID3D11Texture2D> texture;
    Check(gpu.device()->CreateTexture2D(&desc, &initial, &texture), "CreateTexture2D (texels)");
    ComPtr<ID3D11ShaderResourceView> srv;
    Check(gpu.device()->CreateShaderResourceView(texture.Get(), nullptr, &srv), "texel SRV");

    int failures = 0;
    for (uint32_t words : {1u, 2u, 4u}) {
        ComPtr<ID3D11Buffer> pixels, staging;
        ComPtr<ID3D11UnorderedAccessView> uav;
        CreateWordBuffers(gpu.device(), width * rows * words, &pixels, &staging, &uav);
        const ConversionBlock block{width, rows, words, 0};
        ComPtr<ID3D11Buffer> constants = gpu.ConstantBuffer(block);
        ID3D11DeviceContext* context = gpu.context();
        context->CSSetShader(kernel, nullptr, 0);
        ID3D11Buffer* constantBuffer = constants.Get();
        context->CSSetConstantBuffers(0, 1, &constantBuffer);
        ID3D11ShaderResourceView* view = srv.Get();
        context->CSSetShaderResources(0, 1, &view);
        ID3D11UnorderedAccessView* output = uav.Get();
        context->CSSetUnorderedAccessViews(0, 1, &output, nullptr);
        context->Dispatch((width + kConvertGroupWidth - 1) / kConvertGroupWidth, rows, 1);

        std::vector<uint32_t> gpuWords(size_t(width) * rows * words);
        gpu.ReadBack(pixels.Get(), staging.Get(), [&](const D3D11_MAPPED_SUBRESOURCE& mapped) {
            std::memcpy(gpuWords.data(), mapped.pData, gpuWords.size() * 4);
        });
        std::vector<uint32_t> cpuWords(gpuWords.size());
        RunConvertKernel(
            block, TexelImage{reinterpret_cast<float*>(texels.data()), width * 16, width, rows},
            cpuWords.data());
        size_t differing = 0;
        for (size_t i = 0; i < gpuWords.size(); ++i) differing += gpuWords[i] != cpuWords[i];
        std::printf(
            "%s conversion, %u words per pixel: %zu of %zu words differ from the CPU build\n",
            differing == 0 ? "ok  " : "FAIL", words, differing, gpuWords.size());
        failures += differing == 0 ? 0 : 1;
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: kernel_probe ANCHOR.dxbc FIRE.dxbc FIRE_REDO.dxbc CONVERT.dxbc\n");
        return 2;
    }
    try {
        const Device gpu;
        const ComPtr<ID3D11ComputeShader> anchorKernel = gpu.Kernel(ReadFile(argv[1]));
        const ComPtr<ID3D11ComputeShader> fireKernel = gpu.Kernel(ReadFile(argv[2]));
        const ComPtr<ID3D11ComputeShader> redoKernel = gpu.Kernel(ReadFile(argv[3]));
        const ComPtr<ID3D11ComputeShader> convertKernel = gpu.Kernel(ReadFile(argv[4]));
        const FireKernels fire{anchorKernel.Get(), fireKernel.Get(), redoKernel.Get()};
        const int failures = CheckAnchors(gpu, anchorKernel.Get()) + CheckFire(gpu, fire, 0.87f) +
                             CheckFire(gpu, fire, 416667.0f) +
                             CheckFire(gpu, fire, 0.87f, 5.0f, 8, true) +
                             CheckFire(gpu, fire, 0.87f, 1.3f, 1, false, true) +
                             CheckFire(gpu, fire, 3953.6f, 1.3f, 1, false, false, true) +
                             CheckConversion(gpu, convertKernel.Get());
        return failures == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "FAIL: %s\n", error.what());
        return 1;
    }
}
