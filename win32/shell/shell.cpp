// The phone's shell on desktop Windows: full-screen dialogs, the soft-key menu bar with its pop-up
// menu, the Back key, and the phone's keys on the standard controls.
#include <aygshell.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "win32/shell/phone.h"
#include "win32/shell/popup.h"

namespace {

const WCHAR kMenuBarClass[] = L"TavonneMenuBar";
const WCHAR kMenuBarProperty[] = L"TavonneMenuBar";

// Posted by the key hook to the menu bar, so that menus open outside the hook.
const UINT kSoftKey = WM_APP + 1;   // wParam: 0 left, 1 right
const UINT kOpenList = WM_APP + 2;  // lParam: the spinner's list

// The width of a spinner's left and right marks.
const int kMarkWidth = 12;

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
    SetWindowPos(bar, HWND_TOP, 0, client.bottom - phone::kMenuBarHeight, client.right,
                 phone::kMenuBarHeight, SWP_NOACTIVATE);
}

// The window's text holds the two soft-key words, for anyone reading the screen.
void ShowLabels(HWND bar, const std::wstring& left, const std::wstring& right) {
    SetWindowTextW(bar, right.empty() ? left.c_str() : (left + L"\t" + right).c_str());
    InvalidateRect(bar, nullptr, TRUE);
}

void ShowOwnLabels(HWND bar) {
    const std::vector<Button>& buttons = BarOf(bar)->buttons;
    ShowLabels(bar, buttons.empty() ? L"" : buttons[0].label,
               buttons.size() > 1 ? buttons[1].label : L"");
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

// The action key on a spinner shows its whole list to pick from, with "OK" and "Annuler" on the
// soft keys.
void OpenSpinnerList(HWND barWindow, HWND list) {
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; ++row) {
        std::wstring entry(SendMessageW(list, LB_GETTEXTLEN, row, 0) + 1, L'\0');
        entry.resize(SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(entry.data())));
        entries.push_back(entry);
    }
    ShowLabels(barWindow, L"OK", L"Annuler");
    const int row =
        RunPopup(BarOf(barWindow)->screen, entries,
                 static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0)), PopupKind::List);
    ShowOwnLabels(barWindow);
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
        const int picked = RunPopup(bar.screen, items, 0, PopupKind::Menu);
        SetFocus(focus);
        if (picked < 0)
            return;
        command = commands[picked];
    }
    SendMessageW(bar.screen, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void PaintMenuBar(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, phone::Brush(phone::kBarColour));
    SelectObject(dc, phone::Font(true));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, phone::kBarInk);
    InflateRect(&area, -4, 0);
    WCHAR text[128] = L"";
    GetWindowTextW(window, text, 128);
    const std::wstring labels = text;
    const size_t tab = labels.find(L'\t');
    const std::wstring left = labels.substr(0, tab);
    const std::wstring right = tab == labels.npos ? L"" : labels.substr(tab + 1);
    DrawTextW(dc, left.c_str(), -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    DrawTextW(dc, right.c_str(), -1, &area, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    EndPaint(window, &paint);
}

LRESULT CALLBACK MenuBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MenuBar* bar = BarOf(window);
    switch (message) {
        case kSoftKey:
            PressSoftKey(*bar, wParam);
            return 0;
        case kOpenList:
            OpenSpinnerList(window, reinterpret_cast<HWND>(lParam));
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
        case WM_LBUTTONUP:
            // A click on a soft key's half of the bar presses it.
            if (bar != nullptr) {
                RECT area;
                GetClientRect(window, &area);
                PostMessageW(window, kSoftKey, LOWORD(lParam) < area.right / 2 ? 0 : 1, 0);
            }
            return 0;
        case WM_PAINT:
            PaintMenuBar(window);
            return 0;
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

// A menu bar window with these buttons at the bottom of `screen`.
HWND CreateMenuBarWindow(HWND screen, std::unique_ptr<MenuBar> bar) {
    static const bool registered = phone::RegisterShellClass(kMenuBarClass, MenuBarProc);
    if (!registered)
        return nullptr;
    bar->screen = screen;
    HWND window = CreateWindowExW(0, kMenuBarClass, L"", WS_CHILD, 0, 0, 0, 0, screen, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        return nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(bar.release()));
    SetPropW(screen, kMenuBarProperty, window);
    ShowOwnLabels(window);
    PlaceMenuBar(window);
    return window;
}

// Moves the focus to the previous or next tab stop of the screen, as the phone's up and down do.
void MoveFocus(HWND screen, bool up) {
    HWND next = GetNextDlgTabItem(screen, GetFocus(), up);
    if (next != nullptr)
        SetFocus(next);
}

// The phone's keys, before the dialog manager or a control sees them; true when taken here. The
// desktop's Backspace and Escape are both the phone's Back key.
bool PhoneKey(MSG& message) {
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
        case VK_BACK:
        case VK_TBACK:
            if ((bar.backFlags & (SHMBOF_NODEFAULT | SHMBOF_NOTIFY)) == 0) {
                message.wParam = VK_TBACK;  // the dialog manager turns it into IDCANCEL
                return false;
            }
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
        case VK_TSTAR:
        case VK_TPOUND:
            // The keypad's star and pound type their characters, as its digits do.
            if (focus != nullptr)
                PostMessageW(focus, WM_CHAR, message.wParam == VK_TSTAR ? L'*' : L'#', 1);
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

void AdoptAlert(HWND box);

// A dialog that was not set up as a phone screen (a message box) becomes the phone's alert once
// it has initialised.
LRESULT CALLBACK AfterMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_INITDIALOG &&
        MenuBarOfScreen(message->hwnd) == nullptr &&
        (GetWindowLongW(message->hwnd, GWL_STYLE) & WS_CHILD) == 0)
        AdoptAlert(message->hwnd);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void HookKeysOfThisThread() {
    static thread_local HHOOK keys = nullptr;
    static thread_local HHOOK alerts = nullptr;
    if (keys == nullptr)
        keys = SetWindowsHookExW(WH_GETMESSAGE, KeyHook, nullptr, GetCurrentThreadId());
    if (alerts == nullptr)
        alerts =
            SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessageHook, nullptr, GetCurrentThreadId());
}

// Whether the character before `at` in `text` is the second half of a surrogate pair.
bool PairEndsAt(const std::wstring& text, DWORD at) {
    return at >= 2 && IS_LOW_SURROGATE(text[at - 1]) && IS_HIGH_SURROGATE(text[at - 2]);
}

bool PairStartsAt(const std::wstring& text, DWORD at) {
    return at + 1 < text.size() && IS_HIGH_SURROGATE(text[at]) && IS_LOW_SURROGATE(text[at + 1]);
}

std::wstring EditText(HWND edit) {
    std::wstring text(GetWindowTextLengthW(edit) + 1, L'\0');
    text.resize(GetWindowTextW(edit, text.data(), static_cast<int>(text.size())));
    return text;
}

DWORD Caret(HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return end;
}

// Removes the characters from `from` to `to` (a character outside the Basic Multilingual Plane
// is one, in two UTF-16 units).
void RemoveText(HWND edit, DWORD from, DWORD to) {
    SendMessageW(edit, EM_SETSEL, from, to);
    SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
}

// A key of the phone's edit field that could split a surrogate pair, done whole; false for the
// others.
bool KeepPairsWhole(HWND edit, UINT message, WPARAM key) {
    const std::wstring text = EditText(edit);
    const DWORD caret = Caret(edit);
    const bool before = PairEndsAt(text, caret), after = PairStartsAt(text, caret);
    if (message == WM_CHAR && key == VK_BACK && caret > 0) {
        RemoveText(edit, caret - (before ? 2 : 1), caret);
        return true;
    }
    if (message != WM_KEYDOWN)
        return false;
    switch (key) {
        case VK_LEFT:
            if (caret > 0)
                SendMessageW(edit, EM_SETSEL, caret - (before ? 2 : 1), caret - (before ? 2 : 1));
            return true;
        case VK_RIGHT:
            if (caret < text.size())
                SendMessageW(edit, EM_SETSEL, caret + (after ? 2 : 1), caret + (after ? 2 : 1));
            return true;
        case VK_DELETE:
            if (caret < text.size())
                RemoveText(edit, caret, caret + (after ? 2 : 1));
            return true;
    }
    return false;
}

// The phone's edit field keeps its caret at the end of new text and never selects all of it when
// it gets the focus, so that the Back key deletes one character; no key splits a character in
// two, and a character that would pass the length limit is left out whole.
LRESULT CALLBACK PhoneEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR pending) {
    switch (message) {
        case WM_GETDLGCODE:
            return DefSubclassProc(edit, message, wParam, lParam) & ~DLGC_HASSETSEL;
        case WM_SETTEXT: {
            const LRESULT result = DefSubclassProc(edit, message, wParam, lParam);
            const int end = GetWindowTextLengthW(edit);
            SendMessageW(edit, EM_SETSEL, end, end);
            return result;
        }
        case WM_KEYDOWN:
            if (KeepPairsWhole(edit, message, wParam))
                return 0;
            break;
        case WM_CHAR:
            // The first half of a pair waits for the second, and both go in together or not at
            // all.
            if (IS_HIGH_SURROGATE(wParam)) {
                SetWindowSubclass(edit, PhoneEditProc, 0, wParam);
                return 0;
            }
            if (IS_LOW_SURROGATE(wParam)) {
                SetWindowSubclass(edit, PhoneEditProc, 0, 0);
                const LRESULT limit = SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
                if (pending == 0 || GetWindowTextLengthW(edit) + 2 > limit)
                    return 0;
                const WCHAR pair[] = {static_cast<WCHAR>(pending), static_cast<WCHAR>(wParam), 0};
                SendMessageW(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(pair));
                return 0;
            }
            if (KeepPairsWhole(edit, message, wParam))
                return 0;
            break;
    }
    return DefSubclassProc(edit, message, wParam, lParam);
}

void PaintMark(HDC dc, int x, int middle, bool pointsLeft) {
    const int half = 4;
    const POINT points[] = {
        {pointsLeft ? x : x + half, middle},
        {pointsLeft ? x + half : x, middle - half},
        {pointsLeft ? x + half : x, middle + half},
    };
    Polygon(dc, points, 3);
}

// A spinner shows its current entry on one row between the left and right marks; the focused one
// is highlighted, also beneath the menu it will take the command of.
void PaintSpinner(HWND list) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(list, &paint);
    RECT area;
    GetClientRect(list, &area);
    const bool focused = GetFocus() == list || phone::FocusBeneathPopup() == list;
    const COLORREF ink = focused ? phone::kHighlightInk : phone::kInk;
    FillRect(dc, &area, phone::Brush(focused ? phone::kHighlight : phone::kPaper));
    if (!focused)
        FrameRect(dc, &area, phone::Brush(RGB(160, 160, 160)));
    SelectObject(dc, phone::Brush(ink));
    SelectObject(dc, GetStockObject(NULL_PEN));
    const int middle = (area.top + area.bottom) / 2;
    PaintMark(dc, area.left + 3, middle, true);
    PaintMark(dc, area.right - 3 - 5, middle, false);
    const LRESULT row = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (row != LB_ERR) {
        std::wstring entry(SendMessageW(list, LB_GETTEXTLEN, row, 0) + 1, L'\0');
        entry.resize(SendMessageW(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(entry.data())));
        RECT text = {area.left + kMarkWidth, area.top, area.right - kMarkWidth, area.bottom};
        SelectObject(dc, phone::Font(false));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ink);
        DrawTextW(dc, entry.c_str(), -1, &text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    }
    EndPaint(list, &paint);
}

LRESULT CALLBACK SpinnerListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    switch (message) {
        case WM_PAINT:
            PaintSpinner(list);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_LBUTTONDOWN: {
            // A click on a mark turns the spinner; between them it opens the list.
            SetFocus(list);
            RECT area;
            GetClientRect(list, &area);
            const int x = static_cast<short>(LOWORD(lParam));
            if (x < kMarkWidth)
                TurnSpinner(list, -1);
            else if (x >= area.right - kMarkWidth)
                TurnSpinner(list, +1);
            else if (HWND bar = MenuBarOfScreen(GetAncestor(list, GA_ROOT)))
                PostMessageW(bar, kOpenList, 0, reinterpret_cast<LPARAM>(list));
            return 0;
        }
        case WM_LBUTTONDBLCLK:
        case WM_MOUSEWHEEL:
            return 0;
    }
    const LRESULT result = DefSubclassProc(list, message, wParam, lParam);
    // Whatever changes the entry or the focus shows on the one row.
    switch (message) {
        case LB_SETCURSEL:
        case LB_RESETCONTENT:
        case LB_ADDSTRING:
        case LB_INSERTSTRING:
        case LB_DELETESTRING:
        case WM_CHAR:
        case WM_KEYDOWN:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ENABLE:
            InvalidateRect(list, nullptr, FALSE);
            break;
    }
    return result;
}

// A spinner: one row as wide as the list and its up-down together, which the marks stand for.
void AdoptSpinner(HWND list, HWND upDown) {
    RECT listPlace, upDownPlace;
    GetWindowRect(list, &listPlace);
    GetWindowRect(upDown, &upDownPlace);
    MapWindowPoints(nullptr, GetParent(list), reinterpret_cast<POINT*>(&listPlace), 2);
    MapWindowPoints(nullptr, GetParent(list), reinterpret_cast<POINT*>(&upDownPlace), 2);
    ShowWindow(upDown, SW_HIDE);
    const int right = std::max(listPlace.right, upDownPlace.right);
    SetWindowPos(list, nullptr, listPlace.left, listPlace.top, right - listPlace.left,
                 listPlace.bottom - listPlace.top, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client;
    GetClientRect(list, &client);
    SendMessageW(list, LB_SETITEMHEIGHT, 0, client.bottom);
    SetWindowSubclass(list, SpinnerListProc, 0, 0);
}

// A label whose text does not fit its place is widened up to the screen's right edge.
void FitLabel(HWND label) {
    if ((GetWindowLongW(label, GWL_STYLE) & SS_TYPEMASK) > SS_RIGHT)
        return;
    RECT place;
    GetWindowRect(label, &place);
    MapWindowPoints(nullptr, GetParent(label), reinterpret_cast<POINT*>(&place), 2);
    RECT screen;
    GetClientRect(GetParent(label), &screen);
    WCHAR text[512] = L"";
    GetWindowTextW(label, text, 512);
    HDC dc = GetDC(label);
    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, place.right - place.left, 0};
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ReleaseDC(label, dc);
    if (needed.bottom > place.bottom - place.top)
        SetWindowPos(label, nullptr, 0, 0, screen.right - 2 - place.left, place.bottom - place.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CALLBACK AdoptControl(HWND control, LPARAM) {
    if (HasClass(control, L"Edit"))
        SetWindowSubclass(control, PhoneEditProc, 0, 0);
    else if (HasClass(control, L"Static"))
        FitLabel(control);
    else if (HWND upDown = SpinnerOf(control))
        AdoptSpinner(control, upDown);
    return TRUE;
}

// The phone shows a message box as a screen of its own: its caption on the title line, its text,
// and "OK" on the left soft key.
void AdoptAlert(HWND box) {
    phone::PutOnScreen(box);
    auto bar = std::make_unique<MenuBar>();
    bar->buttons.push_back(Button{IDOK, L"OK"});
    const HWND barWindow = CreateMenuBarWindow(box, std::move(bar));
    RECT client;
    GetClientRect(box, &client);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == barWindow)
            continue;
        if (HasClass(child, L"Static") &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            SetWindowPos(child, nullptr, 6, 6, client.right - 12,
                         client.bottom - phone::kMenuBarHeight - 12, SWP_NOZORDER | SWP_NOACTIVATE);
        else
            ShowWindow(child, SW_HIDE);
    }
    ShowWindow(barWindow, SW_SHOW);
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
        phone::PutOnScreen(screen);
        if (HWND bar = MenuBarOfScreen(screen))
            PlaceMenuBar(bar);
    }
    EnumChildWindows(screen, AdoptControl, 0);
    HookKeysOfThisThread();
    return TRUE;
}

extern "C" BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
    if (info == nullptr || info->hwndParent == nullptr || !commonControlsReady)
        return FALSE;
    auto bar = std::make_unique<MenuBar>();
    if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
        if (!ReadMenuBar(info->hInstRes, info->nToolBarId, bar->buttons))
            return FALSE;
        bar->menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId));
    }
    HWND window = CreateMenuBarWindow(info->hwndParent, std::move(bar));
    if (window == nullptr)
        return FALSE;
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
