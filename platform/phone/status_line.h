// The line under the phone in the terminal: what happens off the phone's screen (the tone a
// launched player plays, or why it cannot; another copy bringing this one to the front), shown
// for a few seconds in place of the key help.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace frontend::status {

using Clock = std::chrono::steady_clock;

// A program was launched: the line it leaves in the device's status file is looked for a while.
void Launched(Clock::time_point now);
// Shows `text` for a few seconds from `now`.
void Show(std::wstring text, Clock::time_point now);
// What to show at `now`, if anything; takes a line a launched program has left meanwhile.
std::optional<std::wstring> Current(Clock::time_point now);
// How long a wait for a key may last before the line should be looked at again, in
// milliseconds; -1 when nothing is to come.
int NextCheck(Clock::time_point now);

}  // namespace frontend::status
