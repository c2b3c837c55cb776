// What the phone's screen reads of an up-down control beyond its messages: which list box it
// spins, and its whole list while that is open.
#pragma once

#include <windows.h>

#include <optional>

namespace updown {

// The up-down control that took the list box `list` as its buddy, or NULL.
HWND SpinnerOf(HWND list);
// The entry highlighted in the up-down's whole list while that is open (UDS_EXPANDABLE); nothing
// while it is closed, or for any other window.
std::optional<int> OpenListHighlight(HWND upDown);

}  // namespace updown
