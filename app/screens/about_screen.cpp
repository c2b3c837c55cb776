// The About screen: the program's name, version, contact and credits.
#include "screens.h"

#include "resource.h"

static BOOL InitAboutScreen(HWND screen) {
    if (!SetUpScreen(screen, IDR_ABOUT_MENUBAR, NULL)) {
        return FALSE;
    }
    SetScreenTitle(screen, TEXT("A propos..."));
    return TRUE;
}

INT_PTR CALLBACK AboutScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (!InitAboutScreen(screen)) {
                EndDialog(screen, -1);
            }
            return TRUE;

        case WM_COMMAND:
            if (HIWORD(wParam) != 0) {
                return TRUE;
            }
            switch (LOWORD(wParam)) {
                case IDOK:
                case IDCANCEL:
                    EndDialog(screen, 0);
                    return TRUE;
            }
            return FALSE;
    }
    return FALSE;
}
