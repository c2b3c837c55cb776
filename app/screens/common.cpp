// What every screen shares: running a screen, its set-up, its title and the debug check.
#include "screens.h"

#include <string.h>

#include "settings.h"

HINSTANCE AppInstance = NULL;
HWND MainScreen = NULL;

static WideString NumberText(int number) {
    WideString digits;
    unsigned int rest = number < 0 ? 0u - (unsigned int)number : (unsigned int)number;
    do {
        digits.insert(digits.begin(), (WCHAR)(TEXT('0') + rest % 10));
        rest /= 10;
    } while (rest != 0);
    if (number < 0) {
        digits.insert(digits.begin(), TEXT('-'));
    }
    return digits;
}

void DebugCheck(BOOL passed, const WCHAR* file, int line) {
    if (passed) {
        return;
    }
    WideString message = TEXT("Unknown: DEBUGCHK failed in file ");
    message += file;
    message += TEXT(" at line ");
    message += NumberText(line);
    message += TEXT(" \r\n");
    OutputDebugString(message.c_str());
    // Without a debugger a breakpoint would end the program: break only for one.
    if (IsDebuggerPresent()) {
        DebugBreak();
    }
}

INT_PTR RunScreen(int templateId, DLGPROC procedure) {
    HRSRC resource = FindResource(AppInstance, MAKEINTRESOURCE(templateId), RT_DIALOG);
    if (resource == NULL) {
        return -1;
    }
    HGLOBAL loaded = LoadResource(AppInstance, resource);
    if (loaded == NULL) {
        return -1;
    }
    LPCDLGTEMPLATE dialog = (LPCDLGTEMPLATE)LockResource(loaded);
    return DialogBoxIndirectParam(AppInstance, dialog, NULL, procedure, 0);
}

BOOL SetUpScreen(HWND screen, int menuBarId, HWND* menuBar) {
    SHMENUBARINFO menuBarInfo;
    memset(&menuBarInfo, 0, sizeof(menuBarInfo));
    menuBarInfo.cbSize = sizeof(menuBarInfo);
    menuBarInfo.hwndParent = screen;
    menuBarInfo.nToolBarId = menuBarId;
    menuBarInfo.hInstRes = AppInstance;
    if (!SHCreateMenuBar(&menuBarInfo)) {
        return FALSE;
    }

    SHINITDLGINFO dialogInfo;
    memset(&dialogInfo, 0, sizeof(dialogInfo));
    dialogInfo.dwMask = SHIDIM_FLAGS;
    dialogInfo.hDlg = screen;
    dialogInfo.dwFlags = SHIDIF_SIZEDLGFULLSCREEN;
    if (!SHInitDialog(&dialogInfo)) {
        return FALSE;
    }

    ShowWindow(menuBarInfo.hwndMB, SW_SHOW);
    if (menuBar != NULL) {
        *menuBar = menuBarInfo.hwndMB;
    }
    return TRUE;
}

void SetScreenTitle(HWND screen, const WCHAR* title) {
    DEBUGCHK(SetWindowText(screen, title));
}
