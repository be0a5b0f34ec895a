// The lock page (tab 5): the notifier's lock icon and its two options.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK LockPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return message == WM_COMMAND ? AnswerHostCommand(page, wParam) : FALSE;
}
