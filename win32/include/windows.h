// <windows.h> on desktop Windows as the phone's programs see it: the system's header, and the
// phone's entry. The phone starts a program at WinMain with its command line wide (LPWSTR), as
// desktop Windows does at wWinMain (a program linked with -municode), so the app's WinMain is
// compiled as wWinMain.
#pragma once

#include_next <windows.h>

#define WinMain wWinMain
