#include "tools/pyrix/contact_sheet.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tools/pyrix/parameter_strip.h"

namespace pyrix::preview {
namespace {

FrameImage Solid(int32_t width, int32_t height, uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
    FrameImage image = FrameImage::Blank(width, height, 8);
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        image.pixels[i] = a;
        image.pixels[i + 1] = r;
        image.pixels[i + 2] = g;
        image.pixels[i + 3] = b;
    }
    return image;
}

const uint8_t* Pixel(const FrameImage& image, int32_t x, int32_t y) {
    return image.row(y) + 4 * static_cast<size_t>(x);
}

TEST(Thumbnail, AveragesAreasAndKeepsTheAspect) {
    // Left half black, right half white, 16-bit input: a 2x1 thumbnail keeps the two halves.
    FrameImage frame = FrameImage::Blank(8, 4, 16);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            const uint16_t v = x < 4 ? 0 : 32768;
            const uint16_t argb[4] = {32768, v, v, v};
            std::memcpy(frame.row(y) + 8 * x, argb, 8);
        }
    }
    const FrameImage thumb = MakeThumbnail(frame, 2, 100);
    ASSERT_EQ(thumb.width, 2);
    ASSERT_EQ(thumb.height, 1);
    EXPECT_EQ(thumb.depth, 8);
    EXPECT_EQ(Pixel(thumb, 0, 0)[1], 0);
    EXPECT_EQ(Pixel(thumb, 1, 0)[1], 255);
    EXPECT_EQ(Pixel(thumb, 1, 0)[0], 255);

    // A checkerboard averages to grey.
    FrameImage checker = Solid(4, 4, 255, 0, 0, 0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = (y & 1); x < 4; x += 2) checker.row(y)[4 * x + 1] = 255;
    }
    EXPECT_EQ(Pixel(MakeThumbnail(checker, 1, 1), 0, 0)[1], 128);
}

TEST(Thumbnail, NeverScalesUp) {
    const FrameImage thumb = MakeThumbnail(Solid(5, 3, 255, 1, 2, 3), 100, 100);
    EXPECT_EQ(thumb.width, 5);
    EXPECT_EQ(thumb.height, 3);
    EXPECT_EQ(thumb.pixels, Solid(5, 3, 255, 1, 2, 3).pixels);
}

// Counts the ink pixels of the label area below a cell.
int InkIn(const FrameImage& sheet, int32_t left, int32_t top, int32_t width, int32_t height) {
    int ink = 0;
    for (int32_t y = top; y < top + height; ++y) {
        for (int32_t x = left; x < left + width; ++x) ink += Pixel(sheet, x, y)[1] > 200;
    }
    return ink;
}

int GlyphInk(int digit) {
    int ink = 0;
    for (int row = 0; row < 5; ++row) ink += __builtin_popcount(DigitGlyphRow(digit, row));
    return ink;
}

TEST(ContactSheet, GridInFrameOrderWithNumbers) {
    ContactSheetLayout layout;
    layout.columns = 2;
    layout.gap = 4;
    layout.digitScale = 1;
    std::vector<Thumbnail> thumbs;
    // Given out of order; colours tell them apart.
    thumbs.push_back({12, Solid(10, 6, 255, 0, 0, 200)});
    thumbs.push_back({3, Solid(10, 6, 255, 0, 100, 0)});
    thumbs.push_back({7, Solid(10, 6, 255, 50, 0, 0)});
    const FrameImage sheet = ComposeContactSheet(thumbs, layout);

    const int32_t labelHeight = 7;  // 5 rows of glyph plus 2 of spacing
    const int32_t pitchX = 10 + 4, pitchY = 6 + labelHeight + 4;
    EXPECT_EQ(sheet.width, 4 + 2 * pitchX);
    EXPECT_EQ(sheet.height, 4 + 2 * pitchY);
    EXPECT_EQ(Pixel(sheet, 4, 4)[2], 100);           // frame 3 first
    EXPECT_EQ(Pixel(sheet, 4 + pitchX, 4)[1], 50);   // then 7
    EXPECT_EQ(Pixel(sheet, 4, 4 + pitchY)[3], 200);  // then 12, on the next row
    EXPECT_EQ(Pixel(sheet, 0, 0)[1], Pixel(sheet, sheet.width - 1, sheet.height - 1)[1]);
    EXPECT_EQ(Pixel(sheet, 2 * pitchX, 2 * pitchY)[0], 255);  // opaque everywhere

    EXPECT_EQ(InkIn(sheet, 4, 4 + 6, 10, labelHeight), GlyphInk(3));
    EXPECT_EQ(InkIn(sheet, 4 + pitchX, 4 + 6, 10, labelHeight), GlyphInk(7));
    EXPECT_EQ(InkIn(sheet, 4, 4 + pitchY + 6, 10, labelHeight), GlyphInk(1) + GlyphInk(2));
    EXPECT_EQ(InkIn(sheet, 4 + pitchX, 4 + pitchY, 10, pitchY - 4), 0);  // the empty cell
}

TEST(ContactSheet, TransparentPixelsShowTheBackground) {
    std::vector<Thumbnail> thumbs = {{1, Solid(4, 4, 0, 255, 255, 255)}};
    const FrameImage sheet = ComposeContactSheet(thumbs);
    EXPECT_EQ(Pixel(sheet, 8, 8)[1], Pixel(sheet, 0, 0)[1]);
}

TEST(ContactSheet, WideNumbersFitTheirCell) {
    ContactSheetLayout layout;
    layout.digitScale = 3;
    std::vector<Thumbnail> thumbs = {{1000000, Solid(2, 2, 255, 0, 0, 0)},
                                     {2, Solid(2, 2, 255, 0, 0, 0)}};
    const FrameImage sheet = ComposeContactSheet(thumbs, layout);
    EXPECT_GE(sheet.width, layout.gap + 2 * (7 * 4 * 3 + layout.gap));
}

TEST(ParameterStrip, CellsLeftToRightUnderTheTitleWithTheirValues) {
    const FrameImage strip = ComposeParameterStrip(
        "Detail", {{"1", Solid(10, 6, 255, 200, 0, 0)}, {"2.5", Solid(10, 6, 255, 0, 200, 0)}});
    // Cells as wide as the widest label ("2.5": 11 font pixels of 2), gaps of 8, text lines 14.
    EXPECT_EQ(strip.width, 8 + 2 * (22 + 8));
    EXPECT_EQ(strip.height, 8 + 14 + 6 + 14 + 8);
    EXPECT_EQ(Pixel(strip, 8, 22)[1], 200);
    EXPECT_EQ(Pixel(strip, 38, 22)[2], 200);
    EXPECT_EQ(Pixel(strip, 48, 22)[1], kSheetBackground);  // beyond the second image
    const auto inkIn = [&](int32_t left, int32_t top, int32_t width) {
        int ink = 0;
        for (int32_t y = top; y < top + 10; ++y) {
            for (int32_t x = left; x < left + width; ++x) ink += Pixel(strip, x, y)[1] == 230;
        }
        return ink;
    };
    EXPECT_GT(inkIn(8, 8, 46), 0);    // the title
    EXPECT_GT(inkIn(38, 30, 22), 0);  // "2.5" below the second cell
    EXPECT_EQ(GlyphRow('d', 0), GlyphRow('D', 0));
    EXPECT_EQ(GlyphRow('?', 2), 0);
}

// Drawing stays inside the sheet: a label or picture past an edge is cut, never wrapped into
// the next row or written beyond the pixels.
TEST(ParameterStrip, DrawingIsCutAtTheSheetsEdges) {
    FrameImage sheet = BlankSheet(10, 6);
    DrawLabel(&sheet, 8, 4, "88", 1);  // "8" is 3 x 5 with ink in every column of its top row
    PlaceOnSheet(&sheet, -2, 4, Solid(4, 4, 255, 200, 0, 0));
    EXPECT_EQ(Pixel(sheet, 9, 4)[1], 230);
    EXPECT_EQ(Pixel(sheet, 1, 5)[1], 200);
    EXPECT_EQ(Pixel(sheet, 2, 5)[1], kSheetBackground);  // where a wrapped "8" would land
    EXPECT_EQ(Pixel(sheet, 0, 0)[1], kSheetBackground);
    EXPECT_EQ(sheet.pixels.size(), 4u * 10 * 6);
}

// The sheet is measured in 64 bits, and a strip past the limit is refused before it is made.
TEST(ParameterStrip, SizesAreMeasuredAndBounded) {
    StripLayout layout;
    layout.scale = 500;
    const StripSize huge = MeasureParameterStrip(6, 12, 100000, 16, 30000, layout);
    EXPECT_EQ(huge.width, 8 + 12 * ((4 * int64_t{100000} - 1) * 500 + 8));
    EXPECT_EQ(huge.height, 8 + 3500 + 30000 + 3500 + 8);
    EXPECT_THROW(
        ComposeParameterStrip("Detail", {{std::string(33, '1'), Solid(1, 1, 255, 0, 0, 0)}}),
        std::length_error);
    EXPECT_THROW(ComposeParameterStrip("Detail", {{"1", Solid(1, 1, 255, 0, 0, 0)}}, layout),
                 std::length_error);
    EXPECT_EQ(StripLabelScale(180), 3);
    EXPECT_EQ(StripLabelScale(30000), kMaxStripLabelScale);
    EXPECT_EQ(StripLabelScale(1), 2);
}

}  // namespace
}  // namespace pyrix::preview
