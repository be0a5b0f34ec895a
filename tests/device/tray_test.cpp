// The notification area between processes: icons added through coredll.dll's
// Shell_NotifyIcon, seen and tapped through the device tool, held by the device shell.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include "wince.h"
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include "harness.h"
#include "tray_protocol.h"

using namespace harness;

namespace {

constexpr UINT Callback = WM_APP + 1;

// A 16 x 16 icon: a square of one colour, transparent around it, with the pixels the taskbar
// should show for it.
struct TestIcon {
    HICON icon = nullptr;
    tray::Pixels expected{};

    TestIcon(COLORREF rgb, int inset) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = tray::IconSize;
        info.bmiHeader.biHeight = -tray::IconSize;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP color = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        std::vector<BYTE> maskBits(2 * tray::IconSize, 0); // 16 rows of 16 bits, word aligned
        const uint32_t value = (GetRValue(rgb) << 16) | (GetGValue(rgb) << 8) | GetBValue(rgb);
        for (int y = 0; y < tray::IconSize; ++y) {
            for (int x = 0; x < tray::IconSize; ++x) {
                bool inside = x >= inset && x < tray::IconSize - inset && y >= inset &&
                              y < tray::IconSize - inset;
                static_cast<uint32_t*>(bits)[y * tray::IconSize + x] = inside ? value : 0;
                if (!inside)
                    maskBits[y * 2 + x / 8] |= 0x80 >> (x % 8);
                expected[y * tray::IconSize + x] = inside ? 0xFF000000u | value : 0;
            }
        }
        HBITMAP mask = CreateBitmap(tray::IconSize, tray::IconSize, 1, 1, maskBits.data());
        ICONINFO iconInfo = {TRUE, 0, 0, mask, color};
        icon = CreateIconIndirect(&iconInfo);
        DeleteObject(mask);
        DeleteObject(color);
    }
    ~TestIcon() { DestroyIcon(icon); }
    std::string Hash() const {
        char text[16];
        std::snprintf(text, sizeof text, "%08lx",
                      static_cast<unsigned long>(tray::HashPixels(expected)));
        return text;
    }
};

// A window that owns icons and records the callback messages it gets.
struct Owner {
    struct Received {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    static inline std::vector<Received> received;
    HWND window = nullptr;

    static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg >= WM_APP)
            received.push_back({msg, wp, lp});
        return DefWindowProcW(w, msg, wp, lp);
    }
    Owner() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelmoraTrayOwner";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 wc.hInstance, nullptr);
        received.clear();
    }
    ~Owner() {
        if (IsWindow(window))
            DestroyWindow(window);
    }
};

NOTIFYICONDATAW Record(HWND window, UINT id, UINT flags, HICON icon,
                       DWORD size = CE_NOTIFYICONDATA_SIZE) {
    NOTIFYICONDATAW data = {};
    data.cbSize = size;
    data.hWnd = window;
    data.uID = id;
    data.uFlags = flags;
    data.uCallbackMessage = Callback;
    data.hIcon = icon;
    return data;
}

std::string ShownIcons() {
    std::string out;
    int code = RunDevtool(L"tray", &out);
    return code == 0 ? out : "tray failed with " + std::to_string(code) + ": " + out;
}

// What `tray` prints for an icon.
std::string Line(HWND window, const char* className, UINT id, UINT message, std::string image,
                 const std::string& tip = "") {
    char text[256];
    std::snprintf(text, sizeof text, "0x%08lx \"%s\" id=%u message=0x%04x image=%s",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)), className, id,
                  message, image.c_str());
    return text + (tip.empty() ? "" : " tip=\"" + tip + "\"") + "\n";
}

// Whether the taskbar on screen shows a pixel of this colour, read from the screen itself
// without asking the shell anything.
bool TaskbarShows(COLORREF colour) {
    HDC screen = GetDC(nullptr);
    bool shown = false;
    for (int x = 0; x < GetSystemMetrics(SM_CXSCREEN) && !shown; ++x)
        shown = GetPixel(screen, x, tray::TaskbarHeight / 2) == colour;
    ReleaseDC(nullptr, screen);
    return shown;
}

HWND Taskbar() {
    return FindWindowExW(nullptr, nullptr, tray::ShellClass, tray::ShellTitle);
}

class Tray : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(nullptr, Taskbar()) << "the device shell is not running"; }
};

} // namespace

TEST_F(Tray, AnIconIsAddedChangedTappedAndDeletedAcrossProcesses) {
    Owner owner;
    TestIcon unlocked(RGB(255, 255, 0), 2), locked(RGB(200, 0, 0), 4);
    ASSERT_NE(unlocked.Hash(), locked.Hash());
    auto data = Record(owner.window, 101, NIF_MESSAGE | NIF_ICON, unlocked.icon);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
    EXPECT_EQ(Line(owner.window, "VelmoraTrayOwner", 101, Callback, unlocked.Hash()), ShownIcons());

    data = Record(owner.window, 101, NIF_ICON, locked.icon);
    data.uCallbackMessage = 0; // not in the flags: stays as it was
    ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &data));
    EXPECT_EQ(Line(owner.window, "VelmoraTrayOwner", 101, Callback, locked.Hash()), ShownIcons());

    ASSERT_EQ(0, RunDevtool(L"tap"));
    ASSERT_TRUE(WaitFor([] { return Owner::received.size() >= 2; }, 5000))
        << "the owner got " << Owner::received.size() << " messages";
    ASSERT_EQ(2u, Owner::received.size());
    const LPARAM stylus[] = {WM_LBUTTONDOWN, WM_LBUTTONUP};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Callback, Owner::received[i].message) << "message " << i;
        EXPECT_EQ(101u, Owner::received[i].wParam) << "message " << i;
        EXPECT_EQ(stylus[i], Owner::received[i].lParam) << "message " << i;
    }

    ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data));
    EXPECT_EQ("", ShownIcons());
}

TEST_F(Tray, IconsStandInTheOrderTheyCameAndTapReachesTheNthOnly) {
    Owner first, second;
    TestIcon a(RGB(0, 0, 255), 0), b(RGB(0, 255, 0), 3);
    auto one = Record(first.window, 1, NIF_MESSAGE | NIF_ICON, a.icon);
    auto two = Record(second.window, 2, NIF_MESSAGE | NIF_ICON, b.icon);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &one));
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &two));
    EXPECT_EQ(Line(first.window, "VelmoraTrayOwner", 1, Callback, a.Hash()) +
                  Line(second.window, "VelmoraTrayOwner", 2, Callback, b.Hash()),
              ShownIcons());
    ASSERT_EQ(0, RunDevtool(L"tap 2"));
    ASSERT_TRUE(WaitFor([] { return Owner::received.size() >= 2; }, 5000));
    Pump(200);
    ASSERT_EQ(2u, Owner::received.size());
    EXPECT_EQ(2u, Owner::received[0].wParam);
    EXPECT_EQ(2u, Owner::received[1].wParam);
    std::string out;
    EXPECT_EQ(1, RunDevtool(L"tap 3", &out)) << out;
    EXPECT_EQ(2, RunDevtool(L"tap 0", &out)) << out;
    EXPECT_EQ(2, RunDevtool(L"tap x", &out)) << out;
    Shell_NotifyIcon(NIM_DELETE, &one);
    Shell_NotifyIcon(NIM_DELETE, &two);
}

HARNESS_CHILD_ROLE(IconOwner, L"icon-owner") {
    Owner owner;
    TestIcon icon(RGB(255, 0, 255), 1);
    auto data = Record(owner.window, 7, NIF_MESSAGE | NIF_ICON, icon.icon);
    if (!Shell_NotifyIcon(NIM_ADD, &data))
        return 1;
    Pump(60000); // until the test ends this process
    return 0;
}

TEST_F(Tray, IconsOfWindowsThatAreGoneDisappear) {
    Process child = StartChild(L"icon-owner");
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(WaitFor([] { return ShownIcons().find("id=7 ") != std::string::npos; }, 15000))
        << ShownIcons();
    const COLORREF magenta = RGB(255, 0, 255);
    ASSERT_TRUE(WaitFor([&] { return TaskbarShows(magenta); }, 5000)) << "the icon on screen";
    child.Kill();
    // The shell notices the process end itself; its clock comes only once a minute.
    EXPECT_TRUE(WaitFor([&] { return !TaskbarShows(magenta); }, 5000))
        << "expected the icon off the screen after its owner's process ended, actual: still shown";
    EXPECT_EQ("", ShownIcons()) << "after the owner's process ended";

    Owner owner;
    auto data = Record(owner.window, 8, NIF_MESSAGE, nullptr);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data));
    EXPECT_EQ(Line(owner.window, "VelmoraTrayOwner", 8, Callback, "none"), ShownIcons());
    DestroyWindow(owner.window);
    EXPECT_EQ("", ShownIcons()) << "after the owner window was destroyed";
}

TEST_F(Tray, RequestsThatCannotBeMetFailAndChangeNothing) {
    Owner owner;
    TestIcon icon(RGB(0, 128, 128), 0);
    auto base = Record(owner.window, 5, NIF_MESSAGE | NIF_ICON, icon.icon);
    ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &base));
    const std::string before = ShownIcons();
    const struct {
        const char* what;
        DWORD message;
        std::function<void(NOTIFYICONDATAW&)> change;
    } cases[] = {
        {"modify of an unknown id", NIM_MODIFY, [](auto& d) { d.uID = 6; }},
        {"delete of an unknown id", NIM_DELETE, [](auto& d) { d.uID = 6; }},
        {"delete for another window", NIM_DELETE, [](auto& d) { d.hWnd = GetDesktopWindow(); }},
        {"a second add of the same icon", NIM_ADD, [](auto&) {}},
        {"an add for no window", NIM_ADD,
         [](auto& d) { d.uID = 9, d.hWnd = reinterpret_cast<HWND>(0x7FFF0); }},
        {"record size 0", NIM_ADD, [](auto& d) { d.uID = 9, d.cbSize = 0; }},
        {"record size 151", NIM_ADD, [](auto& d) { d.uID = 9, d.cbSize = 151; }},
        {"record size 153", NIM_MODIFY, [](auto& d) { d.cbSize = 153; }},
        {"record size 500", NIM_ADD, [](auto& d) { d.uID = 9, d.cbSize = 500; }},
        {"NIM_SETFOCUS", NIM_SETFOCUS, [](auto&) {}},
        {"NIM_SETVERSION", NIM_SETVERSION, [](auto&) {}},
    };
    for (const auto& c : cases) {
        auto data = base;
        c.change(data);
        EXPECT_FALSE(Shell_NotifyIcon(c.message, &data)) << c.what;
        EXPECT_EQ(before, ShownIcons()) << c.what;
    }
    EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, nullptr));
    Shell_NotifyIcon(NIM_DELETE, &base);
}

TEST_F(Tray, DesktopRecordsWorkAndTipsKeepTheirLength) {
    Owner owner;
    const std::wstring longTip(100, L'x');
    const struct {
        DWORD size;
        std::string tip; // as the tray keeps it
    } cases[] = {
        // CE's tip field holds 64 characters with the end; 152 bytes on the 32-bit device.
        {CE_NOTIFYICONDATA_SIZE, std::string(63, 'x')},
        {NOTIFYICONDATAW_V2_SIZE, std::string(100, 'x')},                 // 936
        {sizeof(NOTIFYICONDATAW), std::string(100, 'x')},                 // 952
        {sizeof(NOTIFYICONDATAW) + sizeof(HICON), std::string(100, 'x')}, // 956
    };
    for (const auto& c : cases) {
        NOTIFYICONDATAW data = Record(owner.window, 3, NIF_MESSAGE | NIF_TIP, nullptr, c.size);
        wcscpy(data.szTip, longTip.c_str());
        ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &data)) << "size " << c.size;
        EXPECT_EQ(Line(owner.window, "VelmoraTrayOwner", 3, Callback, "none", c.tip), ShownIcons())
            << "size " << c.size;
        EXPECT_TRUE(Shell_NotifyIcon(NIM_DELETE, &data)) << "size " << c.size;
    }
}

namespace {

struct RawRecord {
    tray::IconRecord header = {};
    tray::Pixels pixels{};
    size_t extra = 0; // bytes beyond the image
    ULONG_PTR tag = tray::IconRecordTag;
    size_t length() const { return sizeof header + header.imageWidth * header.imageHeight * 4; }
};

LRESULT SendRaw(const RawRecord& record, DWORD cbData) {
    std::vector<BYTE> bytes(sizeof record.header + sizeof record.pixels + 64, 0);
    std::memcpy(bytes.data(), &record.header, sizeof record.header);
    std::memcpy(bytes.data() + sizeof record.header, record.pixels.data(), sizeof record.pixels);
    COPYDATASTRUCT copy = {record.tag, cbData, bytes.data()};
    DWORD_PTR answer = 77;
    if (!SendMessageTimeoutW(Taskbar(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy),
                             SMTO_ABORTIFHUNG, 5000, &answer))
        return -1;
    return static_cast<LRESULT>(answer);
}

} // namespace

TEST_F(Tray, TheShellRefusesShortLongAndGarbledRecords) {
    Owner owner;
    RawRecord valid;
    valid.header.message = NIM_ADD;
    valid.header.window = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(owner.window));
    valid.header.id = 11;
    valid.header.flags = NIF_MESSAGE | NIF_ICON;
    valid.header.callbackMessage = Callback;
    valid.header.imageWidth = valid.header.imageHeight = tray::IconSize;
    valid.pixels.fill(0xFF102030);
    valid.header.size = static_cast<DWORD>(valid.length());
    const DWORD length = static_cast<DWORD>(valid.length());

    const std::string before = ShownIcons();
    const struct {
        const char* what;
        std::function<void(RawRecord&)> change;
        DWORD cbData; // 0: the record's own length
    } cases[] = {
        {"no data at all", [](auto&) {}, 1},
        {"shorter than the header", [](auto& r) { r.header.size = 40; }, 40},
        {"cut off inside the image", [](auto&) {}, length - 4},
        {"longer than the record", [&](auto& r) { r.header.size = length + 4; }, length + 4},
        {"size field larger than the data", [&](auto& r) { r.header.size = length + 4; }, 0},
        {"size field smaller than the data", [&](auto& r) { r.header.size = length - 4; }, 0},
        {"an image of 8 x 8",
         [](auto& r) {
             r.header.imageWidth = r.header.imageHeight = 8;
             r.header.size = static_cast<DWORD>(r.length());
         },
         sizeof(tray::IconRecord) + 256},
        {"an image without NIF_ICON", [](auto& r) { r.header.flags = NIF_MESSAGE; }, 0},
        {"a tip without its end", [](auto& r) { std::fill_n(r.header.tip, 128, L'x'); }, 0},
        {"unknown flags", [](auto& r) { r.header.flags |= NIF_STATE; }, 0},
        {"an unknown request", [](auto& r) { r.header.message = 7; }, 0},
        {"half-transparent pixels", [](auto& r) { r.pixels[5] = 0x80FFFFFF; }, 0},
        {"Wine's shell32 tag", [](auto& r) { r.tag = NIM_ADD; }, 0},
        {"a list request with data", [](auto& r) { r.tag = tray::ListRequestTag; }, 0},
        {"a list request without a window to answer", [](auto& r) { r.tag = tray::ListRequestTag; },
         0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        RawRecord record = valid;
        c.change(record);
        DWORD cbData = c.cbData == 0 ? static_cast<DWORD>(record.length()) : c.cbData;
        if (cbData == 0xFFFFFFFF)
            cbData = 0;
        EXPECT_EQ(0, SendRaw(record, cbData)) << c.what;
        EXPECT_EQ(before, ShownIcons()) << c.what;
    }
    EXPECT_EQ(1, SendRaw(valid, length)) << "the shell still takes a good record";
    EXPECT_NE(std::string::npos, ShownIcons().find("id=11 ")) << ShownIcons();
    DestroyWindow(owner.window);
}

TEST_F(Tray, WinesOwnTrayNeverReceivesAnIcon) {
    HMODULE shell32 = LoadLibraryW(L"shell32.dll");
    using NotifyProc = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);
    auto wineNotify = reinterpret_cast<NotifyProc>(
        reinterpret_cast<void*>(GetProcAddress(shell32, "Shell_NotifyIconW")));
    ASSERT_NE(nullptr, wineNotify);
    Owner owner;
    TestIcon icon(RGB(255, 0, 0), 0);
    auto data = Record(owner.window, 1, NIF_MESSAGE | NIF_ICON, icon.icon, sizeof(NOTIFYICONDATAW));
    EXPECT_FALSE(wineNotify(NIM_ADD, &data)) << "the device shell refuses shell32's records";
    Pump(1000);
    EXPECT_EQ("", ShownIcons());
    for (HWND w : TopLevelWindows(tray::ShellClass)) {
        if (w != Taskbar()) {
            EXPECT_FALSE(IsWindowVisible(w)) << "another tray window shows";
        }
    }
    wineNotify(NIM_DELETE, &data);
    FreeLibrary(shell32);
}

HARNESS_CHILD_ROLE(WorkAreaTop, L"work-area-top") {
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return work.top * 1000 + work.bottom;
}

TEST_F(Tray, TheTaskbarTopsTheScreenAndLeavesTheRestAsWorkArea) {
    RECT r;
    GetWindowRect(Taskbar(), &r);
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    EXPECT_EQ(240, r.right);
    EXPECT_EQ(26, r.bottom);
    EXPECT_TRUE(IsWindowVisible(Taskbar()));
    EXPECT_TRUE(GetWindowLongW(Taskbar(), GWL_EXSTYLE) & WS_EX_TOPMOST);
    // Every process sees the same work area, whoever set it.
    Process child = StartChild(L"work-area-top");
    DWORD code = 0;
    ASSERT_TRUE(child.WaitExit(15000, &code));
    EXPECT_EQ(26u * 1000 + 320, code) << "top * 1000 + bottom of the work area in a new process";
    RECT bad = {0, 0, 300, 400}, saved = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
    EXPECT_FALSE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &bad, 0)) << "off the screen";
    RECT after = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &after, 0);
    EXPECT_TRUE(EqualRect(&saved, &after));
}
