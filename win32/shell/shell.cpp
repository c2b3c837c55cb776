// The phone's shell on desktop Windows: full-screen dialogs, the soft-key menu bar with its pop-up
// menu, the Back key, and the phone's keys on the standard controls.
#include <aygshell.h>

#include <memory>
#include <string>
#include <vector>

#include "win32/shell/popup.h"

namespace {

// A Smartphone's screen, in pixels, and the menu bar at its bottom.
const int kScreenWidth = 176;
const int kScreenHeight = 220;
const int kMenuBarHeight = 20;

const WCHAR kMenuBarClass[] = L"TavonneMenuBar";
const WCHAR kMenuBarProperty[] = L"TavonneMenuBar";

// Posted by the key hook to the menu bar, so that menus open outside the hook.
const UINT kSoftKey = WM_APP + 1;   // wParam: 0 left, 1 right
const UINT kOpenList = WM_APP + 2;  // lParam: the spinner's list

struct Button {
    int command = 0;
    std::wstring label;
    int popup = NOMENU;  // index of its pop-up in the bar's menu
};

struct MenuBar {
    HWND screen = nullptr;
    HMENU menu = nullptr;
    std::vector<Button> buttons;
    DWORD backFlags = 0;  // SHMBOF_* set for the Back key by SHCMBM_OVERRIDEKEY
};

// The phone's controls need the common controls (the spinner) before the first dialog.
const bool commonControlsReady = [] {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&controls) != FALSE;
}();

MenuBar* BarOf(HWND bar) {
    return reinterpret_cast<MenuBar*>(GetWindowLongPtrW(bar, GWLP_USERDATA));
}

HWND MenuBarOfScreen(HWND screen) {
    return static_cast<HWND>(GetPropW(screen, kMenuBarProperty));
}

// The bar fills the bottom of its screen.
void PlaceMenuBar(HWND bar) {
    RECT client;
    GetClientRect(GetParent(bar), &client);
    SetWindowPos(bar, HWND_TOP, 0, client.bottom - kMenuBarHeight, client.right, kMenuBarHeight,
                 SWP_NOACTIVATE);
}

bool HasClass(HWND window, const WCHAR* name) {
    WCHAR found[64];
    return GetClassNameW(window, found, 64) > 0 && lstrcmpiW(found, name) == 0;
}

// The up-down control whose buddy is `list`: together they are the phone's spinner.
HWND SpinnerOf(HWND list) {
    if (!HasClass(list, L"ListBox"))
        return nullptr;
    for (HWND child = GetWindow(GetParent(list), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (HasClass(child, UPDOWN_CLASSW) &&
            reinterpret_cast<HWND>(SendMessageW(child, UDM_GETBUDDY, 0, 0)) == list)
            return child;
    }
    return nullptr;
}

void SelectInList(HWND list, LRESULT row) {
    SendMessageW(list, LB_SETCURSEL, row, 0);
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

// Left and right turn a spinner, wrapping at either end.
void TurnSpinner(HWND list, int step) {
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count <= 0)
        return;
    const LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    const LRESULT from = row == LB_ERR ? 0 : row;
    SelectInList(list, (from + step + count) % count);
}

// The action key on a spinner shows its whole list to pick from.
void OpenSpinnerList(HWND screen, HWND list) {
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; ++row) {
        std::wstring entry(SendMessageW(list, LB_GETTEXTLEN, row, 0) + 1, L'\0');
        entry.resize(SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(entry.data())));
        entries.push_back(entry);
    }
    const int row =
        RunPopup(screen, entries, static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0)), false);
    SetFocus(list);
    if (row >= 0)
        SelectInList(list, row);
}

// A soft key: its command, or the command picked from its pop-up menu.
void PressSoftKey(MenuBar& bar, size_t index) {
    if (index >= bar.buttons.size())
        return;
    const Button& button = bar.buttons[index];
    int command = button.command;
    if (button.popup != NOMENU) {
        HMENU popup = GetSubMenu(bar.menu, button.popup);
        std::vector<std::wstring> items;
        std::vector<int> commands;
        for (int item = 0; item < GetMenuItemCount(popup); ++item) {
            WCHAR text[128] = L"";
            GetMenuStringW(popup, item, text, 128, MF_BYPOSITION);
            items.push_back(std::to_wstring(item + 1) + L" " + text);
            commands.push_back(static_cast<int>(GetMenuItemID(popup, item)));
        }
        const HWND focus = GetFocus();
        const int picked = RunPopup(bar.screen, items, 0, true);
        SetFocus(focus);
        if (picked < 0)
            return;
        command = commands[picked];
    }
    SendMessageW(bar.screen, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MenuBar* bar = BarOf(window);
    switch (message) {
        case kSoftKey:
            PressSoftKey(*bar, wParam);
            return 0;
        case kOpenList:
            OpenSpinnerList(bar->screen, reinterpret_cast<HWND>(lParam));
            return 0;
        case SHCMBM_OVERRIDEKEY:
            if (wParam == VK_TBACK)
                bar->backFlags =
                    (bar->backFlags & ~LOWORD(lParam)) | (HIWORD(lParam) & LOWORD(lParam));
            return TRUE;
        case SHCMBM_GETMENU:
            return reinterpret_cast<LRESULT>(bar->menu);
        case SHCMBM_GETSUBMENU:
            for (const Button& button : bar->buttons) {
                if (button.command == static_cast<int>(lParam) && button.popup != NOMENU)
                    return reinterpret_cast<LRESULT>(GetSubMenu(bar->menu, button.popup));
            }
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
            SetBkMode(dc, TRANSPARENT);
            InflateRect(&area, -4, 0);
            const UINT format[] = {DT_LEFT, DT_RIGHT};
            for (size_t i = 0; i < bar->buttons.size() && i < 2; ++i) {
                DrawTextW(dc, bar->buttons[i].label.c_str(), -1, &area,
                          format[i] | DT_VCENTER | DT_SINGLELINE);
            }
            EndPaint(window, &paint);
            return 0;
        }
        case WM_NCDESTROY:
            if (bar != nullptr) {
                RemovePropW(bar->screen, kMenuBarProperty);
                DestroyMenu(bar->menu);
                delete bar;
            }
            return DefWindowProcW(window, message, wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Moves the focus to the previous or next tab stop of the screen, as the phone's up and down do.
void MoveFocus(HWND screen, bool up) {
    HWND next = GetNextDlgTabItem(screen, GetFocus(), up);
    if (next != nullptr)
        SetFocus(next);
}

// The phone's keys, before the dialog manager or a control sees them; true when taken here.
bool PhoneKey(const MSG& message) {
    const HWND screen = GetAncestor(message.hwnd, GA_ROOT);
    const HWND barWindow = screen != nullptr ? MenuBarOfScreen(screen) : nullptr;
    if (barWindow == nullptr)
        return false;
    MenuBar& bar = *BarOf(barWindow);
    const HWND focus = GetFocus();
    switch (message.wParam) {
        case VK_TSOFT1:
        case VK_TSOFT2:
            PostMessageW(barWindow, kSoftKey, message.wParam == VK_TSOFT1 ? 0 : 1, 0);
            return true;
        case VK_TBACK:
            if ((bar.backFlags & (SHMBOF_NODEFAULT | SHMBOF_NOTIFY)) == 0)
                return false;  // the dialog manager turns it into IDCANCEL
            if (bar.backFlags & SHMBOF_NOTIFY)
                PostMessageW(screen, WM_HOTKEY, 0, MAKELPARAM(0, VK_TBACK));
            return true;
        case VK_TUP:
        case VK_TDOWN:
            MoveFocus(screen, message.wParam == VK_TUP);
            return true;
        case VK_TLEFT:
        case VK_TRIGHT:
            if (SpinnerOf(focus) == nullptr)
                return false;
            TurnSpinner(focus, message.wParam == VK_TLEFT ? -1 : 1);
            return true;
        case VK_TACTION:
            if (SpinnerOf(focus) == nullptr)
                return false;
            PostMessageW(barWindow, kOpenList, 0, reinterpret_cast<LPARAM>(focus));
            return true;
    }
    return false;
}

LRESULT CALLBACK KeyHook(int code, WPARAM removal, LPARAM lParam) {
    MSG* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == WM_KEYDOWN &&
        PhoneKey(*message))
        message->message = WM_NULL;
    return CallNextHookEx(nullptr, code, removal, lParam);
}

void HookKeysOfThisThread() {
    static thread_local HHOOK hook = nullptr;
    if (hook == nullptr)
        hook = SetWindowsHookExW(WH_GETMESSAGE, KeyHook, nullptr, GetCurrentThreadId());
}

// The phone's edit field keeps its caret at the end of new text and never selects all of it when
// it gets the focus, so that the Back key deletes one character.
LRESULT CALLBACK PhoneEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
    switch (message) {
        case WM_GETDLGCODE:
            return DefSubclassProc(edit, message, wParam, lParam) & ~DLGC_HASSETSEL;
        case WM_SETTEXT: {
            const LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
            const int end = GetWindowTextLengthW(edit);
            SendMessageW(edit, EM_SETSEL, end, end);
            return result;
        }
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

// The window the user sees of this thread: the screen itself when it can take keys, else the
// last pop-up it opened (its alert), else the topmost shown screen that is enabled.
HWND ShownFront(HWND screen) {
    if (IsWindowVisible(screen) && IsWindowEnabled(screen))
        return screen;
    const HWND popup = GetLastActivePopup(screen);
    if (popup != screen && IsWindowVisible(popup))
        return popup;
    const DWORD thread = GetCurrentThreadId();
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindowThreadProcessId(w, nullptr) == thread && IsWindowVisible(w) &&
            IsWindowEnabled(w))
            return w;
    }
    return screen;
}

// The phone shows one screen at a time. A screen brought forward comes on top; one that cannot
// take the keys (disabled under its alert, or not shown yet) hands the activation on to what the
// user sees, so that keys never go to a screen nobody sees.
LRESULT CALLBACK PhoneScreenProc(HWND screen, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    static const UINT handOn = RegisterWindowMessageW(L"TavonneHandActivationOn");
    if (message == handOn) {
        const HWND front = ShownFront(screen);
        if (front != screen)
            SetForegroundWindow(front);
        return 0;
    }
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        const LRESULT result = DefSubclassProc(screen, message, wParam, lParam);
        if (ShownFront(screen) != screen)
            PostMessageW(screen, handOn, 0, 0);
        else
            SetWindowPos(screen, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return result;
    }
    return DefSubclassProc(screen, message, wParam, lParam);
}

BOOL CALLBACK AdoptControl(HWND control, LPARAM) {
    if (HasClass(control, L"Edit"))
        SetWindowSubclass(control, PhoneEditProc, 0, 0);
    return TRUE;
}

// The menu bar resource: menu id, button count, then 7 words per button.
struct ButtonWords {
    WORD image, command, state, style, label, zero, popup;
};

bool ReadMenuBar(HINSTANCE instance, UINT id, std::vector<Button>& buttons) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
    const WORD* words =
        loaded != nullptr ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    const DWORD size = found != nullptr ? SizeofResource(instance, found) : 0;
    if (words == nullptr || size < 2 * sizeof(WORD))
        return false;
    const size_t count = words[1];
    if (size < (2 + count * 7) * sizeof(WORD))
        return false;
    const ButtonWords* entries = reinterpret_cast<const ButtonWords*>(words + 2);
    for (size_t i = 0; i < count; ++i) {
        Button button;
        button.command = entries[i].command;
        button.popup = entries[i].popup;
        const WCHAR* label = nullptr;
        const int length =
            LoadStringW(instance, entries[i].label, reinterpret_cast<LPWSTR>(&label), 0);
        button.label.assign(label != nullptr ? label : L"", length > 0 ? length : 0);
        buttons.push_back(button);
    }
    return true;
}

}  // namespace

extern "C" BOOL WINAPI SHInitDialog(PSHINITDLGINFO info) {
    if (info == nullptr || info->hDlg == nullptr || !(info->dwMask & SHIDIM_FLAGS))
        return FALSE;
    const HWND screen = info->hDlg;
    if (info->dwFlags & (SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR)) {
        RECT frame = {0, 0, kScreenWidth, kScreenHeight};
        AdjustWindowRectEx(&frame, GetWindowLongW(screen, GWL_STYLE), FALSE,
                           GetWindowLongW(screen, GWL_EXSTYLE));
        SetWindowPos(screen, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (HWND bar = MenuBarOfScreen(screen))
            PlaceMenuBar(bar);
    }
    EnumChildWindows(screen, AdoptControl, 0);
    SetWindowSubclass(screen, PhoneScreenProc, 0, 0);
    HookKeysOfThisThread();
    return TRUE;
}

extern "C" BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
    if (info == nullptr || info->hwndParent == nullptr || !commonControlsReady)
        return FALSE;
    auto bar = std::make_unique<MenuBar>();
    bar->screen = info->hwndParent;
    if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
        if (!ReadMenuBar(info->hInstRes, info->nToolBarId, bar->buttons))
            return FALSE;
        bar->menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId));
    }
    static const ATOM registered = [] {
        WNDCLASSW type = {};
        type.lpfnWndProc = MenuBarProc;
        type.hInstance = GetModuleHandleW(nullptr);
        type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        type.lpszClassName = kMenuBarClass;
        return RegisterClassW(&type);
    }();
    if (registered == 0)
        return FALSE;
    // The window's text holds the two soft-key words, for anyone reading the screen.
    std::wstring labels;
    for (const Button& button : bar->buttons)
        labels += (labels.empty() ? L"" : L"\t") + button.label;
    HWND window = CreateWindowExW(0, kMenuBarClass, labels.c_str(), WS_CHILD, 0, 0, 0, 0,
                                  info->hwndParent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        return FALSE;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar.release()));
    SetPropW(info->hwndParent, kMenuBarProperty, window);
    PlaceMenuBar(window);
    HookKeysOfThisThread();
    info->hwndMB = window;
    return TRUE;
}

extern "C" HWND WINAPI SHFindMenuBar(HWND screen) {
    return MenuBarOfScreen(screen);
}

extern "C" void WINAPI SHSendBackToFocusWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND focus = GetFocus();
    if (focus == nullptr)
        return;
    // The desktop's edit field knows the Back key as the backspace character.
    if (message == WM_HOTKEY && HIWORD(lParam) == VK_TBACK && HasClass(focus, L"Edit")) {
        SendMessageW(focus, WM_CHAR, VK_BACK, 1);
        return;
    }
    SendMessageW(focus, message, wParam, lParam);
}
