#include "tools/gpu_cost/run_resources.h"

#include <cstring>
#include <map>
#include <stdexcept>

namespace {

VkDeviceMemory Allocate(const VulkanDevice& device, const VkMemoryRequirements& requirements,
                        VkMemoryPropertyFlags wanted) {
    VkPhysicalDeviceMemoryProperties memory;
    vkGetPhysicalDeviceMemoryProperties(device.Physical(), &memory);
    for (uint32_t type = 0; type < memory.memoryTypeCount; ++type) {
        if ((requirements.memoryTypeBits & (1u << type)) &&
            (memory.memoryTypes[type].propertyFlags & wanted) == wanted) {
            auto info = MakeVk<VkMemoryAllocateInfo>(VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO);
            info.allocationSize = requirements.size;
            info.memoryTypeIndex = type;
            VkDeviceMemory allocated = VK_NULL_HANDLE;
            CheckVk(vkAllocateMemory(device.Handle(), &info, nullptr, &allocated),
                    "vkAllocateMemory");
            return allocated;
        }
    }
    throw std::runtime_error("no memory type for a resource");
}

// The pool, command buffer and fence of one submission, released however it ends.
struct Submission {
    VkDevice device;
    VkDescriptorPool descriptors = VK_NULL_HANDLE;
    VkCommandPool commands = VK_NULL_HANDLE;
    VkCommandBuffer buffer = VK_NULL_HANDLE;
    VkFence fence = VK_NULL_HANDLE;
    explicit Submission(VkDevice owner) : device(owner) {}
    ~Submission() {
        vkDestroyFence(device, fence, nullptr);
        vkDestroyCommandPool(device, commands, nullptr);
        vkDestroyDescriptorPool(device, descriptors, nullptr);
    }
};

void CreatePools(Submission& submission, const VulkanDevice& device,
                 const std::vector<KernelBinding>& kernels) {
    std::map<VkDescriptorType, uint32_t> counts;
    uint32_t sets = 0;
    for (const KernelBinding& kernel : kernels) {
        sets += static_cast<uint32_t>(kernel.pipeline->SetLayouts().size());
        for (const SpirvBinding& b : kernel.pipeline->Interface().bindings)
            counts[b.type] += b.count;
    }
    std::vector<VkDescriptorPoolSize> sizes;
    for (const auto& [type, count] : counts) sizes.push_back({type, count});
    auto pool = MakeVk<VkDescriptorPoolCreateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO);
    pool.maxSets = sets;
    pool.poolSizeCount = static_cast<uint32_t>(sizes.size());
    pool.pPoolSizes = sizes.data();
    CheckVk(vkCreateDescriptorPool(device.Handle(), &pool, nullptr, &submission.descriptors),
            "vkCreateDescriptorPool");
    auto commands = MakeVk<VkCommandPoolCreateInfo>(VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO);
    commands.queueFamilyIndex = device.QueueFamily();
    CheckVk(vkCreateCommandPool(device.Handle(), &commands, nullptr, &submission.commands),
            "vkCreateCommandPool");
    auto buffer =
        MakeVk<VkCommandBufferAllocateInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO);
    buffer.commandPool = submission.commands;
    buffer.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    buffer.commandBufferCount = 1;
    CheckVk(vkAllocateCommandBuffers(device.Handle(), &buffer, &submission.buffer),
            "vkAllocateCommandBuffers");
    auto fence = MakeVk<VkFenceCreateInfo>(VK_STRUCTURE_TYPE_FENCE_CREATE_INFO);
    CheckVk(vkCreateFence(device.Handle(), &fence, nullptr, &submission.fence), "vkCreateFence");
}

std::vector<VkDescriptorSet> WriteSets(VkDevice device, VkDescriptorPool pool,
                                       const KernelBinding& kernel) {
    const auto& layouts = kernel.pipeline->SetLayouts();
    std::vector<VkDescriptorSet> sets(layouts.size());
    auto info = MakeVk<VkDescriptorSetAllocateInfo>(VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO);
    info.descriptorPool = pool;
    info.descriptorSetCount = static_cast<uint32_t>(layouts.size());
    info.pSetLayouts = layouts.data();
    if (!sets.empty()) {
        CheckVk(vkAllocateDescriptorSets(device, &info, sets.data()), "vkAllocateDescriptorSets");
    }
    const auto& bindings = kernel.pipeline->Interface().bindings;
    for (size_t i = 0; i < bindings.size(); ++i) {
        const DescriptorSource& source = kernel.sources.at(i);
        VkDescriptorBufferInfo buffer{};
        VkDescriptorImageInfo image{};
        auto write = MakeVk<VkWriteDescriptorSet>(VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET);
        write.dstSet = sets[bindings[i].set];
        write.dstBinding = bindings[i].binding;
        write.descriptorCount = 1;
        write.descriptorType = bindings[i].type;
        if (source.buffer) {
            buffer = {source.buffer->Handle(), 0, VK_WHOLE_SIZE};
            write.pBufferInfo = &buffer;
        } else {
            image = {VK_NULL_HANDLE, source.image->View(), VK_IMAGE_LAYOUT_GENERAL};
            write.pImageInfo = &image;
        }
        vkUpdateDescriptorSets(device, 1, &write, 0, nullptr);
    }
    return sets;
}

void Barrier(VkCommandBuffer buffer, VkPipelineStageFlags from, VkAccessFlags written,
             VkPipelineStageFlags to, VkAccessFlags read) {
    auto barrier = MakeVk<VkMemoryBarrier>(VK_STRUCTURE_TYPE_MEMORY_BARRIER);
    barrier.srcAccessMask = written;
    barrier.dstAccessMask = read;
    vkCmdPipelineBarrier(buffer, from, to, 0, 1, &barrier, 0, nullptr, 0, nullptr);
}

void ToGeneralLayout(VkCommandBuffer buffer, const StorageImage& image) {
    auto barrier = MakeVk<VkImageMemoryBarrier>(VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER);
    barrier.dstAccessMask = VK_ACCESS_SHADER_WRITE_BIT;
    barrier.oldLayout = VK_IMAGE_LAYOUT_UNDEFINED;
    barrier.newLayout = VK_IMAGE_LAYOUT_GENERAL;
    barrier.srcQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = image.Handle();
    barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdPipelineBarrier(buffer, VK_PIPELINE_STAGE_TOP_OF_PIPE_BIT,
                         VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, 0, 0, nullptr, 0, nullptr, 1,
                         &barrier);
}

// The copies after a kernel see its writes (the barrier after each dispatch), and the next
// kernel writes the copied buffers only after the copies read them.
void CopyBuffers(VkCommandBuffer commands, const std::vector<BufferCopy>& copies) {
    for (const BufferCopy& copy : copies) {
        if (copy.to->Size() < copy.from->Size()) throw std::runtime_error("a copy too large");
        const VkBufferCopy region{0, 0, copy.from->Size()};
        vkCmdCopyBuffer(commands, copy.from->Handle(), copy.to->Handle(), 1, &region);
    }
    if (!copies.empty()) {
        Barrier(commands, VK_PIPELINE_STAGE_TRANSFER_BIT, VK_ACCESS_TRANSFER_WRITE_BIT,
                VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_HOST_BIT,
                VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_SHADER_WRITE_BIT | VK_ACCESS_HOST_READ_BIT);
    }
}

}  // namespace

HostBuffer::HostBuffer(const VulkanDevice& device, VkDeviceSize size, VkBufferUsageFlags usage)
    : device_(device.Handle()), size_(size) {
    auto info = MakeVk<VkBufferCreateInfo>(VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO);
    info.size = size;
    info.usage = usage;
    CheckVk(vkCreateBuffer(device_, &info, nullptr, &buffer_), "vkCreateBuffer");
    VkMemoryRequirements requirements;
    vkGetBufferMemoryRequirements(device_, buffer_, &requirements);
    try {
        memory_ =
            Allocate(device, requirements,
                     VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
        CheckVk(vkBindBufferMemory(device_, buffer_, memory_, 0), "vkBindBufferMemory");
        CheckVk(vkMapMemory(device_, memory_, 0, VK_WHOLE_SIZE, 0, &data_), "vkMapMemory");
    } catch (...) {
        vkFreeMemory(device_, memory_, nullptr);
        vkDestroyBuffer(device_, buffer_, nullptr);
        throw;
    }
    std::memset(data_, 0, size);
}

HostBuffer::~HostBuffer() {
    vkFreeMemory(device_, memory_, nullptr);
    vkDestroyBuffer(device_, buffer_, nullptr);
}

StorageImage::StorageImage(const VulkanDevice& device, uint32_t width, uint32_t height)
    : device_(device.Handle()), width_(width), height_(height) {
    auto info = MakeVk<VkImageCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_CREATE_INFO);
    info.imageType = VK_IMAGE_TYPE_2D;
    info.format = VK_FORMAT_R32G32B32A32_SFLOAT;
    info.extent = {width, height, 1};
    info.mipLevels = 1;
    info.arrayLayers = 1;
    info.samples = VK_SAMPLE_COUNT_1_BIT;
    info.tiling = VK_IMAGE_TILING_OPTIMAL;
    info.usage = VK_IMAGE_USAGE_STORAGE_BIT | VK_IMAGE_USAGE_TRANSFER_SRC_BIT;
    CheckVk(vkCreateImage(device_, &info, nullptr, &image_), "vkCreateImage");
    try {
        VkMemoryRequirements requirements;
        vkGetImageMemoryRequirements(device_, image_, &requirements);
        memory_ = Allocate(device, requirements, 0);
        CheckVk(vkBindImageMemory(device_, image_, memory_, 0), "vkBindImageMemory");
        auto view = MakeVk<VkImageViewCreateInfo>(VK_STRUCTURE_TYPE_IMAGE_VIEW_CREATE_INFO);
        view.image = image_;
        view.viewType = VK_IMAGE_VIEW_TYPE_2D;
        view.format = info.format;
        view.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
        CheckVk(vkCreateImageView(device_, &view, nullptr, &view_), "vkCreateImageView");
        readback_ = std::make_unique<HostBuffer>(device, VkDeviceSize{width} * height * 16,
                                                 VK_BUFFER_USAGE_TRANSFER_DST_BIT);
    } catch (...) {
        vkDestroyImageView(device_, view_, nullptr);
        vkFreeMemory(device_, memory_, nullptr);
        vkDestroyImage(device_, image_, nullptr);
        throw;
    }
}

StorageImage::~StorageImage() {
    vkDestroyImageView(device_, view_, nullptr);
    vkFreeMemory(device_, memory_, nullptr);
    vkDestroyImage(device_, image_, nullptr);
}

void RunKernels(const VulkanDevice& device, const std::vector<KernelBinding>& kernels,
                const StorageImage& image) {
    Submission submission(device.Handle());
    CreatePools(submission, device, kernels);
    const VkCommandBuffer commands = submission.buffer;
    auto begin = MakeVk<VkCommandBufferBeginInfo>(VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO);
    CheckVk(vkBeginCommandBuffer(commands, &begin), "vkBeginCommandBuffer");
    ToGeneralLayout(commands, image);
    const VkAccessFlags shader = VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_SHADER_WRITE_BIT;
    for (const KernelBinding& kernel : kernels) {
        const auto sets = WriteSets(device.Handle(), submission.descriptors, kernel);
        vkCmdBindPipeline(commands, VK_PIPELINE_BIND_POINT_COMPUTE, kernel.pipeline->Handle());
        if (!sets.empty()) {
            vkCmdBindDescriptorSets(commands, VK_PIPELINE_BIND_POINT_COMPUTE,
                                    kernel.pipeline->Layout(), 0,
                                    static_cast<uint32_t>(sets.size()), sets.data(), 0, nullptr);
        }
        vkCmdDispatch(commands, kernel.groups[0], kernel.groups[1], kernel.groups[2]);
        Barrier(commands, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_ACCESS_SHADER_WRITE_BIT,
                VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT,
                shader | VK_ACCESS_TRANSFER_READ_BIT);
        CopyBuffers(commands, kernel.copiesAfter);
    }
    VkBufferImageCopy copy{};
    copy.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
    copy.imageExtent = {image.Width(), image.Height(), 1};
    vkCmdCopyImageToBuffer(commands, image.Handle(), VK_IMAGE_LAYOUT_GENERAL,
                           image.Readback().Handle(), 1, &copy);
    Barrier(commands, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT | VK_PIPELINE_STAGE_TRANSFER_BIT,
            VK_ACCESS_SHADER_WRITE_BIT | VK_ACCESS_TRANSFER_WRITE_BIT, VK_PIPELINE_STAGE_HOST_BIT,
            VK_ACCESS_HOST_READ_BIT);
    CheckVk(vkEndCommandBuffer(commands), "vkEndCommandBuffer");
    auto submit = MakeVk<VkSubmitInfo>(VK_STRUCTURE_TYPE_SUBMIT_INFO);
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &commands;
    CheckVk(vkQueueSubmit(device.Queue(), 1, &submit, submission.fence), "vkQueueSubmit");
    CheckVk(vkWaitForFences(device.Handle(), 1, &submission.fence, VK_TRUE, UINT64_MAX),
            "vkWaitForFences");
}
