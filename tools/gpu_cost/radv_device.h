// A Vulkan device that compiles compute pipelines and reports what the driver's compiler made of
// them (pipeline executable statistics). With RADV_FORCE_FAMILY set, Mesa's AMD driver offers a
// device without hardware, which compiles but cannot run anything.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/gpu_cost/spirv_interface.h"

struct ExecutableStatistic {
    std::string name;
    std::string value;  // as the driver gives it: an integer, a float or true/false
};

struct ExecutableReport {
    std::string name;
    uint32_t subgroupSize = 0;
    std::vector<ExecutableStatistic> statistics;
};

class StatisticsDevice {
  public:
    // Picks the first device whose driver is `driverName` ("radv", "llvmpipe"...) as Vulkan
    // names it in VkPhysicalDeviceDriverProperties; throws if there is none.
    explicit StatisticsDevice(const std::string& driverName);
    ~StatisticsDevice();
    StatisticsDevice(const StatisticsDevice&) = delete;
    StatisticsDevice& operator=(const StatisticsDevice&) = delete;

    std::string DeviceName() const { return deviceName_; }
    std::string DriverInfo() const { return driverInfo_; }

    // Compiles the module's compute entry point with a layout derived from its bindings.
    std::vector<ExecutableReport> Compile(const std::vector<uint32_t>& spirv);

  private:
    void PickDevice(const std::string& driverName);
    void CreateDevice();
    std::vector<ExecutableReport> Executables(VkPipeline pipeline);

    VkInstance instance_ = VK_NULL_HANDLE;
    VkPhysicalDevice physical_ = VK_NULL_HANDLE;
    VkDevice device_ = VK_NULL_HANDLE;
    std::string deviceName_;
    std::string driverInfo_;
    PFN_vkGetPipelineExecutablePropertiesKHR getExecutables_ = nullptr;
    PFN_vkGetPipelineExecutableStatisticsKHR getStatistics_ = nullptr;
};
