// Playing on Windows: through the system's wave API and MIDI sequencer, in this process, which
// lives while its tone plays (the phone launches it and does not wait). One tone at a time on a
// device: the player launched last plays, and the ones launched before it stop. The log line and
// the status line come as soon as the sound has started, or has failed to.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "programs/player/player.h"
#include "programs/sound/sound_win32.h"

namespace player {

namespace {

// Each player of a device has a message-only window of this class, titled with the device folder;
// closing it asks the player to stop.
const wchar_t kPlayerClass[] = L"TavonnePlayer";

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Process = std::unique_ptr<void, HandleCloser>;

// When a process was created, then its id to order two created at the same moment: the order in
// which the phone launched its players.
using Launch = std::tuple<ULONGLONG, DWORD>;

std::optional<Launch> LaunchOf(HANDLE process, DWORD id) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return std::nullopt;
    return Launch{(ULONGLONG{created.dwHighDateTime} << 32) | created.dwLowDateTime, id};
}

HWND CreatePlayerWindow() {
    WNDCLASSW playerClass{};
    playerClass.lpfnWndProc = DefWindowProcW;
    playerClass.hInstance = GetModuleHandleW(nullptr);
    playerClass.lpszClassName = kPlayerClass;
    RegisterClassW(&playerClass);
    return CreateWindowExW(0, kPlayerClass, device::Folder().c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE,
                           nullptr, playerClass.hInstance, nullptr);
}

bool AsksToStop(HWND window, const MSG* message) {
    return message != nullptr && message->hwnd == window && message->message == WM_CLOSE;
}

// Asks each player of this device launched before this one to stop, and waits until they have
// gone, so that the output is free; one that has not gone after two seconds is ended. False when
// a player launched after this one is found or asks this one to stop meanwhile: it plays instead.
// Every player makes its window before it looks, so of any two the later one sees the earlier.
bool TakeTurn(HWND window) {
    const std::optional<Launch> mine = LaunchOf(GetCurrentProcess(), GetCurrentProcessId());
    std::vector<Process> earlier;
    for (HWND other = nullptr; (other = FindWindowExW(HWND_MESSAGE, other, kPlayerClass,
                                                      device::Folder().c_str())) != nullptr;) {
        DWORD id = 0;
        GetWindowThreadProcessId(other, &id);
        if (other == window || id == GetCurrentProcessId())
            continue;
        Process process(OpenProcess(
            SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
        const std::optional<Launch> theirs = process ? LaunchOf(process.get(), id) : std::nullopt;
        if (!theirs || !mine)
            continue;  // gone meanwhile
        if (*theirs > *mine)
            return false;
        PostMessageW(other, WM_CLOSE, 0, 0);
        earlier.push_back(std::move(process));
    }
    for (const Process& process : earlier) {
        const auto goneOrAsked = [&](const MSG* message) {
            return AsksToStop(window, message) ||
                   (message == nullptr && WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0);
        };
        if (sound::Wait(nullptr, 2, goneOrAsked) == sound::Waited::TimedOut) {
            TerminateProcess(process.get(), kPlayable);
            WaitForSingleObject(process.get(), 1000);
        } else if (WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0) {
            return false;  // asked to stop
        }
    }
    return true;
}

}  // namespace

int PlayAloud(const std::string& said, const std::string& name, const std::filesystem::path& file,
              std::span<const unsigned char> bytes, const device::ToneInfo& info) {
    const HWND window = CreatePlayerWindow();
    if (window != nullptr && !TakeTurn(window)) {
        Log(said + device::DescribeTone(info) + "; not played: a later tone was asked for");
        return kPlayable;
    }
    const sound::Started started = sound::Start(window, file, info);
    if (!started.playing) {
        Log(said + device::DescribeTone(info) + "; " + started.problem);
        Tell("", name,
             started.noOutput ? " : pas de sortie audio" : " : pas un fichier de sonnerie");
        return started.noOutput ? kNoOutput : kNotATone;
    }
    Log(said + device::DescribeTone(info));
    Tell("\u266A ", name, ", " + FrenchSeconds(info.seconds));
    // The tone says when it has ended; the time limit is there in case it never does.
    sound::Wait(started.playing.get(), info.seconds + 5,
                [window](const MSG* message) { return AsksToStop(window, message); });
    return kPlayable;
}

}  // namespace player
