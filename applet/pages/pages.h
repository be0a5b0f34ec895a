// Dialog procedures of the pages under the tabs.
#pragma once
#include "wince.h"

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TimeoutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PowerFailurePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LockPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The pages' check boxes, read and set one way: through the platform's two calls.
inline bool IsChecked(HWND page, int id) {
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}
inline void SetChecked(HWND page, int id, bool checked) {
    CheckDlgButton(page, id, checked ? BST_CHECKED : BST_UNCHECKED);
}
