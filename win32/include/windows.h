// <windows.h> on desktop Windows as the phone's programs see it: the system's header, the phone's
// entry and the phone's file search.
#pragma once

#include_next <windows.h>

// The phone starts a program at WinMain with its command line wide (LPWSTR), as desktop Windows
// does at wWinMain (a program linked with -municode), so the app's WinMain is compiled as wWinMain.
#define WinMain wWinMain

#ifndef RC_INVOKED
// The phone's file search (win32/shell/find_files.cpp): a pattern matches the name itself only, as
// the phone has no 8.3 short names, and a folder's "." and ".." are not found.
HANDLE WINAPI PhoneFindFirstFile(LPCWSTR fileName, LPWIN32_FIND_DATAW findData);
BOOL WINAPI PhoneFindNextFile(HANDLE findFile, LPWIN32_FIND_DATAW findData);
BOOL WINAPI PhoneFindClose(HANDLE findFile);
#undef FindFirstFile
#undef FindNextFile
#define FindFirstFile PhoneFindFirstFile
#define FindNextFile PhoneFindNextFile
#define FindClose PhoneFindClose
#endif
