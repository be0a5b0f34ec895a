// The Status page (tab 0): battery states, lifetimes, version and logo.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
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
