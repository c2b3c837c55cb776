// The terminal front end: the phone screen drawn with ncurses in a frame at the middle of the
// terminal, the keyboard as the phone's keys, and the terminal's modes given back on every way
// out of the program.
#pragma once

#include <optional>

#include "platform/user32/keys.h"

namespace frontend::terminal {

// Takes over the terminal (standard input and output). False, after a line on standard error,
// when the terminal cannot be used.
bool Start();
// Draws the screen and waits for the next key; answers other copies of the program meanwhile
// and redraws when the terminal is resized. Nothing when the terminal has gone.
std::optional<keys::Key> NextKey();
// Another copy has brought this one to the front: redraws, rings and asks the terminal window
// to come to the front.
void Raise();
// A program was launched: what it says about itself shows under the phone for a while.
void Launched();
// The phone's registry is busy with another program's write (`waiting`), or no longer: the line
// under the phone says so while it lasts.
void RegistryWait(bool waiting);
// Gives the terminal its modes back. Safe to call more than once, and when never started.
void Stop();

// The phone key for a key code of curses (`isKeyCode`, e.g. KEY_F(1)) or for a character.
std::optional<keys::Key> KeyFor(unsigned code, bool isKeyCode);

}  // namespace frontend::terminal
