// Win32 registry functions (RegCreateKeyEx ... RegEnumValue) over the device's registry database.
#include <windows.h>

#include <string.h>

#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "device/device_folder.h"
#include "device/provision.h"
#include "device/registry_store.h"
#include "base/text.h"

namespace reg = device::registry;

namespace {

struct OpenKey {
    reg::KeyId key;
    uint64_t generation;
};

std::mutex tableMutex;
std::unordered_map<uintptr_t, OpenKey> openKeys;
// Handle values only grow, so a closed handle never comes back as another key; they stay clear
// of the predefined keys (0x80000000 and up on 32 bits) for the life of any process.
uintptr_t nextHandle = 0x10000;

HKEY NewHandle(reg::KeyId key) {
    std::lock_guard lock(tableMutex);
    const uintptr_t handle = nextHandle;
    nextHandle += 4;
    openKeys.emplace(handle, OpenKey{key, reg::Generation()});
    return reinterpret_cast<HKEY>(handle);
}

// Handles are looked up, never dereferenced, so a stale or made-up one cannot crash anything.
LONG Resolve(HKEY handle, reg::KeyId& key) {
    if (handle == HKEY_CURRENT_USER) {
        key = reg::kCurrentUser;
        return ERROR_SUCCESS;
    }
    if (handle == HKEY_LOCAL_MACHINE) {
        key = reg::kLocalMachine;
        return ERROR_SUCCESS;
    }
    std::lock_guard lock(tableMutex);
    const auto found = openKeys.find(reinterpret_cast<uintptr_t>(handle));
    if (found == openKeys.end() || found->second.generation != reg::Generation())
        return ERROR_INVALID_HANDLE;
    key = found->second.key;
    return ERROR_SUCCESS;
}

// The registry opens on first use; a device that has no registry yet is a new phone, which is
// provisioned whole first (its registry comes with the phone's own keys).
LONG Ready() {
    if (!reg::IsOpen()) {
        std::error_code error;
        const auto status = std::filesystem::symlink_status(device::RegistryFile(), error);
        if (status.type() == std::filesystem::file_type::not_found)
            device::EnsureProvisioned();
    }
    return reg::Open();
}

// Resolves the handle and makes sure the registry is open.
LONG Begin(HKEY handle, reg::KeyId& key) {
    const LONG result = Resolve(handle, key);
    return result == ERROR_SUCCESS ? Ready() : result;
}

// Splits "A\B\C" into its key names. A trailing backslash is allowed; an empty name elsewhere
// (a leading or doubled backslash) or one longer than Win32 allows is not.
LONG SplitPath(LPCWSTR subKey, std::vector<std::u16string>& names) {
    std::u16string_view rest = subKey == nullptr ? std::u16string_view() : subKey;
    if (!rest.empty() && rest.back() == u'\\')
        rest.remove_suffix(1);
    while (!rest.empty()) {
        const size_t end = rest.find(u'\\');
        const std::u16string_view name = rest.substr(0, end);
        if (name.empty() || name.size() > reg::kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        names.emplace_back(name);
        if (end == std::u16string_view::npos)
            break;
        rest.remove_prefix(end + 1);
        if (rest.empty())
            return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

std::u16string_view ValueName(LPCWSTR name) {
    return name == nullptr ? std::u16string_view() : std::u16string_view(name);
}

// Hands out data as RegQueryValueEx and RegEnumValue do: the size alone without a buffer, the
// size needed with ERROR_MORE_DATA when the buffer is too small, else exactly the bytes stored.
LONG CopyData(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD size) {
    const DWORD needed = static_cast<DWORD>(data.size());
    if (buffer == nullptr) {
        if (size != nullptr)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0)
        memcpy(buffer, data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

// Copies a name with its NUL into a buffer of *length characters; ERROR_MORE_DATA, changing
// nothing, when it does not fit. On success *length is the name's length without the NUL.
LONG CopyName(const std::u16string& name, LPWSTR buffer, LPDWORD length) {
    if (name.size() + 1 > *length)
        return ERROR_MORE_DATA;
    memcpy(buffer, name.data(), name.size() * sizeof(WCHAR));
    buffer[name.size()] = 0;
    *length = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// No exception leaves the C surface.
template <typename Call>
LONG Guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// The key a sub-key path leads to, without creating anything.
LONG Locate(HKEY handle, LPCWSTR subKey, reg::KeyId& key) {
    reg::KeyId from = 0;
    std::vector<std::u16string> names;
    LONG result = SplitPath(subKey, names);
    if (result == ERROR_SUCCESS)
        result = Begin(handle, from);
    if (result == ERROR_SUCCESS)
        result = reg::FindKey(from, names, key);
    return result;
}

}  // namespace

// Registry functions return their error code and leave the thread's last error as it was.
// samDesired is not checked: Windows CE takes no access mask and every handle may read and write.

extern "C" LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                       DWORD dwOptions, REGSAM samDesired,
                                       LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                       LPDWORD lpdwDisposition) {
    return Guarded([&] {
        if (phkResult == nullptr || lpSubKey == nullptr || Reserved != 0)
            return LONG{ERROR_INVALID_PARAMETER};
        *phkResult = nullptr;
        reg::KeyId from = 0;
        std::vector<std::u16string> names;
        LONG result = SplitPath(lpSubKey, names);
        if (result == ERROR_SUCCESS)
            result = Begin(hKey, from);
        reg::KeyId key = 0;
        bool created = false;
        if (result == ERROR_SUCCESS)
            result = reg::CreateKey(from, names, key, created);
        if (result != ERROR_SUCCESS)
            return result;
        *phkResult = NewHandle(key);
        if (lpdwDisposition != nullptr)
            *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return LONG{ERROR_SUCCESS};
    });
}

extern "C" LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                     REGSAM samDesired, PHKEY phkResult) {
    return Guarded([&] {
        if (phkResult == nullptr)
            return LONG{ERROR_INVALID_PARAMETER};
        *phkResult = nullptr;
        reg::KeyId key = 0;
        const LONG result = Locate(hKey, lpSubKey, key);
        if (result == ERROR_SUCCESS)
            *phkResult = NewHandle(key);
        return result;
    });
}

extern "C" LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return Guarded([&] {
        if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
            return LONG{ERROR_INVALID_PARAMETER};
        reg::KeyId key = 0;
        LONG result = Begin(hKey, key);
        reg::Value value;
        if (result == ERROR_SUCCESS)
            result = reg::GetValue(key, ValueName(lpValueName), value);
        if (result != ERROR_SUCCESS)
            return result;
        if (lpType != nullptr)
            *lpType = value.type;
        return CopyData(value.data, lpData, lpcbData);
    });
}

extern "C" LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                      const BYTE* lpData, DWORD cbData) {
    return Guarded([&] {
        const std::u16string_view name = ValueName(lpValueName);
        if (Reserved != 0 || (lpData == nullptr && cbData != 0) ||
            name.size() > reg::kMaxValueNameLength)
            return LONG{ERROR_INVALID_PARAMETER};
        reg::KeyId key = 0;
        const LONG result = Begin(hKey, key);
        if (result != ERROR_SUCCESS)
            return result;
        return reg::SetValue(key, name, dwType, std::span<const BYTE>(lpData, cbData));
    });
}

extern "C" LONG WINAPI RegCloseKey(HKEY hKey) {
    return Guarded([&] {
        if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE)
            return LONG{ERROR_SUCCESS};
        std::lock_guard lock(tableMutex);
        const auto found = openKeys.find(reinterpret_cast<uintptr_t>(hKey));
        if (found == openKeys.end())
            return LONG{ERROR_INVALID_HANDLE};
        const bool current = found->second.generation == reg::Generation();
        openKeys.erase(found);
        return current ? LONG{ERROR_SUCCESS} : LONG{ERROR_INVALID_HANDLE};
    });
}

extern "C" LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return Guarded([&] {
        reg::KeyId key = 0;
        const LONG result = Begin(hKey, key);
        return result == ERROR_SUCCESS ? reg::DeleteValue(key, ValueName(lpValueName)) : result;
    });
}

extern "C" LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    return Guarded([&] {
        if (lpSubKey == nullptr)
            return LONG{ERROR_INVALID_PARAMETER};
        reg::KeyId key = 0;
        const LONG result = Locate(hKey, lpSubKey, key);
        return result == ERROR_SUCCESS ? reg::DeleteKey(key, false) : result;
    });
}

extern "C" LONG WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    return Guarded([&] {
        reg::KeyId key = 0;
        const LONG result = Locate(hKey, lpSubKey, key);
        if (result != ERROR_SUCCESS)
            return result;
        // Without a sub-key, the key's contents go and the key itself stays.
        return lpSubKey == nullptr ? reg::ClearKey(key) : reg::DeleteKey(key, true);
    });
}

extern "C" LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                     LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                     PFILETIME lpftLastWriteTime) {
    return Guarded([&] {
        if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr ||
            (lpClass != nullptr && lpcchClass == nullptr))
            return LONG{ERROR_INVALID_PARAMETER};
        reg::KeyId key = 0;
        LONG result = Begin(hKey, key);
        std::u16string name;
        FILETIME lastWrite{};
        if (result == ERROR_SUCCESS)
            result = reg::SubKeyAt(key, dwIndex, name, lastWrite);
        if (result == ERROR_SUCCESS)
            result = CopyName(name, lpName, lpcchName);
        if (result != ERROR_SUCCESS)
            return result;
        // Keys here have no class.
        if (lpClass != nullptr && *lpcchClass > 0)
            lpClass[0] = 0;
        if (lpcchClass != nullptr)
            *lpcchClass = 0;
        if (lpftLastWriteTime != nullptr)
            *lpftLastWriteTime = lastWrite;
        return LONG{ERROR_SUCCESS};
    });
}

extern "C" LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                     LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                     LPBYTE lpData, LPDWORD lpcbData) {
    return Guarded([&] {
        if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
            (lpData != nullptr && lpcbData == nullptr))
            return LONG{ERROR_INVALID_PARAMETER};
        reg::KeyId key = 0;
        LONG result = Begin(hKey, key);
        reg::Value value;
        if (result == ERROR_SUCCESS)
            result = reg::ValueAt(key, dwIndex, value);
        if (result == ERROR_SUCCESS)
            result = CopyName(value.name, lpValueName, lpcchValueName);
        if (result != ERROR_SUCCESS)
            return result;
        if (lpType != nullptr)
            *lpType = value.type;
        return CopyData(value.data, lpData, lpcbData);
    });
}
