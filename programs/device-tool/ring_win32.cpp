// Ringing on Windows: the tone played through the system's wave API or MIDI sequencer, again after
// its silence as the schedule says, until a key is pressed.
#include "programs/device-tool/ring_play.h"

#include <windows.h>

#include <algorithm>

#include "programs/sound/sound_win32.h"

namespace ring {

namespace {

// A key pressed on standard input: a key pressed on a console, any input otherwise. Input that has
// ended is no key.
class Keys {
  public:
    bool Pressed() {
        if (!watching_)
            return false;
        if (DWORD mode = 0; GetConsoleMode(input_, &mode))
            return ConsoleKey();
        switch (GetFileType(input_)) {
            case FILE_TYPE_PIPE: {
                DWORD available = 0;
                if (!PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr))
                    return watching_ = false;  // the writing end is closed
                return available > 0 && ReadOne();
            }
            case FILE_TYPE_DISK:
                return ReadOne();
            default:
                return watching_ = false;
        }
    }

  private:
    bool ConsoleKey() {
        DWORD count = 0;
        INPUT_RECORD record;
        while (GetNumberOfConsoleInputEvents(input_, &count) && count > 0 &&
               ReadConsoleInputW(input_, &record, 1, &count)) {
            if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
                return true;
        }
        return false;
    }

    bool ReadOne() {
        char key;
        DWORD read = 0;
        if (ReadFile(input_, &key, 1, &read, nullptr) && read == 1)
            return true;
        return watching_ = false;
    }

    HANDLE input_ = GetStdHandle(STD_INPUT_HANDLE);
    bool watching_ = true;
};

}  // namespace

bool WritesToFile() {
    return false;
}

int Play(const Tone& ringing, const Schedule& schedule, const std::string& how) {
    // Any window of this thread takes the tone's messages.
    const HWND window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        nullptr, nullptr);
    Keys keys;
    const auto keyPressed = [&keys](const MSG* message) {
        return message == nullptr && keys.Pressed();
    };
    const ULONGLONG start = GetTickCount64();
    // Seconds left before the limit, if there is one.
    const auto left = [&]() -> double {
        if (schedule.limitSeconds <= 0)
            return 1e9;
        return schedule.limitSeconds - (GetTickCount64() - start) / 1000.0;
    };
    int plays = 0;
    for (;;) {
        const sound::Started started = sound::Start(window, ringing.file, ringing.info);
        if (!started.playing)
            return plays == 0 ? CannotPlay(ringing, started.problem) : Error(started.problem + ".");
        if (++plays == 1)
            SayPlaying(ringing, how);
        // The tone says when it has ended; the time limit is there in case it never does.
        if (sound::Wait(started.playing.get(), std::min(left(), ringing.info.seconds + 5),
                        keyPressed) == sound::Waited::Stopped ||
            !schedule.repeat || left() <= 0)
            break;
        if (sound::Wait(nullptr, std::min(left(), schedule.gapSeconds), keyPressed) ==
                sound::Waited::Stopped ||
            left() <= 0)
            break;
    }
    SayPlayed(plays);
    return 0;
}

}  // namespace ring
