// The edit field: its text with a caret, typed characters inserted at the caret, left and right
// moving it, and the Back key (a backspace character) deleting the character before it.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

constexpr std::size_t kMaximumLimit = 0x7FFFFFFE;

// What an edit field keeps beside its text.
struct Edit {
    std::size_t caret = 0;  // characters before the caret
    std::size_t limit = 30000;
    bool droppedHalf = false;  // the first half of a typed pair found no room: the second goes too
};

Edit& DataOf(HWND window) {
    return *wm::MutableStateOf<Edit>(window);
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Whether `at` falls between the two halves of a character outside the BMP: the caret never
// stands there, and no edit cuts such a character in two.
bool SplitsPair(std::u16string_view text, std::size_t at) {
    return at > 0 && at < text.size() && IsHighSurrogate(text[at - 1]) && IsLowSurrogate(text[at]);
}

// The units of the character before or after `at`: two for a surrogate pair, else one.
std::size_t UnitsBefore(std::u16string_view text, std::size_t at) {
    return at >= 2 && SplitsPair(text, at - 1) ? 2 : 1;
}
std::size_t UnitsAfter(std::u16string_view text, std::size_t at) {
    return SplitsPair(text, at + 1) ? 2 : 1;
}

void Changed(HWND window) {
    wm::NotifyParent(window, EN_UPDATE);
    wm::NotifyParent(window, EN_CHANGE);
}

std::size_t Room(HWND window) {
    const std::size_t used = wm::Lookup(window)->text.size();
    const std::size_t limit = DataOf(window).limit;
    return limit > used ? limit - used : 0;
}

void InsertAtCaret(HWND window, std::u16string_view text) {
    wm::Window* self = wm::Lookup(window);
    Edit& edit = DataOf(window);
    std::u16string_view accepted = text.substr(0, Room(window));
    if (SplitsPair(text, accepted.size()))
        accepted.remove_suffix(1);
    self->text.insert(edit.caret, accepted);
    edit.caret += accepted.size();
    if (accepted.size() < text.size())
        wm::NotifyParent(window, EN_MAXTEXT);
    if (!accepted.empty())
        Changed(window);
}

void TypeCharacter(HWND window, char16_t c) {
    wm::Window* self = wm::Lookup(window);
    Edit& edit = DataOf(window);
    // A character outside the BMP is typed as its two halves: it goes in whole or not at all.
    if (std::exchange(edit.droppedHalf, false) && IsLowSurrogate(c))
        return;
    if (IsHighSurrogate(c) && Room(window) < 2) {
        edit.droppedHalf = true;
        wm::NotifyParent(window, EN_MAXTEXT);
        return;
    }
    if (c == VK_BACK) {
        if (edit.caret == 0)
            return;
        const std::size_t units = UnitsBefore(self->text, edit.caret);
        self->text.erase(edit.caret - units, units);
        edit.caret -= units;
        Changed(window);
        return;
    }
    // Control characters (Enter, Escape, ...) type nothing in a one-line field.
    if (c < 0x20 || c == 0x7F)
        return;
    if ((self->style & ES_NUMBER) && (c < u'0' || c > u'9'))
        return;
    if ((self->style & ES_UPPERCASE) && c >= u'a' && c <= u'z')
        c = static_cast<char16_t>(c - u'a' + u'A');
    if ((self->style & ES_LOWERCASE) && c >= u'A' && c <= u'Z')
        c = static_cast<char16_t>(c - u'A' + u'a');
    InsertAtCaret(window, std::u16string_view(&c, 1));
}

LRESULT SetText(HWND window, LPARAM text) {
    DefWindowProcW(window, WM_SETTEXT, 0, text);
    // New text puts the caret at its end, ready for the Back key or more typing.
    DataOf(window).caret = wm::Find(window)->text.size();
    wm::NotifyParent(window, EN_CHANGE);
    return TRUE;
}

// Left and right move the caret a character, Home and End to the ends; Delete takes the
// character after it.
LRESULT KeyDown(HWND window, WPARAM key) {
    wm::Window* self = wm::Lookup(window);
    Edit& edit = DataOf(window);
    switch (key) {
        case VK_LEFT:
            if (edit.caret > 0)
                edit.caret -= UnitsBefore(self->text, edit.caret);
            break;
        case VK_RIGHT:
            if (edit.caret < self->text.size())
                edit.caret += UnitsAfter(self->text, edit.caret);
            break;
        case VK_HOME:
            edit.caret = 0;
            break;
        case VK_END:
            edit.caret = self->text.size();
            break;
        case VK_DELETE:
            if (!(self->style & ES_READONLY) && edit.caret < self->text.size()) {
                self->text.erase(edit.caret, UnitsAfter(self->text, edit.caret));
                Changed(window);
            }
            break;
        default:
            break;
    }
    return 0;
}

// The field takes typed characters, and the arrows that move its caret.
LRESULT DialogCode(const MSG* key) {
    LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL;
    if (key != nullptr && key->message == WM_KEYDOWN &&
        (key->wParam == VK_LEFT || key->wParam == VK_RIGHT || key->wParam == VK_HOME ||
         key->wParam == VK_END))
        code |= DLGC_WANTARROWS;
    return code;
}

// There is no selection: start and end are both the caret.
LRESULT GetSelection(HWND window, DWORD* start, DWORD* end) {
    auto caret = static_cast<DWORD>(DataOf(window).caret);
    if (start != nullptr)
        *start = caret;
    if (end != nullptr)
        *end = caret;
    return MAKELRESULT(caret, caret);
}

// There is no selection: the caret goes to the end of the range; -1 as the start leaves it where
// it is.
LRESULT SetSelection(HWND window, int start, LONG_PTR end) {
    if (start == -1)
        return 0;
    const std::u16string& text = wm::Find(window)->text;
    std::size_t caret = end < 0 ? text.size() : std::min<std::size_t>(end, text.size());
    DataOf(window).caret = SplitsPair(text, caret) ? caret + 1 : caret;
    return 0;
}

LRESULT SetReadOnly(HWND window, bool readOnly) {
    wm::Window* self = wm::Lookup(window);
    if (readOnly)
        self->style |= ES_READONLY;
    else
        self->style &= ~static_cast<DWORD>(ES_READONLY);
    return TRUE;
}

}  // namespace

namespace classes {

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            wm::Lookup(window)->state = Edit{wm::Find(window)->text.size()};
            return 0;
        case WM_SETTEXT:
            return SetText(window, lParam);
        case WM_CHAR:
            if (!(wm::Find(window)->style & ES_READONLY))
                TypeCharacter(window, static_cast<char16_t>(wParam));
            return 0;
        case WM_KEYDOWN:
            return KeyDown(window, wParam);
        case WM_GETDLGCODE:
            return DialogCode(reinterpret_cast<const MSG*>(lParam));
        case WM_SETFOCUS:
            wm::NotifyParent(window, EN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            wm::NotifyParent(window, EN_KILLFOCUS);
            return 0;
        case EM_GETSEL:
            return GetSelection(window, reinterpret_cast<DWORD*>(wParam),
                                reinterpret_cast<DWORD*>(lParam));
        case EM_SETSEL:
            return SetSelection(window, static_cast<int>(wParam), static_cast<LONG_PTR>(lParam));
        case EM_REPLACESEL:
            if (lParam != 0)
                InsertAtCaret(window, reinterpret_cast<LPCWSTR>(lParam));
            return 0;
        case EM_LIMITTEXT:
            DataOf(window).limit = wParam == 0 ? kMaximumLimit : static_cast<std::size_t>(wParam);
            return 0;
        case EM_GETLIMITTEXT:
            return static_cast<LRESULT>(DataOf(window).limit);
        case EM_SETREADONLY:
            return SetReadOnly(window, wParam != 0);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
