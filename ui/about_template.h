// The About dialog template IDD_ABOUT as data. This table is the one description of the dialog:
// the resource script for the Windows build is generated from it (tools/about_rc), the dialog
// procedure takes its control ids from it, and the native tests check its encoded bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ui/about_text.h"

namespace pyrix {

// Resource and control ids.
constexpr int IDD_ABOUT = 16001;
constexpr int IDC_VISIT_WEBSITE = 1001;
constexpr int IDC_TITLE = 1002;
constexpr int kAboutCloseId = 2;           // IDCANCEL: Escape and the close box end it too
constexpr int kAboutStaticId = -1;         // statics that are never addressed
constexpr uint16_t kAboutLanguage = 1033;  // English (United States)

// Window style bits used by the template (WS_POPUP, DS_SETFONT, ...). Named apart from the
// platform's macros so that this header can follow <windows.h>; the Windows build checks them.
namespace dialog_style {
constexpr uint32_t kWsPopup = 0x80000000u;
constexpr uint32_t kWsChild = 0x40000000u;
constexpr uint32_t kWsVisible = 0x10000000u;
constexpr uint32_t kWsCaption = 0x00C00000u;
constexpr uint32_t kWsSysMenu = 0x00080000u;
constexpr uint32_t kWsGroup = 0x00020000u;
constexpr uint32_t kWsTabStop = 0x00010000u;
constexpr uint32_t kWsExControlParent = 0x00010000u;
constexpr uint32_t kDsSetFont = 0x00000040u;
constexpr uint32_t kDsModalFrame = 0x00000080u;
constexpr uint32_t kSsLeft = 0x00000000u;
constexpr uint32_t kBsOwnerDraw = 0x0000000Bu;
}  // namespace dialog_style

// The predefined window classes, by the ordinals a dialog template uses for them.
enum class DialogClass : uint16_t {
    kButton = 0x0080,
    kStatic = 0x0082,
};

struct DialogControl {
    int32_t id;
    DialogClass windowClass;
    uint32_t style;
    int16_t x, y, width, height;  // dialog units
    const char* text;
};

struct DialogFont {
    uint16_t pointSize;
    uint16_t weight;
    uint8_t italic;
    uint8_t charset;
    const char* face;
};

struct DialogTemplate {
    int resourceId;
    uint16_t language;
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, width, height;  // dialog units
    const char* caption;
    DialogFont font;
    const DialogControl* controls;
    std::size_t controlCount;
};

namespace about_detail {

using namespace dialog_style;

constexpr uint32_t kTextStyle = kWsChild | kWsVisible | kWsGroup | kSsLeft;
constexpr uint32_t kButtonStyle = kWsChild | kWsVisible | kWsTabStop | kBsOwnerDraw;

// Template order is also the tab order.
constexpr DialogControl kAboutControls[] = {
    {IDC_TITLE, DialogClass::kStatic, kTextStyle, 12, 9, 286, 14, kAboutTitleLine},
    {kAboutStaticId, DialogClass::kStatic, kTextStyle, 12, 29, 286, 10, kAboutMakerLine},
    {kAboutStaticId, DialogClass::kStatic, kTextStyle, 12, 42, 286, 10, kWebsiteHost},
    {kAboutStaticId, DialogClass::kStatic, kTextStyle, 12, 64, 286, 10, kAboutShaderCreditLine},
    {kAboutStaticId, DialogClass::kStatic, kTextStyle, 12, 76, 286, 10, kAboutPortCreditLine},
    {kAboutStaticId, DialogClass::kStatic, kTextStyle, 12, 88, 286, 10, kAboutLicenceLine},
    {IDC_VISIT_WEBSITE, DialogClass::kButton, kButtonStyle, 140, 110, 76, 12, "Visit Website"},
    {kAboutCloseId, DialogClass::kButton, kButtonStyle, 222, 110, 76, 12, "Close"},
};

}  // namespace about_detail

constexpr DialogTemplate kAboutDialogTemplate = {
    IDD_ABOUT,
    kAboutLanguage,
    dialog_style::kWsPopup | dialog_style::kWsCaption | dialog_style::kWsSysMenu |
        dialog_style::kDsModalFrame | dialog_style::kDsSetFont,
    dialog_style::kWsExControlParent,
    0,
    0,
    310,
    130,
    "About",
    {8, 400, 0, 1, "Segoe UI"},  // normal weight, DEFAULT_CHARSET
    about_detail::kAboutControls,
    sizeof(about_detail::kAboutControls) / sizeof(about_detail::kAboutControls[0]),
};

}  // namespace pyrix
