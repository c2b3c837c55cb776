// The settings store: the user's tone folder and the phone's sound settings in the registry.
#include "settings.h"

#include <vector>

const WCHAR* const RepeatScripts[3] = {TEXT("apw1r"), TEXT("apw2r"), TEXT("apw3r")};

static const WCHAR AppKey[] = TEXT("Software\\Tavonne");
static const WCHAR RingKey[] = TEXT("ControlPanel\\Sounds\\RingTone0");
static const WCHAR SmsKey[] = TEXT("ControlPanel\\Sounds\\SMS");

// The text in a value's bytes: up to the first NUL, or all of it when there is none; an odd
// last byte is not part of any character.
static WideString TextFromBytes(const std::vector<BYTE>& bytes, DWORD size) {
    WideString text;
    for (DWORD i = 0; i + 1 < size; i += 2) {
        WCHAR c = static_cast<WCHAR>(bytes[i] | (bytes[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

// A missing key or value reads as the empty string, whatever the value's type.
static WideString ReadValue(const WCHAR* keyName, const WCHAR* valueName) {
    HKEY key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return WideString();
    }
    WideString text;
    DWORD size = 0;
    LONG result = RegQueryValueEx(key, valueName, NULL, NULL, NULL, &size);
    std::vector<BYTE> bytes;
    // The value may grow between the size query and the read: then read again with the new size.
    while (result == ERROR_SUCCESS && size > 0) {
        bytes.resize(size);
        result = RegQueryValueEx(key, valueName, NULL, NULL, bytes.data(), &size);
        if (result == ERROR_SUCCESS) {
            text = TextFromBytes(bytes, size);
            break;
        }
        if (result == ERROR_MORE_DATA) {
            result = ERROR_SUCCESS;
        }
    }
    RegCloseKey(key);
    return text;
}

// Only opens the key: the phone's own keys are never created here.
static BOOL WriteValue(const WCHAR* keyName, const WCHAR* valueName, const WideString& text) {
    HKEY key;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return FALSE;
    }
    DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    LONG result =
        RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

BOOL EnsureAppKey() {
    WCHAR noClass[] = TEXT("");
    HKEY key;
    DWORD disposition = 0;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, AppKey, 0, noClass, 0, KEY_ALL_ACCESS, NULL, &key,
                       &disposition) != ERROR_SUCCESS) {
        return TRUE;
    }
    RegCloseKey(key);
    return disposition == REG_OPENED_EXISTING_KEY;
}

WideString ReadFolder() {
    return ReadValue(AppKey, TEXT("Dossier"));
}

BOOL WriteFolder(const WideString& folder) {
    return WriteValue(AppKey, TEXT("Dossier"), folder);
}

WideString ReadRingSound() {
    return ReadValue(RingKey, TEXT("Sound"));
}

WideString ReadSmsSound() {
    return ReadValue(SmsKey, TEXT("Sound"));
}

BOOL WriteRingSound(const WideString& path) {
    return WriteValue(RingKey, TEXT("Sound"), path);
}

BOOL WriteSmsSound(const WideString& path) {
    return WriteValue(SmsKey, TEXT("Sound"), path);
}

int ReadRingScript() {
    WideString script = ReadValue(RingKey, TEXT("Script"));
    if (script == RepeatScripts[0]) {
        return 0;
    }
    if (script == RepeatScripts[1]) {
        return 1;
    }
    return 2;
}

BOOL WriteRingScript(int index) {
    int row = (index == 0 || index == 1) ? index : 2;
    return WriteValue(RingKey, TEXT("Script"), RepeatScripts[row]);
}
