// A small program built like Tavonne, for the front ends' tests: one copy at a time (a second
// start brings the first to the front), a screen with a spinner and a text field, a menu that
// launches a program and shows a message box, and an About screen with an icon.
#include <windows.h>
#include <aygshell.h>
#include <shellapi.h>

#include <string>

#include "frontend_demo.h"

namespace {

HINSTANCE Instance = nullptr;

const WCHAR* const Entries[] = {TEXT("Standard"), TEXT("Mouvement perpétuel"),
                                TEXT("Les principes de Bach"), TEXT("Début enregistrement")};

BOOL SetUpScreen(HWND screen, UINT menuBarId, HWND* menuBar) {
    SHMENUBARINFO info = {};
    info.cbSize = sizeof info;
    info.hwndParent = screen;
    info.nToolBarId = menuBarId;
    info.hInstRes = Instance;
    if (!SHCreateMenuBar(&info))
        return FALSE;
    SHINITDLGINFO full = {};
    full.dwMask = SHIDIM_FLAGS;
    full.dwFlags = SHIDIF_SIZEDLGFULLSCREEN;
    full.hDlg = screen;
    if (!SHInitDialog(&full))
        return FALSE;
    ShowWindow(info.hwndMB, SW_SHOW);
    *menuBar = info.hwndMB;
    return TRUE;
}

INT_PTR Run(int id, DLGPROC procedure) {
    HRSRC found = FindResource(Instance, MAKEINTRESOURCE(id), RT_DIALOG);
    auto dialogTemplate = static_cast<LPCDLGTEMPLATE>(LoadResource(Instance, found));
    return DialogBoxIndirectParam(Instance, dialogTemplate, nullptr, procedure, 0);
}

INT_PTR CALLBACK AboutProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            HWND menuBar = nullptr;
            if (!SetUpScreen(screen, IDR_DEMO_ABOUT_MENUBAR, &menuBar))
                EndDialog(screen, -1);
            SetWindowText(screen, TEXT("A propos..."));
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(screen, 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

void Play(HWND screen) {
    int current = static_cast<int>(SendDlgItemMessage(screen, IDC_DEMO_LIST, LB_GETCURSEL, 0, 0));
    std::u16string path = TEXT("\\IPSM\\Application Data\\Sounds\\");
    path += Entries[current < 0 ? 0 : current];
    path += TEXT(".wav");
    SHELLEXECUTEINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = TEXT("open");
    info.lpFile = TEXT("\\Windows\\qhandler.exe");
    info.lpParameters = path.c_str();
    ShellExecuteEx(&info);
}

// Says on the debug output what the text field holds, so that a test can see what was typed.
void ReportFolder(HWND screen) {
    WCHAR folder[256] = {};
    GetDlgItemText(screen, IDC_DEMO_EDIT, folder, 256);
    std::u16string line = TEXT("demo: dossier=[");
    line += folder;
    line += TEXT("]\n");
    OutputDebugString(line.c_str());
}

INT_PTR CALLBACK DemoProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            HWND menuBar = nullptr;
            if (!SetUpScreen(screen, IDR_DEMO_MENUBAR, &menuBar)) {
                EndDialog(screen, -1);
                return TRUE;
            }
            SetWindowText(screen, TEXT("Démo"));
            for (const WCHAR* entry : Entries)
                SendDlgItemMessage(screen, IDC_DEMO_LIST, LB_ADDSTRING, 0,
                                   reinterpret_cast<LPARAM>(entry));
            SendDlgItemMessage(screen, IDC_DEMO_LIST, LB_SETCURSEL, 0, 0);
            SendMessage(
                menuBar, SHCMBM_OVERRIDEKEY, VK_TBACK,
                MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
            return TRUE;
        }
        case WM_HOTKEY:
            if (HIWORD(lParam) == VK_TBACK)
                SHSendBackToFocusWindow(message, wParam, lParam);
            return TRUE;
        case WM_COMMAND:
            if (HIWORD(wParam) != 0)
                return TRUE;
            switch (LOWORD(wParam)) {
                case IDM_DONE:
                    ReportFolder(screen);
                    EndDialog(screen, 3);
                    return TRUE;
                case IDM_PLAY:
                    Play(screen);
                    return TRUE;
                case IDM_MESSAGE:
                    MessageBox(screen,
                               TEXT("Le dossier contenant les sonneries n'a pas encore été "
                                    "paramétré!\nVeuillez le paramétrer."),
                               TEXT("Alerte!"), MB_OK);
                    return TRUE;
                case IDM_ABOUT:
                    Run(IDD_DEMO_ABOUT, AboutProc);
                    return TRUE;
                case IDM_CANCEL:
                    EndDialog(screen, 4);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, TEXT("TAVONNE_FRONTEND_DEMO"));
    if (mutex == nullptr)
        return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (HWND running = FindWindow(nullptr, TEXT("Démo")))
            SetForegroundWindow(running);
        CloseHandle(mutex);
        return 1;
    }
    Instance = instance;
    INT_PTR result = Run(IDD_DEMO, DemoProc);
    CloseHandle(mutex);
    return static_cast<int>(result);
}
