// The power-failure page with the applet linked in: what it shows on a device with and without
// the clean-boot procedure, each answer to its confirmation, and the name buffers, which must
// hold nothing whenever the page is not using them, also while its boxes are up.
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <ostream>
#include "applet.h"
#include "applet_support.h"
#include "linked_applet.h"
#include "device_store.h"
#include "harness.h"
#include "scrambled_names.h"

using namespace applet_test;

namespace {

constexpr wchar_t Explanation[] = L"Ein totaler Stromausfall wird simuliert.\n\nDadurch werden "
                                  L"alle Informationen in Ihrem Palmsize PC gelöscht.";
constexpr wchar_t Incompatible[] = L"Diese Funktion ist nicht mit Ihrem Gerät kompatibel.";
constexpr wchar_t Procedure[] = L"SetCleanRebootFlag";

bool NamesWiped() {
    auto zero = [](wchar_t c) { return c == 0; };
    return std::all_of(LibraryNameBuffer.begin(), LibraryNameBuffer.end(), zero) &&
           std::all_of(CleanRebootNameBuffer.begin(), CleanRebootNameBuffer.end(), zero);
}

// A message box: what the page asked MessageBoxW for, and what the user meets (buttons, icon,
// default button, read back from the box).
struct Box {
    std::wstring caption, text;
    UINT asked, shown;
    HWND owner;
    bool namesWiped; // while it was up
    bool operator==(const Box& o) const {
        return caption == o.caption && text == o.text && asked == o.asked && shown == o.shown &&
               owner == o.owner && namesWiped == o.namesWiped;
    }
};

void PrintTo(const Box& box, std::ostream* out) {
    *out << "{\"" << harness::Utf8(box.caption) << "\" \"" << harness::Utf8(box.text)
         << "\" asked 0x" << std::hex << box.asked << " shown 0x" << box.shown << std::dec
         << " owner " << box.owner << (box.namesWiped ? " names wiped}" : " NAMES PLAIN}");
}

const Box Confirm = {L"Achtung!",
                     L"Wollen Sie wirklich alle Informationen in Ihrem Windows CE Gerät löschen?",
                     MB_YESNO | MB_ICONSTOP | MB_DEFBUTTON2 | MB_SETFOREGROUND,
                     MB_YESNO | MB_ICONSTOP | MB_DEFBUTTON2,
                     nullptr,
                     true};
const Box PressReset = {L"Achtung!",
                        L"Drücken Sie jetzt die Reset-Taste!",
                        MB_OK | MB_ICONSTOP | MB_SETFOREGROUND,
                        MB_OK | MB_ICONSTOP,
                        nullptr,
                        true};

// For each box, whether the names were wiped when it first came up. Hooked after the
// harness's catcher, so it looks before the catcher answers.
std::vector<std::pair<HWND, bool>>* WipedAtBox;
LRESULT CALLBACK NoteNames(int code, WPARAM wParam, LPARAM lParam) {
    auto box = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && harness::ClassOf(box) == L"#32770" &&
        std::none_of(WipedAtBox->begin(), WipedAtBox->end(),
                     [box](const auto& seen) { return seen.first == box; }))
        WipedAtBox->push_back({box, NamesWiped()});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct PageState {
    std::wstring text;
    bool buttonShown;
    bool operator==(const PageState& o) const {
        return text == o.text && buttonShown == o.buttonShown;
    }
};

void PrintTo(const PageState& state, std::ostream* out) {
    *out << "{\"" << harness::Utf8(state.text) << "\", button "
         << (state.buttonShown ? "shown}" : "hidden}");
}

PageState StateOf(HWND page) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(page, 1060, text, 256);
    return {text, (GetWindowLongW(GetDlgItem(page, 1059), GWL_STYLE) & WS_VISIBLE) != 0};
}

DWORD CleanFlag() {
    DWORD flag = 0;
    harness::ReadDword(HKEY_LOCAL_MACHINE, device_store::InitKey, device_store::CleanBootValue,
                       &flag);
    return flag;
}

void ClearCleanFlag() {
    harness::DeleteValue(HKEY_LOCAL_MACHINE, device_store::InitKey, device_store::CleanBootValue);
}

class PowerFailurePage : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartLinkedApplet(false); }
    static void TearDownTestSuite() { StopLinkedApplet(false); }
    void TearDown() override {
        // The test device must not come back erased from its next reset.
        harness::LeaveOutExports({});
        ClearCleanFlag();
    }
};

} // namespace

TEST_F(PowerFailurePage, OffersTheFailureOnlyWhereTheProcedureIsAndCallsItOnlyAfterYes) {
    const PageState offered = {Explanation, true}, refused = {Incompatible, false};
    const struct {
        const char* what;
        bool atOpen, atClick; // whether the device has the procedure
        int answer;           // 0: no click
        std::vector<Box> boxes;
        DWORD cleanFlag;
        PageState after;
    } cases[] = {
        {"a device without the procedure", false, false, 0, {}, 0, refused},
        {"No", true, true, IDNO, {Confirm}, 0, offered},
        {"the box closed", true, true, IDCANCEL, {Confirm}, 0, offered},
        {"Yes", true, true, IDYES, {Confirm, PressReset}, 1, offered},
        {"Yes, the procedure gone since the opening", true, false, IDYES, {Confirm}, 0, refused},
    };
    for (const auto& c : cases) {
        ClearCleanFlag();
        harness::LeaveOutExports(c.atOpen ? std::vector<std::wstring>{}
                                          : std::vector<std::wstring>{Procedure});
        std::vector<std::pair<HWND, bool>> wiped;
        WipedAtBox = &wiped;
        harness::MessageBoxCatcher catcher(c.answer);
        HHOOK hook = SetWindowsHookExW(WH_CBT, NoteNames, nullptr, GetCurrentThreadId());
        OpenAndDrive(CPlApplet, nullptr, 4, [&](HWND main) {
            HWND page = PageOfTab(HostDialogOf(main), 4);
            ASSERT_NE(nullptr, page) << c.what;
            EXPECT_EQ(c.atOpen ? offered : refused, StateOf(page)) << c.what << ", opened";
            EXPECT_TRUE(NamesWiped()) << c.what << ", after the opening";
            harness::LeaveOutExports(c.atClick ? std::vector<std::wstring>{}
                                               : std::vector<std::wstring>{Procedure});
            if (c.answer)
                SendMessageW(GetDlgItem(page, 1059), BM_CLICK, 0, 0);
            EXPECT_EQ(c.after, StateOf(page)) << c.what << ", after the click";
            EXPECT_TRUE(NamesWiped()) << c.what << ", after the click";
            SendMessageW(main, WM_CLOSE, 0, 0);
        });
        UnhookWindowsHookEx(hook);
        std::vector<Box> boxes;
        for (size_t i = 0; i < catcher.boxes().size(); ++i) {
            const auto& seen = catcher.boxes()[i];
            boxes.push_back({seen.caption, seen.text, seen.asked, seen.flags, seen.owner,
                             i < wiped.size() && wiped[i].second});
        }
        EXPECT_EQ(c.boxes, boxes) << c.what;
        EXPECT_EQ(c.cleanFlag, CleanFlag()) << c.what << ": the clean-boot flag";
    }
}
