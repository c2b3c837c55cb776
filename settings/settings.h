// The settings store: the four registry values that Tavonne reads and writes.
#pragma once

#include <windows.h>

#include <string>

// Wide text as the platform's wide functions take it.
typedef std::basic_string<WCHAR> WideString;

// The repeat scripts of the call tone, indexed like the settings screen's repeat spinner.
extern const WCHAR* const RepeatScripts[3];

// Creates or opens Software\Tavonne; TRUE when the key already existed.
BOOL EnsureAppKey();

WideString ReadFolder();
void WriteFolder(const WideString& folder);

WideString ReadRingSound();
WideString ReadSmsSound();
void WriteRingSound(const WideString& path);
void WriteSmsSound(const WideString& path);

// 0 for "apw1r", 1 for "apw2r", 2 for anything else.
int ReadRingScript();
// "apw1r" for 0, "apw2r" for 1, "apw3r" for any other index.
void WriteRingScript(int index);
