// Reads MENU and SHMENUBAR resources into menus and soft-key buttons.
#include "platform/menu_resource.h"

namespace menus {

namespace {

class Reader {
  public:
    explicit Reader(std::span<const unsigned char> data) : data_(data) {}

    bool Word(WORD& value) {
        if (pos_ + 2 > data_.size())
            return false;
        value = static_cast<WORD>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool Text(std::u16string& value) {
        value.clear();
        for (WORD c = 0;;) {
            if (!Word(c))
                return false;
            if (c == 0)
                return true;
            value.push_back(static_cast<char16_t>(c));
        }
    }
    bool Skip(std::size_t bytes) {
        if (bytes > data_.size() - pos_)
            return false;
        pos_ += bytes;
        return true;
    }

  private:
    std::span<const unsigned char> data_;
    std::size_t pos_ = 0;
};

// Items up to and including the one marked MF_END; pop-ups hold their own list.
bool ReadItems(Reader& reader, std::vector<MenuItem>& items, int depth) {
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
    Reader reader(data);
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
    Reader reader(data);
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
