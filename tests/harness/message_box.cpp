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

// Whether the box shows the control.
bool Shown(HWND control) {
    return control && (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE);
}

UINT ButtonFlags(HWND box) {
    std::vector<int> present;
    for (int id = IDOK; id <= IDNO; ++id) {
        if (Shown(GetDlgItem(box, id)))
            present.push_back(id);
    }
    // The default button as the user meets it is the one drawn as such, which the focus
    // carries and Enter presses. The box's default id need not match it: Wine's says IDOK also
    // where there is none.
    int defId = 0;
    for (int id : present)
        if ((GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            defId = id;
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

using MessageBoxProc = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

// The slot of this program's import table through which its own code, the applet's objects
// linked into it included, calls user32's MessageBoxW; nullptr when it makes no such call.
MessageBoxProc* MessageBoxImport() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto real =
        reinterpret_cast<ULONG_PTR>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MessageBoxW"));
    if (!imports.VirtualAddress || !real)
        return nullptr;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         dll->Name; ++dll)
        for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
             slot->u1.Function; ++slot)
            if (static_cast<ULONG_PTR>(slot->u1.Function) == real)
                return reinterpret_cast<MessageBoxProc*>(&slot->u1.Function);
    return nullptr;
}

void Redirect(MessageBoxProc* slot, MessageBoxProc to) {
    DWORD was;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
    *slot = to;
    VirtualProtect(slot, sizeof *slot, was, &was);
}

struct CatcherState {
    HHOOK hook = nullptr;
    int answer = IDOK;
    std::vector<MessageBoxInfo> boxes;
    std::vector<HWND> seen;
    std::vector<HWND> pending; // activated, not yet shown
    HHOOK shownHook = nullptr;
    MessageBoxProc* import = nullptr;
    MessageBoxProc real = nullptr;
    std::vector<UINT> asked; // the flags of the MessageBoxW calls under way, innermost last
};
CatcherState* Catcher;

int WINAPI RecordingMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    CatcherState* state = Catcher;
    state->asked.push_back(flags);
    const int result = state->real(owner, text, caption, flags);
    state->asked.pop_back();
    return result;
}

// A box is read as the user meets it, once it is shown, not at its activation, which can come
// before its set-up is done (MB_SETFOREGROUND activates it from within). The answer is posted
// at once, so it comes before anything else the box's own message loop would carry out.
LRESULT CALLBACK ReadWhenShown(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && Catcher && sent->message == WM_WINDOWPOSCHANGED &&
        (reinterpret_cast<const WINDOWPOS*>(sent->lParam)->flags & SWP_SHOWWINDOW)) {
        auto pending = std::find(Catcher->pending.begin(), Catcher->pending.end(), sent->hwnd);
        if (pending != Catcher->pending.end()) {
            Catcher->pending.erase(pending);
            MessageBoxInfo info = ReadMessageBox(sent->hwnd);
            info.asked = Catcher->asked.empty() ? 0 : Catcher->asked.back();
            Catcher->boxes.push_back(info);
            AnswerBox(sent->hwnd, Catcher->answer);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CatchBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Catcher) {
        auto box = reinterpret_cast<HWND>(wParam);
        if (ClassOf(box) == L"#32770" && GetDlgItem(box, BoxTextId) &&
            std::find(Catcher->seen.begin(), Catcher->seen.end(), box) == Catcher->seen.end()) {
            Catcher->seen.push_back(box);
            Catcher->pending.push_back(box);
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
    Catcher->shownHook =
        SetWindowsHookExW(WH_CALLWNDPROCRET, ReadWhenShown, nullptr, GetCurrentThreadId());
    Catcher->import = MessageBoxImport();
    if (Catcher->import) {
        Catcher->real = *Catcher->import;
        Redirect(Catcher->import, RecordingMessageBox);
    }
}

MessageBoxCatcher::~MessageBoxCatcher() {
    UnhookWindowsHookEx(Catcher->hook);
    UnhookWindowsHookEx(Catcher->shownHook);
    if (Catcher->import)
        Redirect(Catcher->import, Catcher->real);
    delete Catcher;
    Catcher = nullptr;
}

const std::vector<MessageBoxInfo>& MessageBoxCatcher::boxes() const {
    return Catcher->boxes;
}

void MessageBoxCatcher::set_answer(int answer) {
    Catcher->answer = answer;
}

} // namespace harness
