// The phone's pop-ups: a soft key's menu, rising from the soft-key bar, and a spinner's whole list,
// filling the screen above it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class PopupKind {
    // Up and down wrap round; action or an entry's digit picks; the right soft key or Back closes.
    Menu,
    // Up and down stop at the ends; action or the left soft key picks; the right soft key or Back
    // closes.
    List,
};

// Shows `entries` over the screen `owner` with `selected` highlighted, in a message loop of its
// own, until an entry is picked or the pop-up is closed: the picked entry's index, or -1.
int RunPopup(HWND owner, const std::vector<std::wstring>& entries, int selected, PopupKind kind);
