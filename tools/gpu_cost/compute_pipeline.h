// A compute pipeline of one SPIR-V module, its descriptor-set layouts derived from the module's
// own bindings (one layout per set number up to the highest it uses).
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/gpu_cost/spirv_interface.h"

class ComputePipeline {
  public:
    ComputePipeline(VkDevice device, const std::vector<uint32_t>& spirv,
                    VkPipelineCreateFlags flags);
    ~ComputePipeline();
    ComputePipeline(const ComputePipeline&) = delete;
    ComputePipeline& operator=(const ComputePipeline&) = delete;

    const SpirvInterface& Interface() const { return interface_; }
    const std::vector<VkDescriptorSetLayout>& SetLayouts() const { return setLayouts_; }
    VkPipelineLayout Layout() const { return layout_; }
    VkPipeline Handle() const { return pipeline_; }

  private:
    void CreateLayouts();
    void Destroy();

    VkDevice device_;
    SpirvInterface interface_;
    VkShaderModule module_ = VK_NULL_HANDLE;
    std::vector<VkDescriptorSetLayout> setLayouts_;
    VkPipelineLayout layout_ = VK_NULL_HANDLE;
    VkPipeline pipeline_ = VK_NULL_HANDLE;
};

struct ExecutableStatistic {
    std::string name;
    std::string value;  // as the driver gives it: an integer, a float or true/false
};

struct ExecutableReport {
    std::string name;
    uint32_t subgroupSize = 0;
    std::vector<ExecutableStatistic> statistics;
};

// What the driver's compiler reports about each executable of a pipeline created with
// VK_PIPELINE_CREATE_CAPTURE_STATISTICS_BIT_KHR (the device must enable the extension).
std::vector<ExecutableReport> PipelineStatistics(VkDevice device, VkPipeline pipeline);
