#include "ui/about_layout.h"

#include <algorithm>
#include <limits>

namespace pyrix {

uint8_t HostChannelTo8Bit(uint16_t value) {
    return static_cast<uint8_t>((static_cast<uint32_t>(value) + 128u) / 257u);
}

ColorRef HostColorToColorRef(uint16_t red, uint16_t green, uint16_t blue) {
    return MakeColorRef(HostChannelTo8Bit(red), HostChannelTo8Bit(green), HostChannelTo8Bit(blue));
}

int32_t MulDivRounded(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t numerator = static_cast<int64_t>(a) * b;
    int64_t divisor = c;
    if (divisor < 0) {
        numerator = -numerator;
        divisor = -divisor;
    }
    // Half the divisor towards the result's sign, then division truncating towards zero.
    const int64_t half = divisor / 2;
    const int64_t result = (numerator >= 0 ? numerator + half : numerator - half) / divisor;
    if (result > std::numeric_limits<int32_t>::max() ||
        result < -std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return static_cast<int32_t>(result);
}

LayoutPoint PlaceDialog(int32_t width, int32_t height, const LayoutRect& owner,
                        const LayoutRect& workArea) {
    // 64-bit sums: window coordinates near the 32-bit limits must not overflow.
    const int64_t cx = (int64_t{owner.left} + owner.right - width) / 2;
    const int64_t cy = (int64_t{owner.top} + owner.bottom - height) / 2;
    const int64_t maxX = std::max<int64_t>(workArea.left, int64_t{workArea.right} - width);
    const int64_t maxY = std::max<int64_t>(workArea.top, int64_t{workArea.bottom} - height);
    return {static_cast<int32_t>(std::clamp<int64_t>(cx, workArea.left, maxX)),
            static_cast<int32_t>(std::clamp<int64_t>(cy, workArea.top, maxY))};
}

ButtonMetrics ButtonMetricsForDpi(int32_t dpi) {
    const int32_t penWidth = MulDivRounded(1, dpi, 96);
    return {penWidth, MulDivRounded(8, dpi, 96), penWidth / 2};
}

ButtonColors ButtonColorsForState(unsigned itemState) {
    const bool pressed = (itemState & kItemStateSelected) != 0;
    const bool focusShown =
        (itemState & kItemStateFocus) != 0 && (itemState & kItemStateNoFocusRect) == 0;
    const bool disabled = (itemState & kItemStateDisabled) != 0;
    return {pressed ? kButtonPressedFaceColor : kButtonFaceColor,
            focusShown ? kButtonFocusBorderColor : kButtonBorderColor,
            disabled ? kButtonDisabledTextColor : kButtonTextColor};
}

int32_t TitleFontHeight(int32_t dialogFontHeight) {
    return MulDivRounded(dialogFontHeight, 10, 8);
}

}  // namespace pyrix
