// Dialog templates (DLGTEMPLATE and DLGTEMPLATEEX) read into the dialog and its controls.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace dialogs {

// A class, menu or text field of a template: none, a number (0xFFFF then the number), or text.
struct NameOrNumber {
    bool present = false;
    bool isNumber = false;
    WORD number = 0;
    std::u16string text;
};

struct TemplateItem {
    DWORD helpId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    // The class by name; the predefined atoms (0x0080 "BUTTON" .. 0x0085 "COMBOBOX") are given
    // here by their names.
    std::u16string className;
    NameOrNumber title;
    std::vector<unsigned char> creationData;
};

struct Template {
    bool extended = false;
    DWORD helpId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrNumber menu;
    NameOrNumber windowClass;
    std::u16string title;
    bool hasFont = false;
    WORD pointSize = 0;
    WORD weight = 0;
    bool italic = false;
    std::u16string typeface;
    std::vector<TemplateItem> items;
};

// Reads a template of at most `available` bytes (templates that come from LoadResource are
// bounded by their resource; others are trusted, as Win32 trusts them). Nothing when the bytes
// end early or a field is impossible.
std::optional<Template> ParseTemplate(const void* data, std::size_t available);

}  // namespace dialogs
