// The line under the phone in the terminal: what happens off the phone's screen (the tone a
// launched player plays, or why it cannot; another copy bringing this one to the front; a busy
// registry), shown for a while in place of the key help, and fitted to the terminal's width.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace frontend::status {

using Clock = std::chrono::steady_clock;

// A line, with the name of a tone or program in it (or none): the part shortened first when the
// line is too long.
struct Line {
    std::wstring before;
    std::wstring name;
    std::wstring after;

    bool operator==(const Line&) const = default;
};

// The line from the status file's form: the name between two tabs ("♪ \tAlarm1.mid\t, 3,5 s"),
// or a text without one.
Line Parse(std::wstring_view text);

// The line in at most `width` characters: whole when it fits; else its name cut short with "…";
// else the whole line cut with "…".
std::wstring Fit(const Line& line, std::size_t width);

// The key help in at most `width` characters, said shorter as the width shrinks.
std::wstring Help(std::size_t width);

// A program was launched: the line it leaves in the device's status file is looked for a while.
void Launched(Clock::time_point now);
// Shows `line` for a few seconds from `now`, or until Clear() when `held`.
void Show(Line line, Clock::time_point now, bool held = false);
void Clear();
// What to show at `now`, if anything; takes a line a launched program has left meanwhile.
std::optional<Line> Current(Clock::time_point now);
// How long a wait for a key may last before the line should be looked at again, in
// milliseconds; -1 when nothing is to come.
int NextCheck(Clock::time_point now);

}  // namespace frontend::status
