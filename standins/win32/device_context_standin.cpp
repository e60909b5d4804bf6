// The stand-in's immediate context: resource mapping, the compute state, and dispatches, which
// it queues on the device's thread to run the plug-in's own kernels on the CPU.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "kernels/convert_kernel.h"
#include "kernels/cpu_kernels.h"
#include "kernels/exact_math_tables.h"
#include "kernels/fast_fire_kernel.h"
#include "kernels/params_block.h"
#include "standins/win32/device_queue.h"
#include "standins/win32/standin_objects.h"

// The device runs the plug-in's own kernels on the CPU.
using pyrix::AnchorRecord;
using pyrix::ConversionBlock;
using pyrix::ParamsBlock;
using pyrix::RunAnchorKernel;
using pyrix::RunFastFireKernelGroupRows;
using pyrix::RunFireKernelGroupRows;
using pyrix::TablesBlock;
using pyrix::TexelImage;

namespace d3d_standin {

namespace {

// A buffer large enough for the anchor kernel's record.
bool HoldsAnchor(const ViewTarget& view) {
    return view.storage && !view.isTexture && view.width >= sizeof(AnchorRecord);
}

// A buffer holding the exact math's tables as the kernels read them: a device without them
// computes a different field. (Their contents are set at creation, never in a queued copy.)
bool HoldsTables(const ViewTarget& view) {
    static const TablesBlock expected = pyrix::MakeTablesBlock();
    return view.storage && !view.isTexture && view.width >= sizeof(TablesBlock) &&
           std::memcmp(view.storage->data(), &expected, sizeof(expected)) == 0;
}

ParamsBlock ReadParams(const Storage& storage) {
    ParamsBlock params{};
    std::memcpy(&params, storage->data(), sizeof(params));
    return params;
}

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
        mapped->RowPitch = state->isTexture ? state->width * kTexelBytes : state->width;
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
            if (startSlot + i == 1) tables_ = state ? TargetOf(*state) : ViewTarget{};
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
        if (kernel_ == KernelIdentity::Convert) {
            QueueConversion(groupsX, groupsY);
            return;
        }
        const ViewTarget constants = constants_;
        if (!constants.storage || constants.width < sizeof(ParamsBlock)) {
            if (RecordingCalls()) Log("DispatchSkipped: no constant buffer at b0");
            return;
        }
        if (!HoldsTables(tables_)) {
            if (RecordingCalls()) Log("DispatchSkipped: no exact math tables at b1");
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
        } else if (kernel_ == KernelIdentity::Fire || kernel_ == KernelIdentity::FireRedo) {
            QueueFire(constants, groupsX, groupsY);
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
    // FireKernel on the CPU, exact in one pass, so it marks no group for the second unless a test
    // chose some (MarkGroupsInFirstPass); the second pass renders again the group rows that are
    // marked, and clears their marks and the word after them.
    void QueueFire(const ViewTarget& constants, UINT groupsX, UINT groupsY) {
        const ViewTarget anchor = resource0_;
        const ViewTarget output = uavs_[0];
        const ViewTarget marks = uavs_[3];
        if (!HoldsAnchor(anchor)) {
            if (RecordingCalls()) Log("DispatchSkipped: no anchor buffer at t0");
            return;
        }
        if (!output.storage || !output.isTexture) {
            if (RecordingCalls()) Log("DispatchSkipped: no output texture at u0");
            return;
        }
        const bool redo = kernel_ == KernelIdentity::FireRedo;
        const uint64_t groups = uint64_t{groupsX} * groupsY;
        const bool holdsMarks =
            marks.storage && !marks.isTexture && marks.width >= (groups + 1) * sizeof(uint32_t);
        if (redo && !holdsMarks) {
            if (RecordingCalls()) Log("DispatchSkipped: no group marks at u3");
            return;
        }
        const bool reference = gReferenceKernels;
        // Writes to an unbound or short marks buffer are dropped, as a GPU drops them.
        const std::vector<uint32_t> chosen =
            holdsMarks ? FirstPassMarks() : std::vector<uint32_t>{};
        pending_.push_back([=] {
            const ParamsBlock params = ReadParams(constants.storage);
            AnchorRecord record{};
            std::memcpy(&record, anchor.storage->data(), sizeof(record));
            // The kernels drop writes beyond the bound texture, as a GPU does.
            const TexelImage image{output.storage->data(), size_t(output.width) * kTexelBytes,
                                   output.width, output.height};
            const auto run = [&](UINT begin, UINT end) {
                if (reference) {
                    RunFireKernelGroupRows(params, record, image, begin, end);
                } else {
                    RunFastFireKernelGroupRows(params, record, image, begin, end);
                }
            };
            auto* words = reinterpret_cast<uint32_t*>(holdsMarks ? marks.storage->data() : nullptr);
            if (!redo) {
                run(0, groupsY);
                MarkGroups(chosen, groupsX, groupsY, image, words);
                return;
            }
            for (UINT row = 0; row < groupsY; ++row) {
                uint32_t* rowMarks = words + uint64_t{row} * groupsX;
                if (std::any_of(rowMarks, rowMarks + groupsX, [](uint32_t m) { return m != 0; })) {
                    std::fill(rowMarks, rowMarks + groupsX, 0u);
                    run(row, row + 1);
                }
            }
            words[groups] = 0u;
        });
    }

    // A first pass that meets undecided sines marks their groups and the word after the marks,
    // and its texels there may differ from the exact ones: here they plainly do.
    static void MarkGroups(const std::vector<uint32_t>& chosen, UINT groupsX, UINT groupsY,
                           const TexelImage& image, uint32_t* words) {
        const uint64_t groups = uint64_t{groupsX} * groupsY;
        for (const uint32_t group : chosen) {
            if (group >= groups) continue;
            words[group] = 1u;
            words[groups] = 1u;
            const uint32_t left = group % groupsX * pyrix::kFireGroupWidth;
            const uint32_t top = group / groupsX * pyrix::kFireGroupHeight;
            for (uint32_t y = top; y < std::min(top + pyrix::kFireGroupHeight, image.height); ++y) {
                float* row = image.texels + y * (image.rowPitch / sizeof(float));
                for (uint32_t x = left; x < std::min(left + pyrix::kFireGroupWidth, image.width);
                     ++x) {
                    std::fill(row + 4 * x, row + 4 * x + 4, 0.25f);
                }
            }
        }
    }

    // ConvertKernel on the CPU: the texture at t0 into the word buffer at u0, within the
    // dispatched groups and the buffer, whose writes beyond it are dropped as a GPU drops them.
    void QueueConversion(UINT groupsX, UINT groupsY) {
        const ViewTarget constants = constants_;
        const ViewTarget image = resource0_;
        const ViewTarget words = uavs_[0];
        if (!constants.storage || constants.width < sizeof(ConversionBlock) || !image.storage ||
            !image.isTexture || !words.storage || words.isTexture) {
            if (RecordingCalls()) Log("DispatchSkipped: conversion resources not bound");
            return;
        }
        pending_.push_back([constants, image, words, groupsX, groupsY] {
            ConversionBlock block{};
            std::memcpy(&block, constants.storage->data(), sizeof(block));
            if (uint64_t(groupsX) * pyrix::kConvertGroupWidth < block.width) return;
            block.rows = std::min({block.rows, groupsY, image.height});
            const uint64_t pixelBytes =
                block.pixelWords == 1 || block.pixelWords == 2 ? 4u * block.pixelWords : 16u;
            if (pixelBytes * block.width * block.rows > words.width) return;  // never partly
            const TexelImage texels{image.storage->data(), size_t(image.width) * kTexelBytes,
                                    image.width, image.height};
            pyrix::RunConvertKernel(block, texels,
                                    reinterpret_cast<uint32_t*>(words.storage->data()));
        });
    }

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
    ViewTarget tables_;
    ViewTarget resource0_;
    std::array<ViewTarget, 4> uavs_;
};

}  // namespace

ID3D11DeviceContext* NewDeviceContext(std::shared_ptr<DeviceQueue> queue) {
    return new DeviceContext(std::move(queue));
}

}  // namespace d3d_standin
