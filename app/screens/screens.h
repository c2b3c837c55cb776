// The screens: common set-up, the About screen, the main screen and the settings screen.
#pragma once

#include <windows.h>
#include <aygshell.h>

// The module whose resources every screen is built from.
extern HINSTANCE AppInstance;
// The main screen, which the settings screen refreshes and shows again.
extern HWND MainScreen;
// TRUE when the call-tone list was the last tone list to get the focus.
extern BOOL PlayFromRingList;

// Reports a failed platform call on the debug output, and to a debugger when one is attached.
#define DEBUGCHK(expression) DebugCheck((expression) != 0, TEXT(__FILE__), __LINE__)
void DebugCheck(BOOL passed, const WCHAR* file, int line);

// Runs a screen from its dialog template; its end value, or -1 when it cannot be created.
INT_PTR RunScreen(int templateId, DLGPROC procedure);
// Gives the screen its soft-key menu bar and makes it full-screen; the menu bar in *menuBar.
BOOL SetUpScreen(HWND screen, int menuBarId, HWND* menuBar);
void SetScreenTitle(HWND screen, const WCHAR* title);

INT_PTR CALLBACK AboutScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK MainScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam);
