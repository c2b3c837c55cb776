// The window procedures of the system's own window classes, one module each, and what the phone's
// screen reads of user32's controls beyond their messages.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace classes {

// Class names: dialogs are "#32770"; the menu bar's class is the phone's "menu_worker".
inline constexpr char16_t kDialog[] = u"#32770";
inline constexpr char16_t kStatic[] = u"STATIC";
inline constexpr char16_t kListBox[] = u"LISTBOX";
inline constexpr char16_t kEdit[] = u"EDIT";
inline constexpr char16_t kButton[] = u"BUTTON";
inline constexpr char16_t kUpDown[] = u"msctls_updown32";
inline constexpr char16_t kMenuBar[] = u"menu_worker";
inline constexpr char16_t kMessageBox[] = u"MessageBox";

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK UpDownProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MessageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The icon resource an SS_ICON static shows: the icon group `id`, or `name` when it has one.
struct StaticIcon {
    HINSTANCE module = nullptr;
    WORD id = 0;
    std::u16string name;
};
// The icon of an SS_ICON static; nothing for any other window.
std::optional<StaticIcon> IconOf(HWND window);

// What a message box shows.
struct MessageBoxContent {
    std::u16string caption;
    std::u16string text;  // line breaks kept as they were given
    std::vector<std::u16string> buttons;
};
// The content of a message box (MessageBoxW); nothing for any other window.
std::optional<MessageBoxContent> MessageBoxOf(HWND window);

}  // namespace classes
