// The Status page (tab 0): battery states, lifetimes, version and logo.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return message == WM_COMMAND ? AnswerHostCommand(page, wParam) : FALSE;
}
