// A Vulkan device picked by its driver's name, with every feature it has turned on, so that any
// capability a kernel's module declares is available. With RADV_FORCE_FAMILY set, Mesa's AMD
// driver ("radv") offers a device without hardware, which compiles but cannot run anything;
// Mesa's software driver ("llvmpipe") runs kernels on the processor.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A Vulkan structure with its type set and every other member zero.
template <typename T>
T MakeVk(VkStructureType type) {
    T value{};
    value.sType = type;
    return value;
}

// Throws std::runtime_error naming `what` unless the call succeeded.
void CheckVk(VkResult result, const char* what);

class VulkanDevice {
  public:
    // The first device whose driver is `driverName` as VkPhysicalDeviceDriverProperties names
    // it; throws if there is none.
    explicit VulkanDevice(const std::string& driverName);
    ~VulkanDevice();
    VulkanDevice(const VulkanDevice&) = delete;
    VulkanDevice& operator=(const VulkanDevice&) = delete;

    VkDevice Handle() const { return device_; }
    VkPhysicalDevice Physical() const { return physical_; }
    VkQueue Queue() const { return queue_; }
    uint32_t QueueFamily() const { return queueFamily_; }
    bool ReportsExecutables() const { return reportsExecutables_; }
    std::string DeviceName() const { return deviceName_; }
    std::string DriverInfo() const { return driverInfo_; }

  private:
    void PickDevice(const std::string& driverName);
    void CreateDevice();

    VkInstance instance_ = VK_NULL_HANDLE;
    VkPhysicalDevice physical_ = VK_NULL_HANDLE;
    VkDevice device_ = VK_NULL_HANDLE;
    VkQueue queue_ = VK_NULL_HANDLE;
    uint32_t queueFamily_ = 0;
    bool reportsExecutables_ = false;
    std::string deviceName_;
    std::string driverInfo_;
};
