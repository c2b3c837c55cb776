// Ringing as the phone does on an incoming call or message, on Linux: the tone its registry names,
// played through the shared sound code, repeated with the silence its Script code asks for.
#include "programs/device-tool/ring.h"

#include <windows.h>

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "base/text.h"
#include "device/paths.h"
#include "device/provision.h"
#include "device/tone_file.h"
#include "programs/sound/sound.h"

namespace ring {

namespace {

constexpr char16_t kRingKey[] = u"ControlPanel\\Sounds\\RingTone0";
constexpr char16_t kSmsKey[] = u"ControlPanel\\Sounds\\SMS";

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// A text value of HKEY_CURRENT_USER\key, up to its first NUL; nothing when absent or empty.
std::optional<std::u16string> ReadText(const char16_t* key, const char16_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    std::u16string value;
    LONG result = RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size);
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        value.resize(size / 2 + 1);
        size = static_cast<DWORD>(value.size() * 2);
        result = RegQueryValueExW(handle, name, nullptr, &type,
                                  reinterpret_cast<BYTE*>(value.data()), &size);
        value.resize(std::min<size_t>(size / 2, value.find(u'\0')));
    }
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || value.empty())
        return std::nullopt;
    return value;
}

// A key pressed on standard input: one character on a terminal (no Enter needed), any input
// otherwise. Input that has ended is no key.
class Keys {
  public:
    Keys() {
        terminal_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (terminal_) {
            termios raw = saved_;
            raw.c_lflag &= ~(ICANON | ECHO);
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        }
    }
    ~Keys() {
        if (terminal_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;

    bool Pressed() {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (!watching_ || poll(&input, 1, 0) <= 0)
            return false;
        char key;
        if (read(STDIN_FILENO, &key, 1) == 1)
            return true;
        watching_ = false;
        return false;
    }

  private:
    termios saved_{};
    bool terminal_ = false;
    bool watching_ = true;
};

int Error(const std::string& message) {
    std::cout << std::flush;
    std::cerr << "ERROR: " << message << "\n";
    return 1;
}

// Plays the tone that HKCU\key's Sound names, as `schedule` says, on a provisioned device.
int PlaySound(const char16_t* key, const std::string& what, sound::Schedule schedule,
              const std::string& how) {
    const std::string keyName = "HKCU\\" + text::ToUtf8(key);
    const std::optional<std::u16string> path = ReadText(key, u"Sound");
    if (!path)
        return Error(keyName + " has no Sound value: no " + what + " is set.");
    const std::string shown = text::ToUtf8(*path);
    const device::ToneFile file = device::ReadToneFile(device::HostPath(*path));
    const device::ToneInfo info = device::InspectTone(file.bytes);
    if (!file.problem.empty() || !info.Playable())
        return Error("the " + what + " " + shown + " cannot be played: " +
                     (file.problem.empty() ? device::DescribeTone(info) : file.problem) + ".");

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    Keys keys;
    const auto stopped = [&keys] { return interrupted != 0 || keys.Pressed(); };
    sound::Result result;
    std::unique_ptr<sound::Tone> tone = sound::OpenTone(file.bytes, info, result);
    std::unique_ptr<sound::Output> output;
    if (tone)
        output = sound::OpenOutput(tone->Rate(), tone->Channels(), stopped, result);
    if (!output)
        return Error("the " + what + " " + shown + " cannot be played: " + result.problem + ".");

    std::cout << "Playing the " << what << " " << shown << " (" << device::DescribeTone(info)
              << "), " << how << "." << std::endl;
    int plays = 0;
    result = sound::Play(*tone, *output, schedule, stopped, nullptr, &plays);
    if (result.failure != sound::Failure::None)
        return Error(result.problem + ".");
    std::cout << "Played " << plays << (plays == 1 ? " time." : " times.") << std::endl;
    return 0;
}

}  // namespace

int Ring(const std::vector<std::string>& args) {
    sound::Schedule schedule;
    if (args.size() == 4 && args[2] == "--seconds") {
        char* end = nullptr;
        schedule.limitSeconds = std::strtod(args[3].c_str(), &end);
        if (end == args[3].c_str() || *end != '\0' || !(schedule.limitSeconds > 0))
            return Error("--seconds wants a number of seconds above 0, not " + args[3] + ".");
    } else if (args.size() != 2) {
        return Error("usage: tavonne-device ring [--seconds N]");
    }
    device::EnsureProvisioned();
    // The codes are read as the settings screen reads them: exactly, letter case included; any
    // other text (or none) is the third, 3 s.
    const std::u16string script = ReadText(kRingKey, u"Script").value_or(u"");
    schedule.repeat = true;
    schedule.gapSeconds = script == u"apw1r" ? 1 : script == u"apw2r" ? 2 : 3;
    std::string how = "again after " + std::to_string(static_cast<int>(schedule.gapSeconds)) +
                      " s of silence (Script \"" + text::ToUtf8(script) + "\")";
    if (schedule.limitSeconds > 0)
        how += ", for " + args[3] + " s";
    else if (sound::WritesToFile())
        return Error("ringing into TAVONNE_AUDIO_OUT needs --seconds N.");
    else
        how += ", until a key is pressed";
    return PlaySound(kRingKey, "call tone", schedule, how);
}

int Sms(const std::vector<std::string>& args) {
    if (args.size() != 2)
        return Error("usage: tavonne-device sms");
    device::EnsureProvisioned();
    return PlaySound(kSmsKey, "SMS tone", {}, "once");
}

}  // namespace ring
