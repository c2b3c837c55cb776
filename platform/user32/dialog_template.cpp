// Reads classic (DIALOG) and extended (DIALOGEX) dialog templates, as the resource compiler
// writes them: fields are little-endian and every item starts on a DWORD boundary.
#include "platform/user32/dialog_template.h"

#include "platform/user32/resource_reader.h"

namespace dialogs {

namespace {

// A name or number field: 0 for none, 0xFFFF then a number, or NUL-terminated text.
bool ReadNameOrNumber(ResourceReader& reader, NameOrNumber& value) {
    WORD first = 0;
    if (!reader.Word(first))
        return false;
    value = NameOrNumber{};
    if (first == 0)
        return true;
    value.present = true;
    if (first == 0xFFFF) {
        value.isNumber = true;
        return reader.Word(value.number);
    }
    value.text.push_back(static_cast<char16_t>(first));
    std::u16string rest;
    if (!reader.Text(rest))
        return false;
    value.text += rest;
    return true;
}

std::u16string PredefinedClass(WORD atom) {
    switch (atom) {
        case 0x0080:
            return u"BUTTON";
        case 0x0081:
            return u"EDIT";
        case 0x0082:
            return u"STATIC";
        case 0x0083:
            return u"LISTBOX";
        case 0x0084:
            return u"SCROLLBAR";
        case 0x0085:
            return u"COMBOBOX";
        default:
            return {};
    }
}

bool ReadItemClassAndTitle(ResourceReader& reader, TemplateItem& item) {
    NameOrNumber windowClass;
    if (!ReadNameOrNumber(reader, windowClass) || !windowClass.present)
        return false;
    if (windowClass.isNumber) {
        item.className = PredefinedClass(windowClass.number);
        if (item.className.empty())
            return false;
    } else {
        item.className = windowClass.text;
    }
    if (!ReadNameOrNumber(reader, item.title))
        return false;
    // The creation data: its size in bytes, then the bytes.
    WORD extra = 0;
    if (!reader.Word(extra))
        return false;
    return reader.Bytes(extra, item.creationData);
}

}  // namespace

std::optional<Template> ParseTemplate(const void* data, std::size_t available) {
    if (data == nullptr)
        return std::nullopt;
    ResourceReader reader({static_cast<const unsigned char*>(data), available});
    Template result;
    WORD first = 0;
    WORD second = 0;
    if (!reader.Word(first) || !reader.Word(second))
        return std::nullopt;
    WORD count = 0;
    // DLGTEMPLATEEX starts with dlgVer 1 and the signature 0xFFFF.
    if (first == 1 && second == 0xFFFF) {
        result.extended = true;
        if (!reader.Dword(result.helpId) || !reader.Dword(result.exStyle) ||
            !reader.Dword(result.style))
            return std::nullopt;
    } else {
        result.style = static_cast<DWORD>(first) | static_cast<DWORD>(second) << 16;
        if (!reader.Dword(result.exStyle))
            return std::nullopt;
    }
    if (!reader.Word(count) || !reader.Short(result.x) || !reader.Short(result.y) ||
        !reader.Short(result.cx) || !reader.Short(result.cy))
        return std::nullopt;
    if (!ReadNameOrNumber(reader, result.menu) || !ReadNameOrNumber(reader, result.windowClass) ||
        !reader.Text(result.title))
        return std::nullopt;
    if (result.style & DS_SETFONT) {
        result.hasFont = true;
        if (!reader.Word(result.pointSize))
            return std::nullopt;
        if (result.extended) {
            BYTE italic = 0;
            BYTE charset = 0;
            if (!reader.Word(result.weight) || !reader.Byte(italic) || !reader.Byte(charset))
                return std::nullopt;
            result.italic = italic != 0;
        }
        if (!reader.Text(result.typeface))
            return std::nullopt;
    }
    for (WORD i = 0; i < count; ++i) {
        TemplateItem item;
        if (!reader.AlignToDword())
            return std::nullopt;
        if (result.extended) {
            if (!reader.Dword(item.helpId) || !reader.Dword(item.exStyle) ||
                !reader.Dword(item.style) || !reader.Short(item.x) || !reader.Short(item.y) ||
                !reader.Short(item.cx) || !reader.Short(item.cy) || !reader.Dword(item.id))
                return std::nullopt;
        } else {
            WORD id = 0;
            if (!reader.Dword(item.style) || !reader.Dword(item.exStyle) || !reader.Short(item.x) ||
                !reader.Short(item.y) || !reader.Short(item.cx) || !reader.Short(item.cy) ||
                !reader.Word(id))
                return std::nullopt;
            item.id = id;
        }
        if (!ReadItemClassAndTitle(reader, item))
            return std::nullopt;
        result.items.push_back(std::move(item));
    }
    return result;
}

}  // namespace dialogs
