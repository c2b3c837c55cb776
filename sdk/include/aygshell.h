// The Smartphone shell: full-screen dialogs, the soft-key menu bar and the Back key.
#pragma once

#ifndef RC_INVOKED
#include <windows.h>
#include <commctrl.h>
#endif
// The phone's key names: the phone's windows.h brings them, desktop Windows' does not.
#include <winuserm.h>

// SHInitDialog
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020

// SHCreateMenuBar
#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

// Menu bar messages
#define SHCMBM_SETSUBMENU (WM_USER + 400)
#define SHCMBM_GETSUBMENU (WM_USER + 401)
#define SHCMBM_GETMENU (WM_USER + 402)
#define SHCMBM_OVERRIDEKEY (WM_USER + 403)

// SHCMBM_OVERRIDEKEY: lParam is MAKELPARAM(flags to change, their new values).
#define SHMBOF_NODEFAULT 0x00000001
#define SHMBOF_NOTIFY 0x00000002

// A menu bar button without a pop-up menu.
#define NOMENU 0xFFFF

// The menu bar resource: RCDATA words (menu id, button count, then 7 words per button).
#define SHMENUBAR RCDATA

#ifndef RC_INVOKED

typedef struct tagSHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
} SHINITDLGINFO, *PSHINITDLGINFO;

typedef struct tagSHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;
    COLORREF clrBk;
} SHMENUBARINFO, *PSHMENUBARINFO;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi);
BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* pmbi);
HWND WINAPI SHFindMenuBar(HWND hwnd);
void WINAPI SHSendBackToFocusWindow(UINT uMsg, WPARAM wp, LPARAM lp);

#ifdef __cplusplus
}
#endif

#endif  // RC_INVOKED
