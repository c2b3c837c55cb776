// tavonne-device: creates the phone's device folder, maps device paths to host paths, copies
// files onto the phone, and reads and changes the phone's registry with the syntax and output of
// Windows' reg command.
#include <windows.h>

#include <stdio.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "base/host_path.h"
#include "base/text.h"
#include "device/phone_files.h"
#include "device/phone_values.h"
#include "device/device_folder.h"
#include "device/paths.h"
#include "device/provision.h"
#include "device/registry_store.h"
#include "programs/device-tool/ring.h"
#include "programs/device-tool/win32_text.h"
#include "programs/entry/entry.h"

namespace {

const char kSucceeded[] = "The operation completed successfully.";
const char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";
const char kUsage[] =
    "usage: tavonne-device init [--reset]\n"
    "       tavonne-device path DEVICE_PATH\n"
    "       tavonne-device copy HOST_FILE... DEVICE_FOLDER\n"
    "       tavonne-device copy HOST_FILE DEVICE_FILE\n"
    "       tavonne-device reg query KEY [/v NAME | /ve]\n"
    "       tavonne-device reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "       tavonne-device reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "       tavonne-device ring [--seconds N]\n"
    "       tavonne-device sms\n"
    "KEY is HKCU\\... or HKEY_CURRENT_USER\\... (or HKLM, HKEY_LOCAL_MACHINE).\n";

// Ends the command: the message goes to standard error and the process exits with the code.
struct Failure {
    std::string message;
    int exitCode = 1;
};

[[noreturn]] void SyntaxError() {
    throw Failure{std::string("ERROR: Invalid syntax.\n") + kUsage};
}

std::string Utf8(std::u16string_view s) {
    return text::ToUtf8(s);
}

// Turns a registry error into the command's failure; ERROR_SUCCESS passes.
void Check(LONG result) {
    const std::string file = text::PathToUtf8(device::RegistryFile());
    switch (result) {
        case ERROR_SUCCESS:
            return;
        case ERROR_FILE_NOT_FOUND:
            throw Failure{kNotFound};
        case ERROR_REGISTRY_CORRUPT:
        case ERROR_CANTOPEN:
        case ERROR_CANTREAD:
        case ERROR_CANTWRITE:
        case ERROR_BUSY:
            throw Failure{"ERROR: The device's registry " + file + " " +
                          device::registry::Describe(result) + "."};
        case ERROR_ACCESS_DENIED:
            throw Failure{"ERROR: Access is denied."};
        default:
            throw Failure{"ERROR: The device's registry " + file + " failed (error " +
                          std::to_string(result) + ")."};
    }
}

// Closes the handle when it goes.
class Key {
  public:
    Key() = default;
    ~Key() {
        if (handle_ != nullptr)
            RegCloseKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    HKEY get() const { return handle_; }
    PHKEY out() { return &handle_; }

  private:
    HKEY handle_ = nullptr;
};

struct Root {
    const char16_t* longName;
    const char16_t* shortName;
    HKEY handle;
};

const Root kRoots[] = {
    {u"HKEY_CURRENT_USER", u"HKCU", HKEY_CURRENT_USER},
    {u"HKEY_LOCAL_MACHINE", u"HKLM", HKEY_LOCAL_MACHINE},
};

struct KeyPath {
    const Root* root = nullptr;
    std::u16string subKey;              // as typed, without the root
    std::vector<std::u16string> names;  // its key names
};

KeyPath ParseKey(const std::string& argument) {
    std::u16string key = text::FromUtf8(argument);
    while (!key.empty() && key.back() == u'\\')
        key.pop_back();
    const size_t slash = key.find(u'\\');
    const std::u16string rootName = key.substr(0, slash);
    KeyPath path;
    for (const Root& root : kRoots) {
        if (text::EqualNoCase(rootName, root.longName) ||
            text::EqualNoCase(rootName, root.shortName))
            path.root = &root;
    }
    if (path.root == nullptr)
        throw Failure{std::string("ERROR: Invalid key name.\n") + kUsage};
    if (slash != std::u16string::npos) {
        path.subKey = key.substr(slash + 1);
        size_t start = 0;
        while (start <= path.subKey.size()) {
            const size_t end = std::min(path.subKey.find(u'\\', start), path.subKey.size());
            if (end == start)
                throw Failure{std::string("ERROR: Invalid key name.\n") + kUsage};
            if (end - start > device::registry::kMaxKeyNameLength)
                throw Failure{"ERROR: A key name is " + std::to_string(end - start) +
                              " characters long; the registry takes at most " +
                              std::to_string(device::registry::kMaxKeyNameLength) + "."};
            path.names.push_back(path.subKey.substr(start, end - start));
            start = end + 1;
        }
    }
    return path;
}

std::vector<std::u16string> SubKeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        char16_t name[256];
        DWORD length = 256;
        const LONG result =
            RegEnumKeyExW(key, index, Win32Text(name), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            return names;
        Check(result);
        names.emplace_back(name, length);
    }
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::vector<Value> Values(HKEY key) {
    std::vector<Value> values;
    std::u16string name(16384, u'\0');
    std::vector<BYTE> data(1024);
    for (DWORD index = 0;; ++index) {
        Value value;
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        LONG result = RegEnumValueW(key, index, Win32Text(name.data()), &nameLength, nullptr,
                                    &value.type, data.data(), &size);
        // A value bigger than the buffer: again with its size.
        while (result == ERROR_MORE_DATA) {
            data.resize(size);
            nameLength = static_cast<DWORD>(name.size());
            result = RegEnumValueW(key, index, Win32Text(name.data()), &nameLength, nullptr,
                                   &value.type, data.data(), &size);
        }
        if (result == ERROR_NO_MORE_ITEMS)
            return values;
        Check(result);
        value.name.assign(name.data(), nameLength);
        value.data.assign(data.begin(), data.begin() + size);
        values.push_back(std::move(value));
    }
}

// The value, or nothing when the key has no value of that name.
std::optional<Value> QueryValue(HKEY key, const std::u16string& name) {
    Value value;
    value.name = name;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, Win32Text(name), nullptr, &value.type, nullptr, &size);
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        value.data.resize(size);
        result =
            RegQueryValueExW(key, Win32Text(name), nullptr, &value.type, value.data.data(), &size);
        if (result == ERROR_SUCCESS) {
            value.data.resize(size);
            return value;
        }
    }
    if (result == ERROR_FILE_NOT_FOUND)
        return std::nullopt;
    Check(result);
    return std::nullopt;
}

// The key's full name, each key name in the case it was created with.
std::u16string FullName(const KeyPath& path) {
    std::u16string full = path.root->longName;
    HKEY parent = path.root->handle;
    std::vector<std::unique_ptr<Key>> opened;
    for (const std::u16string& typed : path.names) {
        std::u16string stored = typed;
        for (const std::u16string& name : SubKeys(parent)) {
            if (text::EqualNoCase(name, typed)) {
                stored = name;
                break;
            }
        }
        full += u"\\" + stored;
        opened.push_back(std::make_unique<Key>());
        Check(RegOpenKeyExW(parent, Win32Text(stored), 0, KEY_READ, opened.back()->out()));
        parent = opened.back()->get();
    }
    return full;
}

const char* TypeName(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        case REG_QWORD:
            return "REG_QWORD";
        default:
            return nullptr;
    }
}

std::u16string Utf16(const std::vector<BYTE>& data) {
    std::u16string s;
    for (size_t i = 0; i + 1 < data.size(); i += 2)
        s.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return s;
}

std::string Hex(const std::vector<BYTE>& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (BYTE b : data) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0xF]);
    }
    return hex;
}

uint64_t LittleEndian(const std::vector<BYTE>& data) {
    uint64_t n = 0;
    for (size_t i = data.size(); i-- > 0;)
        n = (n << 8) | data[i];
    return n;
}

// The data as reg shows it: text up to its NUL, multi-strings joined by \0, numbers in hex.
std::string Show(const Value& value) {
    switch (value.type) {
        case REG_SZ:
        case REG_EXPAND_SZ: {
            const std::u16string s = Utf16(value.data);
            return Utf8(s.substr(0, s.find(u'\0')));
        }
        case REG_MULTI_SZ: {
            std::u16string s = Utf16(value.data);
            while (!s.empty() && s.back() == u'\0')
                s.pop_back();
            std::u16string shown;
            for (char16_t c : s)
                shown += c == u'\0' ? std::u16string(u"\\0") : std::u16string(1, c);
            return Utf8(shown);
        }
        case REG_DWORD:
        case REG_QWORD: {
            if (value.data.size() != (value.type == REG_DWORD ? 4u : 8u))
                return Hex(value.data);
            char number[32];
            snprintf(number, sizeof number, "0x%llx",
                     static_cast<unsigned long long>(LittleEndian(value.data)));
            return number;
        }
        default:
            return Hex(value.data);
    }
}

std::string ValueLine(const Value& value) {
    const char* type = TypeName(value.type);
    const std::string typeName = type != nullptr ? type : "REG_TYPE_" + std::to_string(value.type);
    const std::string name = value.name.empty() ? "(Default)" : Utf8(value.name);
    return "    " + name + "    " + typeName + "    " + Show(value) + "\n";
}

std::vector<BYTE> StringBytes(std::u16string_view s) {
    std::vector<BYTE> bytes;
    for (char16_t c : s) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    return bytes;
}

uint64_t ParseNumber(const std::string& data, uint64_t max) {
    const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
    const std::string digits = hex ? data.substr(2) : data;
    if (digits.empty())
        SyntaxError();
    uint64_t n = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            SyntaxError();
        const uint64_t base = hex ? 16 : 10;
        if (n > (max - digit) / base)
            SyntaxError();
        n = n * base + digit;
    }
    return n;
}

// The bytes reg add stores for DATA of the type: strings with their NUL, numbers little-endian.
std::vector<BYTE> Encode(DWORD type, const std::string& data, const std::string& separator) {
    switch (type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            return StringBytes(text::FromUtf8(data) + u'\0');
        case REG_MULTI_SZ: {
            std::u16string list;
            size_t start = 0;
            while (!data.empty() && start <= data.size()) {
                const size_t end = std::min(data.find(separator, start), data.size());
                list += text::FromUtf8(data.substr(start, end - start)) + u'\0';
                start = end + separator.size();
            }
            return StringBytes(list + u'\0');
        }
        case REG_DWORD:
        case REG_QWORD: {
            const size_t size = type == REG_DWORD ? 4 : 8;
            uint64_t n = ParseNumber(data, size == 4 ? 0xFFFFFFFFull : ~0ull);
            std::vector<BYTE> bytes;
            for (size_t i = 0; i < size; ++i, n >>= 8)
                bytes.push_back(static_cast<BYTE>(n & 0xFF));
            return bytes;
        }
        default: {
            if (data.size() % 2 != 0)
                SyntaxError();
            std::vector<BYTE> bytes;
            for (size_t i = 0; i < data.size(); i += 2)
                bytes.push_back(static_cast<BYTE>(ParseNumber("0x" + data.substr(i, 2), 0xFF)));
            return bytes;
        }
    }
}

DWORD ParseType(const std::string& name) {
    for (DWORD type :
         {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD}) {
        if (text::EqualNoCase(text::FromUtf8(name), text::FromUtf8(TypeName(type))))
            return type;
    }
    SyntaxError();
}

struct Options {
    std::optional<std::string> value;      // /v
    bool defaultValue = false;             // /ve
    bool allValues = false;                // /va
    std::optional<std::string> type;       // /t
    std::optional<std::string> data;       // /d
    std::optional<std::string> separator;  // /s
    bool force = false;                    // /f
};

// Reads the switches after KEY; `allowed` lists the ones the operation takes ("v ve t ...").
Options ParseOptions(const std::vector<std::string>& args, size_t first,
                     const std::string& allowed) {
    Options options;
    const auto takes = [&](const std::string& name) {
        return (" " + allowed + " ").find(" " + name + " ") != std::string::npos;
    };
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-'))
            SyntaxError();
        std::string name = arg.substr(1);
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (!takes(name))
            SyntaxError();
        const auto next = [&](std::optional<std::string>& slot) {
            if (slot || i + 1 >= args.size())
                SyntaxError();
            slot = args[++i];
        };
        const auto flag = [&](bool& slot) {
            if (slot)
                SyntaxError();
            slot = true;
        };
        if (name == "v")
            next(options.value);
        else if (name == "ve")
            flag(options.defaultValue);
        else if (name == "va")
            flag(options.allValues);
        else if (name == "t")
            next(options.type);
        else if (name == "d")
            next(options.data);
        else if (name == "s")
            next(options.separator);
        else if (name == "f")
            flag(options.force);
    }
    if (int(options.value.has_value()) + int(options.defaultValue) + int(options.allValues) > 1)
        SyntaxError();
    return options;
}

// Asks on the terminal as reg does without /f; only an answer starting with y goes ahead.
bool Confirm(const std::string& question) {
    std::cout << question << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

int Canceled() {
    std::cout << "The operation was canceled by the user.\n";
    return 0;
}

std::u16string ChosenValue(const Options& options) {
    const std::u16string name = options.value ? text::FromUtf8(*options.value) : std::u16string();
    if (name.size() > device::registry::kMaxValueNameLength)
        throw Failure{"ERROR: The value name is " + std::to_string(name.size()) +
                      " characters long; the registry takes at most " +
                      std::to_string(device::registry::kMaxValueNameLength) + "."};
    return name;
}

std::string ShownName(const std::u16string& name) {
    return name.empty() ? "(Default)" : Utf8(name);
}

int Query(const KeyPath& path, const Options& options) {
    Key key;
    Check(RegOpenKeyExW(path.root->handle, Win32Text(path.subKey), 0, KEY_READ, key.out()));
    const std::string fullName = Utf8(FullName(path));
    std::string out = "\n" + fullName + "\n";
    if (options.value || options.defaultValue) {
        const std::u16string name = ChosenValue(options);
        std::optional<Value> value = QueryValue(key.get(), name);
        if (value) {
            // The name as stored, whatever case it was asked for in.
            for (const Value& stored : Values(key.get())) {
                if (text::EqualNoCase(stored.name, name))
                    value->name = stored.name;
            }
            out += ValueLine(*value);
        } else if (name.empty())
            out += "    (Default)    REG_SZ    (value not set)\n";
        else
            throw Failure{kNotFound};
        std::cout << out << "\n";
        return 0;
    }
    for (const Value& value : Values(key.get()))
        out += ValueLine(value);
    out += "\n";
    for (const std::u16string& name : SubKeys(key.get()))
        out += fullName + "\\" + Utf8(name) + "\n";
    std::cout << out;
    return 0;
}

int Add(const KeyPath& path, const Options& options) {
    Key key;
    Check(RegCreateKeyExW(path.root->handle, Win32Text(path.subKey), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, key.out(), nullptr));
    // Without /v or /ve, /t and /d set the default value, and with neither only the key is made.
    if (options.value || options.defaultValue || options.type || options.data) {
        const DWORD type = options.type ? ParseType(*options.type) : REG_SZ;
        const std::string separator = options.separator ? *options.separator : "\\0";
        if (separator.empty())
            SyntaxError();
        const std::vector<BYTE> data = Encode(type, options.data.value_or(""), separator);
        const std::u16string name = ChosenValue(options);
        if (!options.force && QueryValue(key.get(), name) &&
            !Confirm("Value " + ShownName(name) + " exists, overwrite(Yes/No)? "))
            return Canceled();
        Check(RegSetValueExW(key.get(), Win32Text(name), 0, type, data.data(),
                             static_cast<DWORD>(data.size())));
    }
    std::cout << kSucceeded << "\n";
    return 0;
}

int Delete(const KeyPath& path, const Options& options) {
    Key key;
    Check(RegOpenKeyExW(path.root->handle, Win32Text(path.subKey), 0, KEY_ALL_ACCESS, key.out()));
    if (options.value || options.defaultValue) {
        const std::u16string name = ChosenValue(options);
        if (!QueryValue(key.get(), name))
            throw Failure{kNotFound};
        if (!options.force &&
            !Confirm("Delete the registry value " + ShownName(name) + " (Yes/No)? "))
            return Canceled();
        Check(RegDeleteValueW(key.get(), Win32Text(name)));
    } else if (options.allValues) {
        if (!options.force && !Confirm("Delete all values under the registry key " +
                                       Utf8(FullName(path)) + " (Yes/No)? "))
            return Canceled();
        for (const Value& value : Values(key.get()))
            Check(RegDeleteValueW(key.get(), Win32Text(value.name)));
    } else {
        if (path.names.empty())
            throw Failure{std::string("ERROR: Invalid key name.\n") + kUsage};
        if (!options.force &&
            !Confirm("Permanently delete the registry key " + Utf8(FullName(path)) + " (Yes/No)? "))
            return Canceled();
        Check(RegDeleteTreeW(path.root->handle, Win32Text(path.subKey)));
    }
    std::cout << kSucceeded << "\n";
    return 0;
}

int Reg(const std::vector<std::string>& args) {
    if (args.size() < 4)
        SyntaxError();
    std::string operation = args[2];
    for (char& c : operation)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (operation == "query")
        return Query(ParseKey(args[3]), ParseOptions(args, 4, "v ve"));
    if (operation == "add")
        return Add(ParseKey(args[3]), ParseOptions(args, 4, "v ve t d s f"));
    if (operation == "delete")
        return Delete(ParseKey(args[3]), ParseOptions(args, 4, "v ve va f"));
    SyntaxError();
}

// What `init --reset` erases, each key whole: the program's settings and the phone's sound
// settings, which then get a new phone's values.
const char16_t* const kResetKeys[] = {u"Software\\Tavonne", device::kRingToneKey, device::kSmsKey};

void Erase() {
    for (const char16_t* key : kResetKeys) {
        const LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, Win32Text(key));
        if (result == ERROR_FILE_NOT_FOUND)
            continue;
        Check(result);
        std::cout << "Erased HKEY_CURRENT_USER\\" << Utf8(key) << ".\n";
    }
}

// Makes what is missing of a new phone and keeps what is there; --reset erases the phone's
// settings first, saying which keys went, and gives the phone's sound values back.
int Init(const std::vector<std::string>& args) {
    const bool reset = args.size() == 3 && args[2] == "--reset";
    if (args.size() != 2 && !reset)
        SyntaxError();
    if (reset)
        Erase();
    if (!device::EnsureProvisioned() || (reset && !device::AddPhoneDefaults()))
        throw Failure{"ERROR: The device folder " + text::PathToUtf8(device::Folder()) +
                      " could not be made complete (see above)."};
    return 0;
}

int Path(const std::vector<std::string>& args) {
    if (args.size() != 3)
        SyntaxError();
    // The phone's folders come first, so that a path into them finds them whatever its case.
    device::EnsureProvisioned();
    std::cout << text::PathToUtf8(device::HostPath(text::FromUtf8(args[2]))) << "\n";
    return 0;
}

volatile std::sig_atomic_t copyInterrupted = 0;

void OnCopyInterrupted(int signal) {
    copyInterrupted = signal;
}

// Copies host files into a folder of the phone under their own names, making the folder; or, as
// cp does, one file to a path of the phone that is no folder and does not end in a separator,
// under that path's name. Every name is checked before anything is copied; a file of the same
// name in any letter case is replaced, as the phone would. Each file goes in whole or not at all,
// and a failure says which files were copied before it.
int Copy(const std::vector<std::string>& args) {
    namespace fs = std::filesystem;
    if (args.size() < 4)
        SyntaxError();
    const std::vector<std::string> files(args.begin() + 2, args.end() - 1);
    const std::u16string destination = text::FromUtf8(args.back());
    std::error_code error;
    const size_t separator = destination.find_last_of(u"\\/");
    const bool toName = files.size() == 1 && separator + 1 < destination.size() &&
                        !fs::is_directory(device::HostPath(destination), error);
    // The folder that receives the files, and the name of each on the phone.
    const std::u16string folder =
        toName ? destination.substr(0, separator == destination.npos ? 0 : separator) : destination;
    const auto phoneName = [&](const std::string& file) {
        return toName ? text::ToUtf8(destination.substr(separator + 1))
                      : text::PathToUtf8(text::PathFromUtf8(file).filename());
    };
    std::set<std::u16string> names;
    for (const std::string& file : files) {
        if (!fs::is_regular_file(text::PathFromUtf8(file), error))
            throw Failure{"ERROR: " + device::EscapedName(file) +
                          " is not a file. Nothing was copied."};
        const std::string name = phoneName(file);
        if (!device::PhoneCanHoldName(name))
            throw Failure{"ERROR: The phone cannot hold a file named \"" +
                          device::EscapedName(name) +
                          "\": its names have no backslash and no control character (a tab, a "
                          "line feed). Nothing was copied."};
        if (!names.insert(text::Fold(text::FromUtf8(name))).second)
            throw Failure{"ERROR: Two files are named \"" + device::EscapedName(name) +
                          "\" on the phone, where letter case does not tell names apart. "
                          "Nothing was copied."};
    }
    device::EnsureProvisioned();
    for (int signal : {SIGINT, SIGTERM})
        std::signal(signal, OnCopyInterrupted);
    std::string copied;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string name = phoneName(files[i]);
        const std::string problem =
            device::CopyToPhone(text::PathFromUtf8(files[i]), folder, text::FromUtf8(name),
                                [] { return copyInterrupted != 0; });
        if (!problem.empty()) {
            const std::string before =
                i == 0 ? "Nothing was copied."
                       : std::to_string(i) + " file(s) copied before it:" + copied + ".";
            throw Failure{"ERROR: " + device::EscapedName(files[i]) + " cannot be copied to " +
                              device::EscapedName(args.back()) + " (" + problem + "); " +
                              "the phone keeps what it had under that name. " + before,
                          copyInterrupted != 0 ? 128 + copyInterrupted : 1};
        }
        copied += (i == 0 ? " " : ", ") + device::EscapedName(name);
    }
    std::cout << "        " << files.size() << " file(s) copied.\n";
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2)
        SyntaxError();
    if (args[1] == "-h" || args[1] == "--help" || args[1] == "/?") {
        std::cout << kUsage;
        return 0;
    }
    if (args[1] == "init")
        return Init(args);
    if (args[1] == "path")
        return Path(args);
    if (args[1] == "copy")
        return Copy(args);
    if (text::EqualNoCase(text::FromUtf8(args[1]), u"reg"))
        return Reg(args);
    if (args[1] == "ring")
        return ring::Ring(args);
    if (args[1] == "sms")
        return ring::Sms(args);
    SyntaxError();
}

}  // namespace

int ProgramMain(const std::vector<std::string>& args) {
    try {
        return Run(args);
    } catch (const Failure& failure) {
        std::cout << std::flush;
        std::cerr << failure.message << (failure.message.back() == '\n' ? "" : "\n");
        return failure.exitCode;
    } catch (const std::exception& e) {
        std::cerr << "ERROR: " << e.what() << "\n";
        return 1;
    }
}
