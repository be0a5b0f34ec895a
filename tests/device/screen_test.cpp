// Pictures of the screen: one per tab of an applet window, taken by the device tool. The
// picture of a known window is checked by device_shot_test.sh, read back through Pillow.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include "wince.h"
#include <string>
#include <vector>
#include "harness.h"

using namespace harness;

namespace {

// A window of the applet's class with a host dialog and a tab control like the applet's; it
// records each selection change the tab control reports.
struct FakeApplet {
    static inline std::vector<int> selections;
    HWND main = nullptr, host = nullptr, tab = nullptr;

    static LRESULT CALLBACK HostProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        const auto* header = reinterpret_cast<const NMHDR*>(lp);
        if (msg == WM_NOTIFY && header->idFrom == 2000 && header->code == TCN_SELCHANGE)
            selections.push_back(
                static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return DefWindowProcW(w, msg, wp, lp);
    }
    FakeApplet() {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"VelmoraFakeApplet";
        RegisterClassW(&wc);
        wc.lpfnWndProc = HostProc;
        wc.lpszClassName = L"VelmoraTestHostDialog";
        RegisterClassW(&wc);
        main = CreateWindowExW(0, L"VelmoraFakeApplet", L"Velmora Zilp",
                               WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 26, 240, 294, nullptr,
                               nullptr, wc.hInstance, nullptr);
        host = CreateWindowExW(0, wc.lpszClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 234, 260,
                               main, nullptr, wc.hInstance, nullptr);
        tab = CreateWindowExW(0, WC_TABCONTROLW, L"",
                              WS_CHILD | WS_VISIBLE | TCS_MULTILINE | TCS_FLATBUTTONS | TCS_BOTTOM,
                              0, 0, 234, 255, host, reinterpret_cast<HMENU>(2000), wc.hInstance,
                              nullptr);
        const wchar_t* texts[] = {L"Status",    L"Batterie",     L"Extern",
                                  L"Nachricht", L"Stromausfall", L"Sperre"};
        for (int i = 0; i < 6; ++i) {
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<wchar_t*>(texts[i]);
            SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        }
        SendMessageW(tab, TCM_SETCURSEL, 0, 0);
        selections.clear();
    }
    ~FakeApplet() { DestroyWindow(main); }
};

std::wstring ShotDir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"velmora_pages";
}

void ClearShotDir() {
    for (const wchar_t* name : {L"screen.png", L"page-0.png", L"page-1.png", L"page-2.png",
                                L"page-3.png", L"page-4.png", L"page-5.png"})
        DeleteFileW((ShotDir() + L"\\" + name).c_str());
}

// The PNG signature and the size its header states.
std::string PngSize(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "missing";
    unsigned char head[24] = {};
    DWORD got = 0;
    ReadFile(file, head, sizeof head, &got, nullptr);
    CloseHandle(file);
    if (got != sizeof head || std::string(reinterpret_cast<char*>(head), 8) != "\x89PNG\r\n\x1a\n")
        return "not a PNG";
    auto big = [&](int at) {
        return (head[at] << 24) | (head[at + 1] << 16) | (head[at + 2] << 8) | head[at + 3];
    };
    return std::to_string(big(16)) + "x" + std::to_string(big(20));
}

} // namespace

TEST(Screen, PagesSelectsEveryTabThroughTheTabControlAndShootsEach) {
    ClearShotDir();
    FakeApplet applet;
    ASSERT_NE(nullptr, applet.tab);
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"pages VelmoraFakeApplet " + ShotDir() + L" 10", &out, 60000)) << out;
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), FakeApplet::selections)
        << "the host dialog is told of each new tab";
    for (int i = 0; i < 6; ++i) {
        std::wstring name = L"page-" + std::to_wstring(i) + L".png";
        EXPECT_EQ("240x320", PngSize(ShotDir() + L"\\" + name)) << Utf8(name);
    }
    EXPECT_EQ("missing", PngSize(ShotDir() + L"\\screen.png"));
}

TEST(Screen, PagesWithoutTheAppletShootsTheScreenOnly) {
    ClearShotDir();
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"pages VelmoraFakeApplet " + ShotDir() + L" 1", &out, 30000)) << out;
    EXPECT_NE(std::string::npos, out.find("did not appear")) << out;
    EXPECT_EQ("240x320", PngSize(ShotDir() + L"\\screen.png"));
    EXPECT_EQ("missing", PngSize(ShotDir() + L"\\page-0.png"));
    ClearShotDir();
}

namespace {

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT)
        return DefWindowProcW(window, message, wParam, lParam);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    RECT left = {0, 0, r.right / 2, r.bottom}, right = {r.right / 2, 0, r.right, r.bottom};
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
    FillRect(dc, &left, red);
    FillRect(dc, &right, blue);
    DeleteObject(red);
    DeleteObject(blue);
    EndPaint(window, &ps);
    return 0;
}

} // namespace

// For device_shot_test.sh: a window at (40, 100)-(200, 200), red on the left, blue on the
// right, and a green icon in the notification area, until the script ends it (at most a
// minute).
HARNESS_CHILD_ROLE(Pattern, L"pattern") {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PatternProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VelmoraTestPattern";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"", WS_POPUP | WS_VISIBLE, 40,
                                  100, 160, 100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window)
        return 1;
    std::vector<BYTE> mask(16 * 16 / 8, 0x00);
    std::vector<DWORD> green(16 * 16, 0x0000FF00);
    NOTIFYICONDATAW icon = {};
    icon.cbSize = CE_NOTIFYICONDATA_SIZE;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON;
    icon.hIcon = CreateIcon(wc.hInstance, 16, 16, 1, 32, mask.data(),
                            reinterpret_cast<const BYTE*>(green.data()));
    if (!Shell_NotifyIcon(NIM_ADD, &icon))
        return 2;
    Pump(60000);
    return 0;
}
