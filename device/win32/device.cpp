// The phone on desktop Windows: the device folder holds its file system (the drive the program
// runs on) and its log; its registry is the real one, under HKEY_CURRENT_USER.
#include <windows.h>

#include <stdio.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/debug.h"
#include "base/host_path.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "device/phone_values.h"
#include "device/provision.h"
#include "device/tones.h"

namespace device {

namespace {

namespace fs = std::filesystem;

std::optional<fs::path> cachedFolder;

std::wstring Wide(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}

std::optional<fs::path> Variable(const wchar_t* name) {
    wchar_t value[MAX_PATH * 4];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return std::nullopt;
    return fs::path(value);
}

// %TAVONNE_DEVICE%, else %LOCALAPPDATA%\Tavonne\device.
fs::path FindFolder() {
    if (auto folder = Variable(L"TAVONNE_DEVICE"))
        return fs::absolute(*folder);
    if (auto data = Variable(L"LOCALAPPDATA"))
        return *data / L"Tavonne" / L"device";
    return fs::current_path() / L"device";
}

bool Fail(const std::string& what, const fs::path& path, const std::error_code& error) {
    debug::Write("device: cannot " + what + " " + text::PathToUtf8(path) + ": " + error.message() +
                 "\n");
    return false;
}

std::optional<std::vector<char>> ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

bool WriteWhole(const fs::path& file, const char* bytes, size_t size) {
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes, static_cast<std::streamsize>(size));
    out.close();
    if (error || !out)
        return Fail("write", file, error ? error : std::make_error_code(std::errc::io_error));
    return true;
}

}  // namespace

// The registry is the Windows user's own: each of the phone's sound values that is missing is
// added, and a value that exists, whatever it holds, is left alone, as is everything else.
bool AddPhoneDefaults() {
    for (const PhoneValue& value : kPhoneValues) {
        const std::wstring path = Wide(value.key), name = Wide(value.name), data = Wide(value.data);
        HKEY key = nullptr;
        LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
        if (result == ERROR_SUCCESS) {
            result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_FILE_NOT_FOUND)
                result = RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
            RegCloseKey(key);
        }
        if (result != ERROR_SUCCESS) {
            debug::Write("device: cannot write the phone's default sound settings (error " +
                         std::to_string(result) + ")\n");
            return false;
        }
    }
    return true;
}

const fs::path& Folder() {
    if (!cachedFolder)
        cachedFolder = FindFolder();
    return *cachedFolder;
}

fs::path FileSystemRoot() {
    return Folder() / L"fs";
}

fs::path RegistryFile() {
    return L"HKEY_CURRENT_USER";
}

fs::path LogFile() {
    return Folder() / L"device.log";
}

fs::path StatusFile() {
    return Folder() / L"run" / L"status";
}

// Written beside, then moved over the old line.
bool WriteStatus(std::string_view line) {
    const fs::path status = StatusFile();
    std::error_code error;
    fs::create_directories(status.parent_path(), error);
    fs::path aside = status;
    aside += L"." + std::to_wstring(GetCurrentProcessId());
    {
        std::ofstream out(aside, std::ios::binary | std::ios::trunc);
        out << line << '\n';
        if (!out)
            error = std::make_error_code(std::errc::io_error);
    }
    if (error || !MoveFileExW(aside.c_str(), status.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(aside.c_str());
        return false;
    }
    return true;
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes whole to the end of the file.
bool AppendToLog(std::string_view line) {
    const HANDLE log = CreateFileW(LogFile().c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
        written == line.size();
    CloseHandle(log);
    return whole;
}

// The Windows file system already matches names without regard to case.
fs::path HostPath(std::u16string_view devicePath) {
    devicePath = devicePath.substr(0, devicePath.find(u'\0'));
    std::vector<std::wstring> components;
    size_t start = 0;
    while (start <= devicePath.size()) {
        size_t end = devicePath.find_first_of(u"\\/", start);
        if (end == devicePath.npos)
            end = devicePath.size();
        const std::u16string_view component = devicePath.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == u".")
            continue;
        if (component == u"..") {
            if (!components.empty())
                components.pop_back();
            continue;
        }
        components.push_back(Wide(component));
    }
    fs::path path = FileSystemRoot();
    for (const std::wstring& component : components)
        path /= component;
    return path;
}

bool InstallPhoneTones(const fs::path& fileSystemRoot, std::span<const PhoneTone> tones) {
    bool installed = true;
    for (const PhoneTone& tone : tones) {
        const fs::path file = HostPath(tone.devicePath);
        std::error_code error;
        if (fs::exists(file, error))
            continue;
        installed &=
            WriteWhole(file, reinterpret_cast<const char*>(tone.bytes.data()), tone.bytes.size());
    }
    return installed;
}

fs::path PlayerBinary() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(std::wstring(self, length)).parent_path() / L"qhandler.exe";
}

bool InstallPlayer(const fs::path& fileSystemRoot, const fs::path& playerBinary) {
    const auto program = ReadWhole(playerBinary);
    if (!program)
        return Fail("read the player", playerBinary, std::make_error_code(std::errc::io_error));
    const fs::path installed = HostPath(kPlayerDevicePath);
    if (ReadWhole(installed) == program)
        return true;
    return WriteWhole(installed, program->data(), program->size());
}

bool EnsureProvisioned() {
    std::error_code error;
    // The registry is the user's, so a phone is new when its device folder has no file system yet:
    // only then does it get the phone's sound values that are missing, and the sample tones.
    const bool newPhone = !fs::exists(FileSystemRoot(), error);
    bool made = true;
    for (const wchar_t* folder : {L"Windows", L"IPSM\\Application Data\\Sounds"}) {
        fs::create_directories(FileSystemRoot() / folder, error);
        if (error)
            made = Fail("create", FileSystemRoot() / folder, error);
    }
    if (newPhone)
        made &= AddPhoneDefaults();
    const bool tones = InstallPhoneTones(FileSystemRoot(), newPhone ? PhoneTones() : RomTones());
    const bool player = InstallPlayer(FileSystemRoot(), PlayerBinary());
    return made && tones && player;
}

bool ProvisionOnce() {
    static fs::path provisioned;
    if (Folder() == provisioned)
        return true;
    if (!EnsureProvisioned())
        return false;
    provisioned = Folder();
    return true;
}

}  // namespace device
