// The help viewer opening topics of the product's help file.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include "harness.h"

using namespace harness;

namespace {

struct Shown {
    std::wstring caption, title, text;
};

Shown OpenHelp(const std::wstring& line) {
    Shown shown;
    Process viewer = Start(L"PegHelp.exe", line);
    HWND window = WaitWindow(L"PegHelp", 15000, viewer.pid());
    EXPECT_NE(nullptr, window) << "no help window for " << Utf8(line);
    if (!window)
        return shown;
    WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000);
    shown = {WindowText(window), WindowText(GetDlgItem(window, 101)),
             WindowText(GetDlgItem(window, 102))};
    SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    DWORD code = 99;
    EXPECT_TRUE(viewer.WaitExit(10000, &code)) << "the close button did not close the viewer";
    EXPECT_EQ(0u, code);
    return shown;
}

} // namespace

TEST(HelpViewer, OpensTheTopicAtTheAnchorOrTheTopOfTheFile) {
    const struct {
        const wchar_t* line;
        const wchar_t* title;
        const wchar_t* textPart;
    } cases[] = {
        {L"velmora.htp#notify", L"Nachricht", L"Alarm"},
        {L"velmora.htp#dropout", L"Stromausfall", L"nicht rückgängig"},
        {L"Velmora.htp#powersupply_help", L"Velmora – Energieverwaltung", L"sechs Registerkarten"},
        {L"velmora.htp#gibtsnicht", L"Velmora – Energieverwaltung", L"sechs Registerkarten"},
        {L"velmora.htp", L"Velmora – Energieverwaltung", L"sechs Registerkarten"},
    };
    for (const auto& c : cases) {
        Shown shown = OpenHelp(c.line);
        EXPECT_EQ(std::wstring(c.title), shown.title) << Utf8(c.line);
        EXPECT_EQ(L"Hilfe: " + std::wstring(c.title), shown.caption) << Utf8(c.line);
        EXPECT_NE(std::wstring::npos, shown.text.find(c.textPart))
            << Utf8(c.line) << ": expected \"" << Utf8(c.textPart) << "\" in \"" << Utf8(shown.text)
            << "\"";
        EXPECT_EQ(std::wstring::npos, shown.text.find(L'<')) << "markup left in the text";
    }
}

TEST(HelpViewer, EveryPageOfTheAppletHasATopicOfItsOwn) {
    std::set<std::wstring> titles;
    for (const wchar_t* anchor :
         {L"status", L"battery", L"extern", L"notify", L"dropout", L"lock", L"powersupply_help"}) {
        Shown shown = OpenHelp(std::wstring(L"velmora.htp#") + anchor);
        EXPECT_FALSE(shown.text.empty()) << Utf8(anchor);
        titles.insert(shown.title);
    }
    EXPECT_EQ(7u, titles.size()) << "some anchors fall back to the same topic";
}

TEST(HelpViewer, AMissingFileGetsAGermanMessage) {
    for (const wchar_t* line : {L"fehlt.htp#status", L"..\\velmora.htp#status", L""}) {
        Process viewer = Start(L"PegHelp.exe", line);
        HWND box = WaitMessageBox(viewer.pid(), 15000);
        ASSERT_NE(nullptr, box) << "no message for \"" << Utf8(line) << "\"";
        MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_EQ(L"Hilfe", info.caption);
        EXPECT_NE(std::wstring::npos, info.text.find(L"wurde nicht gefunden")) << Utf8(info.text);
        AnswerBox(box, IDOK);
        DWORD code = 0;
        ASSERT_TRUE(viewer.WaitExit(10000, &code));
        EXPECT_EQ(1u, code);
    }
}

namespace {

// A PNG's pixels as rows of RGB, decoded by the platform's imaging component; empty when the
// file is no PNG or cannot be read.
std::string PngPixels(const std::wstring& file, uint32_t* width, uint32_t* height) {
    using Microsoft::WRL::ComPtr;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> bgr;
    GUID container = {};
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)) ||
        FAILED(decoder->GetContainerFormat(&container)) ||
        !IsEqualGUID(container, GUID_ContainerFormatPng) || FAILED(decoder->GetFrame(0, &frame)) ||
        FAILED(frame->GetSize(width, height)) || FAILED(factory->CreateFormatConverter(&bgr)) ||
        FAILED(bgr->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                               nullptr, 0, WICBitmapPaletteTypeCustom)))
        return "";
    std::string pixels(size_t(*height) * *width * 3, '\0');
    if (FAILED(bgr->CopyPixels(nullptr, *width * 3, static_cast<UINT>(pixels.size()),
                               reinterpret_cast<BYTE*>(pixels.data()))))
        return "";
    for (size_t at = 0; at < pixels.size(); at += 3)
        std::swap(pixels[at], pixels[at + 2]);
    return pixels;
}

} // namespace

TEST(Screenshot, ShowsTheWholeScreenWithAKnownWindowOnIt) {
    Process viewer = Start(L"PegHelp.exe", L"velmora.htp#lock");
    HWND window = WaitWindow(L"PegHelp", 15000, viewer.pid());
    ASSERT_NE(nullptr, window);
    WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 5000);
    Pump(500);
    const std::wstring file = WindowsDir() + L"\\temp\\shot.png";
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"shot " + file, &out)) << out;
    // The viewer's close button is drawn in the button face colour, the text area in white.
    RECT button = {};
    ASSERT_TRUE(GetWindowRect(GetDlgItem(window, IDCANCEL), &button)) << "the close button";
    SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    uint32_t width = 0, height = 0;
    std::string pixels = PngPixels(file, &width, &height);
    CoUninitialize();
    DeleteFileW(file.c_str());
    EXPECT_EQ(240u, width);
    EXPECT_EQ(320u, height);
    ASSERT_EQ(size_t(height) * width * 3, pixels.size()) << "the screenshot is no PNG that decodes";
    auto pixel = [&](int x, int y) {
        size_t at = (size_t(y) * width + x) * 3;
        return RGB(uint8_t(pixels[at]), uint8_t(pixels[at + 1]), uint8_t(pixels[at + 2]));
    };
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(face, pixel(button.left + 3, button.bottom - 4))
        << "expected the button face at the close button, actual " << std::hex
        << pixel(button.left + 3, button.bottom - 4);
    std::set<COLORREF> colours;
    for (uint32_t y = 0; y < height; y += 4)
        for (uint32_t x = 0; x < width; x += 4)
            colours.insert(pixel(x, y));
    EXPECT_GT(colours.size(), 2u) << "the screen is (nearly) all one colour";
    EXPECT_TRUE(viewer.WaitExit(10000));
}
