// What the phone's screen and keypad read of a soft-key menu bar (SHCreateMenuBar) beyond its
// messages: its soft keys, its menu, the pop-up menu open over it and the keys its screen took.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/user32/menu_resource.h"

namespace menubar {

struct SoftKey {
    std::u16string label;
    UINT command = 0;
    BYTE state = 0;       // TBSTATE_ENABLED, ...
    BYTE style = 0;       // TBSTYLE_DROPDOWN opens the pop-up menu
    int popupIndex = -1;  // the pop-up's index in the menu bar's menu, -1 for none

    bool Enabled() const;
    bool DropsDown() const;
};

// The soft keys, [0] the left one and [1] the right one; none for any other window.
std::vector<SoftKey> SoftKeysOf(HWND menuBar);
// The menu its pop-ups come from; nullptr for any other window.
const menus::Menu* MenuOf(HWND menuBar);

struct OpenPopup {
    std::size_t key = 0;  // the soft key that opened it
    int highlighted = 0;  // index in its items
    const std::vector<menus::MenuItem>* items = nullptr;
};
// The pop-up menu open over the soft keys, or nothing. Its items stay valid until the next call
// into the window system.
std::optional<OpenPopup> PopupOf(HWND menuBar);

}  // namespace menubar
