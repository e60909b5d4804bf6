#include "tools/gpu_cost/compute_pipeline.h"

#include <map>
#include <stdexcept>

#include "tools/gpu_cost/vulkan_device.h"

namespace {

std::string ValueText(const VkPipelineExecutableStatisticKHR& statistic) {
    switch (statistic.format) {
        case VK_PIPELINE_EXECUTABLE_STATISTIC_FORMAT_BOOL32_KHR:
            return statistic.value.b32 ? "true" : "false";
        case VK_PIPELINE_EXECUTABLE_STATISTIC_FORMAT_INT64_KHR:
            return std::to_string(statistic.value.i64);
        case VK_PIPELINE_EXECUTABLE_STATISTIC_FORMAT_UINT64_KHR:
            return std::to_string(statistic.value.u64);
        default:
            return std::to_string(statistic.value.f64);
    }
}

}  // namespace

ComputePipeline::ComputePipeline(VkDevice device, const std::vector<uint32_t>& spirv,
                                 VkPipelineCreateFlags flags)
    : device_(device), interface_(ReadSpirvInterface(spirv)) {
    try {
        auto moduleInfo =
            MakeVk<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
        moduleInfo.codeSize = spirv.size() * sizeof(uint32_t);
        moduleInfo.pCode = spirv.data();
        CheckVk(vkCreateShaderModule(device_, &moduleInfo, nullptr, &module_),
                "vkCreateShaderModule");
        CreateLayouts();
        auto info =
            MakeVk<VkComputePipelineCreateInfo>(VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO);
        info.flags = flags;
        info.stage = MakeVk<VkPipelineShaderStageCreateInfo>(
            VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
        info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
        info.stage.module = module_;
        info.stage.pName = interface_.entry.c_str();
        info.layout = layout_;
        CheckVk(vkCreateComputePipelines(device_, VK_NULL_HANDLE, 1, &info, nullptr, &pipeline_),
                "vkCreateComputePipelines");
    } catch (...) {
        Destroy();
        throw;
    }
}

ComputePipeline::~ComputePipeline() {
    Destroy();
}

void ComputePipeline::Destroy() {
    vkDestroyPipeline(device_, pipeline_, nullptr);
    vkDestroyPipelineLayout(device_, layout_, nullptr);
    for (VkDescriptorSetLayout set : setLayouts_)
        vkDestroyDescriptorSetLayout(device_, set, nullptr);
    vkDestroyShaderModule(device_, module_, nullptr);
}

void ComputePipeline::CreateLayouts() {
    std::map<uint32_t, std::map<uint32_t, VkDescriptorSetLayoutBinding>> sets;
    for (const SpirvBinding& b : interface_.bindings) {
        auto [at, fresh] = sets[b.set].emplace(
            b.binding, VkDescriptorSetLayoutBinding{b.binding, b.type, b.count,
                                                    VK_SHADER_STAGE_COMPUTE_BIT, nullptr});
        if (!fresh && at->second.descriptorType != b.type) {
            throw std::runtime_error("two kinds of resource share a binding");
        }
    }
    const uint32_t setCount = sets.empty() ? 0 : sets.rbegin()->first + 1;
    for (uint32_t set = 0; set < setCount; ++set) {
        std::vector<VkDescriptorSetLayoutBinding> bindings;
        for (const auto& entry : sets[set]) bindings.push_back(entry.second);
        auto info = MakeVk<VkDescriptorSetLayoutCreateInfo>(
            VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
        info.bindingCount = static_cast<uint32_t>(bindings.size());
        info.pBindings = bindings.data();
        setLayouts_.push_back(VK_NULL_HANDLE);
        CheckVk(vkCreateDescriptorSetLayout(device_, &info, nullptr, &setLayouts_.back()),
                "vkCreateDescriptorSetLayout");
    }
    auto info = MakeVk<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    info.setLayoutCount = setCount;
    info.pSetLayouts = setLayouts_.data();
    CheckVk(vkCreatePipelineLayout(device_, &info, nullptr, &layout_), "vkCreatePipelineLayout");
}

std::vector<ExecutableReport> PipelineStatistics(VkDevice device, VkPipeline pipeline) {
    const auto getExecutables = reinterpret_cast<PFN_vkGetPipelineExecutablePropertiesKHR>(
        vkGetDeviceProcAddr(device, "vkGetPipelineExecutablePropertiesKHR"));
    const auto getStatistics = reinterpret_cast<PFN_vkGetPipelineExecutableStatisticsKHR>(
        vkGetDeviceProcAddr(device, "vkGetPipelineExecutableStatisticsKHR"));
    if (!getExecutables || !getStatistics) {
        throw std::runtime_error("the device does not report pipeline executables");
    }
    auto pipelineInfo = MakeVk<VkPipelineInfoKHR>(VK_STRUCTURE_TYPE_PIPELINE_INFO_KHR);
    pipelineInfo.pipeline = pipeline;
    uint32_t count = 0;
    CheckVk(getExecutables(device, &pipelineInfo, &count, nullptr), "executable count");
    std::vector<VkPipelineExecutablePropertiesKHR> properties(
        count, MakeVk<VkPipelineExecutablePropertiesKHR>(
                   VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_PROPERTIES_KHR));
    CheckVk(getExecutables(device, &pipelineInfo, &count, properties.data()), "executables");
    std::vector<ExecutableReport> reports;
    for (uint32_t index = 0; index < count; ++index) {
        auto executable =
            MakeVk<VkPipelineExecutableInfoKHR>(VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_INFO_KHR);
        executable.pipeline = pipeline;
        executable.executableIndex = index;
        uint32_t statisticCount = 0;
        CheckVk(getStatistics(device, &executable, &statisticCount, nullptr), "statistic count");
        std::vector<VkPipelineExecutableStatisticKHR> statistics(
            statisticCount, MakeVk<VkPipelineExecutableStatisticKHR>(
                                VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_STATISTIC_KHR));
        CheckVk(getStatistics(device, &executable, &statisticCount, statistics.data()),
                "statistics");
        ExecutableReport report{properties[index].name, properties[index].subgroupSize, {}};
        for (const auto& statistic : statistics) {
            report.statistics.push_back({statistic.name, ValueText(statistic)});
        }
        reports.push_back(report);
    }
    return reports;
}
