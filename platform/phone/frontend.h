// The front ends that show the phone screen and feed it keys, and what the program's entry
// calls to start one: the terminal front end for a person, the script one for programs.
#pragma once

#include <string>

namespace frontend {

enum class Kind {
    Script,    // keys read one per line from standard input, the screen printed on request
    Terminal,  // the phone screen in the terminal, driven by the keyboard
};

// Exit statuses of the stand-in itself, apart from the program's own 0 and 1 (and 2, the end of
// a script while a screen is open, keys::kInputExhaustedExitCode).
inline constexpr int kDeviceUnusableExitCode = 3;     // the device folder cannot be used
inline constexpr int kTerminalUnusableExitCode = 4;   // the terminal cannot be used
inline constexpr int kAnotherCopySilentExitCode = 5;  // another copy runs but did not answer

// Terminal when standard input is a terminal, Script otherwise.
Kind Choose();

// Sends debug output where it cannot land on the phone screen: standard error in script mode,
// the device folder's log file in terminal mode.
void SetUpDebugOutput(Kind kind);

// Starts the front end: it becomes the input source of the message loops and their handler
// for the end of input (which reports and ends the process with status 2), reports launches
// (script mode), and answers other copies of the program on this device, which can then find
// this copy's windows and bring them to the front. False, after a line on standard error, when
// the terminal cannot be used.
bool Start(Kind kind);

// Ends the front end: the terminal gets its own modes back. Safe to call more than once; it also
// runs at exit.
void Stop();

// What this copy did with another copy of the program on this device: none looked for, its
// window brought to the front, or looked for (the program found its mutex taken) without an
// answer in time.
enum class Copy { None, BroughtForward, Silent };
Copy AnotherCopy();

// The command line WinMain receives: the arguments after the program's name, separated by
// blanks, each with blanks or quotes in it quoted as Windows programs expect.
std::u16string CommandLine(int argc, char** argv);

// ---- For the front ends ----

enum class Wait {
    Readable,     // the descriptor can be read, or has ended
    Interrupted,  // a signal came first (a terminal resize, for instance)
    TimedOut,     // `timeoutMs` went by first
};
// Waits until `fd` can be read, answering other copies of the program meanwhile; no longer
// than `timeoutMs` milliseconds unless it is -1.
Wait WaitForInput(int fd, int timeoutMs = -1);

}  // namespace frontend
