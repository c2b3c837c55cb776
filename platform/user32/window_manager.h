// The window system's state: every window with its class, style, text, place and control
// state, the message queue, the focus and the foreground. The platform's window modules act on
// it; a renderer reads it (Find, TopLevelWindows, Foreground, Focus, OpenPopupMenu,
// ExpandedSpinner, TheDisplay). Everything here runs on the one user-interface thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/user32/menu_resource.h"

namespace wm {

// ---- What each kind of window keeps beside the common fields ----

struct DialogState {
    DLGPROC proc = nullptr;
    LPARAM initParam = 0;
    bool modal = false;        // run by DialogBox..., in a message loop of its own
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

struct StaticState {
    bool isIcon = false;  // SS_ICON: shows the icon group `iconId` (or `iconName`) of `module`
    HINSTANCE module = nullptr;
    WORD iconId = 0;
    std::u16string iconName;
};

struct ListBoxState {
    std::vector<std::u16string> items;
    std::vector<LPARAM> itemData;
    int current = LB_ERR;    // the current entry, LB_ERR when there is none
    HWND spinner = nullptr;  // the up-down control that took this list as its buddy
};

struct EditState {
    std::size_t caret = 0;  // characters before the caret
    std::size_t limit = 30000;
};

struct UpDownState {
    HWND buddy = nullptr;
    bool expanded = false;  // UDS_EXPANDABLE: the buddy list is open whole, to pick from
    int highlighted = -1;   // the entry highlighted in the open list
};

struct ButtonState {};

struct SoftKey {
    std::u16string label;
    UINT command = 0;
    BYTE state = 0;       // TBSTATE_ENABLED, ...
    BYTE style = 0;       // TBSTYLE_DROPDOWN opens the pop-up menu
    int popupIndex = -1;  // the pop-up's index in the menu bar's menu, -1 for none

    bool Enabled() const;
    bool DropsDown() const;
};

struct OpenPopup {
    std::size_t key = 0;  // the soft key that opened it
    int highlighted = 0;  // index in the pop-up's items
};

struct MenuBarState {
    std::vector<SoftKey> keys;  // [0] the left soft key, [1] the right one
    menus::Menu menu;
    std::optional<OpenPopup> popup;  // the pop-up menu open over the soft keys
    std::map<UINT, WORD> overrides;  // SHCMBM_OVERRIDEKEY: virtual key -> SHMBOF_ flags

    // The items of the open pop-up menu, or nothing.
    const std::vector<menus::MenuItem>* PopupItems() const;
};

struct MessageBoxState {
    std::u16string caption;
    std::u16string text;  // line breaks kept as they were given
    UINT type = MB_OK;
    std::vector<std::u16string> buttons;
    bool ended = false;
    int result = 0;
};

using ControlState = std::variant<std::monostate, DialogState, StaticState, ListBoxState, EditState,
                                  UpDownState, ButtonState, MenuBarState, MessageBoxState>;

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
    ControlState state;

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
// The menu bar whose pop-up menu is open, or NULL.
HWND OpenPopupMenu();
// The up-down control whose list is open whole, or NULL.
HWND ExpandedSpinner();
const Display& TheDisplay();
// The top-level window a window belongs to (itself when it is one).
HWND TopLevelOf(HWND window);
// Whether `window` is `ancestor` or one of its descendants.
bool IsDescendant(HWND ancestor, HWND window);
// Top-level windows owned by `owner` (its menu bar, for instance).
std::vector<HWND> OwnedWindows(HWND owner);

template <class T>
const T* StateOf(HWND window) {
    const Window* found = Find(window);
    return found == nullptr ? nullptr : std::get_if<T>(&found->state);
}

// ---- For the platform's window modules ----

Window* Lookup(HWND window);
template <class T>
T* MutableStateOf(HWND window) {
    Window* found = Lookup(window);
    return found == nullptr ? nullptr : std::get_if<T>(&found->state);
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
void SetOpenPopupMenu(HWND menuBar);
void SetExpandedSpinner(HWND upDown);

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

// Destroys every window without messages and empties the queue, the quit flag and the hooks;
// handle values are never reused, so handles from before stay invalid.
void ResetForTesting();

}  // namespace wm
