// The phone's file search on desktop Windows: FindFirstFile, FindNextFile and FindClose as the
// phone's programs call them (win32/include/windows.h). The system's search also matches a pattern
// against each name's 8.3 short name, so that *.wav finds x.wave; the phone has no short names, so
// a name the system finds is kept only when the name itself matches, and "." and "..", which the
// phone's folders do not hold, are skipped.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "base/name_pattern.h"
#include "base/text.h"

// Below, FindClose is the system's own, on which the phone's search stands.
#undef FindClose

namespace {

std::u16string_view View(const wchar_t* s) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(s));
}

bool PhoneFinds(const std::u16string& foldedPattern, const WIN32_FIND_DATAW& found) {
    const std::u16string_view name = View(found.cFileName);
    return name != u"." && name != u".." &&
           text::FoldedPattern(foldedPattern).Matches(text::Fold(name));
}

// Moves on to the first name the phone would find, the current one included; false, with the
// system's error, when no name is left.
bool FirstPhoneFinds(HANDLE search, const std::u16string& foldedPattern, WIN32_FIND_DATAW& found) {
    while (!PhoneFinds(foldedPattern, found)) {
        if (!FindNextFileW(search, &found))
            return false;
    }
    return true;
}

// The folded name pattern of each search the phone started, by its handle.
std::mutex searchesMutex;
std::map<HANDLE, std::u16string> searches;

}  // namespace

HANDLE WINAPI PhoneFindFirstFile(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
    const HANDLE search = FindFirstFileW(fileName, findData);
    if (search == INVALID_HANDLE_VALUE)
        return search;
    const std::u16string_view pattern = View(fileName);
    const size_t folderEnd = pattern.find_last_of(u"\\/:");
    std::u16string_view name = folderEnd == pattern.npos ? pattern : pattern.substr(folderEnd + 1);
    // A name without wildcards loses its final dots and blanks, as every Win32 path's last name.
    if (name.find_first_of(u"*?") == name.npos) {
        while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
            name.remove_suffix(1);
    }
    const std::u16string folded = text::Fold(name);
    if (!FirstPhoneFinds(search, folded, *findData)) {
        FindClose(search);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard lock(searchesMutex);
    searches[search] = folded;
    return search;
}

BOOL WINAPI PhoneFindNextFile(HANDLE findFile, LPWIN32_FIND_DATAW findData) {
    std::u16string folded;
    {
        std::lock_guard lock(searchesMutex);
        const auto found = searches.find(findFile);
        if (found == searches.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        folded = found->second;
    }
    return FindNextFileW(findFile, findData) && FirstPhoneFinds(findFile, folded, *findData);
}

BOOL WINAPI PhoneFindClose(HANDLE findFile) {
    {
        std::lock_guard lock(searchesMutex);
        searches.erase(findFile);
    }
    return FindClose(findFile);
}
