// Menus and soft-key menu bars (the shell's SHMENUBAR data) read from their resources.
#pragma once

#include <windows.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace menus {

struct MenuItem {
    UINT flags = 0;  // MF_GRAYED, MF_POPUP, ...
    UINT id = 0;
    std::u16string text;
    std::vector<MenuItem> items;  // a pop-up's own items

    bool IsPopup() const { return (flags & MF_POPUP) != 0; }
    bool IsSeparator() const {
        return (flags & MF_SEPARATOR) != 0 || (!IsPopup() && id == 0 && text.empty());
    }
    bool IsEnabled() const { return (flags & (MF_GRAYED | MF_DISABLED)) == 0; }
};

using Menu = std::vector<MenuItem>;

// A MENU resource (the standard format, version 0); nothing when it is malformed.
std::optional<Menu> ParseMenu(std::span<const unsigned char> data);

struct MenuBarButton {
    WORD image = 0;
    WORD command = 0;
    WORD state = 0;
    WORD style = 0;
    WORD stringId = 0;
    WORD popupIndex = 0;  // NOMENU for none
};

struct MenuBarResource {
    WORD menuId = 0;
    std::vector<MenuBarButton> buttons;
};

// An SHMENUBAR resource: 16-bit words, the menu's id, the number of buttons, then seven words
// per button (image, command, state, style, string id, 0, pop-up index); nothing when the data is
// shorter than that.
std::optional<MenuBarResource> ParseMenuBar(std::span<const unsigned char> data);

}  // namespace menus
