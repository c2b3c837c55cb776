// The static control: text (line breaks kept) or, with SS_ICON, an icon resource.
#include <windows.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

// What a static keeps: the icon it shows, for an SS_ICON one.
struct Static {
    std::optional<classes::StaticIcon> icon;
};

LRESULT Create(HWND window, const CREATESTRUCTW& create) {
    wm::Window* self = wm::Lookup(window);
    Static data;
    if ((self->style & SS_TYPEMASK) == SS_ICON) {
        // The window name of an icon static names its icon: 0xFFFF and a number, or text.
        classes::StaticIcon& icon = data.icon.emplace();
        icon.module = create.hInstance;
        if (self->text.size() >= 2 && self->text[0] == 0xFFFF)
            icon.id = self->text[1];
        else
            icon.name = self->text;
        self->text.clear();
    }
    self->state = std::move(data);
    return 0;
}

}  // namespace

namespace classes {

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return Create(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

std::optional<StaticIcon> IconOf(HWND window) {
    const auto* data = wm::StateOf<Static>(window);
    return data == nullptr ? std::nullopt : data->icon;
}

}  // namespace classes
