// The player's parts that differ per platform (play_posix.cpp, play_win32.cpp), and what they
// share with its common part (qhandler.cpp).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "device/tone_file.h"

namespace player {

enum ExitCode { kPlayable = 0, kNoFile = 1, kNotATone = 2, kUsage = 3, kNoOutput = 4 };

// Control characters escaped, so that each run keeps to one line of the log.
std::string OneLine(std::string_view text);
// One line in the phone's log (and on standard error when someone runs the player by hand).
void Log(std::string_view text);

// A status line of a text before the tone's name, the name, and a text after it, each kept to
// one line.
std::string StatusLine(std::string_view before, std::string_view name, std::string_view after);
// The status line for the person at the phone (made by StatusLine): what plays, or why nothing
// can.
void Tell(const std::string& line);

// Plays a tone that passed the check (`info`); `said` starts its log line and `name` is what the
// status line calls it. Returns the exit code as soon as the sound has started or failed.
int PlayAloud(const std::string& said, const std::string& name,
              std::span<const unsigned char> bytes, const device::ToneInfo& info);

}  // namespace player
