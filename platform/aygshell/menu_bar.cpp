// The soft-key menu bar: SHCreateMenuBar builds it from the SHMENUBAR resource, its soft keys
// send their commands or open the pop-up menu, and SHCMBM_OVERRIDEKEY hands keys to the screen.
#include "platform/aygshell/menu_bar.h"

#include <windows.h>
#include <aygshell.h>
#include <commctrl.h>

#include <map>

#include "platform/kernel32/resources.h"
#include "platform/user32/keys.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

struct Popup {
    std::size_t key = 0;  // the soft key that opened it
    int highlighted = 0;  // index in the pop-up's items
};

// What a menu bar keeps.
struct MenuBar {
    std::vector<menubar::SoftKey> keys;  // [0] the left soft key, [1] the right one
    menus::Menu menu;
    std::optional<Popup> popup;      // the pop-up menu open over the soft keys
    std::map<UINT, WORD> overrides;  // SHCMBM_OVERRIDEKEY: virtual key -> SHMBOF_ flags

    // The items of the open pop-up menu, or nothing.
    const std::vector<menus::MenuItem>* PopupItems() const {
        if (!popup || popup->key >= keys.size())
            return nullptr;
        int index = keys[popup->key].popupIndex;
        if (index < 0 || static_cast<std::size_t>(index) >= menu.size())
            return nullptr;
        return &menu[index].items;
    }
};

MenuBar& DataOf(HWND menuBar) {
    return *wm::MutableStateOf<MenuBar>(menuBar);
}

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
    if (auto* bar = wm::MutableStateOf<MenuBar>(menuBar))
        bar->popup.reset();
    wm::ReleaseKeys(menuBar);
}

void PressSoftKey(HWND menuBar, std::size_t index) {
    auto* bar = wm::MutableStateOf<MenuBar>(menuBar);
    if (bar == nullptr || index >= bar->keys.size() || !bar->keys[index].Enabled())
        return;
    const menubar::SoftKey& key = bar->keys[index];
    if (!key.DropsDown()) {
        SendCommand(menuBar, key.command);
        return;
    }
    const auto& items = bar->menu[key.popupIndex].items;
    if (items.empty())
        return;
    bar->popup = Popup{index, NextItem(items, -1, 1)};
    if (bar->popup->highlighted < 0)
        bar->popup->highlighted = 0;
    wm::CaptureKeys(menuBar);
}

// Picks an item of the open pop-up: a command item closes the pop-up and sends its command;
// separators, grayed items and nested pop-ups are not picked.
void Pick(HWND menuBar, int index) {
    const auto* items = DataOf(menuBar).PopupItems();
    if (items == nullptr || index < 0 || index >= static_cast<int>(items->size()))
        return;
    const menus::MenuItem& item = (*items)[index];
    if (!Selectable(item) || item.IsPopup() || !item.IsEnabled())
        return;
    UINT command = item.id;
    ClosePopup(menuBar);
    SendCommand(menuBar, command);
}

// Items are numbered from 1, separators left out.
void PickNumber(HWND menuBar, int wanted) {
    const auto* items = DataOf(menuBar).PopupItems();
    int number = 0;
    for (int i = 0; items != nullptr && i < static_cast<int>(items->size()); ++i) {
        if (Selectable((*items)[i]) && ++number == wanted) {
            Pick(menuBar, i);
            return;
        }
    }
}

// Keys while the pop-up menu is open: up and down move the highlight (wrapping), action picks
// it, a digit 1-9 picks the item of that number, Back or the soft key that opened it closes it.
void PopupKey(HWND menuBar, WPARAM key) {
    MenuBar& bar = DataOf(menuBar);
    const auto* items = bar.PopupItems();
    if (items == nullptr) {
        ClosePopup(menuBar);
        return;
    }
    Popup& popup = *bar.popup;
    if (key == VK_UP || key == VK_DOWN) {
        popup.highlighted = NextItem(*items, popup.highlighted, key == VK_UP ? -1 : 1);
    } else if (key == VK_RETURN) {
        Pick(menuBar, popup.highlighted);
    } else if (key >= keys::kVirtualKey0 + 1 && key <= keys::kVirtualKey0 + 9) {
        PickNumber(menuBar, static_cast<int>(key - keys::kVirtualKey0));
    } else if (key == VK_ESCAPE) {
        ClosePopup(menuBar);
    } else if (key == VK_TSOFT1 || key == VK_TSOFT2) {
        if (popup.key == (key == VK_TSOFT1 ? 0u : 1u))
            ClosePopup(menuBar);
    }
}

// Builds the soft keys of an SHMENUBAR resource; nothing when a resource is missing or does not
// describe a menu bar this shell can show (at most two buttons, pop-ups that exist).
std::optional<MenuBar> LoadMenuBar(HINSTANCE module, UINT id) {
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
    MenuBar bar;
    bar.menu = std::move(*menu);
    for (const menus::MenuBarButton& button : resource->buttons) {
        menubar::SoftKey key;
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

LRESULT Create(HWND menuBar, const CREATESTRUCTW& create) {
    auto* prepared = static_cast<MenuBar*>(create.lpCreateParams);
    wm::Lookup(menuBar)->state = prepared ? std::move(*prepared) : MenuBar{};
    return 0;
}

// The soft keys, and the Back key when the screen took it, come as hot keys: the screen hears
// those it asked for (SHMBOF_NOTIFY), and the menu bar acts unless told not to
// (SHMBOF_NODEFAULT).
LRESULT HotKey(HWND menuBar, WPARAM id, LPARAM keyAndModifiers) {
    UINT key = HIWORD(keyAndModifiers);
    bool keyUp = (LOWORD(keyAndModifiers) & MOD_KEYUP) != 0;
    const auto& overrides = DataOf(menuBar).overrides;
    auto found = overrides.find(key);
    WORD flags = found == overrides.end() ? 0 : found->second;
    if (flags & SHMBOF_NOTIFY) {
        if (HWND parent = ParentOf(menuBar))
            SendMessageW(parent, WM_HOTKEY, id, keyAndModifiers);
    }
    if ((flags & SHMBOF_NODEFAULT) || keyUp || !IsWindow(menuBar))
        return 0;
    if (key == VK_TSOFT1 || key == VK_TSOFT2)
        PressSoftKey(menuBar, key == VK_TSOFT1 ? 0 : 1);
    else if (key == VK_TBACK)
        SendCommand(menuBar, IDCANCEL);
    return 0;
}

// The keys the bar takes as hot keys, whichever control has the focus: the soft keys, and the
// keys its screen took from the default handling (SHCMBM_OVERRIDEKEY with any flag set).
LRESULT DialogCode(HWND menuBar, UINT key) {
    const MenuBar& bar = DataOf(menuBar);
    const auto found = bar.overrides.find(key);
    const bool taken = key == VK_TSOFT1 || key == VK_TSOFT2 ||
                       (found != bar.overrides.end() && found->second != 0);
    return taken ? DLGC_WANTMESSAGE : 0;
}

LRESULT OverrideKey(HWND menuBar, UINT key, WORD mask, WORD values) {
    WORD& flags = DataOf(menuBar).overrides[key];
    flags = static_cast<WORD>((flags & ~mask) | (values & mask));
    return TRUE;
}

}  // namespace

namespace classes {

LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return Create(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_HOTKEY:
            return HotKey(window, wParam, lParam);
        case WM_KEYDOWN:
            if (DataOf(window).popup)
                PopupKey(window, wParam);
            return 0;
        case WM_GETDLGCODE:
            return DialogCode(window, static_cast<UINT>(wParam));
        case SHCMBM_OVERRIDEKEY:
            return OverrideKey(window, static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        case WM_DESTROY:
            wm::ReleaseKeys(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes

namespace menubar {

bool SoftKey::Enabled() const {
    return (state & TBSTATE_ENABLED) != 0;
}

bool SoftKey::DropsDown() const {
    return (style & TBSTYLE_DROPDOWN) != 0 && popupIndex >= 0;
}

std::vector<SoftKey> SoftKeysOf(HWND menuBar) {
    const auto* bar = wm::StateOf<MenuBar>(menuBar);
    return bar == nullptr ? std::vector<SoftKey>() : bar->keys;
}

const menus::Menu* MenuOf(HWND menuBar) {
    const auto* bar = wm::StateOf<MenuBar>(menuBar);
    return bar == nullptr ? nullptr : &bar->menu;
}

std::optional<OpenPopup> PopupOf(HWND menuBar) {
    const auto* bar = wm::StateOf<MenuBar>(menuBar);
    if (bar == nullptr || !bar->popup)
        return std::nullopt;
    return OpenPopup{bar->popup->key, bar->popup->highlighted, bar->PopupItems()};
}

}  // namespace menubar

extern "C" BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* pmbi) {
    if (pmbi == nullptr || pmbi->cbSize != sizeof(SHMENUBARINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (wm::Check(pmbi->hwndParent) == nullptr)
        return FALSE;
    std::optional<MenuBar> bar;
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
        if (window != nullptr && !window->destroying && wm::HasClass(owned, classes::kMenuBar))
            return owned;
    }
    return nullptr;
}
