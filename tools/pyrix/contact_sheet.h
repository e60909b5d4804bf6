// A grid of small frames with their numbers, to see a clip's animation at a glance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

struct Thumbnail {
    int32_t frame = 0;
    FrameImage image;  // 8 bits per channel
};

// Most frames a sheet shows: its thumbnails wait in memory until the last frame, and the sheet
// stays a picture (125 rows of 8).
constexpr int32_t kMaxContactSheetFrames = 1000;

struct ContactSheetLayout {
    int32_t columns = 8;     // at most this many frames a row
    int32_t gap = 8;         // pixels around and between cells
    int32_t digitScale = 2;  // the label font is 3 x 5 pixels, times this
};

// `frame` scaled down by an area average to fit in maxWidth x maxHeight (never up), as 8 bits.
FrameImage MakeThumbnail(const FrameImage& frame, int32_t maxWidth, int32_t maxHeight);

// Thumbnails in frame order, row by row, each over a dark background with its frame number
// below it. All cells take the size of the largest thumbnail. 8 bits per channel, opaque.
FrameImage ComposeContactSheet(std::vector<Thumbnail> thumbnails,
                               const ContactSheetLayout& layout = {});

// The label font, 3 x 5 pixels: bit (2 - column) of row `row` (0..4) is set where the glyph
// has ink. Digits, letters (lower case drawn as upper case), space and . , - : = ( ); any
// other character is blank.
uint8_t GlyphRow(char c, int row);
uint8_t DigitGlyphRow(int digit, int row);

// What the contact sheet and the parameter strip are drawn with.
constexpr uint8_t kSheetBackground = 24;
// An opaque sheet of the background grey.
FrameImage BlankSheet(int32_t width, int32_t height);
// Both draw only what lies on the sheet, cut at its edges.
// `image` (8 bits, straight alpha) over the sheet's background, its top left at (left, top).
void PlaceOnSheet(FrameImage* sheet, int32_t left, int32_t top, const FrameImage& image);
// `text` in the label font, `scale` pixels a font pixel, its top left at (left, top).
void DrawLabel(FrameImage* sheet, int32_t left, int32_t top, const std::string& text,
               int32_t scale);

}  // namespace pyrix::preview
