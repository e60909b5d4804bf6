// The arithmetic of the About dialog, kept apart from the window system so that it is the same
// code on every platform and can be tested without one.
#pragma once

#include <cstdint>

namespace pyrix {

// 0x00BBGGRR, the platform's COLORREF.
using ColorRef = uint32_t;

constexpr ColorRef MakeColorRef(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<ColorRef>(red) | (static_cast<ColorRef>(green) << 8) |
           (static_cast<ColorRef>(blue) << 16);
}

// The dialog's colours (all grey).
inline constexpr ColorRef kDefaultBackgroundColor = MakeColorRef(32, 32, 32);
inline constexpr ColorRef kDefaultTextColor = MakeColorRef(195, 195, 195);
inline constexpr ColorRef kButtonFaceColor = MakeColorRef(14, 14, 14);
inline constexpr ColorRef kButtonPressedFaceColor = MakeColorRef(26, 26, 26);
inline constexpr ColorRef kButtonBorderColor = MakeColorRef(54, 54, 54);
inline constexpr ColorRef kButtonFocusBorderColor = MakeColorRef(105, 105, 105);
inline constexpr ColorRef kButtonTextColor = MakeColorRef(195, 195, 195);
inline constexpr ColorRef kButtonDisabledTextColor = MakeColorRef(115, 115, 115);

// Owner-drawn item states, under the platform's values.
inline constexpr unsigned kItemStateSelected = 0x0001;     // ODS_SELECTED
inline constexpr unsigned kItemStateDisabled = 0x0004;     // ODS_DISABLED
inline constexpr unsigned kItemStateFocus = 0x0010;        // ODS_FOCUS
inline constexpr unsigned kItemStateNoFocusRect = 0x0200;  // ODS_NOFOCUSRECT

// A host colour channel (0..65535) to 8 bits, rounded: 0 stays 0, 65535 becomes 255.
uint8_t HostChannelTo8Bit(uint16_t value);

// The host's three 16-bit channels as a COLORREF.
ColorRef HostColorToColorRef(uint16_t red, uint16_t green, uint16_t blue);

// a * b / c rounded half away from zero, computed without intermediate overflow; -1 when c is 0
// or the result does not fit 32 bits. The platform's MulDiv, as the dialog relies on it.
int32_t MulDivRounded(int32_t a, int32_t b, int32_t c);

struct LayoutRect {
    int32_t left, top, right, bottom;
};

struct LayoutPoint {
    int32_t x, y;
};

// Where a dialog of the given size goes: centred on its owner, then moved into the work area of
// the owner's monitor. A dialog larger than the work area sits at its left and top edges.
LayoutPoint PlaceDialog(int32_t width, int32_t height, const LayoutRect& owner,
                        const LayoutRect& workArea);

struct ButtonMetrics {
    int32_t penWidth;    // border pen
    int32_t cornerSize;  // width and height of the rounded corners
    int32_t inset;       // how far the border's rectangle lies inside the button's
};

// Sizes of the owner-drawn buttons at `dpi` (96 is 100 %).
ButtonMetrics ButtonMetricsForDpi(int32_t dpi);

struct ButtonColors {
    ColorRef face;
    ColorRef border;
    ColorRef text;
};

// The colours an owner-drawn item state selects.
ButtonColors ButtonColorsForState(unsigned itemState);

// The title's font height from the dialog font's (LOGFONT lfHeight, either sign): 1.25 times.
int32_t TitleFontHeight(int32_t dialogFontHeight);

}  // namespace pyrix
