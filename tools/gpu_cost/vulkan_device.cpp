#include "tools/gpu_cost/vulkan_device.h"

namespace {

VkInstance CreateInstance() {
    auto app = MakeVk<VkApplicationInfo>(VK_STRUCTURE_TYPE_APPLICATION_INFO);
    app.pApplicationName = "gpu_cost";
    app.apiVersion = VK_API_VERSION_1_2;
    auto info = MakeVk<VkInstanceCreateInfo>(VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO);
    info.pApplicationInfo = &app;
    VkInstance instance = VK_NULL_HANDLE;
    CheckVk(vkCreateInstance(&info, nullptr, &instance), "vkCreateInstance");
    return instance;
}

}  // namespace

void CheckVk(VkResult result, const char* what) {
    if (result != VK_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed: VkResult " +
                                 std::to_string(static_cast<int>(result)));
    }
}

VulkanDevice::VulkanDevice(const std::string& driverName) {
    instance_ = CreateInstance();
    try {
        PickDevice(driverName);
        CreateDevice();
    } catch (...) {
        vkDestroyInstance(instance_, nullptr);
        throw;
    }
}

VulkanDevice::~VulkanDevice() {
    vkDestroyDevice(device_, nullptr);
    vkDestroyInstance(instance_, nullptr);
}

void VulkanDevice::PickDevice(const std::string& driverName) {
    uint32_t count = 0;
    vkEnumeratePhysicalDevices(instance_, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    vkEnumeratePhysicalDevices(instance_, &count, devices.data());
    for (VkPhysicalDevice candidate : devices) {
        auto driver = MakeVk<VkPhysicalDeviceDriverProperties>(
            VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES);
        auto properties =
            MakeVk<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2);
        properties.pNext = &driver;
        vkGetPhysicalDeviceProperties2(candidate, &properties);
        if (driverName == driver.driverName && physical_ == VK_NULL_HANDLE) {
            physical_ = candidate;
            deviceName_ = properties.properties.deviceName;
            driverInfo_ = std::string(driver.driverName) + " " + driver.driverInfo;
        }
    }
    if (physical_ == VK_NULL_HANDLE) {
        throw std::runtime_error("no Vulkan device with the driver " + driverName);
    }
    uint32_t families = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(physical_, &families, nullptr);
    std::vector<VkQueueFamilyProperties> properties(families);
    vkGetPhysicalDeviceQueueFamilyProperties(physical_, &families, properties.data());
    for (queueFamily_ = 0; queueFamily_ < families; ++queueFamily_) {
        if (properties[queueFamily_].queueFlags & VK_QUEUE_COMPUTE_BIT) return;
    }
    throw std::runtime_error(deviceName_ + " has no compute queue");
}

void VulkanDevice::CreateDevice() {
    auto executables = MakeVk<VkPhysicalDevicePipelineExecutablePropertiesFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PIPELINE_EXECUTABLE_PROPERTIES_FEATURES_KHR);
    auto features12 = MakeVk<VkPhysicalDeviceVulkan12Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    features12.pNext = &executables;
    auto features11 = MakeVk<VkPhysicalDeviceVulkan11Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES);
    features11.pNext = &features12;
    auto features = MakeVk<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    features.pNext = &features11;
    vkGetPhysicalDeviceFeatures2(physical_, &features);
    reportsExecutables_ = executables.pipelineExecutableInfo == VK_TRUE;
    const float priority = 1.0f;
    auto queue = MakeVk<VkDeviceQueueCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO);
    queue.queueFamilyIndex = queueFamily_;
    queue.queueCount = 1;
    queue.pQueuePriorities = &priority;
    const char* extensions[] = {VK_KHR_PIPELINE_EXECUTABLE_PROPERTIES_EXTENSION_NAME};
    auto info = MakeVk<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO);
    info.pNext = &features;
    info.queueCreateInfoCount = 1;
    info.pQueueCreateInfos = &queue;
    info.enabledExtensionCount = reportsExecutables_ ? 1 : 0;
    info.ppEnabledExtensionNames = extensions;
    CheckVk(vkCreateDevice(physical_, &info, nullptr, &device_), "vkCreateDevice");
    vkGetDeviceQueue(device_, queueFamily_, 0, &queue_);
}
