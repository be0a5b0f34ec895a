// Dialog procedures of the pages under the tabs.
#pragma once
#include "wince.h"

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK TimeoutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PowerFailurePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LockPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
