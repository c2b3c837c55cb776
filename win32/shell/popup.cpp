// The phone's pop-ups: a list box of entries drawn in the phone's font, in a window of its own over
// the screen, with a message loop of its own.
#include "win32/shell/popup.h"

#include <algorithm>

#include "win32/shell/phone.h"

namespace {

const WCHAR kPopupClass[] = L"TavonnePopup";
const int kRowPadding = 4;

int RowHeight() {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, phone::Font(false));
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return metrics.tmHeight + kRowPadding;
}

int TextWidth(const std::wstring& text) {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, phone::Font(false));
    SIZE size = {};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

void DrawRow(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1))
        return;
    const bool picked = (item.itemState & ODS_SELECTED) != 0;
    FillRect(item.hDC, &item.rcItem, phone::Brush(picked ? phone::kHighlight : phone::kPaper));
    const LRESULT length = SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
    std::wstring text(length > 0 ? length + 1 : 1, L'\0');
    SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
    SelectObject(item.hDC, phone::Font(false));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, picked ? phone::kHighlightInk : phone::kInk);
    RECT line = item.rcItem;
    InflateRect(&line, -4, 0);
    DrawTextW(item.hDC, text.c_str(), -1, &line,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
}

LRESULT CALLBACK PopupProc(HWND popup, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_MEASUREITEM:
            reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = RowHeight();
            return TRUE;
        case WM_DRAWITEM:
            DrawRow(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_SETFOCUS:
            // The keys go to the list inside.
            SetFocus(GetWindow(popup, GW_CHILD));
            return 0;
        case WM_MOUSEACTIVATE:
            return MA_ACTIVATE;
    }
    return DefWindowProcW(popup, message, wParam, lParam);
}

bool RegisterPopup() {
    static const bool registered =
        phone::RegisterShellClass(kPopupClass, PopupProc, phone::Brush(phone::kPaper));
    return registered;
}

// Where the pop-up lies: a list fills the screen's client area above the soft-key bar; a menu
// rises from the bar at the right, as wide as its longest entry.
RECT PlaceOf(HWND owner, const std::vector<std::wstring>& entries, PopupKind kind) {
    RECT client;
    GetClientRect(owner, &client);
    MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
    client.bottom -= phone::kMenuBarHeight;
    if (kind == PopupKind::List)
        return client;
    int width = 0;
    for (const std::wstring& entry : entries)
        width = std::max(width, TextWidth(entry));
    width = std::min<int>(width + 2 * 4 + 2 + 8, client.right - client.left);
    const int height = std::min<int>(static_cast<int>(entries.size()) * RowHeight() + 2,
                                     client.bottom - client.top);
    return {client.right - width, client.bottom - height, client.right, client.bottom};
}

// What a key does in the open pop-up: the new highlighted row, the picked one, or closing.
struct Outcome {
    int highlighted;
    bool ends = false;
    int picked = -1;
};

Outcome KeyInPopup(WPARAM key, int highlighted, int count, PopupKind kind) {
    const bool menu = kind == PopupKind::Menu;
    switch (key) {
        case VK_UP:
            if (menu)
                return {(highlighted + count - 1) % count};
            return {std::max(highlighted - 1, 0)};
        case VK_DOWN:
            if (menu)
                return {(highlighted + 1) % count};
            return {std::min(highlighted + 1, count - 1)};
        case VK_RETURN:
            return {highlighted, true, highlighted};
        case VK_F1:  // the left soft key: "OK" of an open list; a menu stays open
            return menu ? Outcome{highlighted} : Outcome{highlighted, true, highlighted};
        case VK_F2:  // the right soft key closes, as the Back key (Backspace or Escape) does
        case VK_BACK:
        case VK_ESCAPE:
            return {highlighted, true};
    }
    if (menu && key >= '1' && key <= '9' && static_cast<int>(key - '1') < count)
        return {highlighted, true, static_cast<int>(key - '1')};
    return {highlighted};
}

}  // namespace

int RunPopup(HWND owner, const std::vector<std::wstring>& entries, int selected, PopupKind kind) {
    const int count = static_cast<int>(entries.size());
    if (count == 0 || !RegisterPopup())
        return -1;
    const RECT place = PlaceOf(owner, entries, kind);
    const HWND returnFocus = GetFocus();
    const DWORD border = kind == PopupKind::Menu ? WS_BORDER : 0;
    HWND popup =
        CreateWindowExW(WS_EX_TOOLWINDOW, kPopupClass, nullptr, WS_POPUP | border, place.left,
                        place.top, place.right - place.left, place.bottom - place.top, owner,
                        nullptr, GetModuleHandleW(nullptr), nullptr);
    if (popup == nullptr)
        return -1;
    // Whole rows only: the last one shown is never cut.
    RECT inside;
    GetClientRect(popup, &inside);
    const DWORD scroll = kind == PopupKind::List ? WS_VSCROLL : 0;
    HWND list = CreateWindowExW(0, L"ListBox", nullptr,
                                WS_CHILD | WS_VISIBLE | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                                    LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | scroll,
                                0, 0, inside.right, inside.bottom - inside.bottom % RowHeight(),
                                popup, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (list == nullptr) {
        DestroyWindow(popup);
        return -1;
    }
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(phone::Font(false)), FALSE);
    for (const std::wstring& entry : entries)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    int highlighted = selected >= 0 && selected < count ? selected : 0;
    SendMessageW(list, LB_SETCURSEL, highlighted, 0);
    // What a reader of the screen needs: the control that keeps the focus beneath, and whether
    // the pop-up covers the screen.
    SetPropW(popup, phone::kReturnFocusProperty, returnFocus);
    if (kind == PopupKind::List)
        SetPropW(popup, L"TavonneFullList", popup);
    phone::SetOpenPopup(popup);
    ShowWindow(popup, SW_SHOW);
    SetFocus(list);

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
        const bool ours = message.hwnd == list || message.hwnd == popup;
        if (ours && message.message == WM_KEYDOWN) {
            const Outcome outcome = KeyInPopup(message.wParam, highlighted, count, kind);
            if (outcome.highlighted != highlighted) {
                highlighted = outcome.highlighted;
                SendMessageW(list, LB_SETCURSEL, highlighted, 0);
            }
            open = !outcome.ends;
            picked = outcome.picked;
            continue;
        }
        // Nothing is typed into a pop-up: the keys above are all it takes.
        if (ours && message.message == WM_CHAR)
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
        // A row clicked twice is picked.
        if (ours && message.message == WM_LBUTTONDBLCLK) {
            picked = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
            open = false;
        } else if (ours && message.message == WM_LBUTTONUP) {
            highlighted = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
        }
    }
    phone::SetOpenPopup(nullptr);
    DestroyWindow(popup);
    return picked;
}
