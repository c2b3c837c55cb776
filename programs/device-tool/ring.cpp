// Ringing as the phone does on an incoming call or message: the tone its registry names, repeated
// with the silence its Script code asks for. The platform plays it (ring_posix.cpp,
// ring_win32.cpp).
#include "programs/device-tool/ring.h"

#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <optional>

#include "base/text.h"
#include "device/paths.h"
#include "device/phone_files.h"
#include "device/phone_values.h"
#include "device/provision.h"
#include "programs/device-tool/ring_play.h"
#include "programs/device-tool/win32_text.h"

namespace ring {

namespace {

// Ten minutes: into TAVONNE_AUDIO_OUT, at most about 100 MB.
constexpr int kLongestRingSeconds = 600;

// A text value of HKEY_CURRENT_USER\key, up to its first NUL; nothing when absent or empty.
std::optional<std::u16string> ReadText(const char16_t* key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Win32Text(key), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::u16string value;
    LONG result = RegQueryValueExW(handle, Win32Text(name), nullptr, &type, nullptr, &size);
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value.resize(size / 2 + 1);
        size = static_cast<DWORD>(value.size() * 2);
        result = RegQueryValueExW(handle, Win32Text(name), nullptr, &type,
                                  reinterpret_cast<BYTE*>(value.data()), &size);
        value.resize(std::min<size_t>(size / 2, value.find(u'\0')));
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || value.empty())
        return std::nullopt;
    return value;
}

// Plays the tone that HKCU\key's Sound names, as `schedule` says, on a provisioned device.
int PlaySound(const char16_t* key, const std::string& what, const Schedule& schedule,
              const std::string& how) {
    const std::string keyName = "HKCU\\" + text::ToUtf8(key);
    const std::optional<std::u16string> path = ReadText(key, u"Sound");
    if (!path)
        return Error(keyName + " has no Sound value: no " + what + " is set.");
    const device::ToneFile file = device::ReadToneFile(*path);
    const Tone tone{what, text::ToUtf8(*path), device::HostPath(*path), file.bytes,
                    device::InspectTone(file.bytes)};
    if (!file.problem.empty() || !tone.info.Playable())
        return CannotPlay(tone,
                          file.problem.empty() ? device::DescribeTone(tone.info) : file.problem);
    return Play(tone, schedule, how);
}

}  // namespace

int Error(const std::string& message) {
    std::cout << std::flush;
    std::cerr << "ERROR: " << device::EscapedName(message) << "\n";
    return 1;
}

int CannotPlay(const Tone& tone, const std::string& why) {
    return Error("the " + tone.what + " " + tone.shown + " cannot be played: " + why + ".");
}

void SayPlaying(const Tone& tone, const std::string& how) {
    std::cout << device::EscapedName("Playing the " + tone.what + " " + tone.shown + " (" +
                                     device::DescribeTone(tone.info) + "), " + how + ".")
              << std::endl;
}

void SayPlayed(int plays) {
    std::cout << "Played " << plays << (plays == 1 ? " time." : " times.") << std::endl;
}

int Ring(const std::vector<std::string>& args) {
    Schedule schedule;
    if (args.size() == 4 && args[2] == "--seconds") {
        char* end = nullptr;
        schedule.limitSeconds = std::strtod(args[3].c_str(), &end);
        // Also refuses inf and nan, and what is too short to be heard.
        if (end == args[3].c_str() || *end != '\0' || !(schedule.limitSeconds >= 0.1) ||
            schedule.limitSeconds > kLongestRingSeconds)
            return Error("--seconds wants a number of seconds from 0.1 to " +
                         std::to_string(kLongestRingSeconds) + ", not " + args[3] + ".");
    } else if (args.size() != 2) {
        return Error("usage: tavonne-device ring [--seconds N]");
    }
    device::EnsureProvisioned();
    // The codes are read as the settings screen reads them: exactly, letter case included; any
    // other text (or none) is the third, 3 s.
    const std::u16string script = ReadText(device::kRingToneKey, u"Script").value_or(u"");
    schedule.repeat = true;
    schedule.gapSeconds = script == u"apw1r" ? 1 : script == u"apw2r" ? 2 : 3;
    std::string how = "again after " + std::to_string(static_cast<int>(schedule.gapSeconds)) +
                      " s of silence (Script \"" + text::ToUtf8(script) + "\")";
    if (schedule.limitSeconds > 0)
        how += ", for " + args[3] + " s";
    else if (WritesToFile())
        return Error("ringing into TAVONNE_AUDIO_OUT needs --seconds N.");
    else
        how += ", until a key is pressed";
    return PlaySound(device::kRingToneKey, "call tone", schedule, how);
}

int Sms(const std::vector<std::string>& args) {
    if (args.size() != 2)
        return Error("usage: tavonne-device sms");
    device::EnsureProvisioned();
    return PlaySound(device::kSmsKey, "SMS tone", {}, "once");
}

}  // namespace ring
