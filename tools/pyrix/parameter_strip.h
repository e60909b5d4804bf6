// One parameter over several values, side by side in one labelled image: its name above, each
// frame's value below it.
#pragma once

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

// The cells left to right under `title`, over the contact sheet's dark background. All cells
// take the size of the largest image (or label). 8 bits per channel, opaque.
FrameImage ComposeParameterStrip(const std::string& title, const std::vector<StripCell>& cells,
                                 const StripLayout& layout = {});

}  // namespace pyrix::preview
