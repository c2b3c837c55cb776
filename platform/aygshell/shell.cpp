// The Smartphone shell: full-screen dialogs (SHInitDialog), the soft-key menu bar built from the
// SHMENUBAR resource with its pop-up menu (SHCreateMenuBar), and the Back key
// (SHCMBM_OVERRIDEKEY, SHSendBackToFocusWindow).
#include <windows.h>
#include <aygshell.h>

#include "platform/user32/keys.h"
#include "platform/user32/menu_resource.h"
#include "platform/kernel32/resources.h"
#include "base/text.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

// The menu bar's parent: the window that gets its commands.
HWND ParentOf(HWND menuBar) {
    const wm::Window* window = wm::Find(menuBar);
    return window == nullptr ? nullptr : window->owner;
}

void SendCommand(HWND menuBar, UINT command) {
    if (HWND parent = ParentOf(menuBar))
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

bool Selectable(const menus::MenuItem& item) {
    return !item.IsSeparator();
}

// The next selectable item after `from` in direction `step`, wrapping; `from` if none.
int NextItem(const std::vector<menus::MenuItem>& items, int from, int step) {
    auto count = static_cast<int>(items.size());
    for (int n = 1; n <= count; ++n) {
        int index = ((from + step * n) % count + count) % count;
        if (Selectable(items[index]))
            return index;
    }
    return from;
}

void ClosePopup(HWND menuBar) {
    if (auto* bar = wm::MutableStateOf<wm::MenuBarState>(menuBar))
        bar->popup.reset();
    if (wm::OpenPopupMenu() == menuBar)
        wm::SetOpenPopupMenu(nullptr);
}

void PressSoftKey(HWND menuBar, std::size_t index) {
    auto* bar = wm::MutableStateOf<wm::MenuBarState>(menuBar);
    if (bar == nullptr || index >= bar->keys.size() || !bar->keys[index].Enabled())
        return;
    const wm::SoftKey& key = bar->keys[index];
    if (!key.DropsDown()) {
        SendCommand(menuBar, key.command);
        return;
    }
    const auto& items = bar->menu[key.popupIndex].items;
    if (items.empty())
        return;
    bar->popup = wm::OpenPopup{index, NextItem(items, -1, 1)};
    if (bar->popup->highlighted < 0)
        bar->popup->highlighted = 0;
    wm::SetOpenPopupMenu(menuBar);
}

// Picks an item of the open pop-up: a command item closes the pop-up and sends its command;
// separators, grayed items and nested pop-ups are not picked.
void Pick(HWND menuBar, int index) {
    auto* bar = wm::MutableStateOf<wm::MenuBarState>(menuBar);
    const auto* items = bar->PopupItems();
    if (items == nullptr || index < 0 || index >= static_cast<int>(items->size()))
        return;
    const menus::MenuItem& item = (*items)[index];
    if (!Selectable(item) || item.IsPopup() || !item.IsEnabled())
        return;
    UINT command = item.id;
    ClosePopup(menuBar);
    SendCommand(menuBar, command);
}

// Keys while the pop-up menu is open: up and down move the highlight (wrapping), action picks
// it, a digit 1-9 picks the item of that number, Back or the soft key that opened it closes it.
void PopupKey(HWND menuBar, WPARAM key) {
    auto* bar = wm::MutableStateOf<wm::MenuBarState>(menuBar);
    const auto* items = bar->PopupItems();
    if (items == nullptr) {
        ClosePopup(menuBar);
        return;
    }
    wm::OpenPopup& popup = *bar->popup;
    if (key == VK_UP || key == VK_DOWN) {
        popup.highlighted = NextItem(*items, popup.highlighted, key == VK_UP ? -1 : 1);
    } else if (key == VK_RETURN) {
        Pick(menuBar, popup.highlighted);
    } else if (key >= keys::kVirtualKey0 + 1 && key <= keys::kVirtualKey0 + 9) {
        // Items are numbered from 1, separators left out.
        auto wanted = static_cast<int>(key - keys::kVirtualKey0);
        int number = 0;
        for (int i = 0; i < static_cast<int>(items->size()); ++i) {
            if (Selectable((*items)[i]) && ++number == wanted) {
                Pick(menuBar, i);
                break;
            }
        }
    } else if (key == VK_ESCAPE) {
        ClosePopup(menuBar);
    } else if (key == VK_TSOFT1 || key == VK_TSOFT2) {
        if (popup.key == (key == VK_TSOFT1 ? 0u : 1u))
            ClosePopup(menuBar);
    }
}

// Builds the soft keys of an SHMENUBAR resource; nothing when a resource is missing or does not
// describe a menu bar this shell can show (at most two buttons, pop-ups that exist).
std::optional<wm::MenuBarState> LoadMenuBar(HINSTANCE module, UINT id) {
    auto data = resources::Find(module, RT_RCDATA, MAKEINTRESOURCE(id));
    if (!data)
        return std::nullopt;
    auto resource = menus::ParseMenuBar(*data);
    if (!resource || resource->buttons.size() > 2)
        return std::nullopt;
    auto menuData = resources::Find(module, RT_MENU, MAKEINTRESOURCE(resource->menuId));
    if (!menuData)
        return std::nullopt;
    auto menu = menus::ParseMenu(*menuData);
    if (!menu)
        return std::nullopt;
    wm::MenuBarState bar;
    bar.menu = std::move(*menu);
    for (const menus::MenuBarButton& button : resource->buttons) {
        wm::SoftKey key;
        key.command = button.command;
        key.state = static_cast<BYTE>(button.state);
        key.style = static_cast<BYTE>(button.style);
        if (button.popupIndex != NOMENU) {
            if (button.popupIndex >= bar.menu.size() || !bar.menu[button.popupIndex].IsPopup())
                return std::nullopt;
            key.popupIndex = button.popupIndex;
        }
        // A label the string table lacks is shown empty.
        key.label = resources::String(module, button.stringId).value_or(u"");
        bar.keys.push_back(std::move(key));
    }
    return bar;
}

}  // namespace

namespace classes {

LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            auto* prepared = static_cast<wm::MenuBarState*>(create->lpCreateParams);
            wm::Lookup(window)->state = prepared ? std::move(*prepared) : wm::MenuBarState{};
            return 0;
        }
        case WM_HOTKEY: {
            UINT key = HIWORD(lParam);
            bool keyUp = (LOWORD(lParam) & MOD_KEYUP) != 0;
            const auto* bar = wm::StateOf<wm::MenuBarState>(window);
            auto found = bar->overrides.find(key);
            WORD flags = found == bar->overrides.end() ? 0 : found->second;
            if (flags & SHMBOF_NOTIFY) {
                if (HWND parent = ParentOf(window))
                    SendMessageW(parent, WM_HOTKEY, wParam, lParam);
            }
            if ((flags & SHMBOF_NODEFAULT) || keyUp || !IsWindow(window))
                return 0;
            if (key == VK_TSOFT1 || key == VK_TSOFT2)
                PressSoftKey(window, key == VK_TSOFT1 ? 0 : 1);
            else if (key == VK_TBACK)
                SendCommand(window, IDCANCEL);
            return 0;
        }
        case WM_KEYDOWN:
            if (wm::StateOf<wm::MenuBarState>(window)->popup)
                PopupKey(window, wParam);
            return 0;
        case SHCMBM_OVERRIDEKEY: {
            auto& overrides = wm::MutableStateOf<wm::MenuBarState>(window)->overrides;
            WORD mask = LOWORD(lParam);
            WORD values = HIWORD(lParam);
            WORD& flags = overrides[static_cast<UINT>(wParam)];
            flags = static_cast<WORD>((flags & ~mask) | (values & mask));
            return TRUE;
        }
        case WM_DESTROY:
            if (wm::OpenPopupMenu() == window)
                wm::SetOpenPopupMenu(nullptr);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes

extern "C" BOOL WINAPI SHInitDialog(PSHINITDLGINFO pshidi) {
    if (pshidi == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    wm::Window* dialog = wm::Check(pshidi->hDlg);
    if (dialog == nullptr)
        return FALSE;
    if (!(pshidi->dwMask & SHIDIM_FLAGS))
        return TRUE;
    DWORD flags = pshidi->dwFlags;
    if (flags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIZEDLG | SHIDIF_FULLSCREENNOMENUBAR)) {
        const wm::Display& display = wm::TheDisplay();
        dialog->x = 0;
        dialog->y = 0;
        dialog->cx = display.width;
        dialog->cy = display.height;
        if (flags & SHIDIF_FULLSCREENNOMENUBAR)
            dialog->cy += display.softKeyBarHeight;
        if (auto* state = std::get_if<wm::DialogState>(&dialog->state))
            state->fullScreen = true;
    }
    return TRUE;
}

extern "C" BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* pmbi) {
    if (pmbi == nullptr || pmbi->cbSize != sizeof(SHMENUBARINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (wm::Check(pmbi->hwndParent) == nullptr)
        return FALSE;
    std::optional<wm::MenuBarState> bar;
    if (pmbi->dwFlags & SHCMBF_EMPTYBAR) {
        bar.emplace();
    } else if (pmbi->dwFlags & SHCMBF_HMENU) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    } else {
        bar = LoadMenuBar(pmbi->hInstRes, pmbi->nToolBarId);
        if (!bar) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return FALSE;
        }
    }
    // A window has one menu bar: a new one replaces the old.
    if (HWND old = SHFindMenuBar(pmbi->hwndParent))
        DestroyWindow(old);
    const wm::Display& display = wm::TheDisplay();
    DWORD style = WS_POPUP | ((pmbi->dwFlags & SHCMBF_HIDDEN) ? 0 : WS_VISIBLE);
    HWND menuBar = CreateWindowExW(WS_EX_NOACTIVATE, classes::kMenuBar, u"", style, 0,
                                   display.height, display.width, display.softKeyBarHeight,
                                   pmbi->hwndParent, nullptr, pmbi->hInstRes, &*bar);
    if (menuBar == nullptr)
        return FALSE;
    pmbi->hwndMB = menuBar;
    return TRUE;
}

extern "C" HWND WINAPI SHFindMenuBar(HWND hwnd) {
    for (HWND owned : wm::OwnedWindows(hwnd)) {
        const wm::Window* window = wm::Find(owned);
        if (window != nullptr && !window->destroying &&
            std::holds_alternative<wm::MenuBarState>(window->state))
            return owned;
    }
    return nullptr;
}

// The Back key a screen took with SHCMBM_OVERRIDEKEY, handed to the focused control as the
// backspace key: an edit field deletes the character before its caret.
extern "C" void WINAPI SHSendBackToFocusWindow(UINT uMsg, WPARAM wp, LPARAM lp) {
    if (uMsg != WM_HOTKEY || HIWORD(lp) != VK_TBACK)
        return;
    HWND focus = GetFocus();
    if (focus == nullptr)
        return;
    if (LOWORD(lp) & MOD_KEYUP) {
        SendMessageW(focus, WM_KEYUP, VK_BACK, 0xC0000001);
        return;
    }
    SendMessageW(focus, WM_KEYDOWN, VK_BACK, 1);
    if (IsWindow(focus))
        SendMessageW(focus, WM_CHAR, VK_BACK, 1);
}
