// platform_probe: prints what the registry and the file search answer to the questions the app
// relies on, one fact a line. Built for Linux against our platform and for Windows against the
// real one; platform_diff_test runs both and compares their lines.
//
// It works under HKEY_CURRENT_USER\Software\TavonneProbe (removed first and last) and in the
// phone's folder \Probe\, which the caller lays out.
#include <windows.h>

#include <stdio.h>

#include <string>

namespace {

using Text = std::basic_string<WCHAR>;

// UTF-8, with each unit that is not part of a valid pair shown as <XXXX>.
std::string Shown(const WCHAR* s, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        unsigned c = static_cast<unsigned>(s[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned>(s[++i]) - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c < 0x20 || c == 0xFFFD) {
            char unit[16];
            snprintf(unit, sizeof unit, "<%04X>", c);
            out += unit;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Shown(const WCHAR* s) {
    size_t length = 0;
    while (s[length] != 0)
        ++length;
    return Shown(s, length);
}

void Fact(const char* question, const std::string& answer) {
    printf("%s: %s\n", question, answer.c_str());
}

std::string Number(long long n) {
    return std::to_string(n);
}

const WCHAR kKey[] = TEXT("Software\\TavonneProbe");

void Registry() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, &disposition);
    Fact("create new key", Number(result) + " disposition " + Number(disposition));
    HKEY again = nullptr;
    result = RegCreateKeyExW(HKEY_CURRENT_USER, TEXT("SOFTWARE\\tavonneprobe"), 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &again, &disposition);
    Fact("create it again in other case", Number(result) + " disposition " + Number(disposition));
    RegCloseKey(again);

    HKEY missing = nullptr;
    Fact("open missing key",
         Number(RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("Software\\TavonneProbe\\Missing"), 0,
                              KEY_READ, &missing)));
    DWORD type = 0, size = 0;
    Fact("query missing value",
         Number(RegQueryValueExW(key, TEXT("Missing"), nullptr, &type, nullptr, &size)));
    Fact("delete missing value", Number(RegDeleteValueW(key, TEXT("Missing"))));

    const WCHAR abc[] = TEXT("abc");
    RegSetValueExW(key, TEXT("Text"), 0, REG_SZ, reinterpret_cast<const BYTE*>(abc), sizeof abc);
    size = 0;
    result = RegQueryValueExW(key, TEXT("TEXT"), nullptr, &type, nullptr, &size);
    Fact("size of a value named in other case",
         Number(result) + " type " + Number(type) + " size " + Number(size));
    BYTE small[4] = {};
    size = sizeof small;
    result = RegQueryValueExW(key, TEXT("text"), nullptr, &type, small, &size);
    Fact("read into a small buffer", Number(result) + " size " + Number(size));
    WCHAR whole[8] = {};
    size = sizeof whole;
    result =
        RegQueryValueExW(key, TEXT("text"), nullptr, &type, reinterpret_cast<BYTE*>(whole), &size);
    Fact("read whole", Number(result) + " size " + Number(size) + " " + Shown(whole));

    RegSetValueExW(key, TEXT("Odd"), 0, REG_SZ, reinterpret_cast<const BYTE*>(abc), 5);
    size = sizeof whole;
    for (WCHAR& c : whole)
        c = 0x2A;
    result =
        RegQueryValueExW(key, TEXT("Odd"), nullptr, &type, reinterpret_cast<BYTE*>(whole), &size);
    Fact("odd-length REG_SZ", Number(result) + " size " + Number(size) + " " + Shown(whole, 3));

    RegSetValueExW(key, TEXT("Empty"), 0, REG_SZ, nullptr, 0);
    size = sizeof whole;
    result =
        RegQueryValueExW(key, TEXT("Empty"), nullptr, &type, reinterpret_cast<BYTE*>(whole), &size);
    Fact("empty REG_SZ", Number(result) + " type " + Number(type) + " size " + Number(size));

    HKEY sub = nullptr;
    RegCreateKeyExW(key, TEXT("Beta"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    RegCreateKeyExW(key, TEXT("alpha"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
    RegCloseKey(sub);
    std::string names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[64];
        DWORD length = 64;
        result = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS)
            break;
        names += Shown(name, length) + " ";
    }
    Fact("subkeys", names + "then " + Number(result));
    WCHAR name[2];
    DWORD length = 2;
    Fact("subkey name into a small buffer",
         Number(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr)));

    RegCloseKey(key);
    Fact("delete the tree", Number(RegDeleteTreeW(HKEY_CURRENT_USER, kKey)));
}

// The search the app calls: on Windows, the phone's (win32/include/windows.h).
void Search(const WCHAR* pattern) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFile(pattern, &found);
    std::string answer;
    if (search == INVALID_HANDLE_VALUE) {
        answer = "error " + Number(GetLastError());
    } else {
        do {
            answer += Shown(found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                answer += "/";
            answer += " ";
        } while (FindNextFile(search, &found));
        answer += "then " + Number(GetLastError());
        FindClose(search);
    }
    Fact(("find " + Shown(pattern)).c_str(), answer);
}

void Files() {
    const WCHAR* const patterns[] = {
        TEXT("\\Probe\\*.wav"),     TEXT("\\Probe\\*.WAV"),          TEXT("\\Probe\\*.mid"),
        TEXT("\\Probe\\?.wav"),     TEXT("\\Probe\\x?.mid"),         TEXT("\\Probe\\*"),
        TEXT("\\Probe\\*.none"),    TEXT("\\Probe\\Missing\\*.mid"), TEXT("\\Probe*.mid"),
        TEXT("\\..\\Probe\\*.wav"), TEXT("\\probe\\ÉTÉ.MID"),        TEXT("\\Probe\\Odd\\*"),
        TEXT("\\Probe.\\*.wav"),    TEXT("\\Probe..\\*.wav"),        TEXT("\\Probe \\*.wav"),
        TEXT("\\Probe\\a.wav. ."),  TEXT("\\\\Probe\\*.wav"),
    };
    for (const WCHAR* pattern : patterns)
        Search(pattern);
}

}  // namespace

int main() {
    Registry();
    Files();
    return 0;
}
