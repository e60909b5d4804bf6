// Drives the plug-in's About command the way a user does, with a real host window: the host
// thread calls EffectMain and sits in the dialog's modal loop while a second thread finds the
// dialog, checks it against the template, presses its buttons and keys, and sees it close.
// Also the two ways without a dialog: no host window, and a host without a user interface.
// Usage: about_driver PLUGIN.aex [--throwaway-prefix]   (exit status 0 when all pass)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "host_api/effect_api.h"
#include "standins/host_simulator/host_tables.h"
#include "ui/about_template.h"
#include "ui/about_text.h"

using namespace pyrix;

namespace {

// ---- the host side ----------------------------------------------------------------------------

PF_EffectMainFunc gEffectMain = nullptr;
HWND gHostWindow = nullptr;
bool gGiveWindow = true;
bool gRenderEngine = false;
bool gThrowawayPrefix = false;  // the registry may be changed: also try a site that cannot open

// Host interface colours (16 bits per channel) and what they become in the dialog.
constexpr PF_App_Color kHostBackground = {0x2B2B, 0x3030, 0x3535};
constexpr PF_App_Color kHostText = {0xD0D0, 0xC8C8, 0xC0C0};
COLORREF Expected(const PF_App_Color& c) {
    return RGB((c.red + 128) / 257, (c.green + 128) / 257, (c.blue + 128) / 257);
}

PF_Err GetColor(PF_App_ColorType type, PF_App_Color* color) {
    if (type == 1000) {
        *color = kHostBackground;
    } else if (type == 2) {
        *color = kHostText;
    } else {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return PF_Err_NONE;
}

PF_Err IsRenderEngine(PF_Boolean* renderEngine) {
    *renderEngine = gRenderEngine ? 1 : 0;
    return PF_Err_NONE;
}

// Every slot filled; one the plug-in must not call (PF_AppGetBgColor in place of PF_AppGetColor,
// say) ends this program with the slot's name.
PFAppSuite6 gAppSuite = {};
std::atomic<int> gSuitesHeld{0};

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    if (std::strcmp(name, kPFAppSuite) == 0 && version == kPFAppSuiteVersion1) {
        *suite = &gAppSuite;
        ++gSuitesHeld;
        return 0;
    }
    *suite = nullptr;
    return 1;
}

SPErr ReleaseSuite(const char* name, int32_t version) {
    if (std::strcmp(name, kPFAppSuite) == 0 && version == kPFAppSuiteVersion1) --gSuitesHeld;
    return 0;
}

SPBasicSuite gBasicSuite = {};

PF_Err GetPlatformData(PF_ProgPtr, PF_PlatDataID which, void* data) {
    if (which != PF_PlatData_MAIN_WND) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    *static_cast<HWND*>(data) = gGiveWindow ? gHostWindow : nullptr;
    return PF_Err_NONE;
}

PF_UtilCallbacks gUtils = {};

void SetUpHostTables() {
    host_abi::FillUnserved(gAppSuite);
    gAppSuite.PF_AppGetColor = GetColor;
    gAppSuite.PF_IsRenderEngine = IsRenderEngine;
    host_abi::FillUnserved(gBasicSuite);
    gBasicSuite.AcquireSuite = AcquireSuite;
    gBasicSuite.ReleaseSuite = ReleaseSuite;
    host_abi::FillUnserved(gUtils);
    gUtils.get_platform_data = GetPlatformData;
}

struct AboutCall {
    PF_Err result = -1;
    PF_OutData out{};
};

AboutCall CallAbout(PF_Cmd command) {
    PF_InData in{};
    host_abi::FillUnserved(in.inter);
    host_abi::FillHostFields(in);
    in.utils = &gUtils;
    in.pica_basicP = &gBasicSuite;
    AboutCall call;
    call.result = gEffectMain(command, &in, &call.out, nullptr, nullptr, nullptr);
    return call;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PyrixTestHost";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowExW(0, L"PyrixTestHost", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 150,
                        900, 600, nullptr, nullptr, windowClass.hInstance, nullptr);
    UpdateWindow(window);
    return window;
}

// ---- checks -----------------------------------------------------------------------------------

std::atomic<int> gFailures{0};

void Expect(bool condition, const std::string& what) {
    std::printf("%s %s\n", condition ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    gFailures += condition ? 0 : 1;
}

std::string WindowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 255);
    char narrow[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    return narrow;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name) - 1);
    return name;
}

std::string Hex(COLORREF colour) {
    char text[16];
    std::snprintf(text, sizeof(text), "%06lx", static_cast<unsigned long>(colour));
    return text;
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " to " + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

// A visible dialog-class window owned by `owner`, or null.
HWND FindOwnedDialog(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (GetWindow(window, GW_OWNER) == s->owner && IsWindowVisible(window) &&
                ClassOf(window) == "#32770") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitFor(const std::function<HWND()>& find, DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        if (HWND window = find()) return window;
        Sleep(20);
    }
    return nullptr;
}

bool WaitGone(HWND window, DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        if (!IsWindow(window)) return true;
        Sleep(20);
    }
    return !IsWindow(window);
}

// What the user sees: caption, the eight controls where the template puts them, the title in
// its own larger font, the host's colours, the dialog centred on the host window, Close focused.
void CheckDialog(HWND dialog) {
    const DialogTemplate& t = kAboutDialogTemplate;
    Expect(WindowText(dialog) == t.caption, "caption \"" + WindowText(dialog) + "\"");

    HWND child = GetWindow(dialog, GW_CHILD);
    for (std::size_t i = 0; i < t.controlCount; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
        const DialogControl& c = t.controls[i];
        const std::string label = "control " + std::to_string(i + 1) + " ";
        if (child == nullptr) {
            Expect(false, label + "missing");
            return;
        }
        const bool isButton = c.windowClass == DialogClass::kButton;
        Expect(ClassOf(child) == (isButton ? "Button" : "Static"),
               label + "class " + ClassOf(child));
        Expect(static_cast<int16_t>(GetDlgCtrlID(child)) == static_cast<int16_t>(c.id),
               label + "id " + std::to_string(static_cast<int16_t>(GetDlgCtrlID(child))));
        Expect(WindowText(child) == c.text, label + "text \"" + WindowText(child) + "\"");
        const auto style = static_cast<uint32_t>(GetWindowLongW(child, GWL_STYLE));
        Expect((style & c.style) == c.style, label + "style bits present");
        RECT expected = {c.x, c.y, c.x + c.width, c.y + c.height};
        MapDialogRect(dialog, &expected);
        RECT actual{};
        GetWindowRect(child, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        // The dialog manager converts position and size separately, MapDialogRect both edges:
        // they may round a pixel apart.
        const bool placed = std::abs(actual.left - expected.left) <= 1 &&
                            std::abs(actual.top - expected.top) <= 1 &&
                            std::abs(actual.right - expected.right) <= 1 &&
                            std::abs(actual.bottom - expected.bottom) <= 1;
        Expect(placed, label + "placed where the template says (" + Describe(actual) +
                           ", template " + Describe(expected) + ")");
    }
    Expect(child == nullptr, "no further controls");

    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HFONT titleFont =
        reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(dialog, IDC_TITLE), WM_GETFONT, 0, 0));
    LOGFONTW dialogLog{}, titleLog{};
    GetObjectW(dialogFont, sizeof(dialogLog), &dialogLog);
    GetObjectW(titleFont, sizeof(titleLog), &titleLog);
    Expect(titleFont != dialogFont && titleLog.lfWeight == 600 &&
               titleLog.lfHeight == MulDiv(dialogLog.lfHeight, 10, 8),
           "title font semibold, 1.25 times the dialog font (" + std::to_string(titleLog.lfHeight) +
               " vs " + std::to_string(dialogLog.lfHeight) + ")");
    HFONT makerFont = reinterpret_cast<HFONT>(
        SendMessageW(GetWindow(GetDlgItem(dialog, IDC_TITLE), GW_HWNDNEXT), WM_GETFONT, 0, 0));
    Expect(makerFont == dialogFont, "the other texts keep the dialog font");

    HDC dc = CreateCompatibleDC(nullptr);
    auto dialogBrush = reinterpret_cast<HBRUSH>(SendMessageW(
        dialog, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(dialog)));
    LOGBRUSH brush{};
    Expect(dialogBrush != nullptr && GetObjectW(dialogBrush, sizeof(brush), &brush) != 0 &&
               brush.lbColor == Expected(kHostBackground),
           "background in the host's colour");
    auto staticBrush = reinterpret_cast<HBRUSH>(
        SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_TITLE))));
    Expect(staticBrush == dialogBrush && GetTextColor(dc) == Expected(kHostText) &&
               GetBkColor(dc) == Expected(kHostBackground),
           "texts in the host's text colour on the host's background");
    DeleteDC(dc);

    // The owner-drawn buttons as painted: face and border in their greys, the corners outside
    // the rounded border in the dialog's background. The focused button (Close) has the lighter
    // border only where the platform shows focus cues; the dialog asks to hide them until the
    // keyboard is used, which Wine does not support (its windows keep no such state).
    for (const int id : {IDC_VISIT_WEBSITE, kAboutCloseId}) {
        HWND button = GetDlgItem(dialog, id);
        RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        RECT area{};
        GetClientRect(button, &area);
        HDC buttonDc = GetDC(button);
        const COLORREF corner = GetPixel(buttonDc, 0, 0);
        const COLORREF border = GetPixel(buttonDc, area.right / 2, 0);
        const COLORREF face = GetPixel(buttonDc, area.right / 2, 2);
        ReleaseDC(button, buttonDc);
        const bool cuesShown = (SendMessageW(button, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
        const COLORREF expectedBorder =
            id == kAboutCloseId && cuesShown ? RGB(105, 105, 105) : RGB(54, 54, 54);
        Expect(corner == Expected(kHostBackground) && border == expectedBorder &&
                   face == RGB(14, 14, 14),
               "button " + std::to_string(id) + " painted: border " + Hex(border) + ", face " +
                   Hex(face) + (cuesShown ? " (focus cues shown)" : " (focus cues hidden)"));
    }

    // Held down (without a click), a button's face turns a lighter grey.
    HWND visit = GetDlgItem(dialog, IDC_VISIT_WEBSITE);
    SendMessageW(visit, BM_SETSTATE, TRUE, 0);
    RedrawWindow(visit, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    RECT visitArea{};
    GetClientRect(visit, &visitArea);
    HDC visitDc = GetDC(visit);
    const COLORREF pressedFace = GetPixel(visitDc, visitArea.right / 2, 2);
    ReleaseDC(visit, visitDc);
    SendMessageW(visit, BM_SETSTATE, FALSE, 0);
    Expect(pressedFace == RGB(26, 26, 26), "pressed button face " + Hex(pressedFace));

    RECT owner{}, box{};
    GetWindowRect(gHostWindow, &owner);
    GetWindowRect(dialog, &box);
    const long dx = (box.left + box.right) - (owner.left + owner.right);
    const long dy = (box.top + box.bottom) - (owner.top + owner.bottom);
    Expect(dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1, "centred on the host window");

    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    Expect(info.hwndFocus == GetDlgItem(dialog, kAboutCloseId), "Close has the focus");
}

// While it lives, https addresses open with a program that does not exist, so the site cannot
// be opened; the association is put back afterwards. Meant for the throwaway Wine prefix.
class BrokenBrowser {
  public:
    BrokenBrowser() {
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = sizeof(saved_) - sizeof(wchar_t);
        hadValue_ = RegQueryValueExW(key_, nullptr, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(saved_), &size) == ERROR_SUCCESS;
        const wchar_t command[] = L"\"C:\\no such folder\\no-browser.exe\" \"%1\"";
        ok_ = RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                             sizeof(command)) == ERROR_SUCCESS;
    }
    ~BrokenBrowser() {
        if (key_ == nullptr) return;
        if (hadValue_) {
            RegSetValueExW(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_),
                           static_cast<DWORD>((wcslen(saved_) + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteValueW(key_, nullptr);
        }
        RegCloseKey(key_);
    }
    BrokenBrowser(const BrokenBrowser&) = delete;
    BrokenBrowser& operator=(const BrokenBrowser&) = delete;
    bool ok() const { return ok_; }

  private:
    HKEY key_ = nullptr;
    wchar_t saved_[512] = {};
    bool hadValue_ = false;
    bool ok_ = false;
};

// "Visit Website" either opens the site or says where to find it; the dialog stays either way.
void PressVisitWebsite(HWND dialog, bool expectNotice) {
    PostMessageW(GetDlgItem(dialog, IDC_VISIT_WEBSITE), BM_CLICK, 0, 0);
    // Without a notice the whole wait passes; with one it ends as soon as the notice shows.
    HWND notice = WaitFor([&] { return FindOwnedDialog(dialog); }, expectNotice ? 5000 : 2000);
    if (notice != nullptr) {
        HWND textWindow = nullptr;
        for (HWND c = GetWindow(notice, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            if (ClassOf(c) == "Static" && !WindowText(c).empty()) textWindow = c;
        }
        const std::string expected =
            std::string("Please open ") + kWebsiteUrl + " in your browser.";
        Expect(WindowText(notice) == "vexo_Pyrix" && textWindow != nullptr &&
                   WindowText(textWindow) == expected,
               "site not opened: the notice names the address");
        PostMessageW(notice, WM_COMMAND, IDOK, 0);
        Expect(WaitGone(notice, 3000), "notice closed");
    } else {
        Expect(!expectNotice, "site handed to the browser");
    }
    Sleep(300);
    Expect(IsWindow(dialog) && IsWindowVisible(dialog), "\"Visit Website\" leaves the dialog open");
}

// Runs `command` on this (the host's) thread while `drive` acts on the dialog from another.
// A dialog that does not close is closed by force after the checks, so the run always ends.
PF_Err RunWithDialog(PF_Cmd command, const std::function<void(HWND)>& drive) {
    std::thread user([&] {
        HWND dialog = WaitFor([] { return FindOwnedDialog(gHostWindow); }, 10000);
        Expect(dialog != nullptr, "dialog shown, owned by the host window");
        if (dialog == nullptr) return;
        drive(dialog);
        if (!WaitGone(dialog, 5000)) {
            Expect(false, "dialog closed");
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        } else {
            Expect(true, "dialog closed");
        }
    });
    const AboutCall call = CallAbout(command);
    user.join();
    Expect(call.result == PF_Err_NONE && call.out.return_msg[0] == '\0',
           "command returns 0 without a message");
    return call.result;
}

HWND FocusOf(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

// A key as the dialog's message loop receives it, at the control with the focus.
void PressKey(HWND dialog, WPARAM key) {
    HWND target = FocusOf(dialog) != nullptr ? FocusOf(dialog) : dialog;
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageW(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

// Tab goes round the two buttons, the only tab stops, in template order.
void PressTab(HWND dialog) {
    PressKey(dialog, VK_TAB);
    Sleep(200);
    Expect(FocusOf(dialog) == GetDlgItem(dialog, IDC_VISIT_WEBSITE),
           "Tab from Close: Visit Website");
    PressKey(dialog, VK_TAB);
    Sleep(200);
    Expect(FocusOf(dialog) == GetDlgItem(dialog, kAboutCloseId), "Tab again: Close");
}

void CheckTextPath(PF_Cmd command, const char* what) {
    const AboutCall call = CallAbout(command);
    Expect(call.result == PF_Err_NONE && std::strcmp(call.out.return_msg, kAboutText) == 0,
           std::string(what) + ": the About text in the message buffer");
    Expect(FindOwnedDialog(gHostWindow) == nullptr, std::string(what) + ": no dialog");
}

}  // namespace

int main(int argc, char** argv) {
    gThrowawayPrefix = argc == 3 && std::strcmp(argv[2], "--throwaway-prefix") == 0;
    if (argc != 2 && !gThrowawayPrefix) {
        std::fprintf(stderr, "usage: about_driver PLUGIN.aex [--throwaway-prefix]\n");
        return 2;
    }
    SetUpHostTables();
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        std::fprintf(stderr, "LoadLibrary(%s) failed: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    gEffectMain = reinterpret_cast<PF_EffectMainFunc>(
        reinterpret_cast<void*>(GetProcAddress(library, "EffectMain")));
    if (gEffectMain == nullptr) {
        std::fprintf(stderr, "EffectMain missing\n");
        return 1;
    }
    gHostWindow = CreateHostWindow();

    std::printf("-- About command: look, visit the website, press Escape\n");
    RunWithDialog(PF_Cmd_ABOUT, [](HWND dialog) {
        CheckDialog(dialog);
        PressVisitWebsite(dialog, false);
        if (gThrowawayPrefix) {
            BrokenBrowser broken;
            Expect(broken.ok(), "https association redirected");
            PressVisitWebsite(dialog, true);
        }
        PressKey(dialog, VK_ESCAPE);
    });

    std::printf("-- Options button (dialog command): Tab around, press Close\n");
    RunWithDialog(PF_Cmd_DO_DIALOG, [](HWND dialog) {
        PressTab(dialog);
        PostMessageW(GetDlgItem(dialog, kAboutCloseId), BM_CLICK, 0, 0);
    });

    std::printf("-- About command: the window's close box\n");
    RunWithDialog(PF_Cmd_ABOUT,
                  [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); });

    std::printf("-- Without a dialog\n");
    gGiveWindow = false;
    CheckTextPath(PF_Cmd_ABOUT, "no host window");
    CheckTextPath(PF_Cmd_DO_DIALOG, "no host window, dialog command");
    gGiveWindow = true;
    gRenderEngine = true;
    CheckTextPath(PF_Cmd_ABOUT, "host without a user interface");
    gRenderEngine = false;

    Expect(gSuitesHeld == 0, "every suite released");
    DestroyWindow(gHostWindow);
    FreeLibrary(library);
    std::printf("%s\n", gFailures == 0
                            ? "all About checks passed"
                            : (std::to_string(gFailures.load()) + " About checks failed").c_str());
    return gFailures == 0 ? 0 : 1;
}
