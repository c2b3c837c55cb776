// The settings store: the four registry values that Tavonne reads and writes.
#pragma once

#include <windows.h>

#include <string>

// Wide text as the platform's wide functions take it.
typedef std::basic_string<WCHAR> WideString;

// The repeat scripts of the call tone, indexed like the settings screen's repeat spinner.
extern const WCHAR* const RepeatScripts[3];

// Creates or opens Software\Tavonne; TRUE when the key already existed, and also when the
// registry cannot be reached: a failing registry is no first start.
BOOL EnsureAppKey();

// The writes return TRUE when the value was stored.
WideString ReadFolder();
BOOL WriteFolder(const WideString& folder);

WideString ReadRingSound();
WideString ReadSmsSound();
BOOL WriteRingSound(const WideString& path);
BOOL WriteSmsSound(const WideString& path);

// 0 for "apw1r", 1 for "apw2r", 2 for anything else.
int ReadRingScript();
// "apw1r" for 0, "apw2r" for 1, "apw3r" for any other index.
BOOL WriteRingScript(int index);
