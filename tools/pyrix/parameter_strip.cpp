#include "tools/pyrix/parameter_strip.h"

#include <algorithm>

#include "tools/pyrix/contact_sheet.h"

namespace pyrix::preview {

FrameImage ComposeParameterStrip(const std::string& title, const std::vector<StripCell>& cells,
                                 const StripLayout& layout) {
    const int32_t lineHeight = 7 * layout.scale;  // 5 rows of the font and 2 of space
    int32_t cellWidth = 1;
    int32_t cellHeight = 1;
    for (const StripCell& cell : cells) {
        cellWidth = std::max({cellWidth, cell.image.width, LabelWidth(cell.label, layout.scale)});
        cellHeight = std::max(cellHeight, cell.image.height);
    }
    const auto count = static_cast<int32_t>(cells.size());
    const int32_t width = std::max(layout.gap + count * (cellWidth + layout.gap),
                                   2 * layout.gap + LabelWidth(title, layout.scale));
    const int32_t top = layout.gap + lineHeight;
    FrameImage strip = BlankSheet(width, top + cellHeight + lineHeight + layout.gap);
    DrawLabel(&strip, layout.gap, layout.gap, title, layout.scale);
    for (int32_t i = 0; i < count; ++i) {
        const StripCell& cell = cells[static_cast<size_t>(i)];
        const int32_t left = layout.gap + i * (cellWidth + layout.gap);
        PlaceOnSheet(&strip, left, top, cell.image);
        DrawLabel(&strip, left, top + cell.image.height + layout.scale, cell.label, layout.scale);
    }
    return strip;
}

}  // namespace pyrix::preview
