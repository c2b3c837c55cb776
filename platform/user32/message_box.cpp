// MessageBoxW: a modal message with its caption, its text and one "OK" button, in a message
// loop of its own; the left soft key, the action key or Back dismisses it.
#include <windows.h>
#include <aygshell.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

// What a message box keeps.
struct Box {
    classes::MessageBoxContent content;
    bool ended = false;
    int result = 0;
};

LRESULT Create(HWND window, const CREATESTRUCTW& create) {
    wm::Lookup(window)->state = std::move(*static_cast<Box*>(create.lpCreateParams));
    return 0;
}

// The left soft key or the action key is its one button; Back closes it as that button does, as
// Escape closes a Win32 message box that has only "OK".
LRESULT KeyDown(HWND window, WPARAM key) {
    if (key == VK_TSOFT1 || key == VK_RETURN || key == VK_TBACK) {
        auto* box = wm::MutableStateOf<Box>(window);
        box->ended = true;
        box->result = IDOK;
    }
    return 0;
}

}  // namespace

namespace classes {

LRESULT CALLBACK MessageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return Create(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_KEYDOWN:
            return KeyDown(window, wParam);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

std::optional<MessageBoxContent> MessageBoxOf(HWND window) {
    const auto* box = wm::StateOf<Box>(window);
    return box == nullptr ? std::nullopt : std::optional(box->content);
}

}  // namespace classes

extern "C" int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    if (hWnd != nullptr && wm::Check(hWnd) == nullptr)
        return 0;
    // Only the one-button message is offered on this phone.
    if ((uType & MB_TYPEMASK) != MB_OK) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    Box box;
    box.content.caption = lpCaption != nullptr ? lpCaption : u"Erreur";
    box.content.text = lpText != nullptr ? lpText : u"";
    box.content.buttons = {u"OK"};
    const wm::Display& display = wm::TheDisplay();
    // The owner may be a screen not shown yet (an alert from inside its WM_INITDIALOG).
    HWND owner = wm::TopLevelOf(hWnd);
    std::u16string caption = box.content.caption;
    HWND window =
        CreateWindowExW(0, classes::kMessageBox, caption.c_str(), WS_POPUP | WS_VISIBLE, 0, 0,
                        display.width, display.height, owner, nullptr, nullptr, &box);
    if (window == nullptr)
        return 0;
    bool disabledOwner = owner != nullptr && !EnableWindow(owner, FALSE);
    int result = 0;
    while (true) {
        const auto* state = wm::StateOf<Box>(window);
        if (state == nullptr)
            break;
        if (state->ended) {
            result = state->result;
            break;
        }
        MSG message;
        if (!GetMessageW(&message, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        wm::HandleMessage(message);
    }
    if (disabledOwner)
        EnableWindow(owner, TRUE);
    if (IsWindow(window))
        DestroyWindow(window);
    return result;
}
