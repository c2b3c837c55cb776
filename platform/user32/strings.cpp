// LoadStringW: a string of a module's string table, copied or pointed at.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "platform/kernel32/resources.h"

extern "C" int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer,
                                  int cchBufferMax) {
    if (lpBuffer == nullptr || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto found = resources::StringInTable(hInstance, uID);
    if (cchBufferMax == 0) {
        // A buffer length of 0 asks for a read-only pointer to the string itself.
        *reinterpret_cast<const char16_t**>(lpBuffer) = found ? found->data() : nullptr;
        return found ? static_cast<int>(found->size()) : 0;
    }
    if (!found) {
        lpBuffer[0] = 0;
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    std::size_t count = std::min(found->size(), static_cast<std::size_t>(cchBufferMax - 1));
    std::memcpy(lpBuffer, found->data(), count * sizeof(char16_t));
    lpBuffer[count] = 0;
    return static_cast<int>(count);
}
