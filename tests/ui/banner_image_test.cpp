// The banner image compiled into the library, and its picture in docs/.
#include "resources/banner_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#ifdef PYRIX_HAVE_PNG
#include <png.h>
#endif

namespace pyrix {

namespace {

uint8_t Grey(int x, int y) {
    return kBannerImage[static_cast<std::size_t>(y) * kBannerRowBytes + x * 4];
}

TEST(BannerImage, IsOpaqueGreyBgraOfTheStatedSize) {
    EXPECT_EQ(kBannerWidth, 960);
    EXPECT_EQ(kBannerHeight, 240);
    EXPECT_EQ(kBannerRowBytes, 3840);
    EXPECT_EQ(sizeof kBannerImage, 921600u);
    for (std::size_t i = 0; i < sizeof kBannerImage; i += 4) {
        ASSERT_EQ(kBannerImage[i + 3], 255) << "pixel " << i / 4;
        ASSERT_EQ(kBannerImage[i], kBannerImage[i + 1]) << "pixel " << i / 4;
        ASSERT_EQ(kBannerImage[i], kBannerImage[i + 2]) << "pixel " << i / 4;
    }
}

// Dark ground with bright shapes: the flame on the left and the name across the rest.
TEST(BannerImage, ShowsBrightShapesOnADarkGround) {
    int corner_max = 0;
    for (int y = 0; y < 12; ++y) {
        for (int x = kBannerWidth - 12; x < kBannerWidth; ++x)
            corner_max = std::max<int>(corner_max, Grey(x, y));
    }
    EXPECT_LT(corner_max, 60);

    auto bright_columns = [](int from, int to) {
        int columns = 0;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < kBannerHeight; ++y) {
                if (Grey(x, y) > 200) {
                    ++columns;
                    break;
                }
            }
        }
        return columns;
    };
    EXPECT_GT(bright_columns(0, 240), 20) << "flame";
    EXPECT_GT(bright_columns(240, kBannerWidth), 200) << "name";
}

#ifdef PYRIX_HAVE_PNG
TEST(BannerImage, DocsPictureIsTheCompiledImage) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, PYRIX_SOURCE_DIR "/docs/banner.png"))
        << image.message;
    image.format = PNG_FORMAT_GRAY;
    ASSERT_EQ(image.width, static_cast<png_uint_32>(kBannerWidth));
    ASSERT_EQ(image.height, static_cast<png_uint_32>(kBannerHeight));
    std::vector<uint8_t> grey(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, grey.data(), 0, nullptr)) << image.message;
    for (int y = 0; y < kBannerHeight; ++y) {
        for (int x = 0; x < kBannerWidth; ++x) {
            ASSERT_EQ(grey[static_cast<std::size_t>(y) * kBannerWidth + x], Grey(x, y))
                << "docs/banner.png is stale at (" << x << ", " << y
                << "); refresh it with the target pyrix_banner_png";
        }
    }
}
#endif

}  // namespace

}  // namespace pyrix
