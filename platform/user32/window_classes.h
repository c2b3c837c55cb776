// The window procedures of the system's own window classes, one module each.
#pragma once

#include <windows.h>

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

}  // namespace classes
