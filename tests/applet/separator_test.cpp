// The heading control "SEPARATOR", read back pixel by pixel from the window it paints in.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include "applet_support.h"
#include "harness.h"
#include "separator.h"

namespace {

constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Backdrop = RGB(0, 128, 255); // the parent's own colour
constexpr int Left = 10, Top = 10;              // the separator inside its parent

// What the control's own font (Tahoma 14, bold) makes of a text, measured independently.
SIZE Extent(const std::wstring& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font =
        CreateFontW(14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS, L"Tahoma");
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return size;
}

class Separator : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        RegisterSeparatorClass(GetModuleHandleW(nullptr));
        WNDCLASSW parentClass = {};
        parentClass.lpfnWndProc = DefWindowProcW;
        parentClass.hInstance = GetModuleHandleW(nullptr);
        parentClass.hbrBackground = CreateSolidBrush(Backdrop);
        parentClass.lpszClassName = L"VelmoraSeparatorParent";
        RegisterClassW(&parentClass);
    }
    void SetUp() override {
        parent_ =
            CreateWindowExW(WS_EX_TOPMOST, L"VelmoraSeparatorParent", L"", WS_POPUP | WS_VISIBLE, 0,
                            0, 230, 60, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, parent_);
    }
    void TearDown() override { DestroyWindow(parent_); }

    HWND Make(const std::wstring& text, int width, int height = 20, bool visible = true) {
        HWND separator = CreateWindowExW(
            0, SeparatorClassName, text.c_str(), WS_CHILD | (visible ? WS_VISIBLE : 0), Left, Top,
            width, height, parent_, nullptr, GetModuleHandleW(nullptr), nullptr);
        Settle();
        return separator;
    }
    void Settle() {
        UpdateWindow(parent_);
        RedrawWindow(parent_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        harness::Pump(50);
    }
    // A pixel of the separator's area, in its own coordinates, read from the parent's DC.
    COLORREF Pixel(int x, int y) const {
        HDC dc = GetDC(parent_);
        COLORREF colour = GetPixel(dc, Left + x, Top + y) & 0xFFFFFF;
        ReleaseDC(parent_, dc);
        return colour;
    }
    int BlackIn(int x0, int x1, int y0, int y1) const {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                count += Pixel(x, y) == Black;
        return count;
    }
    // The bar: both rows black from w + 5 to the right edge, white around it.
    void ExpectBar(int start, int right, int h, const std::string& what) const {
        const int row = h / 2;
        for (int x = start; x < right; ++x) {
            ASSERT_EQ(Black, Pixel(x, row)) << what << ": bar row " << row << ", x " << x;
            ASSERT_EQ(Black, Pixel(x, row + 1)) << what << ": bar row " << row + 1 << ", x " << x;
            ASSERT_EQ(White, Pixel(x, row + 2)) << what << ": below the bar, x " << x;
            if (row > 0) {
                ASSERT_EQ(White, Pixel(x, row - 1)) << what << ": above the bar, x " << x;
            }
        }
        EXPECT_EQ(White, Pixel(start - 1, row)) << what << ": the gap before the bar";
    }

    HWND parent_ = nullptr;
};

} // namespace

TEST_F(Separator, DrawsItsTextAtTheLeftAndTheBarFromJustAfterItToTheRightEdge) {
    for (const std::wstring text : {L"Gerät ausschalten", L"Velmora", L""}) {
        const std::string what = harness::Utf8(text.empty() ? L"(empty)" : text);
        HWND separator = Make(text, 200);
        const SIZE extent = Extent(text);
        if (text.empty()) {
            EXPECT_EQ(0, BlackIn(0, 5, 0, 20)) << what << ": no text drawn";
        } else {
            EXPECT_GT(BlackIn(0, extent.cx, 0, extent.cy), 10) << what << ": text at the left";
        }
        ExpectBar(extent.cx + 5, 200, extent.cy, what);
        const int below = std::max<int>(extent.cy, extent.cy / 2 + 2);
        EXPECT_EQ(0, BlackIn(0, 200, below, 20)) << what << ": white under text and bar";
        EXPECT_EQ(Backdrop, Pixel(200, extent.cy / 2)) << what << ": nothing beyond the edge";
        DestroyWindow(separator);
    }
}

TEST_F(Separator, KeepsItsOwnFontWhateverFontItIsGiven) {
    HWND separator = Make(L"Licht ausschalten", 200);
    HFONT big =
        CreateFontW(24, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
    SendMessageW(separator, WM_SETFONT, reinterpret_cast<WPARAM>(big), TRUE);
    Settle();
    const SIZE extent = Extent(L"Licht ausschalten");
    ExpectBar(extent.cx + 5, 200, extent.cy, "after WM_SETFONT");
    DestroyWindow(separator);
    DeleteObject(big);
}

TEST_F(Separator, IsRepaintedWholeWhenItsWidthChanges) {
    HWND separator = Make(L"Velmora", 120);
    const SIZE extent = Extent(L"Velmora");
    ExpectBar(extent.cx + 5, 120, extent.cy, "120 wide");
    for (int width : {190, 90}) {
        SetWindowPos(separator, nullptr, 0, 0, width, 20, SWP_NOMOVE | SWP_NOZORDER);
        Settle();
        ExpectBar(extent.cx + 5, width, extent.cy, std::to_string(width) + " wide");
        EXPECT_EQ(Backdrop, Pixel(width + 5, extent.cy / 2)) << width << " wide";
    }
    DestroyWindow(separator);
}

TEST_F(Separator, PaintsNothingWhileHidden) {
    HWND separator = Make(L"Batterielaufzeit", 200, 20, false);
    EXPECT_EQ(Backdrop, Pixel(2, 2));
    EXPECT_EQ(Backdrop, Pixel(150, Extent(L"Batterielaufzeit").cy / 2));
    EXPECT_EQ(0, BlackIn(0, 200, 0, 20)) << "a hidden separator";
    ShowWindow(separator, SW_SHOW);
    Settle();
    const SIZE extent = Extent(L"Batterielaufzeit");
    ExpectBar(extent.cx + 5, 200, extent.cy, "once shown");
    DestroyWindow(separator);
}
