// The timeout pages "Batterie", "Extern" and "Nachricht" (tabs 1 to 3), run through the
// TimeoutBinding of the selected tab.
#include "pages.h"
#include "applet.h"

INT_PTR CALLBACK TimeoutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
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
