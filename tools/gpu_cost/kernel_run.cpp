// gpu_cost_run: runs AnchorKernel, FireKernel and then FireKernelRedo, compiled to SPIR-V, on
// Mesa's software Vulkan driver (lavapipe), with the constants a render of the frame builds
// (MakeParamsBlock), as the renderer chains them: the anchor's record is the fire's input, and
// the redo pass renders again, over the same groups, the groups the fire kernel marked.
//
//   gpu_cost_run --frame reference|detail_5 [--size 1920x1080] --anchor A.spv --fire F.spv
//                [--redo R.spv] [--counters-set N] [--uniform SET.BINDING=FILE]... --out DIR
//
// Each kernel's bindings are read from its module: the constant buffer at set 0, binding 0 gets
// the frame's ParamsBlock, any other constant buffer the bytes of its --uniform file (see
// ConstantBuffers); the storage buffer of the group marks (kMarks) one zeroed uint32 per group
// and one for whether any is marked;
// other storage buffers share the anchor record; the storage image is the frame. With
// --counters-set, every binding of set N is a buffer of 2^16 zeroed uint32 counters that an
// instrumented module adds to. Writes DIR/anchor.bin (the record), DIR/image.bin (RGBA floats,
// row by row), DIR/anchor_counts.bin, DIR/fire_counts.bin and DIR/redo_counts.bin; prints how
// many texels differ from the CPU build's, how many groups the fire kernel marked and how many
// marks are left after the redo pass.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kernels/cpu_kernels.h"
#include "kernels/exact_math.h"
#include "kernels/exact_math_tables.h"
#include "kernels/fast_fire_kernel.h"
#include "kernels/fire_field.h"
#include "renderers/frame_params.h"
#include "tools/gpu_cost/compute_pipeline.h"
#include "tools/gpu_cost/run_resources.h"
#include "tools/gpu_cost/vulkan_device.h"

using namespace pyrix;

namespace {

constexpr VkDeviceSize kCounters = 1 << 16;
using Binding = std::pair<uint32_t, uint32_t>;  // set, binding
// redoGroups, register u3: glslang puts register uN at binding 32 + N of set 0 (gpu_cost.py's
// --shift-UAV-binding).
constexpr Binding kMarks{0, 32 + 3};

struct Options {
    std::string frame;
    uint32_t width = 1920;
    uint32_t height = 1080;
    std::string anchor, fire, redo, out;
    int countersSet = -1;
    std::map<std::pair<uint32_t, uint32_t>, std::string> uniforms;  // set, binding -> file
};

// The frames of the kernel benchmark: the effect's defaults, and the same at the highest detail.
ParamsBlock FrameParams(const Options& options) {
    EffectSettings settings;
    if (options.frame == "detail_5") {
        settings.detail = 5.0f;
    } else if (options.frame != "reference") {
        throw std::runtime_error("unknown frame " + options.frame);
    }
    const auto width = static_cast<int32_t>(options.width);
    const auto height = static_cast<int32_t>(options.height);
    settings.layerWidth = width;
    settings.layerHeight = height;
    RenderRequest request{nullptr, width, height, int64_t{16} * width, 0, 0, 0};
    return MakeParamsBlock(request, settings, FrameExtent{width, height});
}

std::vector<char> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path);
    return std::vector<char>((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const void* data, size_t size) {
    std::ofstream file(path, std::ios::binary);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) throw std::runtime_error("cannot write " + path);
}

template <typename T>
std::vector<char> Bytes(const T& value) {
    const char* first = reinterpret_cast<const char*>(&value);
    return std::vector<char>(first, first + sizeof(value));
}

// The contents of the kernels' constant buffers by their place in the SPIR-V (glslang puts
// register bN at binding N of set 0): the frame's constants at b0, the exact math's tables at b1
// as the renderer uploads them, then the --uniform files. A
// constant buffer that the renderer fills from code of its own belongs here, filled the same way.
std::map<Binding, std::vector<char>> ConstantBuffers(const Options& options,
                                                     const ParamsBlock& params) {
    std::map<Binding, std::vector<char>> buffers{{{0, 0}, Bytes(params)},
                                                 {{0, 1}, Bytes(MakeTablesBlock())}};
    for (const auto& [where, path] : options.uniforms) buffers[where] = ReadBytes(path);
    return buffers;
}

// The buffers and the image the kernels bind, the marks as the fire kernel left them, and each
// kernel's counters.
struct Resources {
    Resources(const VulkanDevice& device, const Options& options, const ParamsBlock& params,
              VkDeviceSize groups)
        : anchor(device, 256, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
          marks(device, (groups + 1) * 4,
                VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT),
          firstPassMarks(device, (groups + 1) * 4, VK_BUFFER_USAGE_TRANSFER_DST_BIT),
          anchorCounters(device, kCounters * 4, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
          fireCounters(device, kCounters * 4, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
          redoCounters(device, kCounters * 4, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
          image(device, options.width, options.height) {
        for (const auto& [where, bytes] : ConstantBuffers(options, params)) {
            uniforms[where] = std::make_unique<HostBuffer>(device, bytes.size(),
                                                           VK_BUFFER_USAGE_UNIFORM_BUFFER_BIT);
            std::memcpy(uniforms[where]->Data(), bytes.data(), bytes.size());
        }
    }
    HostBuffer anchor, marks, firstPassMarks, anchorCounters, fireCounters, redoCounters;
    std::map<Binding, std::unique_ptr<HostBuffer>> uniforms;
    StorageImage image;
};

// What a binding of a kernel's module receives.
DescriptorSource SourceFor(const SpirvBinding& binding, int countersSet, Resources& resources,
                           HostBuffer& counters) {
    if (static_cast<int>(binding.set) == countersSet) return DescriptorSource{&counters, nullptr};
    if (binding.type == VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER) {
        const auto found = resources.uniforms.find({binding.set, binding.binding});
        if (found == resources.uniforms.end()) {
            throw std::runtime_error("no contents for the constant buffer at set " +
                                     std::to_string(binding.set) + ", binding " +
                                     std::to_string(binding.binding));
        }
        return DescriptorSource{found->second.get(), nullptr};
    }
    if (binding.type == VK_DESCRIPTOR_TYPE_STORAGE_BUFFER) {
        const bool marks = Binding{binding.set, binding.binding} == kMarks;
        return DescriptorSource{marks ? &resources.marks : &resources.anchor, nullptr};
    }
    if (binding.type == VK_DESCRIPTOR_TYPE_STORAGE_IMAGE) {
        return DescriptorSource{nullptr, &resources.image};
    }
    throw std::runtime_error("a binding of a kind the run does not provide");
}

size_t CompareWithCpu(const ParamsBlock& params, const AnchorRecord& anchor,
                      const float* anchorRecord, const float* texels) {
    size_t differing = std::memcmp(&anchor, anchorRecord, sizeof(anchor)) != 0 ? 1 : 0;
    std::printf("anchor\t%.9g\tcpu\t%.9g\n", static_cast<double>(anchorRecord[0]),
                static_cast<double>(anchor.baseOffset));
    std::vector<float> cpu(size_t{params.width} * params.height * 4);
    RunFastFireKernel(
        params, anchor,
        TexelImage{cpu.data(), size_t{params.width} * 16, params.width, params.height});
    for (size_t texel = 0; texel < cpu.size() / 4; ++texel) {
        differing += std::memcmp(&cpu[texel * 4], &texels[texel * 4], 16) != 0 ? 1 : 0;
    }
    return differing;
}

// The pixels that evaluate the noise: the others are surely dark (or outside the flame's
// emitter), and the kernels skip their noise.
size_t NoisePixels(const ParamsBlock& params, float baseOffset) {
    const FlushDenormals flush;
    const FireFieldParams field = MakeFireFieldParams(params);
    size_t count = 0;
    for (uint32_t y = 0; y < params.height; ++y) {
        for (uint32_t x = 0; x < params.width; ++x) {
            const Float2 q =
                domainPoint(params, baseOffset, static_cast<float>(x), static_cast<float>(y));
            count += surelyDark(field, shapeCoordinates(field, q.x, q.y)) ? 0 : 1;
        }
    }
    return count;
}

KernelBinding Bind(const ComputePipeline& kernel, const uint32_t (&groups)[3],
                   const Options& options, Resources& resources, HostBuffer& counters) {
    KernelBinding bound{&kernel, {}, {groups[0], groups[1], groups[2]}, {}};
    for (const SpirvBinding& b : kernel.Interface().bindings) {
        bound.sources.push_back(SourceFor(b, options.countersSet, resources, counters));
    }
    return bound;
}

// The words set among the first `count` of the marks (a word per group, then whether any group
// is marked).
size_t NonZero(const HostBuffer& buffer, size_t count) {
    const auto* words = static_cast<const uint32_t*>(buffer.Data());
    return static_cast<size_t>(
        std::count_if(words, words + count, [](uint32_t word) { return word != 0; }));
}

void Report(const Options& options, const VulkanDevice& device, const Resources& resources,
            const ParamsBlock& params) {
    const auto* texels = static_cast<const float*>(resources.image.Readback().Data());
    const auto* record = static_cast<const float*>(resources.anchor.Data());
    WriteBytes(options.out + "/anchor.bin", record, 16);
    WriteBytes(options.out + "/image.bin", texels, size_t{options.width} * options.height * 16);
    WriteBytes(options.out + "/anchor_counts.bin", resources.anchorCounters.Data(), kCounters * 4);
    WriteBytes(options.out + "/fire_counts.bin", resources.fireCounters.Data(), kCounters * 4);
    WriteBytes(options.out + "/redo_counts.bin", resources.redoCounters.Data(), kCounters * 4);
    std::printf("device\t%s\t%s\n", device.DeviceName().c_str(), device.DriverInfo().c_str());
    const AnchorRecord cpuAnchor = RunAnchorKernel(params);
    std::printf("cpu_differing_texels\t%zu\n", CompareWithCpu(params, cpuAnchor, record, texels));
    std::printf("noise_pixels\t%zu\n", NoisePixels(params, cpuAnchor.baseOffset));
    const size_t groups = static_cast<size_t>(resources.marks.Size() / 4) - 1;
    std::printf("groups\t%zu\n", groups);
    std::printf("marked_groups\t%zu\n", NonZero(resources.firstPassMarks, groups));
    const auto* firstPass = static_cast<const uint32_t*>(resources.firstPassMarks.Data());
    std::printf("any_marked\t%d\n", firstPass[groups] != 0 ? 1 : 0);
    std::printf("marks_left\t%zu\n", NonZero(resources.marks, groups + 1));
}

void Run(const Options& options) {
    const ParamsBlock params = FrameParams(options);
    VulkanDevice device("llvmpipe");
    const ComputePipeline anchor(device.Handle(), ReadSpirvFile(options.anchor), 0);
    const ComputePipeline fire(device.Handle(), ReadSpirvFile(options.fire), 0);
    std::unique_ptr<ComputePipeline> redo;
    if (!options.redo.empty()) {
        redo = std::make_unique<ComputePipeline>(device.Handle(), ReadSpirvFile(options.redo), 0);
        if (!std::equal(fire.Interface().localSize, fire.Interface().localSize + 3,
                        redo->Interface().localSize)) {
            throw std::runtime_error("the redo kernel's groups are not the fire kernel's");
        }
    }
    const uint32_t* local = fire.Interface().localSize;
    const uint32_t groups[3] = {(options.width + local[0] - 1) / local[0],
                                (options.height + local[1] - 1) / local[1], 1};
    Resources resources(device, options, params, VkDeviceSize{groups[0]} * groups[1]);
    std::vector<KernelBinding> kernels{
        Bind(anchor, {1, 1, 1}, options, resources, resources.anchorCounters),
        Bind(fire, groups, options, resources, resources.fireCounters)};
    kernels.back().copiesAfter.push_back({&resources.marks, &resources.firstPassMarks});
    if (redo) kernels.push_back(Bind(*redo, groups, options, resources, resources.redoCounters));
    RunKernels(device, kernels, resources.image);
    Report(options, device, resources, params);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--frame") {
            options.frame = value;
        } else if (flag == "--size") {
            if (std::sscanf(value.c_str(), "%ux%u", &options.width, &options.height) != 2 ||
                options.width == 0 || options.height == 0 || options.width > 16384 ||
                options.height > 16384) {
                throw std::runtime_error("--size WIDTHxHEIGHT, each 1 to 16384");
            }
        } else if (flag == "--anchor" || flag == "--fire" || flag == "--redo" || flag == "--out") {
            (flag == "--anchor" ? options.anchor
             : flag == "--fire" ? options.fire
             : flag == "--redo" ? options.redo
                                : options.out) = value;
        } else if (flag == "--counters-set") {
            options.countersSet = std::stoi(value);
        } else if (flag == "--uniform") {
            uint32_t set = 0, binding = 0;
            int used = 0;
            if (std::sscanf(value.c_str(), "%u.%u=%n", &set, &binding, &used) != 2 || !used) {
                throw std::runtime_error("--uniform SET.BINDING=FILE");
            }
            options.uniforms[{set, binding}] = value.substr(static_cast<size_t>(used));
        } else {
            throw std::runtime_error("unknown option " + flag);
        }
    }
    if (options.frame.empty() || options.anchor.empty() || options.fire.empty() ||
        options.out.empty() || argc % 2 == 0) {
        throw std::runtime_error(
            "usage: gpu_cost_run --frame NAME --anchor A.spv --fire F.spv [--redo R.spv]"
            " --out DIR [--size WxH] [--counters-set N]"
            " [--uniform SET.BINDING=FILE]");
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Run(ParseOptions(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gpu_cost_run: %s\n", e.what());
        return 1;
    }
    return 0;
}
