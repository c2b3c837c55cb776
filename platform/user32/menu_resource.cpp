// Reads MENU and SHMENUBAR resources into menus and soft-key buttons.
#include "platform/user32/menu_resource.h"

#include "platform/user32/resource_reader.h"

namespace menus {

namespace {

// Items up to and including the one marked MF_END; pop-ups hold their own list.
bool ReadItems(ResourceReader& reader, std::vector<MenuItem>& items, int depth) {
    // Pop-ups nest only a few levels deep in any real menu; the bound keeps bad data finite.
    if (depth > 16)
        return false;
    while (true) {
        WORD flags = 0;
        if (!reader.Word(flags))
            return false;
        MenuItem item;
        item.flags = flags & ~MF_END;
        if (!(flags & MF_POPUP)) {
            WORD id = 0;
            if (!reader.Word(id))
                return false;
            item.id = id;
        }
        if (!reader.Text(item.text))
            return false;
        if ((flags & MF_POPUP) && !ReadItems(reader, item.items, depth + 1))
            return false;
        items.push_back(std::move(item));
        if (flags & MF_END)
            return true;
    }
}

}  // namespace

std::optional<Menu> ParseMenu(std::span<const unsigned char> data) {
    ResourceReader reader(data);
    WORD version = 0;
    WORD headerSize = 0;
    if (!reader.Word(version) || !reader.Word(headerSize) || version != 0 ||
        !reader.Skip(headerSize))
        return std::nullopt;
    Menu menu;
    if (!ReadItems(reader, menu, 0))
        return std::nullopt;
    return menu;
}

std::optional<MenuBarResource> ParseMenuBar(std::span<const unsigned char> data) {
    ResourceReader reader(data);
    MenuBarResource bar;
    WORD count = 0;
    if (!reader.Word(bar.menuId) || !reader.Word(count))
        return std::nullopt;
    for (WORD i = 0; i < count; ++i) {
        MenuBarButton button;
        WORD reserved = 0;
        if (!reader.Word(button.image) || !reader.Word(button.command) ||
            !reader.Word(button.state) || !reader.Word(button.style) ||
            !reader.Word(button.stringId) || !reader.Word(reserved) ||
            !reader.Word(button.popupIndex))
            return std::nullopt;
        bar.buttons.push_back(button);
    }
    return bar;
}

}  // namespace menus
