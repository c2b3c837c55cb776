// The Win32 surface of the platform: what <windows.h> brings in on Windows.
#pragma once

#include <windef.h>
#include <winerror.h>
#include <winbase.h>
#include <winreg.h>
#include <winuser.h>
