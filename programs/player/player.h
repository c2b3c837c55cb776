// The player's parts that differ per platform (play_posix.cpp, play_win32.cpp), and what they
// share with its common part (qhandler.cpp).
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "device/tone_file.h"

namespace player {

enum ExitCode { kPlayable = 0, kNoFile = 1, kNotATone = 2, kUsage = 3, kNoOutput = 4 };

// One line in the phone's log, its control characters escaped so that each run keeps to one line
// (and on standard error when someone runs the player by hand).
void Log(std::string_view text);

// The status line for the person at the phone: what plays, or why nothing can, as a text before
// the tone's name, the name, and a text after it, each kept to one line.
void Tell(std::string_view before, std::string_view name, std::string_view after);
// "3,5 s": seconds as the phone's French screens write them.
std::string FrenchSeconds(double seconds);

// Plays a tone that passed the check (`info`), the `bytes` read from `file`; `said` starts its log
// line and `name` is what the status line calls it. Returns the exit code as soon as the sound has
// started or failed.
int PlayAloud(const std::string& said, const std::string& name, const std::filesystem::path& file,
              std::span<const unsigned char> bytes, const device::ToneInfo& info);

}  // namespace player
