// Playing tone files on Windows, through the system's own audio: what the player and the device
// tool share there (sound_win32.cpp).
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "device/tone_file.h"

namespace sound {

// A tone that plays on its own while the thread that started it handles its messages; it stops
// when it is destroyed.
class Playing {
  public:
    virtual ~Playing() = default;
    // Whether `message` says that the tone has been heard to its end.
    virtual bool Ended(const MSG& message) const = 0;
};

struct Started {
    std::unique_ptr<Playing> playing;  // null when the tone could not start
    bool noOutput = false;             // why not: no audio output, else the system refused the tone
    std::string problem;               // one line, when it could not start
};

// Starts the tone of `file`, accepted by device::InspectTone as `info` (whose samples it copies),
// on the system's default output; `window`, of the calling thread, gets the messages that say
// when it ends.
Started Start(HWND window, const std::filesystem::path& file, const device::ToneInfo& info);

enum class Waited { Ended, Stopped, TimedOut };

// Handles the calling thread's messages until `playing` (when given) has been heard to its end,
// `seconds` have passed, or `stop` says true of a message or, at least every 20 ms, of none.
Waited Wait(const Playing* playing, double seconds, const std::function<bool(const MSG*)>& stop);

}  // namespace sound
