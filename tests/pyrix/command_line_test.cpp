#include "tools/pyrix/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

namespace pyrix::preview {
namespace {

struct Parsed {
    std::optional<CommandLine> line;
    int exitCode = -1;
    std::string out, err;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "pyrix");
    std::ostringstream out, err;
    Parsed p;
    p.line = ParseCommandLine(static_cast<int>(args.size()), args.data(), out, err, &p.exitCode);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(ValueParsers, AcceptWellFormedValues) {
    EXPECT_EQ(ParseSize("1280x720"), std::make_pair(1280, 720));
    EXPECT_EQ(ParseSize("1X30000"), std::make_pair(1, 30000));
    EXPECT_EQ(ParseFrameRange("1-48"), std::make_pair(1, 48));
    EXPECT_EQ(ParseFrameRange("7"), std::make_pair(7, 7));
    EXPECT_EQ(ParsePosition("-12.5,1e3"), std::make_pair(-12.5, 1000.0));
    const auto rect = ParseRect("-10,-20,30,40");
    ASSERT_TRUE(rect);
    EXPECT_EQ(rect->left, -10);
    EXPECT_EQ(rect->top, -20);
    EXPECT_EQ(rect->right, 30);
    EXPECT_EQ(rect->bottom, 40);
}

class RejectedValue : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(RejectedValue, IsRefused) {
    const auto [kind, text] = GetParam();
    const std::string k = kind;
    if (k == "size") {
        EXPECT_FALSE(ParseSize(text)) << text;
    }
    if (k == "frames") {
        EXPECT_FALSE(ParseFrameRange(text)) << text;
    }
    if (k == "position") {
        EXPECT_FALSE(ParsePosition(text)) << text;
    }
    if (k == "rect") {
        EXPECT_FALSE(ParseRect(text)) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RejectedValue,
    testing::Values(std::make_pair("size", "1280"), std::make_pair("size", "0x720"),
                    std::make_pair("size", "30001x10"), std::make_pair("size", "12x-3"),
                    std::make_pair("size", "12x3x4"), std::make_pair("size", "99999999999x1"),
                    std::make_pair("frames", "0-4"), std::make_pair("frames", "5-4"),
                    std::make_pair("frames", "1-1000001"), std::make_pair("frames", "1-2-3"),
                    std::make_pair("frames", "a-b"), std::make_pair("frames", ""),
                    std::make_pair("position", "50"), std::make_pair("position", "nan,3"),
                    std::make_pair("position", "1,inf"), std::make_pair("position", "1,2,3"),
                    std::make_pair("position", " 1,2"), std::make_pair("rect", "0,0,0,10"),
                    std::make_pair("rect", "5,0,4,10"), std::make_pair("rect", "0,0,30001,1"),
                    std::make_pair("rect", "-2147483648,0,2147483647,1"),
                    std::make_pair("rect", "0,0,1")));

TEST(CommandLine, RenderDefaultsLeaveControlsToThePlugin) {
    const Parsed p = Parse({"render"});
    ASSERT_TRUE(p.line) << p.err;
    const RenderJob& job = p.line->render;
    EXPECT_EQ(p.line->command, Subcommand::kRender);
    EXPECT_EQ(job.settings.layerWidth, 1280);
    EXPECT_EQ(job.settings.layerHeight, 720);
    EXPECT_EQ(job.firstFrame, 1);
    EXPECT_EQ(job.lastFrame, 48);
    EXPECT_EQ(job.settings.fps, 24.0);
    EXPECT_EQ(job.settings.downsample, 1);
    EXPECT_EQ(job.settings.depth, 8);
    EXPECT_FALSE(job.settings.legacy);
    EXPECT_FALSE(job.settings.rect);
    EXPECT_FALSE(job.settings.positionX);
    EXPECT_FALSE(job.settings.detail);
    EXPECT_GE(job.threads, 1);
    EXPECT_TRUE(job.outputPattern.empty());
}

TEST(CommandLine, NonFiniteControlValuesPassThrough) {
    const Parsed p = Parse({"render", "--detail", "nan", "--speed", "inf", "--offset=-inf"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_TRUE(std::isnan(*p.line->render.settings.detail));
    EXPECT_EQ(*p.line->render.settings.speed, INFINITY);
    EXPECT_EQ(*p.line->render.settings.offset, -INFINITY);
}

class UsageError : public testing::TestWithParam<std::vector<const char*>> {};

TEST_P(UsageError, ExitsWithTwoAndSaysWhy) {
    const Parsed p = Parse(GetParam());
    EXPECT_FALSE(p.line);
    EXPECT_EQ(p.exitCode, 2);
    EXPECT_FALSE(p.err.empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, UsageError,
    testing::Values(std::vector<const char*>{}, std::vector<const char*>{"paint"},
                    std::vector<const char*>{"render", "--size", "big"},
                    std::vector<const char*>{"render", "--depth", "12"},
                    std::vector<const char*>{"render", "--fps", "0"},
                    std::vector<const char*>{"render", "--downsample", "0"},
                    std::vector<const char*>{"render", "--threads", "0"},
                    std::vector<const char*>{"render", "--detail", "lots"},
                    std::vector<const char*>{"render", "--legacy", "--depth", "32"},
                    std::vector<const char*>{"render", "--host-gpu"},
                    std::vector<const char*>{"render", "--host-gpu", "--depth", "16"},
                    std::vector<const char*>{"render", "--gpu-rounds", "3", "--depth", "32"},
                    std::vector<const char*>{"render", "--host-gpu", "--depth", "32",
                                             "--gpu-rounds", "0"},
                    std::vector<const char*>{"render", "--abandon-after", "0"},
                    std::vector<const char*>{"render", "-o", "frame.png"},
                    std::vector<const char*>{"render", "-o", "frame_####.jpg"},
                    std::vector<const char*>{"render", "--contact-sheet", "sheet.gif"},
                    std::vector<const char*>{"bench", "--repeat", "0"}));

TEST(CommandLine, UsageErrorNamesTheOption) {
    const Parsed p = Parse({"render", "--size", "12"});
    EXPECT_NE(p.err.find("--size"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("WxH"), std::string::npos) << p.err;
}

TEST(CommandLine, HostGpuTakesRoundsAt32Bits) {
    const Parsed p = Parse({"render", "--host-gpu", "--depth", "32", "--gpu-rounds", "4"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_TRUE(p.line->render.hostGpu);
    EXPECT_EQ(p.line->render.gpuRounds, 4);
}

TEST(CommandLine, OneFrameNeedsNoFrameNumberInTheName) {
    const Parsed p = Parse({"render", "--frames", "5", "-o", "still.pam"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_EQ(p.line->render.firstFrame, 5);
    EXPECT_EQ(p.line->render.lastFrame, 5);
}

TEST(CommandLine, HelpEndsWithSuccess) {
    const Parsed p = Parse({"render", "--help"});
    EXPECT_FALSE(p.line);
    EXPECT_EQ(p.exitCode, 0);
    EXPECT_NE(p.out.find("--emitter-size"), std::string::npos);
}

TEST(CommandLine, StripAndAnimationUsageErrorsSayWhy) {
    const struct {
        std::vector<const char*> args;
        const char* says;
    } cases[] = {
        {{"strip", "--param", "heat", "--values", "1", "-o", "s.png"},
         "unknown parameter 'heat' (use position-x, position-y, emitter-size, detail, softness"},
        {{"strip", "--param", "detail", "--values", "", "-o", "s.png"}, "at least one value"},
        {{"strip", "--param", "detail", "--values", "2,1", "-o", "s.png"}, "must increase"},
        {{"strip", "--param", "detail", "--values", "1,1", "-o", "s.png"}, "must increase"},
        {{"strip", "--param", "detail", "--values", "1,,2", "-o", "s.png"}, "got ''"},
        {{"strip", "--param", "detail", "--values", "0,1,2,3,4,5,6,7,8,9,10,11,12", "-o", "s.png"},
         "at most 12 values, got 13"},
        {{"strip", "--param", "detail", "--values", "1", "-o", "s.gif"}, "unknown file type"},
        {{"render", "--frames", "1-1001", "-o", "clip.webp"},
         "at most 1000 frames; --frames asks for 1001"},
        {{"render", "--size", "16384x8", "-o", "clip.webp"}, "at most 16383 pixels"},
        {{"render", "-o", "clip_####.webp"}, "drop the #"},
        {{"render", "--frames", "1-1001", "--contact-sheet", "s.png"}, "at most 1000 frames"},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.args);
        EXPECT_EQ(p.exitCode, 2) << c.says;
        EXPECT_NE(p.err.find(c.says), std::string::npos) << p.err;
    }
}

// What would overflow the strip's sheet is a usage error that names its limit. A long label
// once sized the sheet in int and drew past its end.
TEST(CommandLine, StripSizesPastTheLimitsAreRefused) {
    const std::string longLabel = "1." + std::string(100000, '0');
    const std::string values = longLabel + ",2";
    const struct {
        std::vector<const char*> args;
        const char* says;
    } cases[] = {
        {{"strip", "--param", "detail", "--values", values.c_str(), "--size", "64x16000", "-o",
          "s.png"},
         "at most 32 characters"},
        {{"strip", "--param", "detail", "--values", "1,2", "--size", "30000x30000", "-o", "s.png"},
         "at most 134217728 pixels"},
        {{"strip", "--param", "detail", "--values", "0,1,2,3,4,5,6,7,8,9,10,11", "--size",
          "3500x3500", "-o", "s.png"},
         "at most 134217728 pixels"},
        {{"strip", "--param", "detail", "--values", "0,1,2,3,4,5", "--size", "3000x30", "-o",
          "s.webp"},
         "at most 16383 pixels wide and high (6 values at 3000x30)"},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.args);
        EXPECT_EQ(p.exitCode, 2) << c.says;
        EXPECT_NE(p.err.find(c.says), std::string::npos) << p.err.substr(0, 300);
    }
    const Parsed atLimit =
        Parse({"strip", "--param", "detail", "--values", "1.000000000000000000000000000000,2",
               "--size", "3000x3000", "-o", "s.png"});
    EXPECT_TRUE(atLimit.line) << atLimit.err;
}

TEST(CommandLine, StripValuesAndAnimatedOutput) {
    Parsed p = Parse({"strip", "--param", "position-y", "--values=-10,5.50,1e2", "-o", "s.png"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_EQ(p.line->command, Subcommand::kStrip);
    EXPECT_STREQ(p.line->strip.parameter->name, "position-y");
    EXPECT_EQ(p.line->strip.values, (std::vector<double>{-10.0, 5.5, 100.0}));
    EXPECT_EQ(p.line->strip.labels, (std::vector<std::string>{"-10", "5.50", "1e2"}));
    RenderSettings settings;
    SetStripValue(*p.line->strip.parameter, 5.5, &settings);
    EXPECT_EQ(settings.positionY, 5.5);
    EXPECT_FALSE(settings.positionX);

    p = Parse({"render", "--frames", "1-1000", "-o", "clip.WebP"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_TRUE(WritesAnimation(p.line->render));
}

TEST(CommandLine, BenchDefaultsAndOptions) {
    Parsed p = Parse({"bench"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_EQ(p.line->command, Subcommand::kBench);
    EXPECT_EQ(p.line->bench.width, 1920);
    EXPECT_EQ(p.line->bench.height, 1080);
    p = Parse({"bench", "--size", "64x32", "--repeat", "3"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_EQ(p.line->bench.width, 64);
    EXPECT_EQ(p.line->bench.repeat, 3);
    EXPECT_EQ(p.line->bench.depth, 8);
    p = Parse({"bench", "--depth", "16"});
    ASSERT_TRUE(p.line) << p.err;
    EXPECT_EQ(p.line->bench.depth, 16);
    EXPECT_FALSE(Parse({"bench", "--depth", "12"}).line);
}

}  // namespace
}  // namespace pyrix::preview
