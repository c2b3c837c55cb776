// The settings store against the device's registry: codes, byte lengths, robust reads.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "device/device_folder.h"
#include "settings/settings.h"
#include "support/reg_bytes.h"
#include "support/temp_device.h"

namespace {

const WCHAR* const RingKey = u"ControlPanel\\Sounds\\RingTone0";
const WCHAR* const SmsKey = u"ControlPanel\\Sounds\\SMS";
const WCHAR* const AppKey = u"Software\\Tavonne";

struct RawValue {
    LONG result = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

RawValue ReadRaw(const WCHAR* keyName, const WCHAR* valueName) {
    RawValue raw;
    HKEY key;
    raw.result = RegOpenKeyExW(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key);
    if (raw.result != ERROR_SUCCESS)
        return raw;
    DWORD size = 0;
    raw.result = RegQueryValueExW(key, valueName, nullptr, &raw.type, nullptr, &size);
    if (raw.result == ERROR_SUCCESS) {
        raw.bytes.resize(size);
        raw.result = RegQueryValueExW(key, valueName, nullptr, &raw.type, raw.bytes.data(), &size);
    }
    RegCloseKey(key);
    return raw;
}

void WriteRaw(const WCHAR* keyName, const WCHAR* valueName, DWORD type,
              const std::vector<BYTE>& bytes) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key, valueName, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

bool KeyExists(const WCHAR* keyName) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

class SettingsStore : public DeviceTest {};

TEST_F(SettingsStore, AppKeyIsNewOnceThenExisting) {
    EXPECT_FALSE(KeyExists(AppKey));
    EXPECT_FALSE(EnsureAppKey());
    EXPECT_TRUE(KeyExists(AppKey));
    EXPECT_TRUE(EnsureAppKey());
    EXPECT_TRUE(EnsureAppKey());
}

// A registry that cannot be used is no first start, and no write pretends to have worked.
TEST_F(SettingsStore, ABrokenRegistryIsNoFirstStartAndRefusesWrites) {
    std::filesystem::create_directories(device::RegistryFile().parent_path());
    std::ofstream(device::RegistryFile()) << "Ceci n'est pas un registre.\n";
    EXPECT_TRUE(EnsureAppKey());
    EXPECT_EQ(ReadFolder(), u"");
    EXPECT_FALSE(WriteFolder(u"\\Tones\\"));
    EXPECT_FALSE(WriteRingSound(u"\\Windows\\Alarm1.mid"));
    EXPECT_FALSE(WriteRingScript(0));
}

TEST_F(SettingsStore, FolderIsStoredExactlyAsTypedWithItsTerminator) {
    EnsureAppKey();
    EXPECT_EQ(ReadFolder(), u"");  // no value yet

    WriteFolder(u"");
    RawValue empty = ReadRaw(AppKey, u"Dossier");
    EXPECT_EQ(empty.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(empty.bytes, (std::vector<BYTE>{0, 0}));

    WriteFolder(u"\\Storage\\Sonneries été");
    EXPECT_EQ(ReadRaw(AppKey, u"Dossier").bytes, Utf16Bytes(u"\\Storage\\Sonneries été", true));
    EXPECT_EQ(ReadFolder(), u"\\Storage\\Sonneries été");
}

TEST_F(SettingsStore, WritingNeverCreatesThePhonesKeys) {
    // A phone whose sound keys are gone: writes fail and create nothing.
    HKEY sounds;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds", 0, KEY_ALL_ACCESS, &sounds),
              ERROR_SUCCESS);
    for (const WCHAR* name : {u"RingTone0", u"SMS"}) {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExW(sounds, name, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        RegDeleteValueW(key, u"Sound");
        RegDeleteValueW(key, u"Script");
        RegCloseKey(key);
        ASSERT_EQ(RegDeleteKeyW(sounds, name), ERROR_SUCCESS);
    }
    RegCloseKey(sounds);

    EXPECT_FALSE(WriteRingSound(u"\\Windows\\Alarm1.mid"));
    EXPECT_FALSE(WriteSmsSound(u"\\Windows\\Alarm1.mid"));
    EXPECT_FALSE(WriteRingScript(1));
    EXPECT_FALSE(WriteFolder(u"\\Tones\\"));  // Software\Tavonne is only made by EnsureAppKey
    EXPECT_FALSE(KeyExists(RingKey));
    EXPECT_FALSE(KeyExists(SmsKey));
    EXPECT_FALSE(KeyExists(AppKey));
    EXPECT_EQ(ReadRingSound(), u"");
    EXPECT_EQ(ReadSmsSound(), u"");
    EXPECT_EQ(ReadRingScript(), 2);
}

TEST_F(SettingsStore, SoundsGoToTheirOwnKeys) {
    EXPECT_TRUE(WriteRingSound(u"\\Windows\\NewTune7.mid"));
    EXPECT_TRUE(WriteSmsSound(u"\\IPSM\\Application Data\\Sounds\\Petit bip.wav"));
    EXPECT_EQ(ReadRaw(RingKey, u"Sound").bytes, Utf16Bytes(u"\\Windows\\NewTune7.mid", true));
    EXPECT_EQ(ReadRaw(SmsKey, u"Sound").bytes,
              Utf16Bytes(u"\\IPSM\\Application Data\\Sounds\\Petit bip.wav", true));
    EXPECT_EQ(ReadRingSound(), u"\\Windows\\NewTune7.mid");
    EXPECT_EQ(ReadSmsSound(), u"\\IPSM\\Application Data\\Sounds\\Petit bip.wav");
}

TEST_F(SettingsStore, ScriptCodesReadCaseSensitively) {
    const std::pair<std::u16string, int> cases[] = {
        {u"apw1r", 0},  {u"apw2r", 1}, {u"apw3r", 2}, {u"APW1R", 2},
        {u"apw1r ", 2}, {u"", 2},      {u"xyz", 2},
    };
    for (const auto& [script, index] : cases) {
        WriteRaw(RingKey, u"Script", REG_SZ, Utf16Bytes(script, true));
        EXPECT_EQ(ReadRingScript(), index) << std::string(script.begin(), script.end());
    }
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, RingKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegDeleteValueW(key, u"Script");
    RegCloseKey(key);
    EXPECT_EQ(ReadRingScript(), 2);  // missing
}

TEST_F(SettingsStore, ScriptIndexesWriteTheirCodeWithTerminator) {
    const std::pair<int, std::u16string> cases[] = {
        {0, u"apw1r"}, {1, u"apw2r"}, {2, u"apw3r"}, {3, u"apw3r"}, {-1, u"apw3r"}, {-2, u"apw3r"},
    };
    for (const auto& [index, script] : cases) {
        WriteRingScript(index);
        RawValue raw = ReadRaw(RingKey, u"Script");
        EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(raw.bytes.size(), 12u);
        EXPECT_EQ(raw.bytes, Utf16Bytes(script, true)) << index;
    }
}

TEST_F(SettingsStore, OddValuesAreReadSafelyAsText) {
    EnsureAppKey();
    // No terminating NUL.
    WriteRaw(AppKey, u"Dossier", REG_SZ, Utf16Bytes(u"\\Tones\\", false));
    EXPECT_EQ(ReadFolder(), u"\\Tones\\");
    // An odd byte length: the last byte is no character.
    std::vector<BYTE> odd = Utf16Bytes(u"abc", false);
    odd.push_back('d');
    WriteRaw(AppKey, u"Dossier", REG_SZ, odd);
    EXPECT_EQ(ReadFolder(), u"abc");
    // Another type.
    WriteRaw(AppKey, u"Dossier", REG_BINARY, Utf16Bytes(u"bin", false));
    EXPECT_EQ(ReadFolder(), u"bin");
    WriteRaw(AppKey, u"Dossier", REG_DWORD, {0x41, 0x00, 0x42, 0x00});
    EXPECT_EQ(ReadFolder(), u"AB");
    // Text stops at the first NUL, as a string does.
    WriteRaw(AppKey, u"Dossier", REG_SZ, Utf16Bytes(std::u16string(u"ab\0cd", 5), true));
    EXPECT_EQ(ReadFolder(), u"ab");
    // Empty data and a single byte.
    WriteRaw(AppKey, u"Dossier", REG_SZ, {});
    EXPECT_EQ(ReadFolder(), u"");
    WriteRaw(AppKey, u"Dossier", REG_SZ, {'x'});
    EXPECT_EQ(ReadFolder(), u"");
}

}  // namespace

// The settings test links with --wrap=RegQueryValueExW, so that a test can change a value
// between the store's size query and its read.
std::function<void()> afterSizeQuery;

extern "C" LONG __real_RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
extern "C" LONG __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                        LPBYTE data, LPDWORD size) {
    LONG result = __real_RegQueryValueExW(key, name, reserved, type, data, size);
    if (data == nullptr && afterSizeQuery) {
        std::function<void()> hook = std::move(afterSizeQuery);
        afterSizeQuery = nullptr;
        hook();
    }
    return result;
}

namespace {

TEST_F(SettingsStore, ValueThatGrowsBetweenSizeQueryAndReadIsReadWhole) {
    EnsureAppKey();
    WriteFolder(u"\\A\\");
    const std::u16string longer(700, u'é');
    afterSizeQuery = [&] { WriteFolder(longer); };
    EXPECT_EQ(ReadFolder(), longer);
    EXPECT_FALSE(afterSizeQuery);  // the change really happened in between
}

}  // namespace
