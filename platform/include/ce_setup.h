// A package's setup library (setup.dll), as the platform's installer calls it: the four entries
// and their answers. The installer calls Install_Init before it writes anything and
// Install_Exit after; the remover calls Uninstall_Init before it deletes anything and
// Uninstall_Exit after. In the cabinet the library is the file numbered 999.
#pragma once
#include "wince.h"

enum codeINSTALL_INIT { codeINSTALL_INIT_CONTINUE = 0, codeINSTALL_INIT_CANCEL };
enum codeINSTALL_EXIT { codeINSTALL_EXIT_DONE = 0, codeINSTALL_EXIT_UNINSTALL };
enum codeUNINSTALL_INIT { codeUNINSTALL_INIT_CONTINUE = 0, codeUNINSTALL_INIT_CANCEL };
enum codeUNINSTALL_EXIT { codeUNINSTALL_EXIT_DONE = 0 };

constexpr unsigned SetupLibraryFileNumber = 999;

extern "C" {
typedef codeINSTALL_INIT (*InstallInitProc)(HWND parent, BOOL firstCall, BOOL previouslyInstalled,
                                            LPCWSTR installDir);
typedef codeINSTALL_EXIT (*InstallExitProc)(HWND parent, LPCWSTR installDir, WORD failedDirs,
                                            WORD failedFiles, WORD failedRegKeys,
                                            WORD failedRegValues, WORD failedShortcuts);
typedef codeUNINSTALL_INIT (*UninstallInitProc)(HWND parent, LPCWSTR installDir);
typedef codeUNINSTALL_EXIT (*UninstallExitProc)(HWND parent);
}
