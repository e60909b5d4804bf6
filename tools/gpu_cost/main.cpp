// gpu_cost_stats: compiles SPIR-V compute modules on a Vulkan device and prints the pipeline
// executable statistics its compiler reports, one tab-separated line per figure:
//
//   device  NAME                 the device (with RADV_FORCE_FAMILY, the forced chip)
//   driver  NAME VERSION
//   module  FILE  ENTRY  X Y Z   then the layout read from it, per resource:
//   binding  SET  BINDING  KIND  COUNT
//                                and per executable of its pipeline:
//   executable  NAME  SUBGROUP_SIZE
//   statistic   NAME  VALUE
//
// usage: gpu_cost_stats [--driver radv] FILE.spv...
// A module that fails to compile prints "error FILE MESSAGE" and makes the exit status 1; the
// others are still measured.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/gpu_cost/compute_pipeline.h"
#include "tools/gpu_cost/spirv_interface.h"
#include "tools/gpu_cost/vulkan_device.h"

namespace {

const char* KindName(VkDescriptorType type) {
    switch (type) {
        case VK_DESCRIPTOR_TYPE_UNIFORM_BUFFER:
            return "uniform_buffer";
        case VK_DESCRIPTOR_TYPE_STORAGE_BUFFER:
            return "storage_buffer";
        case VK_DESCRIPTOR_TYPE_UNIFORM_TEXEL_BUFFER:
            return "uniform_texel_buffer";
        case VK_DESCRIPTOR_TYPE_STORAGE_TEXEL_BUFFER:
            return "storage_texel_buffer";
        case VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE:
            return "sampled_image";
        case VK_DESCRIPTOR_TYPE_STORAGE_IMAGE:
            return "storage_image";
        case VK_DESCRIPTOR_TYPE_SAMPLER:
            return "sampler";
        case VK_DESCRIPTOR_TYPE_COMBINED_IMAGE_SAMPLER:
            return "combined_image_sampler";
        default:
            return "other";
    }
}

void Measure(const VulkanDevice& device, const char* path) {
    const ComputePipeline pipeline(device.Handle(), ReadSpirvFile(path),
                                   VK_PIPELINE_CREATE_CAPTURE_STATISTICS_BIT_KHR);
    const SpirvInterface& interface = pipeline.Interface();
    const std::vector<ExecutableReport> reports =
        PipelineStatistics(device.Handle(), pipeline.Handle());
    std::printf("module\t%s\t%s\t%u %u %u\n", path, interface.entry.c_str(), interface.localSize[0],
                interface.localSize[1], interface.localSize[2]);
    for (const SpirvBinding& b : interface.bindings) {
        std::printf("binding\t%u\t%u\t%s\t%u\n", b.set, b.binding, KindName(b.type), b.count);
    }
    for (const ExecutableReport& report : reports) {
        std::printf("executable\t%s\t%u\n", report.name.c_str(), report.subgroupSize);
        for (const ExecutableStatistic& statistic : report.statistics) {
            std::printf("statistic\t%s\t%s\n", statistic.name.c_str(), statistic.value.c_str());
        }
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string driver = "radv";
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--driver") == 0) {
        driver = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: gpu_cost_stats [--driver NAME] FILE.spv...\n");
        return 2;
    }
    int status = 0;
    try {
        VulkanDevice device(driver);
        if (!device.ReportsExecutables()) {
            throw std::runtime_error(device.DeviceName() + " reports no pipeline executables");
        }
        std::printf("device\t%s\ndriver\t%s\n", device.DeviceName().c_str(),
                    device.DriverInfo().c_str());
        for (int i = first; i < argc; ++i) {
            try {
                Measure(device, argv[i]);
            } catch (const std::exception& e) {
                std::printf("error\t%s\t%s\n", argv[i], e.what());
                status = 1;
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "gpu_cost_stats: %s\n", e.what());
        return 1;
    }
    return status;
}
