// The Pocket PC shell library, as far as the device's aygshell.dll provides it.
#pragma once
#include <windows.h>

#define SHIDIM_FLAGS 0x0001

#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

#ifdef __cplusplus
extern "C" {
#endif
BOOL WINAPI SHInitDialog(PSHINITDLGINFO info);
BOOL WINAPI SHInitExtraControls(void);
#ifdef __cplusplus
}
#endif
