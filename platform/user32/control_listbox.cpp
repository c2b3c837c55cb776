// The list box, unsorted or sorted, with its current entry; arrow and action keys meant for the
// up-down control that took it as its buddy are handed to that control.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "base/text.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

wm::ListBoxState& StateOf(HWND window) {
    return *wm::MutableStateOf<wm::ListBoxState>(window);
}

bool Notifies(HWND window) {
    return (wm::Find(window)->style & LBS_NOTIFY) != 0;
}

LRESULT Insert(HWND window, int index, LPCWSTR text) {
    wm::ListBoxState& list = StateOf(window);
    std::u16string entry = text == nullptr ? std::u16string() : std::u16string(text);
    auto count = static_cast<int>(list.items.size());
    if (index == -1)
        index = count;
    if (index < 0 || index > count)
        return LB_ERR;
    list.items.insert(list.items.begin() + index, std::move(entry));
    list.itemData.insert(list.itemData.begin() + index, 0);
    if (list.current >= index)
        ++list.current;
    return index;
}

int SortedPosition(const wm::ListBoxState& list, LPCWSTR text) {
    std::u16string key = text::Fold(text == nullptr ? u"" : text);
    auto after = std::find_if(list.items.begin(), list.items.end(),
                              [&](const std::u16string& s) { return text::Fold(s) > key; });
    return static_cast<int>(after - list.items.begin());
}

bool IsSpinnerKey(HWND spinner, WPARAM key) {
    const wm::Window* upDown = wm::Find(spinner);
    if (upDown == nullptr)
        return false;
    bool horizontal = (upDown->style & UDS_HORZ) != 0;
    bool arrows = (upDown->style & UDS_ARROWKEYS) != 0;
    if (arrows && horizontal && (key == VK_LEFT || key == VK_RIGHT))
        return true;
    if (arrows && !horizontal && (key == VK_UP || key == VK_DOWN))
        return true;
    return key == VK_RETURN && (upDown->style & UDS_EXPANDABLE);
}

}  // namespace

namespace classes {

LRESULT CALLBACK ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            wm::Lookup(window)->state = wm::ListBoxState{};
            return 0;
        case LB_ADDSTRING: {
            auto text = reinterpret_cast<LPCWSTR>(lParam);
            bool sorted = (wm::Find(window)->style & LBS_SORT) != 0;
            return Insert(window, sorted ? SortedPosition(StateOf(window), text) : -1, text);
        }
        case LB_INSERTSTRING:
            return Insert(window, static_cast<int>(wParam), reinterpret_cast<LPCWSTR>(lParam));
        case LB_DELETESTRING: {
            wm::ListBoxState& list = StateOf(window);
            auto index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(list.items.size()))
                return LB_ERR;
            list.items.erase(list.items.begin() + index);
            list.itemData.erase(list.itemData.begin() + index);
            if (list.current == index)
                list.current = LB_ERR;
            else if (list.current > index)
                --list.current;
            return static_cast<LRESULT>(list.items.size());
        }
        case LB_RESETCONTENT: {
            wm::ListBoxState& list = StateOf(window);
            list.items.clear();
            list.itemData.clear();
            list.current = LB_ERR;
            return 0;
        }
        case LB_SETCURSEL: {
            // -1 clears the current entry and, as on Win32, still answers LB_ERR; so does an
            // index out of range, which clears it too.
            wm::ListBoxState& list = StateOf(window);
            auto index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(list.items.size())) {
                list.current = LB_ERR;
                return LB_ERR;
            }
            list.current = index;
            return index;
        }
        case LB_GETCURSEL:
            return StateOf(window).current;
        case LB_GETCOUNT:
            return static_cast<LRESULT>(StateOf(window).items.size());
        case LB_GETTEXT:
        case LB_GETTEXTLEN: {
            wm::ListBoxState& list = StateOf(window);
            auto index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(list.items.size()))
                return LB_ERR;
            const std::u16string& entry = list.items[index];
            if (message == LB_GETTEXT) {
                // LB_GETTEXT has no buffer size: the caller sizes it with LB_GETTEXTLEN + 1.
                auto* buffer = reinterpret_cast<LPWSTR>(lParam);
                if (buffer == nullptr)
                    return LB_ERR;
                wm::CopyText(entry, buffer, entry.size() + 1);
            }
            return static_cast<LRESULT>(entry.size());
        }
        case LB_GETITEMDATA:
        case LB_SETITEMDATA: {
            wm::ListBoxState& list = StateOf(window);
            auto index = static_cast<int>(wParam);
            if (index < 0 || index >= static_cast<int>(list.items.size()))
                return LB_ERR;
            if (message == LB_GETITEMDATA)
                return list.itemData[index];
            list.itemData[index] = lParam;
            return 0;
        }
        case LB_FINDSTRINGEXACT: {
            wm::ListBoxState& list = StateOf(window);
            auto* wanted = reinterpret_cast<LPCWSTR>(lParam);
            auto count = static_cast<int>(list.items.size());
            auto start = static_cast<int>(wParam);
            if (wanted == nullptr || count == 0)
                return LB_ERR;
            if (start < -1 || start >= count)
                start = -1;
            // The search starts after `start` and wraps round to it.
            for (int n = 1; n <= count; ++n) {
                int index = (start + n) % count;
                if (text::EqualNoCase(list.items[index], wanted))
                    return index;
            }
            return LB_ERR;
        }
        case LB_GETTOPINDEX:
            return std::max(StateOf(window).current, 0);
        case WM_SETFOCUS:
            if (Notifies(window))
                wm::NotifyParent(window, LBN_SETFOCUS);
            return 0;
        case WM_KILLFOCUS:
            if (Notifies(window))
                wm::NotifyParent(window, LBN_KILLFOCUS);
            return 0;
        case WM_GETDLGCODE: {
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            HWND spinner = StateOf(window).spinner;
            if (key == nullptr || key->message != WM_KEYDOWN || !IsSpinnerKey(spinner, key->wParam))
                return DLGC_WANTCHARS;
            return key->wParam == VK_RETURN ? DLGC_WANTALLKEYS : DLGC_WANTARROWS;
        }
        case WM_KEYDOWN: {
            HWND spinner = StateOf(window).spinner;
            if (IsSpinnerKey(spinner, wParam))
                return SendMessageW(spinner, WM_KEYDOWN, wParam, lParam);
            return 0;
        }
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
