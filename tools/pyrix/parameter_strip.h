// One parameter over several values, side by side in one labelled image: its name above, each
// frame's value below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pyrix/frame_image.h"

namespace pyrix::preview {

struct StripCell {
    std::string label;  // the value as the user wrote it
    FrameImage image;   // 8 bits per channel
};

struct StripLayout {
    int32_t gap = 8;    // pixels around and between cells
    int32_t scale = 2;  // the label font is 3 x 5 pixels, times this
};

// What a strip may ask for, so that no command line sizes a sheet past memory: a value's label
// of this many characters, a title of the host's 31 and an axis, a font at most this scale and
// a sheet of at most this many pixels (512 MiB at 8 bits).
constexpr size_t kMaxStripLabelLength = 32;
constexpr size_t kMaxStripTitleLength = 34;
constexpr int32_t kMaxStripLabelScale = 8;
constexpr int32_t kMaxStripGap = 64;
constexpr int64_t kMaxStripPixels = int64_t{1} << 27;

// The label font's scale for frames `layerHeight` high: readable when a strip of large frames
// is shown scaled down.
int32_t StripLabelScale(int32_t layerHeight);

struct StripSize {
    int64_t width = 0;
    int64_t height = 0;
    int64_t cellWidth = 0;  // of each value's cell
};
// The size of a strip of `count` cells, images at most imageWidth x imageHeight, labels at most
// labelLength characters, under a title of titleLength characters; in 64 bits, never wrapped.
StripSize MeasureParameterStrip(size_t titleLength, size_t count, size_t labelLength,
                                int32_t imageWidth, int32_t imageHeight, const StripLayout& layout);

// Why a strip of this size and layout is not made (the limit it passes), or empty.
std::string StripLimitError(const StripSize& size, const StripLayout& layout);

// The cells left to right under `title`, over the contact sheet's dark background. All cells
// take the size of the largest image (or label). 8 bits per channel, opaque. Throws
// std::length_error past the limits above.
FrameImage ComposeParameterStrip(const std::string& title, const std::vector<StripCell>& cells,
                                 const StripLayout& layout = {});

}  // namespace pyrix::preview
