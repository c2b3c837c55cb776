#include <windows.h>

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "device/registry_store.h"
#include "support/audio.h"
#include "support/files.h"
#include "support/program.h"
#include "support/reg_bytes.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<BYTE>;

const std::string kDone = "The operation completed successfully.\n";
const std::string kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

class DeviceTool : public DeviceTest {
  protected:
    // Runs the real tool with this test's device folder in its environment; `environment` sets
    // (or, with nullopt, removes) variables for this run only.
    static ProgramResult Run(const std::vector<std::string>& args, const std::string& input = "",
                             const EnvironmentChanges& environment = {}) {
        return RunDeviceTool(args, input, environment);
    }

    // A command that must succeed with exactly this output and nothing on standard error.
    void Expect(const std::vector<std::string>& args, const std::string& out) {
        const ProgramResult result = Run(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }

    Bytes Get(LPCWSTR subKey, LPCWSTR name, DWORD* type = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, 0, &key), ERROR_SUCCESS);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        Bytes data(size);
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
        RegCloseKey(key);
        return data;
    }
};

TEST_F(DeviceTool, InitMakesTheDeviceSilentlyWithThePhoneDefaults) {
    Expect({"init"}, "");
    EXPECT_TRUE(fs::is_regular_file(device.Folder() / "registry.db"));
    EXPECT_TRUE(fs::is_directory(device.Folder() / "fs" / "Windows"));
    Expect({"reg", "query", "HKCU\\ControlPanel\\Sounds\\RingTone0"},
           "\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\RingTone0\n"
           "    Sound    REG_SZ    \\Windows\\Standard.wav\n"
           "    Script    REG_SZ    apw3r\n"
           "\n");
    Expect({"reg", "query", "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\SMS", "/v", "Sound"},
           "\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\SMS\n"
           "    Sound    REG_SZ    \\Windows\\Notify.mid\n"
           "\n");
    EXPECT_EQ(Get(u"ControlPanel\\Sounds\\SMS", u"Sound"), Sz(u"\\Windows\\Notify.mid"));
}

TEST_F(DeviceTool, InitNeverOverwritesAndChangesNothingTheSecondTime) {
    Expect({"reg", "add", "HKCU\\ControlPanel\\Sounds\\RingTone0", "/v", "Sound", "/d",
            "\\Mes sonneries\\Réveil.wav", "/f"},
           kDone);
    Expect({"init"}, "");
    const std::string registry = ReadFile(device::RegistryFile());
    Expect({"init"}, "");
    EXPECT_EQ(ReadFile(device::RegistryFile()), registry);
    Expect({"reg", "query", "HKCU\\ControlPanel\\Sounds\\RingTone0", "/v", "sound"},
           "\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\RingTone0\n"
           "    Sound    REG_SZ    \\Mes sonneries\\Réveil.wav\n"
           "\n");
}

TEST_F(DeviceTool, QueryShowsStoredCaseValuesThenSubKeys) {
    Expect({"reg", "add", "HKCU\\ControlPanel\\Sounds", "/v", "Volume", "/t", "REG_DWORD", "/d",
            "5", "/f"},
           kDone);
    Expect({"reg", "query", "hkey_current_user\\CONTROLPANEL\\sounds\\"},
           "\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\n"
           "    Volume    REG_DWORD    0x5\n"
           "\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\RingTone0\n"
           "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\SMS\n");
}

TEST_F(DeviceTool, AddedTextIsARegSzWithItsNulAndAccentsRoundTrip) {
    const std::string folder = "\\Mes sonneries\\Été à Noël\\";
    Expect({"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/t", "REG_SZ", "/d", folder,
            "/f"},
           kDone);
    DWORD type = 0;
    EXPECT_EQ(Get(u"Software\\Tavonne", u"Dossier", &type), Sz(u"\\Mes sonneries\\Été à Noël\\"));
    EXPECT_EQ(type, DWORD{REG_SZ});
    Expect({"reg", "query", "HKCU\\Software\\Tavonne", "/v", "Dossier"},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Tavonne\n"
           "    Dossier    REG_SZ    " +
               folder +
               "\n"
               "\n");

    // What the program writes through the API reads back the same through the tool.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Tavonne", 0, 0, &key), ERROR_SUCCESS);
    const Bytes empty = Sz(u"");
    ASSERT_EQ(RegSetValueExW(key, u"Dossier", 0, REG_SZ, empty.data(), 2), ERROR_SUCCESS);
    RegCloseKey(key);
    Expect({"reg", "query", "HKCU\\Software\\Tavonne", "/v", "Dossier"},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Tavonne\n"
           "    Dossier    REG_SZ    \n"
           "\n");
}

// A key made under one locale is found, in other letter case, under another: the case-blind
// names stored in the registry never depend on the host's locale.
TEST_F(DeviceTool, CaseBlindNamesAreTheSameUnderEveryLocale) {
    const EnvironmentChanges plain = {{"LANG", "C"}, {"LC_ALL", "C"}};
    const EnvironmentChanges unicode = {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}};
    struct Case {
        const EnvironmentChanges& made;
        const EnvironmentChanges& read;
        std::string key, sameKey;
    };
    for (const Case& c : {Case{plain, unicode, "Été à Noël", "éTÉ À NOËL"},
                          Case{unicode, plain, "Ÿ Ωμέγα Жук", "ÿ ΩΜΈΓΑ жук"}}) {
        ProgramResult result = Run(
            {"reg", "add", "HKCU\\Software\\" + c.key, "/v", "Clé", "/d", "x", "/f"}, "", c.made);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        result = Run({"reg", "query", "HKCU\\SOFTWARE\\" + c.sameKey, "/v", "CLÉ"}, "", c.read);
        EXPECT_EQ(result.exitCode, 0) << c.sameKey << ": " << result.err;
        EXPECT_NE(result.out.find("Clé    REG_SZ    x"), std::string::npos) << result.out;
    }
}

TEST_F(DeviceTool, DefaultValueWithVe) {
    Expect({"reg", "add", "HKCU\\Software\\Tavonne", "/f"}, kDone);
    Expect({"reg", "query", "HKCU\\Software\\Tavonne", "/ve"},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Tavonne\n"
           "    (Default)    REG_SZ    (value not set)\n"
           "\n");
    Expect({"reg", "add", "HKCU\\Software\\Tavonne", "/ve", "/d", "défaut", "/f"}, kDone);
    EXPECT_EQ(Get(u"Software\\Tavonne", u""), Sz(u"défaut"));
    Expect({"reg", "query", "HKCU\\Software\\Tavonne"},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Tavonne\n"
           "    (Default)    REG_SZ    défaut\n"
           "\n");
    Expect({"reg", "delete", "HKCU\\Software\\Tavonne", "/ve", "/f"}, kDone);
    Expect({"reg", "query", "HKCU\\Software\\Tavonne"},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Tavonne\n"
           "\n");
}

TEST_F(DeviceTool, OtherTypesAreStoredAndShownAsRegDoes) {
    const std::string key = "HKCU\\Software\\Types";
    Expect({"reg", "add", key, "/v", "d", "/t", "REG_DWORD", "/d", "0x2A", "/f"}, kDone);
    Expect({"reg", "add", key, "/v", "q", "/t", "REG_QWORD", "/d", "4294967296", "/f"}, kDone);
    Expect({"reg", "add", key, "/v", "b", "/t", "reg_binary", "/d", "00ff10", "/f"}, kDone);
    Expect({"reg", "add", key, "/v", "m", "/t", "REG_MULTI_SZ", "/d", "un\\0deux", "/f"}, kDone);
    Expect({"reg", "add", key, "/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%TEMP%", "/f"}, kDone);

    DWORD type = 0;
    EXPECT_EQ(Get(u"Software\\Types", u"d", &type), (Bytes{0x2A, 0, 0, 0}));
    EXPECT_EQ(type, DWORD{REG_DWORD});
    EXPECT_EQ(Get(u"Software\\Types", u"q", &type), (Bytes{0, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(type, DWORD{REG_QWORD});
    EXPECT_EQ(Get(u"Software\\Types", u"b", &type), (Bytes{0x00, 0xFF, 0x10}));
    EXPECT_EQ(type, DWORD{REG_BINARY});
    EXPECT_EQ(Get(u"Software\\Types", u"m", &type), Sz(std::u16string(u"un\0deux\0", 8)));
    EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
    EXPECT_EQ(Get(u"Software\\Types", u"e", &type), Sz(u"%TEMP%"));
    EXPECT_EQ(type, DWORD{REG_EXPAND_SZ});

    Expect({"reg", "query", key},
           "\n"
           "HKEY_CURRENT_USER\\Software\\Types\n"
           "    d    REG_DWORD    0x2a\n"
           "    q    REG_QWORD    0x100000000\n"
           "    b    REG_BINARY    00FF10\n"
           "    m    REG_MULTI_SZ    un\\0deux\n"
           "    e    REG_EXPAND_SZ    %TEMP%\n"
           "\n");
}

TEST_F(DeviceTool, DeleteRemovesAValueOrAWholeKey) {
    Expect({"reg", "add", "HKCU\\Software\\Tavonne\\Sous\\Clé", "/v", "x", "/d", "1", "/f"}, kDone);
    Expect({"reg", "add", "HKCU\\Software\\Tavonne", "/v", "Dossier", "/d", "", "/f"}, kDone);
    Expect({"reg", "delete", "HKCU\\Software\\Tavonne", "/v", "DOSSIER", "/f"}, kDone);
    ProgramResult result = Run({"reg", "query", "HKCU\\Software\\Tavonne", "/v", "Dossier"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kNotFound);

    Expect({"reg", "delete", "hkcu\\software\\TAVONNE", "/f"}, kDone);
    result = Run({"reg", "query", "HKCU\\Software\\Tavonne\\Sous"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, kNotFound);
    Expect({"reg", "query", "HKCU\\Software"},
           "\n"
           "HKEY_CURRENT_USER\\Software\n"
           "\n");
}

TEST_F(DeviceTool, MissingKeysAndValuesAreReportedOnStandardError) {
    const std::vector<std::vector<std::string>> commands = {
        {"reg", "query", "HKCU\\Nulle\\Part"},
        {"reg", "query", "HKCU\\ControlPanel\\Sounds\\SMS", "/v", "Absent"},
        {"reg", "delete", "HKCU\\Nulle\\Part", "/f"},
        {"reg", "delete", "HKCU\\ControlPanel\\Sounds\\SMS", "/v", "Absent", "/f"},
    };
    for (const auto& command : commands) {
        const ProgramResult result = Run(command);
        EXPECT_EQ(result.exitCode, 1) << command[3];
        EXPECT_EQ(result.out, "") << command[3];
        EXPECT_EQ(result.err, kNotFound) << command[3];
    }
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Nulle", 0, 0, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceTool, BadSyntaxIsRefusedWithAUsageHint) {
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"reg"},
        {"reg", "query"},
        {"reg", "frob", "HKCU\\Software"},
        {"reg", "query", "HKCU\\Software", "/v"},
        {"reg", "query", "HKCU\\Software", "/v", "a", "/ve"},
        {"reg", "add", "HKCU\\Software", "/bogus"},
        {"reg", "add", "HKCU\\Software", "/v", "n", "/t", "REG_DWORD", "/d", "douze", "/f"},
        {"reg", "add", "HKCU\\Software", "/v", "n", "/t", "REG_WHATEVER", "/d", "1", "/f"},
        {"reg", "add", "HKCU\\Software", "/v", "n", "/v", "m", "/f"},
        {"reg", "delete", "HKCU\\Software", "/t", "REG_SZ"},
        {"init", "now"},
        {"path"},
    };
    for (const auto& command : commands) {
        const ProgramResult result = Run(command);
        std::string shown;
        for (const std::string& arg : command)
            shown += arg + " ";
        EXPECT_EQ(result.exitCode, 1) << shown;
        EXPECT_EQ(result.out, "") << shown;
        EXPECT_EQ(result.err.rfind("ERROR: Invalid syntax.\n", 0), 0u) << shown << result.err;
        EXPECT_NE(result.err.find("usage: tavonne-device"), std::string::npos) << shown;
    }
    const ProgramResult result = Run({"reg", "query", "HKCR\\Software"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("ERROR: Invalid key name.\n", 0), 0u) << result.err;
}

TEST_F(DeviceTool, WithoutForceItAsksBeforeOverwritingOrDeleting) {
    const std::string key = "HKCU\\ControlPanel\\Sounds\\RingTone0";
    ProgramResult result = Run({"reg", "add", key, "/v", "Script", "/d", "apw1r"}, "no\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out,
              "Value Script exists, overwrite(Yes/No)? The operation was canceled by the user.\n");
    EXPECT_EQ(Get(u"ControlPanel\\Sounds\\RingTone0", u"Script"), Sz(u"apw3r"));

    result = Run({"reg", "add", key, "/v", "Script", "/d", "apw1r"}, "yes\n");
    EXPECT_EQ(result.out, "Value Script exists, overwrite(Yes/No)? " + kDone);
    EXPECT_EQ(Get(u"ControlPanel\\Sounds\\RingTone0", u"Script"), Sz(u"apw1r"));

    result = Run({"reg", "delete", key, "/v", "Script"}, "");
    EXPECT_EQ(Get(u"ControlPanel\\Sounds\\RingTone0", u"Script"), Sz(u"apw1r"));
    result = Run({"reg", "delete", key}, "y\n");
    EXPECT_EQ(result.out,
              "Permanently delete the registry key "
              "HKEY_CURRENT_USER\\ControlPanel\\Sounds\\RingTone0 (Yes/No)? " +
                  kDone);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Sounds\\RingTone0", 0, 0, &gone),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceTool, ADamagedRegistryIsReportedAndLeftAsItIs) {
    fs::create_directories(device.Folder());
    const std::string garbage = "PK\x03\x04 ceci n'est pas une base de registre";
    std::ofstream(device::RegistryFile(), std::ios::binary) << garbage;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"reg", "query", "HKCU\\ControlPanel"},
          std::vector<std::string>{"reg", "add", "HKCU\\Software", "/v", "x", "/d", "y", "/f"},
          std::vector<std::string>{"init"}}) {
        const ProgramResult result = Run(command);
        EXPECT_NE(result.exitCode, 0) << command[0];
        EXPECT_EQ(result.out, "") << command[0];
        EXPECT_NE(result.err.find(device::RegistryFile().string()), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("ERROR: "), std::string::npos) << result.err;
        EXPECT_EQ(ReadFile(device::RegistryFile()), garbage);
    }
    EXPECT_EQ(fs::file_size(device::RegistryFile()), garbage.size());
    EXPECT_FALSE(fs::exists(device.Folder() / "registry.db-journal"));
}

TEST_F(DeviceTool, NamesLongerThanTheRegistryTakesAreRefusedWithTheLimit) {
    const std::string key = "HKCU\\Software\\" + std::string(256, 'k');
    const std::string value(16384, 'v');
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"reg", "add", key, "/f"},
         "A key name is 256 characters long; the registry takes at most 255."},
        {{"reg", "query", key},
         "A key name is 256 characters long; the registry takes at most 255."},
        {{"reg", "delete", key, "/f"},
         "A key name is 256 characters long; the registry takes at most 255."},
        {{"reg", "add", "HKCU\\Software", "/v", value, "/d", "x", "/f"},
         "The value name is 16384 characters long; the registry takes at most 16383."},
    };
    for (const auto& [command, message] : cases) {
        const ProgramResult result = Run(command);
        EXPECT_EQ(result.exitCode, 1) << command[1];
        EXPECT_EQ(result.err, "ERROR: " + message + "\n") << command[1];
    }
    Expect({"reg", "add", "HKCU\\Software\\" + std::string(255, 'k'), "/v", value.substr(1), "/d",
            "x", "/f"},
           kDone);
}

// Host files to copy, in a folder of the test's own.
fs::path HostFile(const std::string& name, const std::string& bytes) {
    const fs::path file = fs::path(getenv("TAVONNE_DEVICE")).parent_path() / "host" / name;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

TEST_F(DeviceTool, CopyPutsFilesIntoAPhoneFolderUnderTheirNames) {
    const fs::path carillon = HostFile("Carillon.wav", "RIFF un");
    const fs::path valse = HostFile("Valse d'été.mid", "MThd deux");
    Expect({"copy", carillon.string(), valse.string(), "\\Storage\\Sonneries\\"},
           "        2 file(s) copied.\n");
    const fs::path folder = device.Folder() / "fs" / "Storage" / "Sonneries";
    EXPECT_EQ(ReadFile(folder / "Carillon.wav"), "RIFF un");
    EXPECT_EQ(ReadFile(folder / "Valse d'été.mid"), "MThd deux");

    // The phone tells no names apart by case: a file of the same name is replaced, keeping its
    // name, wherever the folder's name is typed in another case.
    const fs::path again = HostFile("other/CARILLON.WAV", "RIFF trois");
    Expect({"copy", again.string(), "\\storage\\SONNERIES"}, "        1 file(s) copied.\n");
    EXPECT_EQ(ReadFile(folder / "Carillon.wav"), "RIFF trois");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    // The longest name the host takes, though the copy is written beside it first.
    const std::string longest = std::string(251, 'l') + ".wav";
    Expect({"copy", HostFile(longest, "RIFF long").string(), "\\Storage\\Sonneries\\"},
           "        1 file(s) copied.\n");
    EXPECT_EQ(ReadFile(folder / longest), "RIFF long");
}

// One file to a path that is no folder and does not end in a backslash takes that path's name,
// as cp does; an existing folder, or a final backslash, receives it under its own name.
TEST_F(DeviceTool, CopyOfOneFileToAPathThatNamesNoFolderTakesThatName) {
    const fs::path carillon = HostFile("Carillon.wav", "RIFF un");
    fs::create_directories(device.Folder() / "fs" / "Storage" / "Existant");
    const struct {
        std::string destination;
        std::string file;  // under fs/
    } cases[] = {
        {"\\Storage\\Sonneries\\Carillon2.wav", "Storage/Sonneries/Carillon2.wav"},
        {"\\Storage\\existant", "Storage/Existant/Carillon.wav"},
        {"\\Storage\\Nouveau\\", "Storage/Nouveau/Carillon.wav"},
        {"Racine.wav", "Racine.wav"},
    };
    for (const auto& c : cases) {
        Expect({"copy", carillon.string(), c.destination}, "        1 file(s) copied.\n");
        EXPECT_EQ(ReadFile(device.Folder() / "fs" / c.file), "RIFF un") << c.destination;
    }
    EXPECT_TRUE(
        fs::is_regular_file(device.Folder() / "fs" / "Storage" / "Sonneries" / "Carillon2.wav"));
    const ProgramResult refused = Run({"copy", carillon.string(), "\\Storage\\tab\there.wav"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("cannot hold a file named \"tab\\x09here.wav\""), std::string::npos)
        << refused.err;
}

TEST_F(DeviceTool, CopyRefusesWhatThePhoneCannotHoldAndCopiesNothing) {
    const fs::path good = HostFile("Bon.wav", "RIFF");
    const std::pair<fs::path, std::string> cases[] = {
        {HostFile("a\\b.wav", "x"), "cannot hold a file named \"a\\b.wav\""},
        {HostFile("tab\there.wav", "x"), "cannot hold a file named \"tab\\x09here.wav\""},
        {HostFile("line\nfeed.mid", "x"), "cannot hold a file named \"line\\x0afeed.mid\""},
        {HostFile("double/bon.WAV", "x"), "Two files are named \"bon.WAV\""},
        {good.parent_path() / "absent.wav", "absent.wav is not a file"},
        {good.parent_path(), "host is not a file"},
    };
    for (const auto& [file, message] : cases) {
        const ProgramResult result = Run({"copy", good.string(), file.string(), "\\Neuf\\"});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_EQ(result.out, "") << file;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("Nothing was copied."), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(device.Folder() / "fs" / "Neuf"));
    }
}

// The names in a folder that a write left beside its final name.
std::vector<std::string> Leftovers(const fs::path& folder) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find(".new-") != std::string::npos)
            left.push_back(entry.path().filename().string());
    }
    return left;
}

// A copy over a tone that cannot be finished leaves the old tone whole and says what it copied
// before: past a file size limit, where a write fails midway, and on a full disk (a small file
// system that only this test sees).
TEST_F(DeviceTool, ACopyThatCannotFinishKeepsTheOldFileAndSaysWhatItCopied) {
    const std::string old(39734, 'o');
    const fs::path first = HostFile("new/A.wav", "RIFF A");
    const fs::path valse = HostFile("new/Valse.wav", std::string(400000, 'n'));
    const fs::path folder = device.Folder() / "fs" / "S";
    const auto copyFails = [&](const std::string& how) {
        Expect({"copy", HostFile("Valse.wav", old).string(), "\\S\\"},
               "        1 file(s) copied.\n");
        const ProgramResult result = Run({"copy", first.string(), valse.string(), "\\S\\"});
        EXPECT_EQ(result.exitCode, 1) << how;
        EXPECT_NE(result.err.find("Valse.wav cannot be copied"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("1 file(s) copied before it: A.wav."), std::string::npos)
            << result.err;
        EXPECT_TRUE(ReadFile(folder / "Valse.wav") == old) << how;
        EXPECT_EQ(ReadFile(folder / "A.wav"), "RIFF A") << how;
        EXPECT_EQ(Leftovers(folder), std::vector<std::string>()) << how;
    };

    Expect({"init"}, "");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = 100000;
    // The tool then gets EFBIG from write() instead of the signal.
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    copyFails("past a file size limit");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    signal(SIGXFSZ, SIG_DFL);

    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        GTEST_SKIP() << "checked past a file size limit only: a full disk needs a file system "
                        "of the test's own, which needs root or CAP_SYS_ADMIN ("
                     << strerror(errno) << ")";
    fs::remove_all(device.Folder());
    fs::create_directories(device.Folder());
    ASSERT_EQ(mount("tavonne-test", device.Folder().c_str(), "tmpfs", 0, "size=8m"), 0)
        << strerror(errno);
    struct Unmount {
        fs::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{device.Folder()};
    Expect({"init"}, "");
    struct statvfs space {};
    ASSERT_EQ(statvfs(device.Folder().c_str(), &space), 0);
    // Room for the old tone and A.wav, and 20 KB more.
    const uint64_t free = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    std::ofstream(device.Folder() / "fill", std::ios::binary)
        << std::string(free - 40960 - 20480 - 4096, 'f');
    copyFails("on a full disk");
}

// Copies killed at random moments, and one stopped with Ctrl-C: the file under the final name is
// always the old one or the new one, whole, and the next copy into the folder clears what they
// left beside it.
TEST_F(DeviceTool, KilledOrInterruptedCopiesLeaveTheOldOrTheNewFile) {
    const std::string old = "RIFF old";
    std::string big(16 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 / 7);
    const fs::path oldFile = HostFile("Big.wav", old);
    const fs::path bigFile = HostFile("new/Big.wav", big);
    const fs::path target = device.Folder() / "fs" / "S" / "Big.wav";
    const auto copy = [&](const fs::path& file) {
        Expect({"copy", file.string(), "\\S\\"}, "        1 file(s) copied.\n");
    };
    copy(oldFile);
    // How long a whole copy takes: the kills fall within.
    const auto started = std::chrono::steady_clock::now();
    copy(bigFile);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started);
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int64_t> delay(0, took.count());
    // Every other kill waits until the copy has begun to write (its temporary is beside the
    // file), so that four kills land while it writes whatever the machine's pace; the others fall
    // anywhere. Then one Ctrl-C while it writes.
    const auto writing = [&] {
        WaitUntil([&] { return !Leftovers(target.parent_path()).empty(); },
                  std::chrono::seconds(10), std::chrono::microseconds(100));
    };
    int midway = 0;
    for (int i = 0; i < 40 && midway <= 4; ++i) {
        copy(oldFile);
        const bool interrupt = midway == 4;
        const pid_t copier = StartProgram(TAVONNE_DEVICE_TOOL, {"copy", bigFile.string(), "\\S\\"});
        const bool whileWriting = interrupt || i % 2 == 1;
        if (whileWriting)
            writing();
        std::this_thread::sleep_for(
            std::chrono::microseconds(delay(random) / (whileWriting ? 8 : 1)));
        kill(copier, interrupt ? SIGINT : SIGKILL);
        int status = 0;
        waitpid(copier, &status, 0);
        const std::string now = ReadFile(target);
        EXPECT_TRUE(now == old || now == big) << i << ": " << now.size() << " bytes";
        if (interrupt) {
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            EXPECT_TRUE(code == 0 || code == 128 + SIGINT) << code;
            EXPECT_TRUE(code == 0 || now == old) << code;
            midway += code == 0 ? 0 : 1;
        } else {
            midway += Leftovers(target.parent_path()).empty() ? 0 : 1;
        }
    }
    EXPECT_EQ(midway, 5) << "kills are to land while the copy writes";
    copy(oldFile);
    EXPECT_EQ(Leftovers(target.parent_path()), std::vector<std::string>());
}

// Links in the phone lead a copy only where they stay inside it; one that leads outside is
// reported as such, and what it leads to is left alone.
TEST_F(DeviceTool, CopyFollowsLinksOnlyInsideThePhone) {
    Expect({"init"}, "");
    const fs::path outside = device.Folder().parent_path() / "outside.txt";
    std::ofstream(outside) << "precious";
    const fs::path root = device.Folder() / "fs";
    fs::create_directories(root / "S");
    fs::create_symlink(outside, root / "S" / "Evil.mid");
    fs::create_symlink("../Windows/Alarm1.mid", root / "S" / "Inside.mid");
    fs::create_directory_symlink(device.Folder().parent_path(), root / "Out");
    const struct {
        fs::path file;
        std::string folder;
        bool copied;
    } cases[] = {
        {HostFile("Evil.mid", "MThd evil"), "\\S\\", false},
        {HostFile("Escape.mid", "MThd escape"), "\\Out\\", false},
        {HostFile("Inside.mid", "MThd inside"), "\\S\\", true},
    };
    for (const auto& c : cases) {
        const ProgramResult result = Run({"copy", c.file.string(), c.folder});
        EXPECT_EQ(result.exitCode, c.copied ? 0 : 1) << c.file;
        if (!c.copied) {
            EXPECT_NE(result.err.find("a link that leads outside the phone"), std::string::npos)
                << result.err;
        }
    }
    EXPECT_EQ(ReadFile(outside), "precious");
    EXPECT_FALSE(fs::exists(outside.parent_path() / "Escape.mid"));
    EXPECT_TRUE(fs::is_symlink(root / "S" / "Inside.mid"));
    EXPECT_EQ(ReadFile(root / "Windows" / "Alarm1.mid"), "MThd inside");
}

// Writes killed at random moments, some of them while a first start makes the phone: each
// leaves the old value or the new one, and the next use of the device clears what they left.
TEST_F(DeviceTool, KilledWritesLeaveTheOldOrTheNewValueAndNoLeftovers) {
    const std::string key = "HKCU\\Software\\Tavonne";
    const auto write = [&](int i) {
        return std::vector<std::string>{
            "reg", "add", key, "/v", "Dossier", "/d", "\\Dossier " + std::to_string(i) + "\\",
            "/f"};
    };
    // How long a write takes on a new phone, and on one that is made: the kills fall within.
    std::vector<std::chrono::microseconds> takes;
    for (int i = 0; i < 2; ++i) {
        const auto started = std::chrono::steady_clock::now();
        Expect(write(0), kDone);
        takes.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - started));
    }
    std::mt19937 random(20261207);
    std::optional<std::string> current = "\\Dossier 0\\";
    int killed = 0;
    for (int i = 1; i <= 50; ++i) {
        const bool newPhone = i % 5 == 0;  // then the write also makes the phone
        if (newPhone) {
            fs::remove_all(device.Folder());
            current.reset();
        }
        std::uniform_int_distribution<int64_t> delay(0, takes[newPhone ? 0 : 1].count());
        const pid_t writer = StartProgram(TAVONNE_DEVICE_TOOL, write(i));
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(writer, SIGKILL);
        int status = 0;
        waitpid(writer, &status, 0);
        killed += WIFSIGNALED(status) ? 1 : 0;

        if (newPhone) {
            ASSERT_EQ(Run({"init"}).exitCode, 0);
        }
        const ProgramResult query = Run({"reg", "query", key, "/v", "Dossier"});
        const size_t at = query.out.find("REG_SZ    ");
        std::optional<std::string> found;
        if (at != std::string::npos)
            found = query.out.substr(at + 10, query.out.find('\n', at) - at - 10);
        const std::string written = "\\Dossier " + std::to_string(i) + "\\";
        EXPECT_TRUE(found == current || found == written) << i << ": " << query.out << query.err;
        current = found;
        for (const auto& entry : fs::recursive_directory_iterator(device.Folder())) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".new-"), std::string::npos) << i << ": " << entry.path();
            EXPECT_EQ(name.find("-journal"), std::string::npos) << i << ": " << entry.path();
        }
    }
    EXPECT_GT(killed, 10) << "most writes are to be killed before they end";
}

TEST_F(DeviceTool, PathGivesTheHostPathOfADevicePath) {
    Expect({"init"}, "");
    const fs::path root = device.Folder() / "fs";
    Expect({"path", "\\WINDOWS\\Réveil.wav"}, (root / "Windows" / "Réveil.wav").string() + "\n");
    Expect({"path", "\\ipsm\\application data\\sounds\\"},
           (root / "IPSM" / "Application Data" / "Sounds").string() + "\n");
}

TEST_F(DeviceTool, TheDeviceFolderComesFromTheEnvironment) {
    const fs::path top = device.Folder().parent_path();
    ProgramResult result = Run({"init"}, "", {{"TAVONNE_DEVICE", std::nullopt}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::is_regular_file(top / "data" / "tavonne" / "device" / "registry.db"));

    result = Run({"init"}, "", {{"TAVONNE_DEVICE", std::nullopt}, {"XDG_DATA_HOME", std::nullopt}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::is_regular_file(top / "home" / ".local" / "share" / "tavonne" / "device" /
                                    "registry.db"));
    EXPECT_FALSE(fs::exists(device.Folder()));
}

// ---- ring and sms: the phone's tones as it plays them ----

const std::string kRingKey = "HKCU\\ControlPanel\\Sounds\\RingTone0";

// The call tone rung for 9 s: one stretch of sound per play, and between plays the silence its
// Script asks for, from the end of one play's sound to the start of the next. The codes are read
// as the settings screen reads them: exactly; anything else asks for 3 s.
TEST_F(DeviceTool, RingRepeatsTheCallToneWithTheSilenceItsScriptAsks) {
    const fs::path out = device.Folder() / "ring.wav";
    const struct {
        std::string tone;
        std::string script;
        double gap;
    } cases[] = {
        {"\\Windows\\Standard.wav", "apw1r", 1},
        {"\\Windows\\Standard.wav", "apw2r", 2},
        {"\\Windows\\Standard.wav", "apw3r", 3},
        {"\\Windows\\Standard.wav", "", 3},
        {"\\Windows\\Standard.wav", "APW1R", 3},
        {"\\Windows\\Standard.wav", "apw9r", 3},
        // A MIDI tone rings on after its last note: the silence starts where it falls quiet.
        {"\\Windows\\Alarm1.mid", "apw1r", 1},
    };
    for (const auto& c : cases) {
        const std::string what = c.tone + " " + c.script;
        Expect({"reg", "add", kRingKey, "/v", "Sound", "/d", c.tone, "/f"}, kDone);
        Expect({"reg", "add", kRingKey, "/v", "Script", "/d", c.script, "/f"}, kDone);
        const ProgramResult rung =
            Run({"ring", "--seconds", "9"}, "", {{"TAVONNE_AUDIO_OUT", out.string()}});
        ASSERT_EQ(rung.exitCode, 0) << rung.err;
        EXPECT_NE(rung.out.find("Playing the call tone " + c.tone), std::string::npos) << rung.out;
        const std::optional<Sound> sound = ReadSound(out);
        ASSERT_TRUE(sound) << what;
        EXPECT_NEAR(sound->Seconds(), 9, 0.01) << what;
        std::vector<std::pair<double, double>> gaps = sound->Silences(64, 0.5);
        // A silence that runs to the end follows the last play.
        if (!gaps.empty() && gaps.back().second >= sound->Seconds() - 1e-6)
            gaps.pop_back();
        ASSERT_FALSE(gaps.empty()) << what;
        EXPECT_NE(rung.out.find("Played " + std::to_string(gaps.size() + 1) + " times"),
                  std::string::npos)
            << rung.out;
        for (const auto& [start, end] : gaps)
            EXPECT_NEAR(end - start, c.gap, 0.01) << what << " at " << start;
    }
}

TEST_F(DeviceTool, SmsPlaysTheSmsToneOnce) {
    const fs::path out = device.Folder() / "sms.wav";
    const ProgramResult played = Run({"sms"}, "", {{"TAVONNE_AUDIO_OUT", out.string()}});
    ASSERT_EQ(played.exitCode, 0) << played.err;
    EXPECT_EQ(played.out,
              "Playing the SMS tone \\Windows\\Notify.mid (MIDI format 0, 1 track, 3.5 s), once.\n"
              "Played 1 time.\n");
    const std::optional<Sound> sound = ReadSound(out);
    ASSERT_TRUE(sound);
    EXPECT_GE(sound->Seconds(), 3.5);
    EXPECT_LE(sound->Seconds(), 4.5);
    EXPECT_GT(sound->Rms(), 300);
}

// TAVONNE_AUDIO_OUT gets a whole WAV file or keeps what it had: never a FIFO or a device, never
// written through a link, and never left half written by a kill.
TEST_F(DeviceTool, TheOutputFileIsWholeAndNeverAFifoADeviceOrALinksTarget) {
    const fs::path top = device.Folder().parent_path();
    ASSERT_EQ(mkfifo((top / "fifo").c_str(), 0644), 0);
    // `timeout` bounds a run that would wait for a reader forever.
    const auto sms = [&](const fs::path& out) {
        return RunProgram("/usr/bin/timeout", {"20", TAVONNE_DEVICE_TOOL, "sms"}, "",
                          {{"TAVONNE_AUDIO_OUT", out.string()}});
    };
    for (const fs::path& out : {top / "fifo", fs::path("/dev/null")}) {
        const ProgramResult result = sms(out);
        EXPECT_EQ(result.exitCode, 1) << out;
        EXPECT_NE(result.err.find("(not a regular file)"), std::string::npos) << result.err;
    }

    std::ofstream(top / "target.txt") << "precious";
    fs::create_symlink(top / "target.txt", top / "link.wav");
    EXPECT_EQ(sms(top / "link.wav").exitCode, 0);
    EXPECT_EQ(ReadFile(top / "target.txt"), "precious");
    EXPECT_TRUE(ReadSound(top / "link.wav"));

    const fs::path out = top / "ring.wav";
    const std::string old = "an older ring";
    const std::vector<std::string> ring = {"ring", "--seconds", "600"};
    const EnvironmentChanges toFile = {{"TAVONNE_AUDIO_OUT", out.string()}};
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Run(ring, "", toFile).exitCode, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    for (int tenths : {2, 5, 8}) {
        std::ofstream(out) << old;
        const pid_t ringing = StartProgram(
            "/usr/bin/env",
            {"TAVONNE_AUDIO_OUT=" + out.string(), TAVONNE_DEVICE_TOOL, "ring", "--seconds", "600"});
        std::this_thread::sleep_for(took * tenths / 10);
        kill(ringing, SIGKILL);
        waitpid(ringing, nullptr, 0);
        const std::optional<Sound> sound = ReadSound(out);
        EXPECT_TRUE(ReadFile(out) == old || (sound && std::abs(sound->Seconds() - 600) < 0.01))
            << tenths;
    }
}

// --seconds takes a number of seconds that can be rung: finite, and within a stated limit.
TEST_F(DeviceTool, RingTakesOnlySecondsFromATenthToTenMinutes) {
    const fs::path out = device.Folder().parent_path() / "ring.wav";
    for (const char* seconds :
         {"inf", "-inf", "nan", "1e400", "1e20", "601", "0", "1e-300", "0.05", "-3", "5 s"}) {
        const ProgramResult result =
            Run({"ring", "--seconds", seconds}, "", {{"TAVONNE_AUDIO_OUT", out.string()}});
        EXPECT_EQ(result.exitCode, 1) << seconds;
        EXPECT_EQ(result.err, "ERROR: --seconds wants a number of seconds from 0.1 to 600, not " +
                                  std::string(seconds) + ".\n");
        EXPECT_FALSE(fs::exists(out)) << seconds;
    }
    const ProgramResult shortest =
        Run({"ring", "--seconds", "0.1"}, "", {{"TAVONNE_AUDIO_OUT", out.string()}});
    EXPECT_EQ(shortest.exitCode, 0) << shortest.err;
    EXPECT_NEAR(ReadSound(out)->Seconds(), 0.1, 0.001);
}

TEST_F(DeviceTool, RingAndSmsSayWhyNothingCanBePlayed) {
    Expect({"init"}, "");
    std::ofstream(device.Folder() / "fs" / "Windows" / "Words.mid") << "no tune here";
    const fs::path out = device.Folder() / "out.wav";
    const EnvironmentChanges toFile = {{"TAVONNE_AUDIO_OUT", out.string()}};
    const struct {
        std::vector<std::string> set;
        std::vector<std::string> command;
        EnvironmentChanges environment;
        std::string error;
    } cases[] = {
        {{"add", kRingKey, "/v", "Sound", "/d", "", "/f"},
         {"ring", "--seconds", "5"},
         toFile,
         "ERROR: HKCU\\ControlPanel\\Sounds\\RingTone0 has no Sound value: no call tone is set."},
        {{"add", kRingKey, "/v", "Sound", "/d", "\\Windows\\Absent.wav", "/f"},
         {"ring", "--seconds", "5"},
         toFile,
         "ERROR: the call tone \\Windows\\Absent.wav cannot be played: no such file"},
        {{"add", kRingKey, "/v", "Sound", "/d", "\\Windows\\Words.mid", "/f"},
         {"ring", "--seconds", "5"},
         toFile,
         "ERROR: the call tone \\Windows\\Words.mid cannot be played: not a tone file"},
        {{"add", kRingKey, "/v", "Sound", "/d", "\\Windows\\Alarm1.mid", "/f"},
         {"ring"},
         toFile,
         "ERROR: ringing into TAVONNE_AUDIO_OUT needs --seconds N."},
        {{"add", kRingKey, "/v", "Script", "/d", "apw2r", "/f"},
         {"ring", "--seconds", "soon"},
         toFile,
         "ERROR: --seconds wants a number of seconds from 0.1 to 600, not soon."},
        {{"delete", "HKCU\\ControlPanel\\Sounds\\SMS", "/v", "Sound", "/f"},
         {"sms"},
         toFile,
         "ERROR: HKCU\\ControlPanel\\Sounds\\SMS has no Sound value: no SMS tone is set."},
        {{"add", "HKCU\\ControlPanel\\Sounds\\SMS", "/v", "Sound", "/d", "\\Windows\\Notify.mid",
          "/f"},
         {"sms"},
         {},
         "ERROR: the SMS tone \\Windows\\Notify.mid cannot be played: no audio output ("},
        {{"add", kRingKey, "/v", "Sound", "/d", "\\x\x1b]0;title\x07\x1b[2J.mid", "/f"},
         {"ring", "--seconds", "5"},
         toFile,
         "ERROR: the call tone \\x\\x1b]0;title\\x07\\x1b[2J.mid cannot be played: no such file"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> reg = {"reg"};
        reg.insert(reg.end(), c.set.begin(), c.set.end());
        ASSERT_EQ(Run(reg).exitCode, 0);
        const ProgramResult result = Run(c.command, "", c.environment);
        EXPECT_EQ(result.exitCode, 1) << c.error;
        EXPECT_EQ(result.err.rfind(c.error, 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(fs::exists(out)) << c.error;
    }
}

}  // namespace
