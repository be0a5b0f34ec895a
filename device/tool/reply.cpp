// The shell answers a request with a WM_COPYDATA of its own to a window of the asker's, sent
// while the request is still being sent: one message-only window takes every such answer.
#include <windows.h>
#include <vector>
#include "commands.h"

namespace {

struct Reply {
    ULONG_PTR tag;
    bool received;
    std::vector<BYTE> bytes;
};
Reply Answer;

LRESULT CALLBACK ReplyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COPYDATA)
        return DefWindowProcW(window, message, wParam, lParam);
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!copy || copy->dwData != Answer.tag || (copy->cbData && !copy->lpData))
        return FALSE;
    const auto* first = static_cast<const BYTE*>(copy->lpData);
    Answer.bytes.assign(first, first + copy->cbData);
    Answer.received = true;
    return TRUE;
}

HWND CreateReplyWindow() {
    constexpr wchar_t className[] = L"VelmoraReply";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ReplyProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           nullptr);
}

} // namespace

bool AskShell(HWND to, UINT message, LPARAM lParam, ULONG_PTR tag, std::vector<BYTE>* answer) {
    HWND replyTo = CreateReplyWindow();
    Answer = Reply{tag, false, {}};
    DWORD_PTR result = 0;
    const BOOL sent = SendMessageTimeoutW(to, message, reinterpret_cast<WPARAM>(replyTo), lParam,
                                          SMTO_ABORTIFHUNG, 5000, &result);
    DestroyWindow(replyTo);
    if (!sent || !result || !Answer.received)
        return false;
    *answer = Answer.bytes;
    return true;
}
