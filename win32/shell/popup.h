// The phone's pop-up list: a soft key's menu, or a spinner's whole list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Shows `entries` over `owner` with `selected` highlighted, until an entry is picked with the
// action key (or, when `byDigit`, with the digit of its place) or the list is closed with Back
// or a soft key. The picked entry's index, or -1.
int RunPopup(HWND owner, const std::vector<std::wstring>& entries, int selected, bool byDigit);
