#include "tools/gpu_cost/radv_device.h"

#include <map>
#include <stdexcept>

namespace {

// A Vulkan structure with its type set and every other member zero.
template <typename T>
T Make(VkStructureType type) {
    T value{};
    value.sType = type;
    return value;
}

void Check(VkResult result, const char* what) {
    if (result != VK_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed: VkResult " +
                                 std::to_string(static_cast<int>(result)));
    }
}

VkInstance CreateInstance() {
    auto app = Make<VkApplicationInfo>(VK_STRUCTURE_TYPE_APPLICATION_INFO);
    app.pApplicationName = "gpu_cost";
    app.apiVersion = VK_API_VERSION_1_2;
    auto info = Make<VkInstanceCreateInfo>(VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO);
    info.pApplicationInfo = &app;
    VkInstance instance = VK_NULL_HANDLE;
    Check(vkCreateInstance(&info, nullptr, &instance), "vkCreateInstance");
    return instance;
}

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

// Owns the objects of one pipeline, so that a failed step leaves nothing behind.
struct PipelineObjects {
    VkDevice device = VK_NULL_HANDLE;
    VkShaderModule module = VK_NULL_HANDLE;
    std::vector<VkDescriptorSetLayout> setLayouts;
    VkPipelineLayout layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;
    ~PipelineObjects() {
        vkDestroyPipeline(device, pipeline, nullptr);
        vkDestroyPipelineLayout(device, layout, nullptr);
        for (VkDescriptorSetLayout set : setLayouts)
            vkDestroyDescriptorSetLayout(device, set, nullptr);
        vkDestroyShaderModule(device, module, nullptr);
    }
};

// One set layout per set number up to the highest the module uses (gaps stay empty).
void CreateLayouts(PipelineObjects& objects, const SpirvInterface& interface) {
    std::map<uint32_t, std::map<uint32_t, VkDescriptorSetLayoutBinding>> sets;
    for (const SpirvBinding& b : interface.bindings) {
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
        auto info = Make<VkDescriptorSetLayoutCreateInfo>(
            VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO);
        info.bindingCount = static_cast<uint32_t>(bindings.size());
        info.pBindings = bindings.data();
        objects.setLayouts.push_back(VK_NULL_HANDLE);
        Check(
            vkCreateDescriptorSetLayout(objects.device, &info, nullptr, &objects.setLayouts.back()),
            "vkCreateDescriptorSetLayout");
    }
    auto info = Make<VkPipelineLayoutCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO);
    info.setLayoutCount = setCount;
    info.pSetLayouts = objects.setLayouts.data();
    Check(vkCreatePipelineLayout(objects.device, &info, nullptr, &objects.layout),
          "vkCreatePipelineLayout");
}

}  // namespace

StatisticsDevice::StatisticsDevice(const std::string& driverName) {
    instance_ = CreateInstance();
    try {
        PickDevice(driverName);
        CreateDevice();
    } catch (...) {
        vkDestroyInstance(instance_, nullptr);
        throw;
    }
    getExecutables_ = reinterpret_cast<PFN_vkGetPipelineExecutablePropertiesKHR>(
        vkGetDeviceProcAddr(device_, "vkGetPipelineExecutablePropertiesKHR"));
    getStatistics_ = reinterpret_cast<PFN_vkGetPipelineExecutableStatisticsKHR>(
        vkGetDeviceProcAddr(device_, "vkGetPipelineExecutableStatisticsKHR"));
}

void StatisticsDevice::PickDevice(const std::string& driverName) {
    uint32_t count = 0;
    vkEnumeratePhysicalDevices(instance_, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    vkEnumeratePhysicalDevices(instance_, &count, devices.data());
    for (VkPhysicalDevice candidate : devices) {
        auto driver = Make<VkPhysicalDeviceDriverProperties>(
            VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_DRIVER_PROPERTIES);
        auto properties =
            Make<VkPhysicalDeviceProperties2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2);
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
}

void StatisticsDevice::CreateDevice() {
    // Every feature the device has, so that any capability a kernel's module declares is on.
    auto executables = Make<VkPhysicalDevicePipelineExecutablePropertiesFeaturesKHR>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PIPELINE_EXECUTABLE_PROPERTIES_FEATURES_KHR);
    auto features12 = Make<VkPhysicalDeviceVulkan12Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES);
    features12.pNext = &executables;
    auto features11 = Make<VkPhysicalDeviceVulkan11Features>(
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_1_FEATURES);
    features11.pNext = &features12;
    auto features = Make<VkPhysicalDeviceFeatures2>(VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2);
    features.pNext = &features11;
    vkGetPhysicalDeviceFeatures2(physical_, &features);
    const float priority = 1.0f;
    auto queue = Make<VkDeviceQueueCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO);
    queue.queueCount = 1;
    queue.pQueuePriorities = &priority;
    const char* extensions[] = {VK_KHR_PIPELINE_EXECUTABLE_PROPERTIES_EXTENSION_NAME};
    auto info = Make<VkDeviceCreateInfo>(VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO);
    info.pNext = &features;
    info.queueCreateInfoCount = 1;
    info.pQueueCreateInfos = &queue;
    info.enabledExtensionCount = executables.pipelineExecutableInfo ? 1 : 0;
    info.ppEnabledExtensionNames = extensions;
    Check(vkCreateDevice(physical_, &info, nullptr, &device_), "vkCreateDevice");
}

StatisticsDevice::~StatisticsDevice() {
    vkDestroyDevice(device_, nullptr);
    vkDestroyInstance(instance_, nullptr);
}

std::vector<ExecutableReport> StatisticsDevice::Compile(const std::vector<uint32_t>& spirv) {
    if (!getExecutables_ || !getStatistics_) {
        throw std::runtime_error(deviceName_ + " does not report pipeline executables");
    }
    const SpirvInterface interface = ReadSpirvInterface(spirv);
    PipelineObjects objects;
    objects.device = device_;
    auto moduleInfo = Make<VkShaderModuleCreateInfo>(VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO);
    moduleInfo.codeSize = spirv.size() * sizeof(uint32_t);
    moduleInfo.pCode = spirv.data();
    Check(vkCreateShaderModule(device_, &moduleInfo, nullptr, &objects.module),
          "vkCreateShaderModule");
    CreateLayouts(objects, interface);
    auto info = Make<VkComputePipelineCreateInfo>(VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO);
    info.flags = VK_PIPELINE_CREATE_CAPTURE_STATISTICS_BIT_KHR;
    info.stage =
        Make<VkPipelineShaderStageCreateInfo>(VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO);
    info.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    info.stage.module = objects.module;
    info.stage.pName = interface.entry.c_str();
    info.layout = objects.layout;
    Check(vkCreateComputePipelines(device_, VK_NULL_HANDLE, 1, &info, nullptr, &objects.pipeline),
          "vkCreateComputePipelines");
    return Executables(objects.pipeline);
}

std::vector<ExecutableReport> StatisticsDevice::Executables(VkPipeline pipeline) {
    auto pipelineInfo = Make<VkPipelineInfoKHR>(VK_STRUCTURE_TYPE_PIPELINE_INFO_KHR);
    pipelineInfo.pipeline = pipeline;
    uint32_t count = 0;
    Check(getExecutables_(device_, &pipelineInfo, &count, nullptr), "executable count");
    std::vector<VkPipelineExecutablePropertiesKHR> properties(
        count, Make<VkPipelineExecutablePropertiesKHR>(
                   VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_PROPERTIES_KHR));
    Check(getExecutables_(device_, &pipelineInfo, &count, properties.data()), "executables");
    std::vector<ExecutableReport> reports;
    for (uint32_t index = 0; index < count; ++index) {
        auto executable =
            Make<VkPipelineExecutableInfoKHR>(VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_INFO_KHR);
        executable.pipeline = pipeline;
        executable.executableIndex = index;
        uint32_t statisticCount = 0;
        Check(getStatistics_(device_, &executable, &statisticCount, nullptr), "statistic count");
        std::vector<VkPipelineExecutableStatisticKHR> statistics(
            statisticCount, Make<VkPipelineExecutableStatisticKHR>(
                                VK_STRUCTURE_TYPE_PIPELINE_EXECUTABLE_STATISTIC_KHR));
        Check(getStatistics_(device_, &executable, &statisticCount, statistics.data()),
              "statistics");
        ExecutableReport report{properties[index].name, properties[index].subgroupSize, {}};
        for (const auto& statistic : statistics) {
            report.statistics.push_back({statistic.name, ValueText(statistic)});
        }
        reports.push_back(report);
    }
    return reports;
}
