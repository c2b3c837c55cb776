// The static control: text (line breaks kept) or, with SS_ICON, an icon resource.
#include <windows.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace classes {

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            wm::Window* self = wm::Lookup(window);
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            wm::StaticState state;
            if ((self->style & SS_TYPEMASK) == SS_ICON) {
                // The window name of an icon static names its icon: 0xFFFF and a number, or text.
                state.isIcon = true;
                state.module = create->hInstance;
                if (self->text.size() >= 2 && self->text[0] == 0xFFFF)
                    state.iconId = self->text[1];
                else
                    state.iconName = self->text;
                self->text.clear();
            }
            self->state = std::move(state);
            return 0;
        }
        case WM_GETDLGCODE:
            return DLGC_STATIC;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
