#include <windows.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "device/provision.h"
#include "device/registry_store.h"
#include "base/debug.h"
#include "platform/testing/testing.h"
#include "support/files.h"
#include "support/program.h"
#include "support/reg_bytes.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<BYTE>;

LONG Set(HKEY key, LPCWSTR name, DWORD type, const Bytes& data) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

// Reads a value the way the settings store does: its size first, then its bytes.
Bytes Get(HKEY key, LPCWSTR name, DWORD* type = nullptr) {
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    Bytes data(size);
    EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, data.size());
    return data;
}

HKEY Create(HKEY parent, LPCWSTR subKey, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, subKey, 0, nullptr, 0, 0, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
}

std::vector<std::u16string> SubKeys(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD i = 0;
         RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 256)
        names.emplace_back(name, length);
    return names;
}

std::vector<std::u16string> ValueNames(HKEY key) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD i = 0;
         RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, length = 256)
        names.emplace_back(name, length);
    return names;
}

std::string ReadRegularFile(const fs::path& file) {
    return fs::is_regular_file(file) ? ReadFile(file) : "<not a file>";
}

void WriteFile(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Every file in the device folder with its bytes, to show that nothing was touched.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[entry.path().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "<dir>";
    }
    return files;
}

class Registry : public DeviceTest {};

// --- values ------------------------------------------------------------------------------------

TEST_F(Registry, QueryGivesSizeWithoutBufferMoreDataWhenTooSmallAndExactBytesWhenLargeEnough) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    const Bytes folder = Sz(u"\\Mes sonneries\\");  // 15 characters + NUL
    ASSERT_EQ(Set(key, u"Dossier", REG_SZ, folder), ERROR_SUCCESS);

    DWORD size = 0;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(type, DWORD{REG_SZ});

    Bytes small(31, 0xEE);
    size = 31;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, &type, small.data(), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(type, DWORD{REG_SZ});

    Bytes exact(32);
    size = 32;
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, exact.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(exact, folder);

    Bytes large(100, 0xEE);
    size = 100;
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, large.data(), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 32u);
    EXPECT_TRUE(std::equal(folder.begin(), folder.end(), large.begin()));
    EXPECT_EQ(large[32], 0xEE) << "nothing is written past the value";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, BytesAndTypesComeBackExactlyAsWritten) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    const Bytes odd = {0x01, 0x00, 0xFF};
    const Bytes textWithoutNul = {'a', 0, 'b', 0};
    const Bytes dword = {0x2A, 0, 0, 0};
    ASSERT_EQ(Set(key, u"odd", REG_BINARY, odd), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"sans nul", REG_SZ, textWithoutNul), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"nombre", REG_DWORD, dword), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"vide", REG_SZ, {}), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"étrange", 0x1234, {7}), ERROR_SUCCESS);

    DWORD type = 0;
    EXPECT_EQ(Get(key, u"odd", &type), odd);
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(Get(key, u"sans nul", &type), textWithoutNul);
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(Get(key, u"nombre", &type), dword);
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_EQ(Get(key, u"vide", &type), Bytes());
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(Get(key, u"étrange", &type), Bytes{7});
    EXPECT_EQ(type, 0x1234u);

    // They are on disk, not only in this process.
    RegCloseKey(key);
    device::CloseRegistryForTesting();
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Tavonne", 0, 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, u"odd", &type), odd);
    EXPECT_EQ(Get(key, u"étrange", &type), Bytes{7});
    RegCloseKey(key);
}

TEST_F(Registry, MissingValueIsFileNotFoundAndDeletedValueIsGone) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, u"Dossier"), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(Set(key, u"Dossier", REG_SZ, Sz(u"")), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"DOSSIER"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, EmptyOrNullValueNameIsTheDefaultValue) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    ASSERT_EQ(Set(key, nullptr, REG_SZ, Sz(u"défaut")), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, u""), Sz(u"défaut"));
    ASSERT_EQ(Set(key, u"", REG_SZ, Sz(u"autre")), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, nullptr), Sz(u"autre"));
    EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u""});
    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(ValueNames(key).empty());
    RegCloseKey(key);
}

TEST_F(Registry, OverwritingReplacesDataAndTypeButKeepsStoredNameAndPlace) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    ASSERT_EQ(Set(key, u"Premier", REG_SZ, Sz(u"un")), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"Second", REG_SZ, Sz(u"deux")), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"PREMIER", REG_BINARY, {9, 9, 9}), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Get(key, u"premier", &type), (Bytes{9, 9, 9}));
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"Premier", u"Second"}));
    RegCloseKey(key);
}

TEST_F(Registry, BadParametersAreRefused) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    ASSERT_EQ(Set(key, u"Dossier", REG_SZ, Sz(u"x")), ERROR_SUCCESS);
    DWORD reserved = 0;
    DWORD size = 4;
    BYTE buffer[4];
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"Dossier", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, u"Dossier", 1, REG_SZ, buffer, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, u"Dossier", 0, REG_SZ, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(key, u"x", 0, nullptr, 0, 0, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(key, u"x", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyW(key, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Get(key, u"Dossier"), Sz(u"x"));
    RegCloseKey(key);
}

// --- keys --------------------------------------------------------------------------------------

TEST_F(Registry, CreateReportsNewKeyThenExistingKey) {
    DWORD disposition = 0;
    HKEY first = Create(HKEY_CURRENT_USER, u"Software\\Tavonne", &disposition);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    HKEY second = Create(HKEY_CURRENT_USER, u"SOFTWARE\\tavonne", &disposition);
    EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
    HKEY third = Create(HKEY_CURRENT_USER, u"Software\\Tavonne", nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_NE(first, second) << "each open gives its own handle";

    // Both handles reach the same key.
    ASSERT_EQ(Set(first, u"Dossier", REG_SZ, Sz(u"a")), ERROR_SUCCESS);
    EXPECT_EQ(Get(second, u"Dossier"), Sz(u"a"));
    for (HKEY key : {first, second, third})
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, CreateMakesMissingIntermediateKeys) {
    DWORD disposition = 0;
    HKEY deep = Create(HKEY_CURRENT_USER, u"Un\\Deux\\Trois\\", &disposition);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    HKEY middle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Un\\Deux", 0, 0, &middle), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(middle), std::vector<std::u16string>{u"Trois"});
    HKEY beside = Create(middle, u"Quatre", &disposition);
    EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
    EXPECT_EQ(SubKeys(middle), (std::vector<std::u16string>{u"Trois", u"Quatre"}));
    for (HKEY key : {deep, middle, beside})
        RegCloseKey(key);
}

TEST_F(Registry, OpeningAMissingKeyFailsAndCreatesNothing) {
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Nulle\\Part", 0, 0, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    const std::vector<std::u16string> top = SubKeys(HKEY_CURRENT_USER);
    EXPECT_EQ(std::count(top.begin(), top.end(), u"Software"), 0);
}

TEST_F(Registry, NullOrEmptySubKeyOpensANewHandleToTheSameKey) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    HKEY viaNull = nullptr;
    HKEY viaEmpty = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key, nullptr, 0, 0, &viaNull), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(key, u"", 0, 0, &viaEmpty), ERROR_SUCCESS);
    EXPECT_NE(viaNull, key);
    EXPECT_NE(viaEmpty, viaNull);
    ASSERT_EQ(Set(viaNull, u"Dossier", REG_SZ, Sz(u"b")), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(viaNull), ERROR_SUCCESS);
    EXPECT_EQ(Get(viaEmpty, u"Dossier"), Sz(u"b"));
    EXPECT_EQ(Get(key, u"Dossier"), Sz(u"b"));
    EXPECT_EQ(RegCloseKey(viaEmpty), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, NamesAreCaseBlindAccentsIncludedAndKeepTheirStoredCase) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Paramètres\\Sonneries");
    ASSERT_EQ(Set(key, u"Écran", REG_SZ, Sz(u"é")), ERROR_SUCCESS);
    HKEY again = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"PARAMÈTRES\\sonneries", 0, 0, &again),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(again, u"éCRAN"), Sz(u"é"));
    EXPECT_EQ(ValueNames(again), std::vector<std::u16string>{u"Écran"});
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"paramètres", 0, 0, &parent), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(parent), std::vector<std::u16string>{u"Sonneries"});
    const std::vector<std::u16string> top = SubKeys(HKEY_CURRENT_USER);
    EXPECT_EQ(std::count(top.begin(), top.end(), u"Paramètres"), 1);
    // An accent is not a case: "Parametres" is another key.
    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Parametres", 0, 0, &other), ERROR_FILE_NOT_FOUND);
    for (HKEY k : {key, again, parent})
        RegCloseKey(k);
}

TEST_F(Registry, EnumerationFollowsCreationOrderAndReportsSizes) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Liste");
    for (LPCWSTR name : {u"Zèbre", u"alpha", u"Milieu"})
        RegCloseKey(Create(key, name));
    ASSERT_EQ(Set(key, u"z", REG_SZ, Sz(u"dernier")), ERROR_SUCCESS);
    ASSERT_EQ(Set(key, u"a", REG_BINARY, {1, 2, 3}), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(key), (std::vector<std::u16string>{u"Zèbre", u"alpha", u"Milieu"}));

    WCHAR name[8];
    DWORD length = 8;
    FILETIME written{};
    ASSERT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(length, 5u);
    EXPECT_NE(written.dwHighDateTime, 0u) << "a real FILETIME, counted from 1601";
    length = 5;  // no room for the NUL
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 8;
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD type = 0;
    DWORD size = 0;
    length = 8;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"a");
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(size, 3u);
    BYTE data[3];
    size = 2;
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    length = 8;
    ASSERT_EQ(RegEnumValueW(key, 1, name, &length, nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{1, 2, 3}));
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST_F(Registry, EnumerationByIndexSeesChangesMadeBetweenCalls) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Liste");
    for (LPCWSTR name : {u"A", u"B", u"C"}) {
        ASSERT_EQ(Set(key, name, REG_SZ, Sz(name)), ERROR_SUCCESS);
        RegCloseKey(Create(key, name));
    }
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"A", u"B", u"C"}));
    EXPECT_EQ(SubKeys(key), (std::vector<std::u16string>{u"A", u"B", u"C"}));

    // Another process changes the key...
    for (const std::vector<std::string>& change :
         {std::vector<std::string>{"reg", "add", "HKCU\\Liste", "/v", "D", "/d", "d", "/f"},
          {"reg", "delete", "HKCU\\Liste", "/v", "B", "/f"},
          {"reg", "add", "HKCU\\Liste\\D", "/f"},
          {"reg", "delete", "HKCU\\Liste\\B", "/f"}})
        ASSERT_EQ(RunDeviceTool(change).exitCode, 0);
    EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"A", u"C", u"D"}));
    EXPECT_EQ(SubKeys(key), (std::vector<std::u16string>{u"A", u"C", u"D"}));

    // ...and so does this one, in the middle of an enumeration.
    WCHAR name[8];
    DWORD length = 8;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(key, u"A"), ERROR_SUCCESS);
    length = 8;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name, length), u"C");
    ASSERT_EQ(RegDeleteTreeW(key, u"C"), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(key), (std::vector<std::u16string>{u"A", u"D"}));
    RegCloseKey(key);
}

TEST_F(Registry, KeyWithSubKeysIsNotDeletedButATreeCanBe) {
    HKEY parent = Create(HKEY_CURRENT_USER, u"Arbre");
    RegCloseKey(Create(parent, u"Branche\\Feuille"));
    ASSERT_EQ(Set(parent, u"v", REG_SZ, Sz(u"v")), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Arbre"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(parent, u"branche"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(parent, u"Branche\\FEUILLE"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(parent, u"Branche\\Feuille"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SubKeys(parent), std::vector<std::u16string>{u"Branche"});

    RegCloseKey(Create(parent, u"Branche\\Autre"));
    EXPECT_EQ(RegDeleteTreeW(parent, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(SubKeys(parent).empty());
    EXPECT_TRUE(ValueNames(parent).empty());
    EXPECT_EQ(Set(parent, u"encore", REG_SZ, Sz(u"là")), ERROR_SUCCESS) << "the key itself stays";

    RegCloseKey(Create(parent, u"X\\Y\\Z"));
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"arbre"), ERROR_SUCCESS);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Arbre", 0, 0, &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Arbre\\X\\Y\\Z", 0, 0, &gone),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(parent);
}

TEST_F(Registry, RootKeysCannotBeDeleted) {
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software");
    EXPECT_NE(key, nullptr);
    RegCloseKey(key);
}

TEST_F(Registry, MalformedPathsAreRefused) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, u"\\Software", 0, nullptr, 0, 0, nullptr, &key, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, u"A\\\\B", 0, nullptr, 0, 0, nullptr, &key, nullptr),
        ERROR_INVALID_PARAMETER);
    const std::u16string tooLong(256, u'x');
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, tooLong.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                              nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, nullptr);
    const std::vector<std::u16string> top = SubKeys(HKEY_CURRENT_USER);
    EXPECT_EQ(std::count(top.begin(), top.end(), u"A"), 0);
}

// --- handles -----------------------------------------------------------------------------------

TEST_F(Registry, ClosedGarbageAndNullHandlesAreInvalidEverywhere) {
    HKEY closed = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    int local = 0;
    const HKEY bad[] = {closed,
                        nullptr,
                        reinterpret_cast<HKEY>(0x1234),
                        reinterpret_cast<HKEY>(&local),
                        HKEY_CLASSES_ROOT,
                        reinterpret_cast<HKEY>(~uintptr_t{0})};
    for (HKEY handle : bad) {
        HKEY out = nullptr;
        DWORD size = 8;
        WCHAR name[8];
        BYTE data[8] = {};
        EXPECT_EQ(RegCreateKeyExW(handle, u"x", 0, nullptr, 0, 0, nullptr, &out, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegOpenKeyExW(handle, u"", 0, 0, &out), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegQueryValueExW(handle, u"v", nullptr, nullptr, nullptr, &size),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegSetValueExW(handle, u"v", 0, REG_BINARY, data, 1), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteValueW(handle, u"v"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteKeyW(handle, u"x"), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegDeleteTreeW(handle, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegEnumKeyExW(handle, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        size = 8;
        EXPECT_EQ(RegEnumValueW(handle, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(RegCloseKey(handle), ERROR_INVALID_HANDLE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(local, 0) << "a handle is never written through";
}

TEST_F(Registry, HandleValuesAreNeverReused) {
    std::set<HKEY> seen;
    for (int i = 0; i < 200; ++i) {
        HKEY key = Create(HKEY_CURRENT_USER, u"Software");
        EXPECT_TRUE(seen.insert(key).second);
        ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    }
}

TEST_F(Registry, HandlesFromBeforeARegistryResetAreInvalid) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software");
    device::CloseRegistryForTesting();
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, HandleToADeletedKeyGivesKeyDeletedEvenAfterTheNameIsReused) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Éphémère");
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Éphémère"), ERROR_SUCCESS);
    HKEY reborn = Create(HKEY_CURRENT_USER, u"Software\\Éphémère");
    ASSERT_EQ(Set(reborn, u"v", REG_SZ, Sz(u"neuf")), ERROR_SUCCESS);

    HKEY out = nullptr;
    DWORD size = 8;
    WCHAR name[8];
    BYTE data[8] = {};
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_BINARY, data, 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueW(key, u"v"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyExW(key, u"x", 0, nullptr, 0, 0, nullptr, &out, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, 0, &out), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteTreeW(key, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    EXPECT_EQ(Get(reborn, u"v"), Sz(u"neuf")) << "the new key is untouched";
    RegCloseKey(reborn);
}

TEST_F(Registry, CallsLeaveTheLastErrorAlone) {
    SetLastError(4242);
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"absent", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x99)), ERROR_INVALID_HANDLE);
    ASSERT_EQ(Set(key, u"v", REG_SZ, Sz(u"v")), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(GetLastError(), 4242u);
}

// --- a write interrupted by a crash ------------------------------------------------------------

// Rewrites Sound in a child process that is killed inside the write's transaction, after the
// new pages have reached the database file; returns how the child ended.
int WriteInChildKilledBeforeCommit(const Bytes& newValue) {
    device::CloseRegistryForTesting();  // the child opens its own connection
    const pid_t child = fork();
    if (child == 0) {
        device::registry::SetBeforeCommitHookForTesting([] {
            device::registry::FlushForTesting();
            raise(SIGKILL);
        });
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &key) ==
            ERROR_SUCCESS)
            Set(key, u"Sound", REG_SZ, newValue);
        _exit(3);  // only reached when the hook did not run
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST_F(Registry, ACrashInsideAWriteLeavesTheOldValue) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &key),
              ERROR_SUCCESS);
    const Bytes oldValue = Get(key, u"Sound");
    RegCloseKey(key);
    const Bytes newValue = Sz(u"\\Windows\\Nouvelle-sonnerie-jamais-écrite.wav");

    const int status = WriteInChildKilledBeforeCommit(newValue);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    // The child really left the new bytes in the file, beside its hot journal.
    const std::string file = ReadRegularFile(device::RegistryFile());
    const std::string written(newValue.begin(), newValue.end());
    EXPECT_NE(file.find(written), std::string::npos);
    fs::path journal = device::RegistryFile();
    journal += "-journal";
    EXPECT_TRUE(fs::exists(journal));

    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(key, u"Sound"), oldValue);
    EXPECT_EQ(Get(key, u"Script"), Sz(u"apw3r"));
    EXPECT_FALSE(fs::exists(journal));
    // And the registry goes on working.
    ASSERT_EQ(Set(key, u"Sound", REG_SZ, newValue), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, u"Sound"), newValue);
    RegCloseKey(key);
}

TEST_F(Registry, AWriteWhoseHookReturnsIsCommitted) {
    int calls = 0;
    device::registry::SetBeforeCommitHookForTesting([&] { ++calls; });
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tavonne");
    ASSERT_EQ(Set(key, u"Dossier", REG_SZ, Sz(u"x")), ERROR_SUCCESS);
    device::registry::SetBeforeCommitHookForTesting(nullptr);
    EXPECT_GE(calls, 2) << "the key's creation and the value's write each commit once";
    RegCloseKey(key);
    device::CloseRegistryForTesting();
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Tavonne", 0, 0, &key), ERROR_SUCCESS);
    EXPECT_EQ(Get(key, u"Dossier"), Sz(u"x"));
    RegCloseKey(key);
}

// --- a damaged registry ------------------------------------------------------------------------

class DamagedRegistry : public Registry {
  protected:
    void SetUp() override {
        fs::create_directories(device.Folder());
        debug::SendToFile(device.Folder().parent_path() / "debug.txt");
    }
    void TearDown() override { debug::SendToStandardError(); }

    std::string DebugOutput() {
        return ReadRegularFile(device.Folder().parent_path() / "debug.txt");
    }

    // Two calls fail with the code, say so in one line naming the file, and touch nothing.
    void ExpectRefused(LONG expected, const std::string& problem) {
        const auto before = Snapshot(device.Folder());
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &key),
                  expected);
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Tavonne", 0, nullptr, 0, 0,
                                  nullptr, &key, nullptr),
                  expected);
        EXPECT_EQ(Snapshot(device.Folder()), before);
        // Provisioning may make the phone's folders, but it leaves the registry file alone too.
        const std::string registryBefore = ReadRegularFile(device::RegistryFile());
        EXPECT_FALSE(device::EnsureProvisioned());
        EXPECT_EQ(ReadRegularFile(device::RegistryFile()), registryBefore);

        const std::string output = DebugOutput();
        const std::string line = "registry: " + device::RegistryFile().string() + ": ";
        EXPECT_EQ(output.rfind(line, 0), 0u) << output;
        EXPECT_NE(output.find(problem), std::string::npos) << output;
        const std::string firstLine = output.substr(0, output.find('\n'));
        EXPECT_EQ(output.find(line, 1), std::string::npos) << "said once: " << output;
        EXPECT_NE(firstLine.find("left as it is"), std::string::npos) << firstLine;
    }

    // A genuine registry with the phone's keys, closed.
    std::string MakeRegistry() {
        EXPECT_TRUE(device::EnsureProvisioned());
        device::CloseRegistryForTesting();
        return ReadRegularFile(device::RegistryFile());
    }

    void MakeSqlite(const char* sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(device::RegistryFile().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
};

TEST_F(DamagedRegistry, GarbageBytes) {
    std::string garbage(8192, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    WriteFile(device::RegistryFile(), garbage);
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not an SQLite database");
}

TEST_F(DamagedRegistry, TextFile) {
    WriteFile(device::RegistryFile(), "Ceci n'est pas un registre.\n");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not an SQLite database");
}

TEST_F(DamagedRegistry, EmptyFile) {
    WriteFile(device::RegistryFile(), "");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not an SQLite database");
}

TEST_F(DamagedRegistry, TruncatedRegistry) {
    const std::string whole = MakeRegistry();
    WriteFile(device::RegistryFile(), whole.substr(0, 60));
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not an SQLite database");
}

TEST_F(DamagedRegistry, DatabaseOfAnotherProgram) {
    MakeSqlite("CREATE TABLE contacts(name TEXT); INSERT INTO contacts VALUES ('Zoé');");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "some other program");
}

TEST_F(DamagedRegistry, RegistryMarkWithOtherTables) {
    MakeSqlite(
        "PRAGMA application_id = 1415673426; PRAGMA user_version = 1;"
        "CREATE TABLE keys(id INTEGER PRIMARY KEY);");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "tables are not the registry's");
}

TEST_F(DamagedRegistry, RegistryOfAnUnknownFormat) {
    MakeSqlite("PRAGMA application_id = 1415673426; PRAGMA user_version = 7;");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "registry format 7");
}

TEST_F(DamagedRegistry, OverwrittenPages) {
    std::string bytes = MakeRegistry();
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(0xA5 ^ (i & 0x3F));
    WriteFile(device::RegistryFile(), bytes);
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "damaged");
}

TEST_F(DamagedRegistry, AFolder) {
    fs::create_directories(device::RegistryFile() / "inside");
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not a regular file (a folder)");
}

// A registry outside the device, reached through a link, is neither read nor written.
TEST_F(DamagedRegistry, ALinkIsNotFollowed) {
    const fs::path outside = device::RegistryFile().parent_path().parent_path() / "elsewhere.db";
    WriteFile(outside, MakeRegistry());
    const std::string before = ReadFile(outside);
    fs::remove(device::RegistryFile());
    fs::create_symlink(outside, device::RegistryFile());
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not a regular file (a link)");
    EXPECT_EQ(ReadFile(outside), before);
    fs::remove(outside);
}

// Opening a FIFO for reading would wait for a writer forever; the alarm ends a test that waits.
TEST_F(DamagedRegistry, AFifoIsRefusedWithoutWaiting) {
    ASSERT_EQ(mkfifo(device::RegistryFile().c_str(), 0644), 0);
    alarm(20);
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not a regular file (a FIFO)");
    alarm(0);
}

TEST_F(DamagedRegistry, ASocket) {
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = device::RegistryFile().string();
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ExpectRefused(ERROR_REGISTRY_CORRUPT, "not a regular file (a socket)");
    close(listener);
}

// --- what a killed writer leaves -----------------------------------------------------------------

TEST_F(Registry, LeftoversOfEndedWritersGoWhenTheDeviceIsNextOpened) {
    // A process that has ended, and one that runs: the test's parent.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string alive = std::to_string(getppid());

    const fs::path folder = device.Folder();
    const fs::path windows = device::FileSystemRoot() / "Windows";
    const fs::path sounds = device::FileSystemRoot() / "IPSM" / "Application Data" / "Sounds";
    const std::pair<fs::path, bool> files[] = {
        // A first start killed while it made the registry, or while it wrote a tone.
        {folder / ("registry.db.new-" + dead), false},
        {folder / ("registry.db.new-" + dead + "-journal"), false},
        {windows / (".Alarm1.mid.new-" + dead + "-a1B2c3"), false},
        {sounds / (".Petit bip.wav.new-" + dead + "-zzzzzz"), false},
        // A writer still at work.
        {folder / ("registry.db.new-" + alive), true},
        {windows / (".Alarm2.mid.new-" + alive + "-a1B2c3"), true},
        // Files that only look like ours.
        {sounds / ("Remix.new-" + dead + "-2.wav"), true},
        {sounds / (".notes.new-" + dead + "x"), true},
        {folder / ("other.db.new-" + dead), true},
    };
    for (const auto& [file, stays] : files)
        WriteFile(file, "partial");

    // The next start finds no registry, makes the phone, and clears what the dead writer left.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    for (const auto& [file, stays] : files)
        EXPECT_EQ(fs::exists(file), stays) << file;
}

// --- the phone's defaults ----------------------------------------------------------------------

TEST_F(Registry, AFreshDeviceHasThePhoneSoundSettings) {
    HKEY ring = nullptr;
    HKEY sms = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &ring),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\SMS", 0, 0, &sms),
              ERROR_SUCCESS);
    DWORD type = 0;
    const Bytes sound = Get(ring, u"Sound", &type);
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(sound, Sz(u"\\Windows\\Standard.wav"));
    EXPECT_EQ(sound.size(), (21u + 1) * 2);
    EXPECT_EQ(Get(ring, u"Script", &type), Sz(u"apw3r"));
    EXPECT_EQ(Get(ring, u"Script").size(), 12u);
    EXPECT_EQ(Get(sms, u"Sound", &type), Sz(u"\\Windows\\Notify.mid"));
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_EQ(ValueNames(ring), (std::vector<std::u16string>{u"Sound", u"Script"}));
    EXPECT_TRUE(fs::is_directory(device::FileSystemRoot() / "Windows"));
    EXPECT_TRUE(
        fs::is_directory(device::FileSystemRoot() / "IPSM" / "Application Data" / "Sounds"));
    RegCloseKey(ring);
    RegCloseKey(sms);
}

// The registry gets the phone's defaults once, when it is made: later provisioning (init, every
// start) leaves what the user changed or deleted, and only the phone's ROM files come back.
TEST_F(Registry, ProvisioningGivesTheRegistryItsDefaultsOnceAndRestoresOnlyTheRomFiles) {
    ASSERT_TRUE(device::EnsureProvisioned());
    const fs::path root = device::FileSystemRoot();
    const fs::path alarm = root / "Windows" / "Alarm1.mid";
    const fs::path sample = root / "IPSM" / "Application Data" / "Sounds" / "Petite valse.mid";
    const std::string alarmBytes = ReadRegularFile(alarm);
    ASSERT_TRUE(fs::exists(sample));
    for (const fs::path& file : {alarm, root / "Windows" / "qhandler.exe", sample})
        fs::remove(file);
    HKEY ring = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &ring),
              ERROR_SUCCESS);
    ASSERT_EQ(Set(ring, u"Sound", REG_SZ, Sz(u"\\Mes sonneries\\Réveil.wav")), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(ring, u"Script"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\SMS"), ERROR_SUCCESS);

    ASSERT_TRUE(device::EnsureProvisioned());
    EXPECT_EQ(Get(ring, u"Sound"), Sz(u"\\Mes sonneries\\Réveil.wav"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(ring, u"Script", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    HKEY sms = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\SMS", 0, 0, &sms),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadRegularFile(alarm), alarmBytes);
    EXPECT_TRUE(fs::is_regular_file(root / "Windows" / "qhandler.exe"));
    EXPECT_FALSE(fs::exists(sample));
    RegCloseKey(ring);

    // A registry made again is a new phone's.
    device::CloseRegistryForTesting();
    fs::remove(device::RegistryFile());
    ASSERT_TRUE(device::EnsureProvisioned());
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\SMS", 0, 0, &sms),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(sms, u"Sound"), Sz(u"\\Windows\\Notify.mid"));
    RegCloseKey(sms);
}

TEST_F(Registry, ProvisioningACompleteDeviceWritesNothing) {
    ASSERT_TRUE(device::EnsureProvisioned());
    device::CloseRegistryForTesting();
    struct stat before {};
    ASSERT_EQ(stat(device::RegistryFile().c_str(), &before), 0);
    const auto files = Snapshot(device.Folder());

    int commits = 0;
    device::registry::SetBeforeCommitHookForTesting([&] { ++commits; });
    EXPECT_TRUE(device::EnsureProvisioned());
    EXPECT_TRUE(device::EnsureProvisioned());
    device::registry::SetBeforeCommitHookForTesting(nullptr);

    EXPECT_EQ(commits, 0);
    struct stat after {};
    ASSERT_EQ(stat(device::RegistryFile().c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(Snapshot(device.Folder()), files);
}

}  // namespace
