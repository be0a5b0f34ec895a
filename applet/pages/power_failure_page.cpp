// The power-failure page (tab 4): a simulated total power failure.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK PowerFailurePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND)
        return FALSE;
    switch (wParam) {
    case IDOK: // sent after the save: the values already sit in AppletSettings
        return TRUE;
    case IDCANCEL: // sent when the window closes without saving
        DiscardPage(page);
        return TRUE;
    }
    return FALSE;
}
