// Starting a front end: the input source and its end, debug output, launch events, and the peer
// channel through which another copy of the program finds this one and brings it to the front.
#include "platform/phone/frontend.h"

#include <windows.h>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "base/debug.h"
#include "platform/user32/keys.h"
#include "platform/phone/peer.h"
#include "platform/shell32/launch.h"
#include "platform/phone/script_frontend.h"
#include "platform/phone/terminal_frontend.h"
#include "base/text.h"
#include "platform/user32/window_manager.h"

namespace frontend {

namespace {

std::optional<ScriptFrontEnd> script;

HWND HandleOf(uint64_t id) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(id));
}

// A top-level window of this process with that title, as FindWindowW without a class finds it.
std::optional<uint64_t> FindLocal(std::u16string_view title) {
    for (HWND topLevel : wm::TopLevelWindows()) {
        const wm::Window* window = wm::Find(topLevel);
        if (window != nullptr && !window->destroying && text::EqualNoCase(window->text, title))
            return reinterpret_cast<uintptr_t>(topLevel);
    }
    return std::nullopt;
}

bool lookedForAnother = false;
bool broughtAnotherForward = false;

// What this copy does when another one asks it to come to the front.
std::function<void()> foregroundHandler;

// Listens for other copies unless one already does. Only a copy with windows listens: a copy
// that is about to end (it found the running copy's mutex) never takes the channel from the
// copy that the others are looking for. A copy that finds the channel taken (by a copy that is
// ending) tries again while it waits for input.
bool TryListen() {
    if (peer::ListenFd() >= 0)
        return true;
    if (wm::TopLevelWindows().empty())
        return false;
    return peer::Listen(FindLocal, [](uint64_t id) {
        HWND window = HandleOf(id);
        if (wm::Find(window) == nullptr)
            return false;
        SetForegroundWindow(window);
        foregroundHandler();
        return true;
    });
}

// Answers other copies on this device, and lets this copy reach theirs through FindWindowW and
// SetForegroundWindow. Only one copy listens: the first one with windows.
void ConnectPeers(std::function<void()> onForeground) {
    foregroundHandler = std::move(onForeground);
    wm::SetRemoteWindows({
        [](std::u16string_view, std::u16string_view title) -> HWND {
            lookedForAnother = true;
            std::optional<uint64_t> id = peer::FindRemote(title);
            return id ? HandleOf(*id) : nullptr;
        },
        [](HWND window) {
            const bool brought = peer::ForegroundRemote(reinterpret_cast<uintptr_t>(window));
            broughtAnotherForward = broughtAnotherForward || brought;
            return brought;
        },
    });
}

// The loops need a key and there is none left: the screen stays as the user left it, unsaved.
[[noreturn]] void EndOfInput() {
    if (script) {
        script->ReportInputEnded();
    } else {
        terminal::Stop();
        std::fputs("tavonne: input ended while a screen is open\n", stderr);
        std::fflush(stderr);
    }
    std::exit(keys::kInputExhaustedExitCode);
}

}  // namespace

Kind Choose() {
    return isatty(STDIN_FILENO) ? Kind::Terminal : Kind::Script;
}

void SetUpDebugOutput(Kind kind) {
    if (kind == Kind::Terminal)
        debug::SendToFile(device::LogFile());
    else
        debug::SendToStandardError();
}

bool Start(Kind kind) {
    if (kind == Kind::Terminal) {
        if (!terminal::Start())
            return false;
        keys::SetInputSource(terminal::NextKey);
        platform::SetLaunchObserver(
            [](std::u16string_view, std::u16string_view) { terminal::Launched(); });
        device::registry::SetWaitObserver(terminal::RegistryWait);
        ConnectPeers(terminal::Raise);
    } else {
        script.emplace(STDIN_FILENO, stdout, stderr);
        keys::SetInputSource([] { return script->NextKey(); });
        platform::SetLaunchObserver([](std::u16string_view file, std::u16string_view parameters) {
            script->Launched(file, parameters);
        });
        ConnectPeers([] { script->Foreground(); });
    }
    keys::SetInputExhaustedHandler(EndOfInput);
    return true;
}

void Stop() {
    terminal::Stop();
    std::fflush(stdout);
}

Copy AnotherCopy() {
    if (broughtAnotherForward)
        return Copy::BroughtForward;
    return lookedForAnother ? Copy::Silent : Copy::None;
}

std::u16string CommandLine(int argc, char** argv) {
    std::u16string line;
    for (int i = 1; i < argc; ++i) {
        std::u16string argument = text::FromUtf8(argv[i]);
        if (!line.empty())
            line += u' ';
        if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) {
            line += argument;
            continue;
        }
        // Quoted: a quote inside is written \" and the backslashes just before a quote doubled.
        line += u'"';
        std::size_t backslashes = 0;
        for (char16_t c : argument) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, u'\\');
        line += u'"';
    }
    return line;
}

Wait WaitForInput(int fd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // No other process waits on the registry while this one waits for a key.
    device::registry::EndReads();
    while (true) {
        const bool listening = TryListen();
        int peerFd = peer::ListenFd();
        pollfd waits[2] = {{fd, POLLIN, 0}, {peerFd, POLLIN, 0}};
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return Wait::TimedOut;
            wait = static_cast<int>(left.count());
        }
        // Without the channel, look again for it a few times a second.
        if (!listening && (wait < 0 || wait > 250))
            wait = 250;
        int count = poll(waits, peerFd >= 0 ? 2 : 1, wait);
        if (count < 0) {
            if (errno == EINTR)
                return Wait::Interrupted;
            // Nothing more can be waited for: let the reader find out.
            return Wait::Readable;
        }
        if (peerFd >= 0 && waits[1].revents != 0)
            peer::HandlePending();
        if (waits[0].revents != 0)
            return Wait::Readable;
    }
}

}  // namespace frontend
