// Message boxes, read back from the box itself and answered from the test.
#include <algorithm>
#include "harness.h"

namespace harness {
namespace {

// The controls of the system's message box template.
constexpr int BoxTextId = 0xFFFF;
constexpr int BoxIconId = 0x0440;

struct ButtonSet {
    UINT type;
    std::vector<int> ids;
};

const ButtonSet ButtonSets[] = {
    {MB_OK, {IDOK}},
    {MB_OKCANCEL, {IDOK, IDCANCEL}},
    {MB_ABORTRETRYIGNORE, {IDABORT, IDRETRY, IDIGNORE}},
    {MB_YESNOCANCEL, {IDYES, IDNO, IDCANCEL}},
    {MB_YESNO, {IDYES, IDNO}},
    {MB_RETRYCANCEL, {IDRETRY, IDCANCEL}},
};

// The hook reads a box before it is shown, when no control of it is visible yet: what counts
// is whether the box will show the control.
bool Shown(HWND control) {
    return control && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE);
}

UINT ButtonFlags(HWND box) {
    std::vector<int> present;
    for (int id = IDOK; id <= IDNO; ++id) {
        if (Shown(GetDlgItem(box, id)))
            present.push_back(id);
    }
    LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
    int defId = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0;
    for (const auto& set : ButtonSets) {
        auto sorted = set.ids;
        std::sort(sorted.begin(), sorted.end());
        if (sorted != present)
            continue;
        auto at = std::find(set.ids.begin(), set.ids.end(), defId);
        UINT index = at == set.ids.end() ? 0 : static_cast<UINT>(at - set.ids.begin());
        return set.type | (index << 8); // MB_DEFBUTTON2 is 0x100, MB_DEFBUTTON3 0x200
    }
    return 0xFFFFFFFF;
}

// Only the icons of this process can be compared; another process's box reads as no icon.
UINT IconFlags(HWND box) {
    HWND icon = GetDlgItem(box, BoxIconId);
    if (!Shown(icon))
        return 0;
    auto shown = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
    const struct {
        LPCWSTR id;
        UINT flag;
    } icons[] = {{IDI_HAND, MB_ICONHAND},
                 {IDI_QUESTION, MB_ICONQUESTION},
                 {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                 {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& candidate : icons)
        if (shown && shown == LoadIconW(nullptr, candidate.id))
            return candidate.flag;
    return 0;
}

struct CatcherState {
    HHOOK hook = nullptr;
    int answer = IDOK;
    std::vector<MessageBoxInfo> boxes;
    std::vector<HWND> seen;
};
CatcherState* Catcher;

LRESULT CALLBACK CatchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Catcher) {
        auto box = reinterpret_cast<HWND>(wParam);
        if (ClassOf(box) == L"#32770" && GetDlgItem(box, BoxTextId) &&
            std::find(Catcher->seen.begin(), Catcher->seen.end(), box) == Catcher->seen.end()) {
            Catcher->seen.push_back(box);
            Catcher->boxes.push_back(ReadMessageBox(box));
            AnswerBox(box, Catcher->answer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

MessageBoxInfo ReadMessageBox(HWND box) {
    MessageBoxInfo info;
    info.caption = WindowText(box);
    info.text = WindowText(GetDlgItem(box, BoxTextId));
    info.flags = ButtonFlags(box) | IconFlags(box);
    info.owner = GetWindow(box, GW_OWNER);
    return info;
}

void AnswerBox(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

HWND WaitMessageBox(DWORD pid, DWORD ms) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND w : TopLevelWindows(L"#32770", pid)) {
                if (GetDlgItem(w, BoxTextId) && IsWindowVisible(w)) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        ms);
    return found;
}

MessageBoxCatcher::MessageBoxCatcher(int answer) {
    Catcher = new CatcherState;
    Catcher->answer = answer;
    Catcher->hook = SetWindowsHookExW(WH_CBT, CatchBoxes, nullptr, GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher() {
    UnhookWindowsHookEx(Catcher->hook);
    delete Catcher;
    Catcher = nullptr;
}

const std::vector<MessageBoxInfo>& MessageBoxCatcher::boxes() const { return Catcher->boxes; }

void MessageBoxCatcher::set_answer(int answer) { Catcher->answer = answer; }

} // namespace harness
