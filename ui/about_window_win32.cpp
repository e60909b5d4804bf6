// The About dialog as a Win32 window: its style, the owner-drawn buttons, placement on the host's
// window, the link to the website, and the dialog procedure.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cstddef>

#include "ui/about_dialog.h"
#include "ui/about_template.h"
#include "ui/about_text.h"
#include "ui/about_window.h"

namespace pyrix {

namespace {

// Handed to the dialog as its creation parameter; ShowAbout owns it and the GDI objects in it.
struct AboutDialogStyle {
    COLORREF backgroundColor;
    COLORREF textColor;
    HBRUSH backgroundBrush;
    HFONT titleFont;  // null until WM_INITDIALOG creates it
};

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Paints one owner-drawn button of the dialog.
void DrawDialogButton(HDC dc, const RECT& rect, const wchar_t* caption, HFONT font, UINT itemState,
                      UINT dpi, COLORREF backgroundColor);

static_assert(dialog_style::kWsPopup == WS_POPUP && dialog_style::kWsChild == WS_CHILD &&
              dialog_style::kWsVisible == WS_VISIBLE && dialog_style::kWsCaption == WS_CAPTION &&
              dialog_style::kWsSysMenu == WS_SYSMENU && dialog_style::kWsGroup == WS_GROUP &&
              dialog_style::kWsTabStop == WS_TABSTOP &&
              dialog_style::kWsExControlParent == WS_EX_CONTROLPARENT &&
              dialog_style::kDsSetFont == DS_SETFONT &&
              dialog_style::kDsModalFrame == DS_MODALFRAME && dialog_style::kSsLeft == SS_LEFT &&
              dialog_style::kBsOwnerDraw == BS_OWNERDRAW);
static_assert(kItemStateSelected == ODS_SELECTED && kItemStateDisabled == ODS_DISABLED &&
              kItemStateFocus == ODS_FOCUS && kItemStateNoFocusRect == ODS_NOFOCUSRECT);
static_assert(kAboutCloseId == IDCANCEL);
static_assert(kDefaultBackgroundColor == RGB(32, 32, 32));

// Owns one GDI object; deleted when the holder goes.
template <typename Handle>
class GdiObject {
  public:
    explicit GdiObject(Handle handle) : handle_(handle) {}
    ~GdiObject() {
        if (handle_ != nullptr) DeleteObject(handle_);
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    Handle get() const { return handle_; }

  private:
    Handle handle_;
};

// Selects an object into a device context and puts the previous one back when it goes.
class SelectedObject {
  public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Deletes the dialog's GDI objects when ShowAbout is done with it: title font, then brush.
class AboutStyleObjects {
  public:
    explicit AboutStyleObjects(AboutDialogStyle& style) : style_(style) {}
    ~AboutStyleObjects() {
        if (style_.titleFont != nullptr) DeleteObject(style_.titleFont);
        if (style_.backgroundBrush != nullptr) DeleteObject(style_.backgroundBrush);
    }
    AboutStyleObjects(const AboutStyleObjects&) = delete;
    AboutStyleObjects& operator=(const AboutStyleObjects&) = delete;

  private:
    AboutDialogStyle& style_;
};

// Our texts are ASCII; widened into a fixed buffer so that nothing in the dialog procedure can
// throw through the window system's frames.
template <std::size_t N>
void AppendWide(wchar_t (&out)[N], std::size_t& length, const char* text) {
    for (const char* c = text; *c != '\0' && length + 1 < N; ++c) {
        out[length++] = static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    out[length] = L'\0';
}

void OpenWebsite(HWND dialog) {
    wchar_t url[128] = {};
    std::size_t url_length = 0;
    AppendWide(url, url_length, kWebsiteUrl);
    const HINSTANCE result = ShellExecuteW(dialog, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(result) > 32) return;

    wchar_t text[256] = {};
    std::size_t text_length = 0;
    AppendWide(text, text_length, "Please open ");
    AppendWide(text, text_length, kWebsiteUrl);
    AppendWide(text, text_length, " in your browser.");
    wchar_t caption[64] = {};
    std::size_t caption_length = 0;
    AppendWide(caption, caption_length, kAboutTitleLine);
    MessageBoxW(dialog, text, caption, MB_OK | MB_ICONINFORMATION);
}

void CreateTitleFont(HWND dialog, AboutDialogStyle& style) {
    const auto dialog_font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW font = {};
    if (dialog_font != nullptr &&
        GetObjectW(dialog_font, sizeof font, &font) == static_cast<int>(sizeof font)) {
        font.lfWeight = FW_SEMIBOLD;
        font.lfHeight = TitleFontHeight(font.lfHeight);
        style.titleFont = CreateFontIndirectW(&font);
    }
    if (style.titleFont != nullptr) {
        SendMessageW(GetDlgItem(dialog, IDC_TITLE), WM_SETFONT,
                     reinterpret_cast<WPARAM>(style.titleFont), TRUE);
    }
}

// Centred on the owner, kept inside the work area of the owner's monitor.
void PlaceOnOwner(HWND dialog) {
    RECT own = {};
    RECT owner_rect = {};
    const HWND owner = GetWindow(dialog, GW_OWNER);
    if (!GetWindowRect(dialog, &own) || owner == nullptr || !GetWindowRect(owner, &owner_rect)) {
        return;
    }
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const LayoutPoint at = PlaceDialog(
        own.right - own.left, own.bottom - own.top,
        {owner_rect.left, owner_rect.top, owner_rect.right, owner_rect.bottom},
        {monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom});
    SetWindowPos(dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitAboutDialog(HWND dialog, AboutDialogStyle* style) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(style));
    if (style != nullptr) CreateTitleFont(dialog, *style);
    PlaceOnOwner(dialog);
    // Focus cues stay hidden until the keyboard is used.
    SetFocus(GetDlgItem(dialog, IDCANCEL));
    SendMessageW(dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
}

INT_PTR DrawButtonItem(const DRAWITEMSTRUCT* item, const AboutDialogStyle& style) {
    if (item == nullptr || (item->CtlID != IDC_VISIT_WEBSITE && item->CtlID != IDCANCEL)) {
        return FALSE;
    }
    const auto font = reinterpret_cast<HFONT>(SendMessageW(item->hwndItem, WM_GETFONT, 0, 0));
    wchar_t caption[64] = {};
    GetWindowTextW(item->hwndItem, caption, 64);
    DrawDialogButton(item->hDC, item->rcItem, caption, font, item->itemState,
                     GetDpiForWindow(item->hwndItem), style.backgroundColor);
    return TRUE;
}

}  // namespace

PF_Err ShowAboutDialog(const PFAppSuite6* app_suite, void* main_window, PF_OutData* out_data) {
    const auto owner = static_cast<HWND>(main_window);
    if (owner == nullptr || !IsWindow(owner)) {
        WriteAboutText(out_data);
        return PF_Err_NONE;
    }
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ShowAboutDialog), &module)) {
        WriteAboutText(out_data);
        return PF_Err_NONE;
    }
    const AboutColors colors = ReadAboutColors(app_suite);
    AboutDialogStyle style = {colors.background, colors.text, nullptr, nullptr};
    AboutStyleObjects objects(style);
    style.backgroundBrush = CreateSolidBrush(style.backgroundColor);
    if (style.backgroundBrush == nullptr) return PF_Err_OUT_OF_MEMORY;

    if (DialogBoxParamW(module, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDialogProc,
                        reinterpret_cast<LPARAM>(&style)) == -1) {
        WriteAboutText(out_data);
    }
    return PF_Err_NONE;
}

namespace {

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        InitAboutDialog(dialog, reinterpret_cast<AboutDialogStyle*>(lParam));
        return FALSE;  // the focus has been set
    }
    const auto* style =
        reinterpret_cast<const AboutDialogStyle*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (style == nullptr) return FALSE;

    switch (message) {
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(style->backgroundBrush);
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, style->textColor);
            SetBkColor(dc, style->backgroundColor);
            return reinterpret_cast<INT_PTR>(style->backgroundBrush);
        }
        case WM_DRAWITEM:
            return DrawButtonItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), *style);
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            if (LOWORD(wParam) == IDC_VISIT_WEBSITE && HIWORD(wParam) == BN_CLICKED) {
                OpenWebsite(dialog);  // the dialog stays open either way
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

void DrawDialogButton(HDC dc, const RECT& rect, const wchar_t* caption, HFONT font, UINT itemState,
                      UINT dpi, COLORREF backgroundColor) {
    RECT area = rect;
    const int saved = SaveDC(dc);

    // The corners outside the rounded border show the dialog's background.
    {
        GdiObject<HBRUSH> background(CreateSolidBrush(backgroundColor));
        if (background.get() != nullptr) FillRect(dc, &area, background.get());
    }

    const ButtonMetrics metrics = ButtonMetricsForDpi(static_cast<int32_t>(dpi));
    const ButtonColors colors = ButtonColorsForState(itemState);
    {
        GdiObject<HBRUSH> face(CreateSolidBrush(colors.face));
        GdiObject<HPEN> border(CreatePen(PS_SOLID, metrics.penWidth, colors.border));
        SelectedObject select_face(dc, face.get());
        SelectedObject select_border(dc, border.get());
        RECT outline = area;
        InflateRect(&outline, -metrics.inset, -metrics.inset);
        RoundRect(dc, outline.left, outline.top, outline.right, outline.bottom, metrics.cornerSize,
                  metrics.cornerSize);
    }

    if (font != nullptr) SelectObject(dc, font);
    SetTextCharacterExtra(dc, 0);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colors.text);
    DrawTextW(dc, caption, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

    RestoreDC(dc, saved);
}

}  // namespace

}  // namespace pyrix
