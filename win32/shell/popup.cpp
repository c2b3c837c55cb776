// The phone's pop-up list, as a list box of its own over the screen with its own message loop.
#include "win32/shell/popup.h"

int RunPopup(HWND owner, const std::vector<std::wstring>& entries, int selected, bool byDigit) {
    RECT screen;
    GetWindowRect(owner, &screen);
    const int height = static_cast<int>(entries.size()) * 16 + 4;
    HWND list = CreateWindowExW(
        WS_EX_TOOLWINDOW, L"ListBox", nullptr,
        WS_POPUP | WS_BORDER | WS_VISIBLE | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, screen.left + 40,
        screen.bottom - height - 24, screen.right - screen.left - 44, height, owner, nullptr,
        GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr)
        return -1;
    for (const std::wstring& entry : entries)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    SendMessageW(list, LB_SETCURSEL, selected >= 0 ? selected : 0, 0);
    SetFocus(list);

    const int count = static_cast<int>(entries.size());
    int picked = -1;
    bool open = true;
    MSG message;
    while (open && IsWindow(list)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The program is ending: the loop that runs the screen sees the quit too.
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (message.hwnd == list && message.message == WM_KEYDOWN) {
            const WPARAM key = message.wParam;
            if (key == VK_RETURN) {
                picked = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
                open = false;
                continue;
            }
            if (key == VK_ESCAPE || key == VK_F1 || key == VK_F2) {
                open = false;
                continue;
            }
            if (byDigit && key >= '1' && key <= '9' && static_cast<int>(key - '1') < count) {
                picked = static_cast<int>(key - '1');
                open = false;
                continue;
            }
        }
        // Characters never search the list: digits pick, nothing else is typed here.
        if (message.hwnd == list && message.message == WM_CHAR)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    DestroyWindow(list);
    return picked;
}
