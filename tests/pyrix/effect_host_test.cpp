#include "tools/pyrix/effect_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "test_support.h"
#include "tools/pyrix/plugin_library.h"

namespace pyrix::preview {
namespace {

// Reads sample `channel` (0 A, 1 R, 2 G, 3 B) of pixel (x, y) of a host-layout frame.
double Sample(const FrameImage& image, int32_t x, int32_t y, int channel) {
    const uint8_t* p = image.row(y) + image.pixelBytes() * static_cast<size_t>(x);
    if (image.depth == 8) return p[channel];
    if (image.depth == 16) {
        uint16_t v;
        std::memcpy(&v, p + 2 * channel, 2);
        return v;
    }
    float f;
    std::memcpy(&f, p + 4 * channel, 4);
    return f;
}

// The test effect's pattern: alpha full, then layer x, layer y and the frame number.
void ExpectPattern(const FrameImage& image, int32_t originX, int32_t originY, int32_t frame) {
    const double full = image.depth == 8 ? 255 : image.depth == 16 ? 32768 : 1;
    const auto wrap = [&](int32_t v) { return image.depth == 8 ? v & 255 : v; };
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < image.width; ++x) {
            ASSERT_EQ(Sample(image, x, y, 0), full) << x << "," << y;
            ASSERT_EQ(Sample(image, x, y, 1), wrap(originX + x)) << x << "," << y;
            ASSERT_EQ(Sample(image, x, y, 2), wrap(originY + y)) << x << "," << y;
            ASSERT_EQ(Sample(image, x, y, 3), wrap(frame)) << x << "," << y;
        }
    }
}

class EffectHostTest : public testing::Test {
  protected:
    void SetUp() override {
        logPath_ = folder_.file("plugin.log");
        setenv("PYRIX_TEST_LOG", logPath_.c_str(), 1);
        std::string error;
        library_ = PluginLibrary::Open(PYRIX_TEST_PLUGIN, &error);
        ASSERT_TRUE(library_) << error;
        host_ = std::make_unique<EffectHost>(library_->dataEntry(), library_->effectMain());
        ASSERT_TRUE(host_->Register().ok());
        ASSERT_TRUE(host_->GlobalSetup().ok());
        ASSERT_TRUE(host_->ParamsSetup().ok());
    }
    void TearDown() override {
        if (host_) {
            EXPECT_TRUE(host_->GlobalSetdown().ok());
        }
        unsetenv("PYRIX_TEST_LOG");
    }

    std::vector<std::map<std::string, std::string>> Log(const std::string& command) const {
        return ReadPluginLog(logPath_, command);
    }

    CommandResult Render(const RenderSettings& settings, int32_t frame, FrameImage* image,
                         bool cancel = false) {
        std::atomic<bool> flag{cancel};
        return host_->RenderFrame(settings, frame, &flag, image);
    }

    TempFolder folder_;
    std::string logPath_;
    std::unique_ptr<PluginLibrary> library_;
    std::unique_ptr<EffectHost> host_;
};

TEST_F(EffectHostTest, SetUpRecordsWhatTheEffectDeclared) {
    const Registration& r = host_->registration();
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.name, "pyrix test effect");
    EXPECT_EQ(r.matchName, "pyrix Test Match");
    EXPECT_EQ(r.category, "Tests");
    EXPECT_EQ(r.entryPoint, "EffectMain");
    EXPECT_EQ(r.kind, 0x65464B54);
    EXPECT_EQ(r.apiMajor, 13);
    EXPECT_EQ(r.apiMinor, 28);
    EXPECT_EQ(r.reservedInfo, 8);
    EXPECT_EQ(r.supportUrl, "https://example.invalid/");
    EXPECT_EQ(host_->version(), 0x00080601u);
    EXPECT_EQ(host_->outFlags(), PF_OutFlag_DEEP_COLOR_AWARE | PF_OutFlag_PIX_INDEPENDENT);
    EXPECT_EQ(host_->outFlags2() & PF_OutFlag2_SUPPORTS_SMART_RENDER,
              PF_OutFlag2_SUPPORTS_SMART_RENDER);

    const std::vector<PF_ParamDef> params = host_->AddedParams();
    ASSERT_EQ(params.size(), 7u);
    const A_long ids[7] = {10, 7, 8, 1, 9, 2, 3};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(params[i].uu.id, ids[i]);
    EXPECT_STREQ(ParamName(params[2]), "Emitter Size");
    EXPECT_EQ(host_->declaredParamCount(), 8);
    EXPECT_EQ(host_->OptionsButtonNames(), std::vector<std::string>{"About..."});
    ASSERT_EQ(host_->RegisteredUi().size(), 1u);
    EXPECT_EQ(host_->RegisteredUi()[0].events, PF_CustomEFlag_EFFECT);
    EXPECT_EQ(host_->OutstandingSuites(), 0);
}

TEST(SdkStylePluginTest, GlobalDataHandleComesBackAndIsDisposed) {
    std::string error;
    const auto library = PluginLibrary::Open(PYRIX_SDK_STYLE_PLUGIN, &error);
    ASSERT_TRUE(library) << error;
    EffectHost host(library->dataEntry(), library->effectMain());
    const long handlesBefore = EffectHost::OutstandingHandles();
    ASSERT_TRUE(host.Register().ok());
    ASSERT_TRUE(host.GlobalSetup().ok());
    EXPECT_EQ(EffectHost::OutstandingHandles(), handlesBefore + 1);
    const CommandResult params = host.ParamsSetup();
    ASSERT_TRUE(params.ok()) << params.Describe();  // it found its global data in its handle
    EXPECT_EQ(host.AddedParams().size(), 6u);
    EXPECT_TRUE(host.GlobalSetdown().ok());
    EXPECT_EQ(EffectHost::OutstandingHandles(), handlesBefore);
}

TEST_F(EffectHostTest, AboutTextComesBackWithLineBreaks) {
    std::string text;
    EXPECT_TRUE(host_->About(&text).ok());
    EXPECT_EQ(text, "pyrix test effect\nline two");
}

TEST_F(EffectHostTest, SmartRenderHandsOverTimeGeometryAndDefaults) {
    RenderSettings s;
    s.layerWidth = 200;
    s.layerHeight = 101;
    s.fps = 25;
    s.downsample = 2;
    s.depth = 16;
    FrameImage image;
    const CommandResult result = Render(s, 5, &image);
    ASSERT_TRUE(result.ok()) << result.Describe();

    const auto pre = Log("pre_render");
    ASSERT_EQ(pre.size(), 1u);
    EXPECT_EQ(pre[0].at("current_time"), "400");
    EXPECT_EQ(pre[0].at("time_step"), "100");
    EXPECT_EQ(pre[0].at("local_time_step"), "100");
    EXPECT_EQ(pre[0].at("time_scale"), "2500");
    EXPECT_EQ(pre[0].at("width"), "200");
    EXPECT_EQ(pre[0].at("height"), "101");
    EXPECT_EQ(pre[0].at("downsample_x"), "1/2");
    EXPECT_EQ(pre[0].at("downsample_y"), "1/2");
    EXPECT_EQ(pre[0].at("request"), "0,0,100,51");  // 101 / 2 rounds up
    EXPECT_EQ(pre[0].at("bitdepth"), "16");
    EXPECT_EQ(pre[0].at("channel_mask"), "15");
    EXPECT_EQ(pre[0].at("ref"), "200x101");
    // Defaults as declared: Position 50 %, 70 % of the layer, in pixels at half resolution.
    EXPECT_EQ(pre[0].at("x_fixed"), std::to_string(50 << 16));
    EXPECT_EQ(pre[0].at("y_fixed"), std::to_string(static_cast<int>(std::lround(35.35 * 65536))));
    EXPECT_EQ(pre[0].at("detail"), "1");
    EXPECT_EQ(pre[0].at("emitter_size"), "100");
    EXPECT_EQ(pre[0].at("speed"), "1");
    EXPECT_EQ(pre[0].at("offset"), "0");
    EXPECT_EQ(pre[0].at("softness"), "0");
    EXPECT_EQ(pre[0].at("frame"), "5");

    const auto render = Log("smart_render");
    ASSERT_EQ(render.size(), 1u);
    EXPECT_EQ(render[0].at("bitdepth"), "16");
    EXPECT_EQ(render[0].at("world"), "100x51");
    EXPECT_EQ(render[0].at("origin"), "0,0");
    EXPECT_EQ(render[0].at("world_flags"), std::to_string(PF_WorldFlag_DEEP));
    const long rowBytes = std::stol(render[0].at("rowbytes"));
    EXPECT_GE(rowBytes, 100 * 8);

    ASSERT_EQ(Log("delete_pre_render").size(), 1u);  // the record went back exactly once
    EXPECT_EQ(host_->OutstandingCheckouts(), 0);

    ASSERT_EQ(image.width, 100);
    ASSERT_EQ(image.height, 51);
    EXPECT_EQ(image.depth, 16);
    ExpectPattern(image, 0, 0, 5);
}

TEST_F(EffectHostTest, ControlValuesReachTheEffectUnchanged) {
    RenderSettings s;
    s.layerWidth = 300;
    s.layerHeight = 100;
    s.positionX = 10.0;
    s.positionY = -25.0;
    s.emitterSize = 1234.5;
    s.detail = 4.25;
    s.softness = -3;
    s.speed = 3000000;
    s.offset = -0.125;
    FrameImage image;
    ASSERT_TRUE(Render(s, 1, &image).ok());
    const auto pre = Log("pre_render");
    ASSERT_EQ(pre.size(), 1u);
    EXPECT_EQ(pre[0].at("x_fixed"), std::to_string(30 << 16));
    EXPECT_EQ(pre[0].at("y_fixed"), std::to_string(-(25 << 16)));
    EXPECT_EQ(pre[0].at("emitter_size"), "1234.5");
    EXPECT_EQ(pre[0].at("detail"), "4.25");
    EXPECT_EQ(pre[0].at("softness"), "-3");
    EXPECT_EQ(pre[0].at("speed"), "3000000");
    EXPECT_EQ(pre[0].at("offset"), "-0.125");
    EXPECT_EQ(pre[0].at("current_time"), "0");
}

TEST_F(EffectHostTest, RequestBeyondTheFrameKeepsItsSizeAndStaysClearOutside) {
    RenderSettings s;
    s.layerWidth = 100;
    s.layerHeight = 60;
    s.rect = PF_LRect{-10, -5, 50, 40};
    FrameImage image;
    ASSERT_TRUE(Render(s, 3, &image).ok());
    EXPECT_EQ(Log("pre_render").at(0).at("request"), "-10,-5,50,40");
    EXPECT_EQ(Log("smart_render").at(0).at("world"), "50x40");
    ASSERT_EQ(image.width, 60);
    ASSERT_EQ(image.height, 45);
    for (int32_t y = 0; y < 45; ++y) {
        for (int32_t x = 0; x < 60; ++x) {
            const bool inside = x >= 10 && y >= 5;
            ASSERT_EQ(Sample(image, x, y, 0), inside ? 255 : 0) << x << "," << y;
            if (inside) {
                ASSERT_EQ(Sample(image, x, y, 1), x - 10);
            }
        }
    }
}

TEST_F(EffectHostTest, RequestOutsideTheFrameGetsNoOutputBuffer) {
    RenderSettings s;
    s.layerWidth = 100;
    s.layerHeight = 60;
    s.rect = PF_LRect{200, 0, 210, 10};
    FrameImage image;
    ASSERT_TRUE(Render(s, 1, &image).ok());
    EXPECT_EQ(Log("smart_render").at(0).at("world"), "none");
    EXPECT_EQ(image.width, 10);
    EXPECT_EQ(std::count(image.pixels.begin(), image.pixels.end(), 0),
              static_cast<long>(image.pixels.size()));
}

TEST_F(EffectHostTest, FloatFramesKeepExactValues) {
    RenderSettings s;
    s.layerWidth = 40;
    s.layerHeight = 30;
    s.depth = 32;
    s.rect = PF_LRect{5, 6, 25, 16};
    FrameImage image;
    ASSERT_TRUE(Render(s, 42, &image).ok());
    EXPECT_EQ(Log("pre_render").at(0).at("bitdepth"), "32");
    EXPECT_EQ(Log("smart_render").at(0).at("origin"), "5,6");
    ExpectPattern(image, 5, 6, 42);
}

TEST_F(EffectHostTest, LegacyRenderNegatesTheOutputOrigin) {
    RenderSettings s;
    s.layerWidth = 64;
    s.layerHeight = 48;
    s.legacy = true;
    s.downsample = 4;
    s.rect = PF_LRect{3, 2, 13, 9};
    s.detail = 2.0;
    s.positionX = 25.0;
    FrameImage image;
    ASSERT_TRUE(Render(s, 7, &image).ok());
    EXPECT_TRUE(Log("pre_render").empty());
    const auto render = Log("render");
    ASSERT_EQ(render.size(), 1u);
    EXPECT_EQ(render[0].at("output_origin"), "-3,-2");
    EXPECT_EQ(render[0].at("world"), "10x7");
    EXPECT_EQ(render[0].at("world_flags"), "0");
    EXPECT_EQ(render[0].at("param0_type"), std::to_string(PF_Param_LAYER));
    EXPECT_EQ(render[0].at("current_time"), "600");
    EXPECT_EQ(render[0].at("downsample_x"), "1/4");
    EXPECT_EQ(render[0].at("detail"), "2");
    EXPECT_EQ(render[0].at("x_fixed"), std::to_string(4 << 16));  // 25 % of 64, at 1/4
    EXPECT_EQ(render[0].at("emitter_size"), "100");
    ExpectPattern(image, 3, 2, 7);

    s.depth = 16;
    ASSERT_TRUE(Render(s, 1, &image).ok());
    EXPECT_EQ(Log("render").at(1).at("world_flags"), std::to_string(PF_WorldFlag_DEEP));
    ExpectPattern(image, 3, 2, 1);
}

TEST_F(EffectHostTest, FailuresCarryTheEffectsMessageOrItsCode) {
    RenderSettings s;
    s.layerWidth = 16;
    s.layerHeight = 16;
    s.detail = 666;
    FrameImage image;
    CommandResult result = Render(s, 1, &image);
    EXPECT_EQ(result.error, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(result.command, PF_Cmd_SMART_RENDER);
    EXPECT_EQ(result.Describe(), "Tazu Test: detail 666 refused");

    s.detail = 667;
    result = Render(s, 1, &image);
    EXPECT_TRUE(result.message.empty());
    EXPECT_EQ(result.Describe(), "PF_Cmd_SMART_RENDER failed with error 512");

    s.detail = NAN;
    s.legacy = true;
    result = Render(s, 1, &image);
    EXPECT_EQ(result.command, PF_Cmd_RENDER);
    EXPECT_EQ(result.Describe(), "Tazu Test: Non-finite effect parameter");
    EXPECT_EQ(Log("delete_pre_render").size(), 2u);  // failed smart renders return it too
}

TEST_F(EffectHostTest, AbortCallbackAnswersTheCancelFlag) {
    RenderSettings s;
    s.layerWidth = 8;
    s.layerHeight = 8;
    FrameImage image;
    EXPECT_EQ(Render(s, 1, &image, true).error, PF_Interrupt_CANCEL);

    // An effect that waits for the abort: the flag raised from another thread ends it.
    s.offset = 517;
    std::atomic<bool> cancel{false};
    std::thread raiser([&] {
        while (Log("waiting").empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cancel = true;
    });
    EXPECT_EQ(host_->RenderFrame(s, 2, &cancel, &image).error, PF_Interrupt_CANCEL);
    raiser.join();
}

TEST_F(EffectHostTest, FramesRenderConcurrentlyOnOneHost) {
    RenderSettings s;
    s.layerWidth = 64;
    s.layerHeight = 200;
    std::vector<std::thread> threads;
    std::vector<FrameImage> images(8);
    std::vector<CommandResult> results(8);
    for (int32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int32_t f = t; f < 8; f += 4) {
                std::atomic<bool> cancel{false};
                results[f] = host_->RenderFrame(s, f + 1, &cancel, &images[f]);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int32_t f = 0; f < 8; ++f) {
        ASSERT_TRUE(results[f].ok());
        ExpectPattern(images[f], 0, 0, f + 1);
    }
    EXPECT_EQ(Log("delete_pre_render").size(), 8u);
    EXPECT_EQ(host_->OutstandingCheckouts(), 0);
}

TEST(EffectHostLoading, RefusesLibrariesWithoutTheEntryPoints) {
    std::string error;
    EXPECT_FALSE(PluginLibrary::Open("/nonexistent/effect.so", &error));
    EXPECT_NE(error.find("/nonexistent/effect.so"), std::string::npos);
    error.clear();
    // A shared library that exists but is no effect.
    EXPECT_FALSE(PluginLibrary::Open("/lib/x86_64-linux-gnu/libm.so.6", &error));
    EXPECT_NE(error.find("does not export"), std::string::npos) << error;
}

}  // namespace
}  // namespace pyrix::preview
