// The atom table (GlobalAddAtomW, GlobalFindAtomW): each name is kept once, without regard to
// case, under a 16-bit number by which window properties are found without comparing names. The
// table is the process's own, and its atoms last as long as the process.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "base/text.h"

namespace {

// Below it, a number is an integer atom (MAKEINTATOM), which stands for itself.
constexpr ATOM kFirstNameAtom = 0xC000;
constexpr size_t kLongestName = 255;

std::mutex atomsMutex;
std::map<std::u16string, ATOM> atoms;  // by folded name

// The integer atom `name` stands for; 0 (with the error) for an invalid one.
ATOM IntegerAtom(LPCWSTR name) {
    const ATOM atom = LOWORD(reinterpret_cast<ULONG_PTR>(name));
    if (atom == 0 || atom >= kFirstNameAtom) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return atom;
}

}  // namespace

extern "C" ATOM WINAPI GlobalAddAtomW(LPCWSTR lpString) {
    if (IS_INTRESOURCE(lpString))
        return IntegerAtom(lpString);
    const std::u16string_view name(lpString, text::Length(lpString));
    if (name.empty() || name.size() > kLongestName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(atomsMutex);
    const auto [found, added] = atoms.try_emplace(text::Fold(name), 0);
    if (added) {
        if (atoms.size() > 0xFFFF - kFirstNameAtom) {
            atoms.erase(found);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        found->second = static_cast<ATOM>(kFirstNameAtom + atoms.size() - 1);
    }
    return found->second;
}

extern "C" ATOM WINAPI GlobalFindAtomW(LPCWSTR lpString) {
    if (IS_INTRESOURCE(lpString))
        return IntegerAtom(lpString);
    std::lock_guard lock(atomsMutex);
    const auto found = atoms.find(text::Fold(lpString));
    if (found == atoms.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    return found->second;
}
