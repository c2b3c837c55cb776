// The program's entry and its main screen: the call-tone and SMS-tone spinners.
#include "screens.h"

#include <shellapi.h>
#include <string.h>

#include "catalogue.h"
#include "resource.h"
#include "settings.h"

BOOL PlayFromRingList = FALSE;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                   int showCommand) {
    HANDLE mutex = CreateMutex(NULL, FALSE, TEXT("QUILM_TAVONNE"));
    if (mutex == NULL) {
        return 1;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        HWND running = FindWindow(NULL, TEXT("Tavonne"));
        if (running != NULL) {
            SetForegroundWindow(running);
        }
        CloseHandle(mutex);
        return 1;
    }

    AppInstance = instance;
    INT_PTR result = RunScreen(IDD_MAIN, MainScreenProc);
    CloseHandle(mutex);
    return result >= 0 ? 1 : 0;
}

static BOOL InitMainScreen(HWND screen) {
    MainScreen = screen;
    if (!SetUpScreen(screen, IDR_MAIN_MENUBAR, NULL)) {
        return FALSE;
    }
    SetScreenTitle(screen, TEXT("Tavonne"));

    if (EnsureAppKey()) {
        SearchFolders[0] = ReadFolder();
    } else {
        MessageBox(screen,
                   TEXT("Le dossier contenant les sonneries n'a pas encore été paramétré!\n")
                       TEXT("Veuillez le paramétrer."),
                   TEXT("Alerte!"), MB_OK);
        WriteFolder(TEXT(""));
        RunScreen(IDD_SETTINGS, SettingsScreenProc);
    }

    RefreshToneLists(screen);
    return TRUE;
}

static void ShowSaveError(HWND screen) {
    MessageBox(screen, TEXT("Erreur pendant la modification du regitre"), TEXT("Erreur"), MB_OK);
}

// Writes the tone of one list's current entry, or says that the list has none. FALSE when the
// tone could not be written: the error has been shown.
static BOOL SaveTone(HWND screen, int listId, BOOL (*writeSound)(const WideString&)) {
    LRESULT row = SendDlgItemMessage(screen, listId, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR || row >= TonePathCount) {
        ShowSaveError(screen);
        return TRUE;
    }
    if (!writeSound(TonePathTable[row])) {
        ShowSaveError(screen);
        return FALSE;
    }
    return TRUE;
}

// Hands the tone of the list that last had the focus to the phone's player.
static void PlayTone(HWND screen) {
    int listId = PlayFromRingList ? IDC_RING_LIST : IDC_SMS_LIST;
    LRESULT row = SendDlgItemMessage(screen, listId, LB_GETCURSEL, 0, 0);
    if (row == LB_ERR || row >= TonePathCount) {
        return;
    }
    SHELLEXECUTEINFO launch;
    memset(&launch, 0, sizeof(launch));
    launch.cbSize = sizeof(launch);
    launch.lpVerb = TEXT("open");
    launch.lpFile = TEXT("\\Windows\\qhandler.exe");
    launch.lpParameters = TonePathTable[row].c_str();
    launch.nShow = SW_HIDE;
    ShellExecuteEx(&launch);
}

static BOOL MainScreenCommand(HWND screen, int command) {
    switch (command) {
        case IDM_DONE: {
            // Both tones are always written; one that could not be keeps the screen open, so
            // that the user can try again or cancel.
            BOOL ringSaved = SaveTone(screen, IDC_RING_LIST, WriteRingSound);
            BOOL smsSaved = SaveTone(screen, IDC_SMS_LIST, WriteSmsSound);
            if (ringSaved && smsSaved) {
                EndDialog(screen, 0);
            }
            return TRUE;
        }

        case IDM_PLAY:
            PlayTone(screen);
            return TRUE;

        case IDM_ABOUT:
            RunScreen(IDD_ABOUT, AboutScreenProc);
            return TRUE;

        case IDM_SETTINGS:
            RunScreen(IDD_SETTINGS, SettingsScreenProc);
            return TRUE;

        case IDM_CANCEL:
            EndDialog(screen, 0);
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK MainScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            if (!InitMainScreen(screen)) {
                EndDialog(screen, -1);
            }
            return TRUE;

        case WM_COMMAND:
            switch (HIWORD(wParam)) {
                case 0:
                    return MainScreenCommand(screen, LOWORD(wParam));

                case LBN_SETFOCUS:
                    if (LOWORD(wParam) == IDC_RING_LIST) {
                        PlayFromRingList = TRUE;
                    } else if (LOWORD(wParam) == IDC_SMS_LIST) {
                        PlayFromRingList = FALSE;
                    }
                    return TRUE;
            }
            return TRUE;
    }
    return FALSE;
}
