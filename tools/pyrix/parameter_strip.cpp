#include "tools/pyrix/parameter_strip.h"

#include <algorithm>
#include <stdexcept>

#include "tools/pyrix/contact_sheet.h"

namespace pyrix::preview {
namespace {

// The label font: 3 pixels a character and 1 between, times the scale. Lengths past any limit
// are held at one past it, so that the products below stay far inside 64 bits.
int64_t LabelWidth64(size_t length, int32_t scale) {
    const auto held = static_cast<int64_t>(std::min<size_t>(length, size_t{1} << 32));
    return held == 0 ? 0 : (4 * held - 1) * scale;
}

}  // namespace

int32_t StripLabelScale(int32_t layerHeight) {
    return std::clamp(layerHeight / 60, 2, kMaxStripLabelScale);
}

StripSize MeasureParameterStrip(size_t titleLength, size_t count, size_t labelLength,
                                int32_t imageWidth, int32_t imageHeight,
                                const StripLayout& layout) {
    const int64_t gap = layout.gap;
    const int64_t lineHeight = 7 * int64_t{layout.scale};  // 5 rows of the font and 2 of space
    const int64_t cellWidth =
        std::max({int64_t{1}, int64_t{imageWidth}, LabelWidth64(labelLength, layout.scale)});
    const int64_t cellHeight = std::max(int64_t{1}, int64_t{imageHeight});
    const auto cells = static_cast<int64_t>(std::min<size_t>(count, size_t{1} << 16));
    StripSize size;
    size.cellWidth = cellWidth;
    size.width = std::max(gap + cells * (cellWidth + gap),
                          2 * gap + LabelWidth64(titleLength, layout.scale));
    size.height = gap + lineHeight + cellHeight + lineHeight + gap;
    return size;
}

std::string StripLimitError(const StripSize& size, const StripLayout& layout) {
    if (layout.scale < 1 || layout.scale > kMaxStripLabelScale) {
        return "the label font's scale is 1 to " + std::to_string(kMaxStripLabelScale) + ", not " +
               std::to_string(layout.scale);
    }
    if (layout.gap < 0 || layout.gap > kMaxStripGap) {
        return "the gap is 0 to " + std::to_string(kMaxStripGap) + " pixels";
    }
    // Each side is below 2^33 (see LabelWidth64), so the product cannot wrap.
    if (size.width * size.height > kMaxStripPixels) {
        return "a strip is at most " + std::to_string(kMaxStripPixels) + " pixels; this one is " +
               std::to_string(size.width) + "x" + std::to_string(size.height);
    }
    return {};
}

FrameImage ComposeParameterStrip(const std::string& title, const std::vector<StripCell>& cells,
                                 const StripLayout& layout) {
    size_t labelLength = 0;
    int32_t imageWidth = 1;
    int32_t imageHeight = 1;
    for (const StripCell& cell : cells) {
        labelLength = std::max(labelLength, cell.label.size());
        imageWidth = std::max(imageWidth, cell.image.width);
        imageHeight = std::max(imageHeight, cell.image.height);
    }
    if (labelLength > kMaxStripLabelLength || title.size() > kMaxStripTitleLength) {
        throw std::length_error("a strip's labels are at most " +
                                std::to_string(kMaxStripLabelLength) + " characters, its title " +
                                std::to_string(kMaxStripTitleLength));
    }
    const StripSize size = MeasureParameterStrip(title.size(), cells.size(), labelLength,
                                                 imageWidth, imageHeight, layout);
    if (const std::string error = StripLimitError(size, layout); !error.empty()) {
        throw std::length_error(error);
    }
    const auto cellWidth = static_cast<int32_t>(size.cellWidth);
    const int32_t top = layout.gap + 7 * layout.scale;
    FrameImage strip =
        BlankSheet(static_cast<int32_t>(size.width), static_cast<int32_t>(size.height));
    DrawLabel(&strip, layout.gap, layout.gap, title, layout.scale);
    for (size_t i = 0; i < cells.size(); ++i) {
        const StripCell& cell = cells[i];
        const int32_t left = layout.gap + static_cast<int32_t>(i) * (cellWidth + layout.gap);
        PlaceOnSheet(&strip, left, top, cell.image);
        DrawLabel(&strip, left, top + cell.image.height + layout.scale, cell.label, layout.scale);
    }
    return strip;
}

}  // namespace pyrix::preview
