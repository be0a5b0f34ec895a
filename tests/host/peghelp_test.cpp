// The help viewer opening topics of the product's help file.
#include <gtest/gtest.h>
#include <set>
#include <string>
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
