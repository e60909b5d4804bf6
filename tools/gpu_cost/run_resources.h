// What running kernels on a Vulkan device takes: host-visible buffers, a storage image read back
// into one, and one command buffer that dispatches kernels in order, each seeing the writes of
// those before it.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "tools/gpu_cost/compute_pipeline.h"
#include "tools/gpu_cost/vulkan_device.h"

// A buffer in memory the host sees, mapped for its whole life and zeroed at creation.
class HostBuffer {
  public:
    HostBuffer(const VulkanDevice& device, VkDeviceSize size, VkBufferUsageFlags usage);
    ~HostBuffer();
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    VkBuffer Handle() const { return buffer_; }
    VkDeviceSize Size() const { return size_; }
    void* Data() const { return data_; }

  private:
    VkDevice device_;
    VkDeviceSize size_;
    VkBuffer buffer_ = VK_NULL_HANDLE;
    VkDeviceMemory memory_ = VK_NULL_HANDLE;
    void* data_ = nullptr;
};

// A four-float storage image and the buffer that RunKernels copies it into, row by row.
class StorageImage {
  public:
    StorageImage(const VulkanDevice& device, uint32_t width, uint32_t height);
    ~StorageImage();
    StorageImage(const StorageImage&) = delete;
    StorageImage& operator=(const StorageImage&) = delete;

    VkImage Handle() const { return image_; }
    VkImageView View() const { return view_; }
    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    const HostBuffer& Readback() const { return *readback_; }

  private:
    VkDevice device_;
    uint32_t width_, height_;
    VkImage image_ = VK_NULL_HANDLE;
    VkDeviceMemory memory_ = VK_NULL_HANDLE;
    VkImageView view_ = VK_NULL_HANDLE;
    std::unique_ptr<HostBuffer> readback_;
};

// The resource behind one binding: a buffer or the image.
struct DescriptorSource {
    const HostBuffer* buffer;
    const StorageImage* image;
};

// A buffer's contents copied into another (of the same size or larger).
struct BufferCopy {
    const HostBuffer* from;
    const HostBuffer* to;
};

// A kernel, the source of each of its module's bindings (in the order of its interface), the
// thread groups it runs, and the buffers copied once it has run, before the next kernel runs:
// what the host sees of them between two kernels.
struct KernelBinding {
    const ComputePipeline* pipeline;
    std::vector<DescriptorSource> sources;
    uint32_t groups[3];
    std::vector<BufferCopy> copiesAfter;
};

// Dispatches the kernels in order (each followed by its copies), copies `image` into its
// readback buffer, and waits.
void RunKernels(const VulkanDevice& device, const std::vector<KernelBinding>& kernels,
                const StorageImage& image);
