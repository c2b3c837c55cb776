// The phone's keys: routing a key to whatever is in front, and the input source that message
// loops wait on.
#include "platform/user32/keys.h"

#include <aygshell.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace keys {

namespace {

struct Input {
    InputSource source;
    InputExhausted exhausted;
};

Input& TheInput() {
    static Input input;
    return input;
}

bool PostTo(HWND target, const Key& key) {
    if (key.kind == KeyKind::Character)
        return PostMessageW(target, WM_CHAR, key.character, 1) != FALSE;
    UINT virtualKey = VirtualKey(key);
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001));
    return true;
}

// The shell takes the soft keys, and the Back key of a screen that asked for it, as hot keys
// of the menu bar: they work whichever control has the focus.
bool PostToMenuBar(HWND foreground, UINT virtualKey) {
    HWND menuBar = SHFindMenuBar(foreground);
    if (menuBar == nullptr || !IsWindowVisible(menuBar))
        return false;
    // The bar says which keys it takes, as a control tells the dialog manager.
    if ((SendMessageW(menuBar, WM_GETDLGCODE, virtualKey, 0) & DLGC_WANTMESSAGE) == 0)
        return false;
    PostMessageW(menuBar, WM_HOTKEY, virtualKey, MAKELPARAM(0, virtualKey));
    PostMessageW(menuBar, WM_HOTKEY, virtualKey, MAKELPARAM(MOD_KEYUP, virtualKey));
    return true;
}

}  // namespace

UINT VirtualKey(const Key& key) {
    switch (key.kind) {
        case KeyKind::SoftKey1:
            return VK_TSOFT1;
        case KeyKind::SoftKey2:
            return VK_TSOFT2;
        case KeyKind::Up:
            return VK_UP;
        case KeyKind::Down:
            return VK_DOWN;
        case KeyKind::Left:
            return VK_LEFT;
        case KeyKind::Right:
            return VK_RIGHT;
        case KeyKind::Action:
            return VK_RETURN;
        case KeyKind::Back:
            return VK_TBACK;
        case KeyKind::Digit:
            return kVirtualKey0 + (key.character - u'0');
        case KeyKind::Star:
            return VK_TSTAR;
        case KeyKind::Pound:
            return VK_TPOUND;
        case KeyKind::Character:
            return 0;
    }
    return 0;
}

bool Post(const Key& key) {
    HWND foreground = wm::Foreground();
    if (wm::HasClass(foreground, classes::kMessageBox))
        return PostTo(foreground, key);
    if (HWND captured = wm::KeyCapture())
        return PostTo(captured, key);
    if (foreground == nullptr)
        return false;
    if (key.kind != KeyKind::Character && PostToMenuBar(foreground, VirtualKey(key)))
        return true;
    HWND focus = wm::Focus();
    return PostTo(focus != nullptr ? focus : foreground, key);
}

void SetInputSource(InputSource source) {
    TheInput().source = std::move(source);
}

void SetInputExhaustedHandler(InputExhausted handler) {
    TheInput().exhausted = std::move(handler);
}

void WaitForInput() {
    Input& input = TheInput();
    if (input.source) {
        if (std::optional<Key> key = input.source()) {
            Post(*key);
            return;
        }
    }
    if (input.exhausted)
        input.exhausted();
    // Unless the handler gave the loops something to do, they unwind.
    MSG pending;
    if (!PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE))
        PostQuitMessage(kInputExhaustedExitCode);
}

}  // namespace keys
