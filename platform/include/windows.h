// The Win32 surface of the platform: what <windows.h> brings in on Windows.
#pragma once

// A resource script sees the window constants only, as with the resource compiler on Windows.
#ifndef RC_INVOKED
#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winreg.h>
#endif
#include <winuser.h>
