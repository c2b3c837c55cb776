// The Smartphone shell's dialogs: full screen (SHInitDialog), and the Back key handed to the
// focused control (SHSendBackToFocusWindow). The soft-key menu bar is menu_bar.cpp.
#include <windows.h>
#include <aygshell.h>

#include "platform/user32/window_manager.h"

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
        if (auto* state = wm::MutableStateOf<wm::DialogState>(pshidi->hDlg))
            state->fullScreen = true;
    }
    return TRUE;
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
