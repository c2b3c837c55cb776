// Building the tone lists from the search folders and the built-in tones.
#include "catalogue.h"

#include <utility>

#include "resource.h"

WideString SearchFolders[2];
const WCHAR* const TonePatterns[2] = {TEXT("*.wav"), TEXT("*.mid")};
std::vector<WideString> TonePathTable;
int TonePathCount = 0;

// The table grows with the folders: every file found is listed, however many there are.
static void AddTonePath(WideString path) {
    TonePathTable.push_back(std::move(path));
    TonePathCount++;
}

static void AddToneName(HWND ringList, HWND smsList, const WCHAR* name) {
    SendMessage(ringList, LB_ADDSTRING, 0, (LPARAM)name);
    SendMessage(smsList, LB_ADDSTRING, 0, (LPARAM)name);
}

// Lists every name that matches folder + pattern, in the order the search returns them.
static void AddFolderTones(HWND ringList, HWND smsList, const WideString& folder,
                           const WCHAR* pattern) {
    WideString searched = folder + pattern;
    // The names found live in the pattern's folder, up to its last separator: a folder typed
    // without its final backslash ends in part of a name.
    WideString foundIn = searched.substr(0, searched.find_last_of(TEXT("\\/")) + 1);
    WIN32_FIND_DATA found;
    HANDLE search = FindFirstFile(searched.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    WideString name;
    do {
        name = found.cFileName;
        WideString path;
        path.reserve(foundIn.size() + name.size());
        path.append(foundIn).append(name);
        AddTonePath(std::move(path));
        // The display name drops the dot and the three-letter extension.
        name.resize(name.size() > 4 ? name.size() - 4 : 0);
        AddToneName(ringList, smsList, name.c_str());
    } while (FindNextFile(search, &found));
    FindClose(search);
}

BOOL FillToneLists(HWND screen) {
    HWND ringList = GetDlgItem(screen, IDC_RING_LIST);
    HWND smsList = GetDlgItem(screen, IDC_SMS_LIST);
    SearchFolders[1] = TEXT("\\IPSM\\Application Data\\Sounds\\");
    SendMessage(ringList, LB_RESETCONTENT, 0, 0);
    SendMessage(smsList, LB_RESETCONTENT, 0, 0);
    TonePathTable.clear();
    TonePathCount = 0;
    for (int folder = 0; folder < 2; folder++) {
        for (int pattern = 0; pattern < 2; pattern++) {
            AddFolderTones(ringList, smsList, SearchFolders[folder], TonePatterns[pattern]);
        }
    }
    for (const ToneEntry& tone : BuiltInTones) {
        AddTonePath(tone.path);
        AddToneName(ringList, smsList, tone.name);
    }
    return TRUE;
}

// The first row holding exactly this path, or row 0 when none does.
static int FindTonePath(const WideString& path) {
    for (int row = 0; row < TonePathCount; row++) {
        if (TonePathTable[row] == path) {
            return row;
        }
    }
    return 0;
}

BOOL RefreshToneLists(HWND screen) {
    WideString ringSound = ReadRingSound();
    WideString smsSound = ReadSmsSound();
    FillToneLists(screen);
    SendDlgItemMessage(screen, IDC_RING_LIST, LB_SETCURSEL, FindTonePath(ringSound), 0);
    SendDlgItemMessage(screen, IDC_SMS_LIST, LB_SETCURSEL, FindTonePath(smsSound), 0);
    return TRUE;
}
