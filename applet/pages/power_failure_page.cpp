// The power-failure page (tab 4): a simulated total power failure.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK PowerFailurePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return message == WM_COMMAND ? AnswerHostCommand(page, wParam) : FALSE;
}
