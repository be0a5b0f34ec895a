// The timeout pages "Batterie", "Extern" and "Nachricht" (tabs 1 to 3), run through the
// TimeoutBinding of the selected tab.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK TimeoutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    return message == WM_COMMAND ? AnswerHostCommand(page, wParam) : FALSE;
}
