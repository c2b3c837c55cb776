// The tone catalogue: the tones of the two search folders and the phone's built-in tones.
#pragma once

#include <windows.h>

#include <vector>

#include "settings.h"

// One tone: the name shown in the lists and the full path that the phone's settings store.
struct ToneEntry {
    const WCHAR* name;
    const WCHAR* path;
};

// Index 0: the user's folder; index 1: the phone's sounds folder, set on every fill.
extern WideString SearchFolders[2];
extern const WCHAR* const TonePatterns[2];
extern const ToneEntry BuiltInTones[27];

// Row i holds the full path of the entry at position i of both tone lists.
extern std::vector<WideString> TonePathTable;
extern int TonePathCount;

// Rebuilds both tone lists of the main screen and the path table.
BOOL FillToneLists(HWND screen);
// Rebuilds the lists and makes the phone's current call and SMS tones current in them.
BOOL RefreshToneLists(HWND screen);
