// The host's GPU device protocol through EffectMain: set-up, set-down, the pre-render's flag
// and GPU frames, against a host GPU suite that offers what each case needs and a device of the
// test's own (natively there is no Direct3D 12).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/gpu_device.h"
#include "renderers/host_gpu.h"
#include "standins/host_simulator/gpu_device_suite.h"
#include "tests/render/render_test_support.h"

namespace pyrix {

namespace render_test {

namespace {

constexpr PF_OutFlags2 kGpuFlags =
    PF_OutFlag2_SUPPORTS_GPU_RENDER_F32 | PF_OutFlag2_SUPPORTS_DIRECTX_RENDERING;

std::atomic<int> gLiveFakes{0};
std::atomic<bool> gFactoryThrows{false};

struct FakeDevice final : HostGpuDevice {
    FakeDevice() { ++gLiveFakes; }
    ~FakeDevice() override { --gLiveFakes; }
    bool Render(const HostGpuWorld& world, const ParamsBlock& params,
                const FrameContext&) override {
        std::lock_guard<std::mutex> hold(lock);
        ++renders;
        lastWorld = world;
        lastParams = params;
        return true;
    }
    std::mutex lock;
    int renders = 0;
    HostGpuWorld lastWorld;
    ParamsBlock lastParams{};
};

std::unique_ptr<HostGpuDevice> MakeFake(void*, void*) {
    if (gFactoryThrows) throw std::runtime_error("pipeline failed");
    return std::make_unique<FakeDevice>();
}

int gDevice, gQueue;  // stand for the host's device and queue: only their addresses count
thread_local PF_EffectWorld* tWorld = nullptr;  // what checkout_output hands this thread

class HostGpuEntryTest : public RenderEntryTest {
  protected:
    void SetUp() override {
        RenderEntryTest::SetUp();
        host.SetEffect(&PluginDataEntryFunction2, &EffectMain);
        suite.SetDevice(PF_GPU_Framework_DIRECTX, &gDevice, &gQueue);
    }
    void TearDown() override {
        ReplaceHostGpuFactory(nullptr);
        gFactoryThrows = false;
        EXPECT_EQ(LiveGpuDevices(), 0) << "a device not set down";
        EXPECT_EQ(gLiveFakes, 0);
        EXPECT_TRUE(host.UnbalancedSuites().empty());
        RenderEntryTest::TearDown();
    }
    // Offers device `index` of `framework`; the effect's gpu_data, null when it declined.
    void* Setup(PF_GPU_Framework framework = PF_GPU_Framework_DIRECTX, A_u_long index = 0) {
        void* gpu_data = nullptr;
        const host_sim::CommandResult result = host.GpuDeviceSetup(framework, index, &gpu_data);
        EXPECT_TRUE(result.ok()) << result.Describe();
        EXPECT_EQ(result.outFlags2 & kGpuFlags, gpu_data != nullptr ? kGpuFlags : 0);
        return gpu_data;
    }
    PF_Err Setdown(void* gpu_data) {
        return host.GpuDeviceSetdown(gpu_data, PF_GPU_Framework_DIRECTX, 0).error;
    }
    // A GPU frame into `world` after a pre-render of the same records.
    PF_Err GpuFrame(SmartRecords& records, void* gpu_data, PF_EffectWorld* world) {
        records.preInput.gpu_data = gpu_data;
        records.preInput.what_gpu = PF_GPU_Framework_DIRECTX;
        const PF_Err pre = PreRender(records);
        if (pre != PF_Err_NONE) return pre;
        records.renderInput.gpu_data = gpu_data;
        records.renderInput.what_gpu = PF_GPU_Framework_DIRECTX;
        host.SetOutputWorld(world);
        records.renderInput.pre_render_data = records.preOutput.pre_render_data;
        records.renderExtra.cb = host.smart_render_callbacks();
        return Command(PF_Cmd_SMART_RENDER_GPU, nullptr, &records.renderExtra);
    }

    host_sim::GpuDeviceSuite suite{host};
    int hostBuffer = 0;  // stands for the host's GPU buffer
};

PF_EffectWorld GpuWorld(A_long width, A_long height, A_long rowbytes) {
    PF_EffectWorld world{};
    world.width = width;
    world.height = height;
    world.rowbytes = rowbytes;
    return world;
}

TEST_F(HostGpuEntryTest, NativelyEveryOfferIsDeclined) {
    EXPECT_EQ(Setup(), nullptr);
    EXPECT_EQ(Setdown(nullptr), PF_Err_NONE) << "a declined device holds nothing";
}

TEST_F(HostGpuEntryTest, AnAcceptedDeviceLivesFromSetupToSetdownOnly) {
    ReplaceHostGpuFactory(MakeFake);
    void* first = Setup();
    void* second = Setup(PF_GPU_Framework_DIRECTX, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, first) << "each set-up has its own objects";
    EXPECT_EQ(gLiveFakes, 2);
    EXPECT_EQ(Setdown(first), PF_Err_NONE);
    EXPECT_EQ(gLiveFakes, 1);
    EXPECT_EQ(Setdown(first), PF_Err_BAD_CALLBACK_PARAM) << "twice: refused, nothing freed";
    EXPECT_EQ(Setdown(&gDevice), PF_Err_BAD_CALLBACK_PARAM) << "never set up";
    EXPECT_EQ(gLiveFakes, 1);
    EXPECT_EQ(Setdown(second), PF_Err_NONE);
    EXPECT_EQ(Message(), "");
}

TEST_F(HostGpuEntryTest, EveryOtherOfferIsDeclinedQuietly) {
    ReplaceHostGpuFactory(MakeFake);
    for (PF_GPU_Framework other : {PF_GPU_Framework_NONE, PF_GPU_Framework_OPENCL,
                                   PF_GPU_Framework_METAL, PF_GPU_Framework_CUDA}) {
        EXPECT_EQ(Setup(other), nullptr) << other;
    }
    EXPECT_EQ(Setup(PF_GPU_Framework_DIRECTX, 1), nullptr) << "an index the suite does not know";
    suite.SetInfoResult(PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(Setup(), nullptr) << "GetDeviceInfo fails";
    suite.SetInfoResult(PF_Err_NONE);
    suite.SetDevice(PF_GPU_Framework_CUDA, &gDevice, &gQueue);
    EXPECT_EQ(Setup(), nullptr) << "the suite describes another framework";
    suite.SetDevice(PF_GPU_Framework_DIRECTX, &gDevice, nullptr);
    EXPECT_EQ(Setup(), nullptr) << "no queue";
    suite.SetDevice(PF_GPU_Framework_DIRECTX, &gDevice, &gQueue);
    gFactoryThrows = true;
    EXPECT_EQ(Setup(), nullptr) << "building the pipelines fails";
    EXPECT_EQ(gLiveFakes, 0);
    EXPECT_EQ(Message(), "");
}

// Pre-render offers a GPU frame exactly where the GPU render takes it: our device, Direct3D,
// 32-bit float. An 8- or 16-bit project renders the ordinary way, never a refused GPU frame.
TEST_F(HostGpuEntryTest, AFrameIsGpuPossibleExactlyWhereTheGpuRenderTakesIt) {
    ReplaceHostGpuFactory(MakeFake);
    void* gpu_data = Setup();
    const auto& device = *static_cast<FakeDevice*>(gpu_data);
    PF_EffectWorld world = GpuWorld(20, 10, 320);
    suite.SetWorld(&world, &hostBuffer, 3200);
    int offered = 0;
    for (const void* data :
         {static_cast<const void*>(nullptr), static_cast<const void*>(gpu_data)}) {
        for (PF_GPU_Framework framework : {PF_GPU_Framework_NONE, PF_GPU_Framework_DIRECTX}) {
            for (A_short bits : {8, 16, 32}) {
                SmartRecords records(kEverything, bits);
                records.preInput.gpu_data = data;
                records.preInput.what_gpu = framework;
                ASSERT_EQ(PreRender(records), PF_Err_NONE);
                const bool possible =
                    data != nullptr && framework == PF_GPU_Framework_DIRECTX && bits == 32;
                EXPECT_EQ(records.preOutput.flags, possible ? 0x1234 | 2 : 0x1234) << bits;
                EXPECT_EQ(records.preOutput.result_rect.right, geometry.FullWidth());

                if (framework != PF_GPU_Framework_DIRECTX) continue;
                SmartRecords frame(PF_LRect{0, 0, 20, 10}, bits);
                EXPECT_EQ(GpuFrame(frame, const_cast<void*>(data), &world),
                          possible ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM)
                    << bits << " bits: " << Message();
                offered += possible ? 1 : 0;
            }
        }
    }
    EXPECT_EQ(device.renders, offered);
    EXPECT_EQ(Setdown(gpu_data), PF_Err_NONE);
}

TEST_F(HostGpuEntryTest, AFrameGetsTheHostsBufferAndTheConstantsOfItsWorld) {
    ReplaceHostGpuFactory(MakeFake);
    void* gpu_data = Setup();
    auto& device = *static_cast<FakeDevice*>(gpu_data);
    PF_EffectWorld world = GpuWorld(20, 10, 20 * 16 + 32);
    world.origin_x = 7;
    world.origin_y = 3;
    suite.SetWorld(&world, &hostBuffer, 10 * (20 * 16 + 32));
    SmartRecords records(PF_LRect{7, 3, 27, 13}, 32);
    ASSERT_EQ(GpuFrame(records, gpu_data, &world), PF_Err_NONE) << Message();
    ASSERT_EQ(device.renders, 1);
    EXPECT_EQ(device.lastWorld.buffer, &hostBuffer);
    EXPECT_EQ(device.lastWorld.rowBytes, 20 * 16 + 32);
    const ParamsBlock expected = ExpectedParams(knobs, geometry, 20, 10, 7, 3);
    EXPECT_EQ(std::memcmp(&device.lastParams, &expected, sizeof expected), 0);
    EXPECT_EQ(Setdown(gpu_data), PF_Err_NONE);
}

TEST_F(HostGpuEntryTest, BadWorldsAndForeignDataAreRefusedWithoutAFrame) {
    ReplaceHostGpuFactory(MakeFake);
    void* gpu_data = Setup();
    const auto& device = *static_cast<FakeDevice*>(gpu_data);
    struct Case {
        const char* what;
        A_long width, height, rowbytes;
        size_t size;
        const char* message;
    } cases[] = {
        {"size below height x rowbytes", 20, 10, 320, 320 * 10 - 16, "GPU output buffer too small"},
        {"rowbytes below width x 16", 20, 10, 304, 320 * 10, "Invalid output stride"},
        {"rowbytes not a multiple of 16", 20, 10, 328, 328 * 10, "Invalid output stride"},
        {"world narrower than the request", 19, 10, 320, 320 * 10, "GPU output buffer too small"},
        {"world shorter than the request", 20, 9, 320, 320 * 9, "GPU output buffer too small"},
        {"more pixels than the kernel counts", 20, 1100, 62914560, size_t{1100} * 62914560,
         "Invalid output stride"},
    };
    for (const Case& c : cases) {
        PF_EffectWorld world = GpuWorld(c.width, c.height, c.rowbytes);
        suite.SetWorld(&world, &hostBuffer, c.size);
        SmartRecords records(PF_LRect{0, 0, 20, 10}, 32);
        EXPECT_EQ(GpuFrame(records, gpu_data, &world), PF_Err_INTERNAL_STRUCT_DAMAGED) << c.what;
        EXPECT_NE(Message().find(c.message), std::string::npos) << c.what << ": " << Message();
        suite.ForgetWorld(&world);
    }
    PF_EffectWorld world = GpuWorld(20, 10, 320);
    suite.SetWorld(&world, &hostBuffer, 3200);
    for (void* foreign : {static_cast<void*>(nullptr), static_cast<void*>(&gDevice)}) {
        SmartRecords records(PF_LRect{0, 0, 20, 10}, 32);
        EXPECT_EQ(GpuFrame(records, foreign, &world), PF_Err_BAD_CALLBACK_PARAM);
    }
    SmartRecords eightBits(PF_LRect{0, 0, 20, 10}, 8);
    EXPECT_EQ(GpuFrame(eightBits, gpu_data, &world), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(device.renders, 0);
    EXPECT_EQ(Setdown(gpu_data), PF_Err_NONE);
}

// Frames on four threads while the device is set down: each either renders on it or is refused
// once it is gone, and the device outlives the last frame that holds it.
TEST_F(HostGpuEntryTest, ASetdownBetweenFramesOnOtherThreadsFreesTheDeviceAfterThem) {
    ReplaceHostGpuFactory(MakeFake);
    void* gpu_data = Setup();
    std::vector<PF_EffectWorld> worlds(4, GpuWorld(16, 8, 256));
    for (PF_EffectWorld& world : worlds) suite.SetWorld(&world, &hostBuffer, 8 * 256);
    std::atomic<int> rendered{0}, refused{0}, other{0};
    std::vector<std::thread> threads;
    for (PF_EffectWorld& world : worlds) {
        threads.emplace_back([&, world = &world] {
            for (int frame = 0; frame < 50; ++frame) {
                PF_SmartRenderInput input{};
                input.output_request.rect = PF_LRect{0, 0, 16, 8};
                input.bitdepth = 32;
                input.gpu_data = gpu_data;
                input.what_gpu = PF_GPU_Framework_DIRECTX;
                EffectSettings settings;
                settings.layerWidth = geometry.layerWidth;
                settings.layerHeight = geometry.layerHeight;
                input.pre_render_data = &settings;
                PF_SmartRenderCallbacks callbacks{};
                callbacks.checkout_output = [](PF_ProgPtr, PF_EffectWorld** out) {
                    *out = tWorld;
                    return PF_Err(PF_Err_NONE);
                };
                tWorld = world;
                PF_SmartRenderExtra extra{&input, &callbacks};
                const PF_Err err = EffectMain(PF_Cmd_SMART_RENDER_GPU, host.in_data(), nullptr,
                                              nullptr, nullptr, &extra);
                (err == PF_Err_NONE                 ? rendered
                 : err == PF_Err_BAD_CALLBACK_PARAM ? refused
                                                    : other)++;
            }
        });
    }
    while (rendered == 0 && other == 0) std::this_thread::yield();
    EXPECT_EQ(Setdown(gpu_data), PF_Err_NONE);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(rendered + refused, 200);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(gLiveFakes, 0) << "freed once the last frame let go";
}

}  // namespace

}  // namespace render_test

}  // namespace pyrix
