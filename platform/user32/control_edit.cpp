// The edit field: its text with a caret, typed characters inserted at the caret, left and right
// moving it, and the Back key (a backspace character) deleting the character before it.
#include <windows.h>

#include <algorithm>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

constexpr std::size_t kMaximumLimit = 0x7FFFFFFE;

wm::EditState& StateOf(HWND window) {
    return *wm::MutableStateOf<wm::EditState>(window);
}

void Changed(HWND window) {
    wm::NotifyParent(window, EN_UPDATE);
    wm::NotifyParent(window, EN_CHANGE);
}

void InsertAtCaret(HWND window, std::u16string_view text) {
    wm::Window* self = wm::Lookup(window);
    wm::EditState& edit = StateOf(window);
    std::size_t room = edit.limit > self->text.size() ? edit.limit - self->text.size() : 0;
    std::u16string_view accepted = text.substr(0, room);
    self->text.insert(edit.caret, accepted);
    edit.caret += accepted.size();
    if (accepted.size() < text.size())
        wm::NotifyParent(window, EN_MAXTEXT);
    if (!accepted.empty())
        Changed(window);
}

void TypeCharacter(HWND window, char16_t c) {
    wm::Window* self = wm::Lookup(window);
    wm::EditState& edit = StateOf(window);
    if (c == VK_BACK) {
        if (edit.caret == 0)
            return;
        self->text.erase(edit.caret - 1, 1);
        --edit.caret;
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

}  // namespace

namespace classes {

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            wm::Window* self = wm::Lookup(window);
            self->state = wm::EditState{self->text.size()};
            return 0;
        }
        case WM_SETTEXT: {
            DefWindowProcW(window, message, wParam, lParam);
            // New text puts the caret at its end, ready for the Back key or more typing.
            StateOf(window).caret = wm::Find(window)->text.size();
            wm::NotifyParent(window, EN_CHANGE);
            return TRUE;
        }
        case WM_CHAR:
            if (!(wm::Find(window)->style & ES_READONLY))
                TypeCharacter(window, static_cast<char16_t>(wParam));
            return 0;
        case WM_KEYDOWN: {
            wm::Window* self = wm::Lookup(window);
            wm::EditState& edit = StateOf(window);
            switch (wParam) {
                case VK_LEFT:
                    edit.caret = edit.caret > 0 ? edit.caret - 1 : 0;
                    break;
                case VK_RIGHT:
                    edit.caret = std::min(edit.caret + 1, self->text.size());
                    break;
                case VK_HOME:
                    edit.caret = 0;
                    break;
                case VK_END:
                    edit.caret = self->text.size();
                    break;
                case VK_DELETE:
                    if (!(self->style & ES_READONLY) && edit.caret < self->text.size()) {
                        self->text.erase(edit.caret, 1);
                        Changed(window);
                    }
                    break;
                default:
                    break;
            }
            return 0;
        }
        case WM_GETDLGCODE: {
            LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL;
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            if (key != nullptr && key->message == WM_KEYDOWN &&
                (key->wParam == VK_LEFT || key->wParam == VK_RIGHT || key->wParam == VK_HOME ||
                 key->wParam == VK_END))
                code |= DLGC_WANTARROWS;
            return code;
        }
        case WM_SETFOCUS:
            wm::NotifyParent(window, EN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            wm::NotifyParent(window, EN_KILLFOCUS);
            return 0;
        case EM_GETSEL: {
            auto caret = static_cast<DWORD>(StateOf(window).caret);
            if (wParam != 0)
                *reinterpret_cast<DWORD*>(wParam) = caret;
            if (lParam != 0)
                *reinterpret_cast<DWORD*>(lParam) = caret;
            return MAKELRESULT(caret, caret);
        }
        case EM_SETSEL: {
            // There is no selection: the caret goes to the end of the range; -1 as the start
            // leaves it where it is.
            if (static_cast<int>(wParam) == -1)
                return 0;
            std::size_t length = wm::Find(window)->text.size();
            auto end = static_cast<LONG_PTR>(lParam);
            StateOf(window).caret =
                end < 0 ? length : std::min(static_cast<std::size_t>(end), length);
            return 0;
        }
        case EM_REPLACESEL:
            if (lParam != 0)
                InsertAtCaret(window, reinterpret_cast<LPCWSTR>(lParam));
            return 0;
        case EM_LIMITTEXT:
            StateOf(window).limit = wParam == 0 ? kMaximumLimit : static_cast<std::size_t>(wParam);
            return 0;
        case EM_GETLIMITTEXT:
            return static_cast<LRESULT>(StateOf(window).limit);
        case EM_SETREADONLY: {
            wm::Window* self = wm::Lookup(window);
            if (wParam)
                self->style |= ES_READONLY;
            else
                self->style &= ~static_cast<DWORD>(ES_READONLY);
            return TRUE;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
