// The settings screen: the folder to search for tones and how often the call tone repeats.
#include "screens.h"

#include <vector>

#include "catalogue.h"
#include "resource.h"
#include "settings.h"

static BOOL InitSettingsScreen(HWND screen) {
    HWND menuBar;
    if (!SetUpScreen(screen, IDR_SETTINGS_MENUBAR, &menuBar)) {
        return FALSE;
    }

    SendDlgItemMessage(screen, IDC_REPEAT_LIST, LB_ADDSTRING, 0, (LPARAM)TEXT("1 seconde"));
    SendDlgItemMessage(screen, IDC_REPEAT_LIST, LB_ADDSTRING, 0, (LPARAM)TEXT("2 secondes"));
    SendDlgItemMessage(screen, IDC_REPEAT_LIST, LB_ADDSTRING, 0, (LPARAM)TEXT("3 secondes"));

    // The Back key comes to this screen, which hands it to the folder field.
    SendMessage(menuBar, SHCMBM_OVERRIDEKEY, VK_TBACK,
                MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));

    SetDlgItemText(screen, IDC_FOLDER_EDIT, ReadFolder().c_str());
    SendDlgItemMessage(screen, IDC_REPEAT_LIST, LB_SETCURSEL, ReadRingScript(), 0);
    SetScreenTitle(screen, TEXT("Paramètres"));
    return TRUE;
}

// The folder field's whole text, however long.
static WideString FolderFieldText(HWND screen) {
    int length = (int)SendDlgItemMessage(screen, IDC_FOLDER_EDIT, WM_GETTEXTLENGTH, 0, 0);
    std::vector<WCHAR> text(length + 1);
    GetDlgItemText(screen, IDC_FOLDER_EDIT, text.data(), length + 1);
    return WideString(text.data());
}

static BOOL SettingsScreenCommand(HWND screen, int command) {
    switch (command) {
        case IDM_DONE:
            SearchFolders[0] = FolderFieldText(screen);
            WriteFolder(SearchFolders[0]);
            WriteRingScript((int)SendDlgItemMessage(screen, IDC_REPEAT_LIST, LB_GETCURSEL, 0, 0));
            EndDialog(screen, 0);
            RefreshToneLists(MainScreen);
            ShowWindow(MainScreen, SW_SHOWNORMAL);
            return TRUE;

        case IDM_CANCEL:
            EndDialog(screen, 0);
            ShowWindow(MainScreen, SW_SHOWNORMAL);
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK SettingsScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (!InitSettingsScreen(screen)) {
                EndDialog(screen, -1);
            }
            return TRUE;

        case WM_COMMAND:
            if (HIWORD(wParam) == 0) {
                return SettingsScreenCommand(screen, LOWORD(wParam));
            }
            return TRUE;

        case WM_HOTKEY:
            if (HIWORD(lParam) == VK_TBACK) {
                SHSendBackToFocusWindow(WM_HOTKEY, wParam, lParam);
            }
            return TRUE;
    }
    return FALSE;
}
