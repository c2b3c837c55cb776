// The push button: the action key clicks it, and its parent gets BN_CLICKED.
#include <windows.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace classes {

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETDLGCODE: {
            const wm::Window* self = wm::Find(window);
            bool isDefault = (self->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
            return DLGC_BUTTON | (isDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        }
        case BM_CLICK:
            wm::NotifyParent(window, BN_CLICKED);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
