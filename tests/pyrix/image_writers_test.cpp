#include "tools/pyrix/image_writers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "image_reader.h"
#include "test_support.h"

namespace pyrix::preview {
namespace {

// The value a file should hold for a host sample, given the file's sample kind.
double Expected(double host, int32_t depth, int32_t fileBits) {
    const double unit = depth == 8 ? host / 255.0 : depth == 16 ? host / 32768.0 : host;
    if (fileBits == 32) return unit;
    const double clamped = std::min(1.0, std::max(0.0, unit));
    if (fileBits == 8) {
        if (depth == 8) return host;
        if (depth == 16) return std::floor((host * 255 + 16384) / 32768);
        return std::floor(static_cast<float>(clamped) * 255.0f + 0.5f);
    }
    if (depth == 8) return host * 257;
    if (depth == 16) return std::floor((host * 65535 + 16384) / 32768);
    return std::floor(static_cast<float>(clamped) * 65535.0f + 0.5f);
}

struct WriterCase {
    const char* extension;
    int32_t depth;
    int32_t fileBits;
};

class WriterRoundTrip : public testing::TestWithParam<WriterCase> {};

TEST_P(WriterRoundTrip, FileHoldsEverySampleInRgbaOrder) {
    const WriterCase c = GetParam();
    TempFolder folder;
    const std::string path = folder.file(std::string("frame") + c.extension);
    const FrameImage frame = MakeTestFrame(37, 11, c.depth);
    WriteImageFile(path, frame);

    const DecodedImage image = ReadImage(path);
    ASSERT_EQ(image.width, 37);
    ASSERT_EQ(image.height, 11);
    ASSERT_EQ(image.bits, c.fileBits);
    constexpr int kHostChannelOf[4] = {1, 2, 3, 0};  // RGBA from ARGB
    for (int32_t y = 0; y < 11; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            for (int ch = 0; ch < 4; ++ch) {
                const double host = HostSampleAt(x, y, kHostChannelOf[ch], c.depth);
                ASSERT_NEAR(image.at(x, y, ch), Expected(host, c.depth, c.fileBits), 1e-6)
                    << "x " << x << " y " << y << " channel " << ch;
            }
        }
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{std::string("frame") + c.extension});
}

INSTANTIATE_TEST_SUITE_P(FormatsAndDepths, WriterRoundTrip,
                         testing::Values(WriterCase{".png", 8, 8}, WriterCase{".png", 16, 16},
                                         WriterCase{".png", 32, 16}, WriterCase{".pam", 8, 8},
                                         WriterCase{".pam", 16, 16}, WriterCase{".pam", 32, 16},
                                         WriterCase{".exr", 8, 32}, WriterCase{".exr", 16, 32},
                                         WriterCase{".exr", 32, 32}, WriterCase{".rgba32f", 8, 32},
                                         WriterCase{".rgba32f", 16, 32},
                                         WriterCase{".rgba32f", 32, 32}),
                         [](const testing::TestParamInfo<WriterCase>& param) {
                             return std::string(param.param.extension + 1) + "_from_" +
                                    std::to_string(param.param.depth);
                         });

TEST(Writers, SixteenBitFullScaleBecomesFileFullScale) {
    TempFolder folder;
    FrameImage frame = FrameImage::Blank(2, 1, 16);
    const uint16_t samples[8] = {32768, 32768, 16384, 0, 40000, 1, 2, 3};  // 40000: over range
    std::memcpy(frame.pixels.data(), samples, sizeof samples);
    WriteImageFile(folder.file("f.png"), frame);
    const DecodedImage image = ReadImage(folder.file("f.png"));
    EXPECT_EQ(image.at(0, 0, 3), 65535);  // alpha
    EXPECT_EQ(image.at(0, 0, 0), 65535);
    EXPECT_EQ(image.at(0, 0, 1), 32768);  // half scale, rounded
    EXPECT_EQ(image.at(0, 0, 2), 0);
    EXPECT_EQ(image.at(1, 0, 3), 65535);  // clamped, not wrapped
}

TEST(Writers, NonFiniteFloatsBecomeZeroInIntegerFiles) {
    TempFolder folder;
    FrameImage frame = FrameImage::Blank(1, 1, 32);
    const float argb[4] = {INFINITY, NAN, -INFINITY, 2.0f};
    std::memcpy(frame.pixels.data(), argb, sizeof argb);
    WriteImageFile(folder.file("f.pam"), frame);
    const DecodedImage image = ReadImage(folder.file("f.pam"));
    EXPECT_EQ(image.at(0, 0, 0), 0);
    EXPECT_EQ(image.at(0, 0, 1), 0);
    EXPECT_EQ(image.at(0, 0, 2), 65535);
    EXPECT_EQ(image.at(0, 0, 3), 0);
}

TEST(Writers, FailureLeavesNothingBehind) {
    TempFolder folder;
    const FrameImage frame = MakeTestFrame(4, 4, 8);
    for (const char* name : {"missing/f.png", "missing/f.exr", "missing/f.pam"}) {
        EXPECT_THROW(WriteImageFile(folder.file(name), frame), std::runtime_error) << name;
    }
    EXPECT_TRUE(folder.names().empty());
    // A target that is a folder: the data is written, the rename fails, the temporary goes.
    std::filesystem::create_directory(folder.path() / "busy.pam");
    std::filesystem::create_directory(folder.path() / "busy.pam" / "x");
    try {
        WriteImageFile(folder.file("busy.pam"), frame);
        ADD_FAILURE() << "writing over a folder should fail";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("busy.pam"), std::string::npos) << e.what();
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"busy.pam"});
}

TEST(Writers, ReplacesAnOlderFileWhole) {
    TempFolder folder;
    WriteImageFile(folder.file("f.pam"), MakeTestFrame(50, 50, 16));
    WriteImageFile(folder.file("f.pam"), MakeTestFrame(3, 2, 8));
    const DecodedImage image = ReadImage(folder.file("f.pam"));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.bits, 8);
}

TEST(Writers, FormatsByExtension) {
    EXPECT_EQ(FormatForPath("a/b.PNG"), ImageFormat::kPng);
    EXPECT_EQ(FormatForPath("x.exr"), ImageFormat::kExr);
    EXPECT_EQ(FormatForPath("x.pam"), ImageFormat::kPam);
    EXPECT_EQ(FormatForPath("x.rgba32f"), ImageFormat::kRgba32f);
    EXPECT_FALSE(FormatForPath("x.jpg"));
    EXPECT_FALSE(FormatForPath("png"));
    EXPECT_THROW(WriteImageFile("x.tif", MakeTestFrame(1, 1, 8)), std::runtime_error);
}

TEST(FramePattern, ReplacesTheFirstRunOfHashes) {
    EXPECT_EQ(ExpandFramePattern("out/frame_####.png", 7), "out/frame_0007.png");
    EXPECT_EQ(ExpandFramePattern("f##.pam", 123), "f123.pam");
    EXPECT_EQ(ExpandFramePattern("f####.pam", 123456), "f123456.pam");
    EXPECT_EQ(ExpandFramePattern("a#b#.pam", 3), "a3b#.pam");
    EXPECT_EQ(ExpandFramePattern("still.png", 3), "still.png");
}

}  // namespace
}  // namespace pyrix::preview
