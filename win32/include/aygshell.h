// The Smartphone shell on desktop Windows: the phone's own declarations of the shell and names of
// its keys, over the real Windows headers.
#pragma once

#include <windows.h>
#include <commctrl.h>

// Desktop Windows hands a wide command line to wWinMain; the phone to WinMain.
#define WinMain wWinMain

#ifdef __cplusplus
#define WINAPI_EXTERN extern "C"
#else
#define WINAPI_EXTERN extern
#endif

#include "../../sdk/include/winuserm.h"
#include "../../sdk/include/aygshell.h"
