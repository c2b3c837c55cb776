// Win32 kernel services: last error, debug output, file search.
#pragma once

#include <windef.h>

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

WINAPI_EXTERN DWORD WINAPI GetLastError(void);
WINAPI_EXTERN void WINAPI SetLastError(DWORD dwErrCode);

// Debug output: standard error in script mode, the device log in terminal mode.
WINAPI_EXTERN void WINAPI OutputDebugStringW(LPCWSTR lpOutputString);
#define OutputDebugString OutputDebugStringW
WINAPI_EXTERN BOOL WINAPI IsDebuggerPresent(void);
WINAPI_EXTERN void WINAPI DebugBreak(void);

// Atoms: names kept once, without regard to case, found by their number.
#define MAKEINTATOM(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
WINAPI_EXTERN ATOM WINAPI GlobalAddAtomW(LPCWSTR lpString);
#define GlobalAddAtom GlobalAddAtomW
WINAPI_EXTERN ATOM WINAPI GlobalFindAtomW(LPCWSTR lpString);
#define GlobalFindAtom GlobalFindAtomW

// The program's entry, which the program defines and the platform calls.
WINAPI_EXTERN int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                                 int nShowCmd);

// File search.
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
typedef WIN32_FIND_DATAW WIN32_FIND_DATA;
typedef LPWIN32_FIND_DATAW LPWIN32_FIND_DATA;

WINAPI_EXTERN HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
WINAPI_EXTERN BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
WINAPI_EXTERN BOOL WINAPI FindClose(HANDLE hFindFile);
#define FindFirstFile FindFirstFileW
#define FindNextFile FindNextFileW

// Kernel objects: named mutexes mark a running copy; CloseHandle closes their handles.
WINAPI_EXTERN HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes,
                                         BOOL bInitialOwner, LPCWSTR lpName);
#define CreateMutex CreateMutexW
WINAPI_EXTERN BOOL WINAPI CloseHandle(HANDLE hObject);
