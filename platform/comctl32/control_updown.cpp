// The up-down control (the phone's spinner) over a list box buddy: its arrow keys step the
// list's current entry, wrapping with UDS_WRAP, and with UDS_EXPANDABLE the action key opens
// the whole list to pick from.
#include <windows.h>
#include <commctrl.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

void SetBuddy(HWND upDown, HWND buddy) {
    auto* state = wm::MutableStateOf<wm::UpDownState>(upDown);
    if (auto* old = wm::MutableStateOf<wm::ListBoxState>(state->buddy);
        old && old->spinner == upDown)
        old->spinner = nullptr;
    state->buddy = buddy;
    if (auto* list = wm::MutableStateOf<wm::ListBoxState>(buddy))
        list->spinner = upDown;
}

// Makes `index` the list's current entry as the user's choice: the parent hears LBN_SELCHANGE.
void Choose(HWND list, int index) {
    const auto* state = wm::StateOf<wm::ListBoxState>(list);
    if (state == nullptr || state->current == index)
        return;
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (wm::Find(list)->style & LBS_NOTIFY)
        wm::NotifyParent(list, LBN_SELCHANGE);
}

void Step(HWND upDown, int delta) {
    const wm::Window* self = wm::Find(upDown);
    HWND buddy = wm::StateOf<wm::UpDownState>(upDown)->buddy;
    const auto* list = wm::StateOf<wm::ListBoxState>(buddy);
    if (list == nullptr || list->items.empty())
        return;
    auto count = static_cast<int>(list->items.size());
    bool wrap = (self->style & UDS_WRAP) != 0;
    int next = 0;
    if (list->current < 0) {
        next = delta > 0 ? 0 : count - 1;
    } else {
        next = list->current + delta;
        if (next >= count)
            next = wrap ? 0 : count - 1;
        if (next < 0)
            next = wrap ? count - 1 : 0;
    }
    Choose(buddy, next);
}

void Expand(HWND upDown) {
    auto* state = wm::MutableStateOf<wm::UpDownState>(upDown);
    const auto* list = wm::StateOf<wm::ListBoxState>(state->buddy);
    if (list == nullptr || list->items.empty())
        return;
    state->expanded = true;
    state->highlighted = list->current >= 0 ? list->current : 0;
    wm::SetExpandedSpinner(upDown);
}

void Collapse(HWND upDown, bool pick) {
    auto* state = wm::MutableStateOf<wm::UpDownState>(upDown);
    state->expanded = false;
    if (wm::ExpandedSpinner() == upDown)
        wm::SetExpandedSpinner(nullptr);
    if (pick)
        Choose(state->buddy, state->highlighted);
}

// Keys while the list is open whole: up and down move the highlight (stopping at the ends),
// action picks the highlighted entry, Back closes the list unchanged.
void ExpandedKey(HWND upDown, WPARAM key) {
    auto* state = wm::MutableStateOf<wm::UpDownState>(upDown);
    const auto* list = wm::StateOf<wm::ListBoxState>(state->buddy);
    if (list == nullptr) {
        Collapse(upDown, false);
        return;
    }
    auto count = static_cast<int>(list->items.size());
    switch (key) {
        case VK_UP:
            if (state->highlighted > 0)
                --state->highlighted;
            break;
        case VK_DOWN:
            if (state->highlighted < count - 1)
                ++state->highlighted;
            break;
        case VK_RETURN:
            Collapse(upDown, state->highlighted >= 0 && state->highlighted < count);
            break;
        case VK_ESCAPE:
            Collapse(upDown, false);
            break;
        default:
            break;
    }
}

}  // namespace

namespace classes {

LRESULT CALLBACK UpDownProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            wm::Window* self = wm::Lookup(window);
            self->state = wm::UpDownState{};
            // UDS_AUTOBUDDY: the buddy is the window created just before this one.
            if ((self->style & UDS_AUTOBUDDY) && self->IsChild()) {
                const std::vector<HWND>& siblings = wm::Find(self->parent)->children;
                if (siblings.size() >= 2)
                    SetBuddy(window, siblings[siblings.size() - 2]);
            }
            return 0;
        }
        case UDM_SETBUDDY: {
            HWND old = wm::StateOf<wm::UpDownState>(window)->buddy;
            SetBuddy(window, reinterpret_cast<HWND>(wParam));
            return reinterpret_cast<LRESULT>(old);
        }
        case UDM_GETBUDDY:
            return reinterpret_cast<LRESULT>(wm::StateOf<wm::UpDownState>(window)->buddy);
        case WM_KEYDOWN: {
            if (wm::StateOf<wm::UpDownState>(window)->expanded) {
                ExpandedKey(window, wParam);
                return 0;
            }
            DWORD style = wm::Find(window)->style;
            bool horizontal = (style & UDS_HORZ) != 0;
            if (style & UDS_ARROWKEYS) {
                if (wParam == (horizontal ? VK_RIGHT : VK_UP))
                    Step(window, +1);
                else if (wParam == (horizontal ? VK_LEFT : VK_DOWN))
                    Step(window, -1);
            }
            if (wParam == VK_RETURN && (style & UDS_EXPANDABLE))
                Expand(window);
            return 0;
        }
        case WM_GETDLGCODE:
            return wm::StateOf<wm::UpDownState>(window)->expanded ? DLGC_WANTALLKEYS : 0;
        case WM_DESTROY:
            if (wm::ExpandedSpinner() == window)
                wm::SetExpandedSpinner(nullptr);
            SetBuddy(window, nullptr);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
