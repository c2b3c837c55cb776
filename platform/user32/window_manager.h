// The window system's state: every window with its class, style, text, place and the data its
// class keeps, the message queue, the focus and the foreground. The platform's window modules
// act on it; a renderer reads it (Find, TopLevelWindows, Foreground, Focus, KeyCapture,
// TheDisplay) and asks the controls the rest through their messages. Everything here runs on
// the one user-interface thread.
#pragma once

#include <windows.h>

#include <any>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

// What a dialog keeps beside the common fields (the dialog manager's, as Win32 keeps it in the
// dialog's window extra bytes).
struct DialogState {
    DLGPROC proc = nullptr;
    bool ended = false;        // EndDialog has been called
    INT_PTR result = 0;        // the value given to EndDialog
    LRESULT msgResult = 0;     // DWLP_MSGRESULT
    LONG_PTR user = 0;         // DWLP_USER
    HWND lastFocus = nullptr;  // the control given the focus back when the dialog is activated
    bool fullScreen = false;   // SHInitDialog with SHIDIF_SIZEDLGFULLSCREEN
    bool hasFont = false;
    WORD fontSize = 0;
    std::u16string fontName;
};

struct Window {
    HWND handle = nullptr;
    std::u16string className;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;  // child windows (WS_CHILD)
    HWND owner = nullptr;   // top-level windows
    UINT_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::u16string text;
    // Place and size as created; windows made from a dialog template have them in dialog units.
    int x = 0, y = 0, cx = 0, cy = 0;
    std::vector<HWND> children;  // in creation order, which for dialogs is template order
    LONG_PTR userData = 0;
    bool destroying = false;
    // What the window's class keeps for it (Win32 keeps it in the window's extra bytes), of a
    // type that only the class's own module knows; a dialog's DialogState.
    std::any state;
    std::map<ATOM, HANDLE> properties;  // SetPropW, by the name's atom

    bool IsChild() const { return (style & WS_CHILD) != 0; }
    bool Visible() const { return (style & WS_VISIBLE) != 0; }
    bool Enabled() const { return (style & WS_DISABLED) == 0; }
};

// The phone's display, in dialog units: the area above the soft-key bar, which a full-screen
// dialog fills, and the height of the soft-key bar below it.
struct Display {
    int width = 106;
    int height = 121;
    int softKeyBarHeight = 12;
};

// ---- Reading ----

// The window a handle stands for, or nullptr (never a crash) for any other value. The pointer
// stays valid until the next call into the window system.
const Window* Find(HWND window);
// Top-level windows of this process, front to back.
std::vector<HWND> TopLevelWindows();
HWND Foreground();
HWND Focus();
// The window that takes every key while it shows something open over its screen (a menu bar's
// pop-up menu, a spinner's whole list), or NULL.
HWND KeyCapture();
const Display& TheDisplay();
// The top-level window a window belongs to (itself when it is one).
HWND TopLevelOf(HWND window);
// Whether `window` is `ancestor` or one of its descendants.
bool IsDescendant(HWND ancestor, HWND window);
// Top-level windows owned by `owner` (its menu bar, for instance).
std::vector<HWND> OwnedWindows(HWND owner);
// Whether the window is one of the class of that name (one of classes::k...).
bool HasClass(HWND window, std::u16string_view className);

// The data the window's class keeps for it, when that is a T.
template <class T>
const T* StateOf(HWND window) {
    const Window* found = Find(window);
    return found == nullptr ? nullptr : std::any_cast<T>(&found->state);
}

// ---- For the platform's window modules ----

Window* Lookup(HWND window);
template <class T>
T* MutableStateOf(HWND window) {
    Window* found = Lookup(window);
    return found == nullptr ? nullptr : std::any_cast<T>(&found->state);
}
// Like Lookup, and sets ERROR_INVALID_WINDOW_HANDLE when there is no such window.
Window* Check(HWND window);

// Makes a top-level window the foreground one, at the front; the window it replaces gets
// WM_ACTIVATE(WA_INACTIVE) and loses the focus, the new one gets WM_ACTIVATE(WA_ACTIVE).
void Activate(HWND topLevel);
// Activates the frontmost visible top-level window, or leaves no foreground window at all.
void ActivateNext();
// WM_COMMAND(MAKEWPARAM(id, code), control) to the control's parent.
void NotifyParent(HWND control, WORD code);
// Gives every key to `window` until it releases them (or is destroyed).
void CaptureKeys(HWND window);
// Ends `window`'s capture of the keys; nothing when another window has them.
void ReleaseKeys(HWND window);

// One step of a message loop: the dialog the message's window belongs to gets it through
// IsDialogMessageW; anything else is translated and dispatched.
void HandleMessage(MSG& message);
// Handles every message already queued, without waiting for input. A WM_QUIT stays posted.
void ProcessPendingMessages();

// Copies text into a caller's buffer of `size` characters: cut to fit and terminated, nothing
// written for a size of 0. Returns the characters copied.
std::size_t CopyText(std::u16string_view text, LPWSTR buffer, std::size_t size);

// ---- Other processes' windows ----

// Handle values carry the id of the process that made them, so a window of another copy of
// the program is recognised as such.
DWORD ProcessOf(HWND window);
// Installed by the service that reaches other processes: FindWindowW asks it when no window of
// this process matches, and SetForegroundWindow hands it other processes' windows.
struct RemoteWindows {
    std::function<HWND(std::u16string_view className, std::u16string_view title)> find;
    std::function<bool(HWND window)> setForeground;
};
void SetRemoteWindows(RemoteWindows remote);

}  // namespace wm
