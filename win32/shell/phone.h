// The phone on the desktop: one 176x220 screen in a device frame, its title line, soft-key bar,
// font and colours, and which of the program's windows the user sees.
#pragma once

#include <windows.h>

namespace phone {

// The phone's screen, in pixels: the title line at its top, the soft-key bar at its bottom.
const int kScreenWidth = 176;
const int kScreenHeight = 220;
const int kTitleHeight = 18;
const int kMenuBarHeight = 20;

const COLORREF kPaper = RGB(255, 255, 255);
const COLORREF kInk = RGB(0, 0, 0);
const COLORREF kBarColour = RGB(24, 52, 110);  // the title line and the soft-key bar
const COLORREF kBarInk = RGB(255, 255, 255);
const COLORREF kHighlight = RGB(49, 106, 197);  // the focused spinner, the picked row
const COLORREF kHighlightInk = RGB(255, 255, 255);

// The screen's rectangle on the desktop (the device frame is made on first use).
RECT ScreenRect();
// The phone's one font family: text, or the bold of titles and soft keys.
HFONT Font(bool bold);
HBRUSH Brush(COLORREF colour);

// Makes a top-level window one of the phone's screens: it fills the screen, with its text on the
// title line and the phone's paper behind its controls, and its controls in the phone's font.
void PutOnScreen(HWND window);

// The property of an open pop-up that holds the control keeping the focus beneath it (the test
// driver reads it by this name too).
const WCHAR kReturnFocusProperty[] = L"TavonneReturnFocus";

// Tells what the user sees that a phone pop-up (a menu, an open list) is open over the screens,
// or, with nullptr, that it has closed.
void SetOpenPopup(HWND popup);
// The control that keeps the focus beneath an open pop-up, or nullptr.
HWND FocusBeneathPopup();
// Brings forward what the user sees when `activated`, one of the program's windows, has been
// activated instead; true when it did (the activation is handed on).
bool HandOnActivation(HWND activated);

// Registers a window class of the shell's own, once: false when it cannot be.
bool RegisterShellClass(const WCHAR* name, WNDPROC procedure, HBRUSH background = nullptr);

}  // namespace phone
