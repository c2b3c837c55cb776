// The phone on the desktop: the device frame holding the 176x220 screen, the screens' title line,
// the phone's font and colours, and handing the keys to what the user sees.
#include "win32/shell/phone.h"

#include <commctrl.h>

#include <map>

namespace phone {

namespace {

// The device frame around the screen, with room for the keypad's edge below it.
const int kBezel = 14;
const int kChin = 28;
const int kFrameWidth = kScreenWidth + 2 * kBezel;
const int kFrameHeight = kBezel + kScreenHeight + kChin;
const COLORREF kFrameColour = RGB(48, 52, 60);

const WCHAR kFrameClass[] = L"TavonnePhone";
const WCHAR kFrameTitle[] = L"Téléphone Tavonne";

HWND openPopup = nullptr;

UINT HandOnMessage() {
    static const UINT message = RegisterWindowMessageW(L"TavonneHandActivationOn");
    return message;
}

bool IsFrame(HWND window);

// The program's own icon: the first of its icon groups.
HICON ProgramIcon() {
    LPWSTR first = nullptr;
    EnumResourceNamesW(
        nullptr, RT_GROUP_ICON,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
            *reinterpret_cast<LPWSTR*>(found) = name;
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&first));
    return first != nullptr && IS_INTRESOURCE(first) ? LoadIconW(GetModuleHandleW(nullptr), first)
                                                     : nullptr;
}

// Windows of this thread, topmost first: the first shown one that can take keys.
HWND TopmostThatTakesKeys() {
    const DWORD thread = GetCurrentThreadId();
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindowThreadProcessId(w, nullptr) == thread && !IsFrame(w) && IsWindowVisible(w) &&
            IsWindowEnabled(w))
            return w;
    }
    return nullptr;
}

// What the user sees when `activated` comes forward: an open pop-up keeps the keys; a window
// that can take them takes them; one that cannot (disabled under its alert, or not shown yet)
// hands them to its alert, else to the topmost window that can.
HWND SeenWhenActivated(HWND activated) {
    if (openPopup != nullptr && IsWindowVisible(openPopup))
        return openPopup;
    if (!IsFrame(activated) && IsWindowVisible(activated) && IsWindowEnabled(activated))
        return activated;
    if (!IsFrame(activated)) {
        const HWND alert = GetLastActivePopup(activated);
        if (alert != activated && IsWindowVisible(alert))
            return alert;
    }
    const HWND top = TopmostThatTakesKeys();
    return top != nullptr ? top : activated;
}

// Keeps the program's windows on the screen when the frame moves.
void FollowFrame(int dx, int dy) {
    const DWORD thread = GetCurrentThreadId();
    for (HWND w = GetTopWindow(nullptr); w != nullptr; w = GetWindow(w, GW_HWNDNEXT)) {
        if (GetWindowThreadProcessId(w, nullptr) != thread || IsFrame(w))
            continue;
        RECT place;
        GetWindowRect(w, &place);
        SetWindowPos(w, nullptr, place.left + dx, place.top + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void PaintFrame(HWND frame) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(frame, &paint);
    RECT area;
    GetClientRect(frame, &area);
    FillRect(dc, &area, Brush(kFrameColour));
    EndPaint(frame, &paint);
}

LRESULT CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    static POINT at = {0, 0};
    if (message == HandOnMessage()) {
        HandOnActivation(frame);
        return 0;
    }
    switch (message) {
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE)
                PostMessageW(frame, HandOnMessage(), 0, 0);
            return 0;
        case WM_MOVE: {
            RECT place;
            GetWindowRect(frame, &place);
            if (at.x != 0 || at.y != 0)
                FollowFrame(place.left - at.x, place.top - at.y);
            at = {place.left, place.top};
            return 0;
        }
        case WM_PAINT:
            PaintFrame(frame);
            return 0;
        case WM_CLOSE:
            // Closing the phone ends the program as if it had been switched off: nothing saved.
            PostQuitMessage(1);
            return 0;
    }
    return DefWindowProcW(frame, message, wParam, lParam);
}

HWND TheFrame() {
    static const HWND frame = [] {
        RegisterShellClass(kFrameClass, FrameProc);
        const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
        RECT outer = {0, 0, kFrameWidth, kFrameHeight};
        AdjustWindowRectEx(&outer, style, FALSE, 0);
        HWND made =
            CreateWindowExW(0, kFrameClass, kFrameTitle, style, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
        // The phone's glass, black where no screen is shown; readers of the layout find the
        // screen's place from it.
        CreateWindowExW(0, L"Static", nullptr, WS_CHILD | WS_VISIBLE | SS_BLACKRECT, kBezel, kBezel,
                        kScreenWidth, kScreenHeight, made, nullptr, GetModuleHandleW(nullptr),
                        nullptr);
        SendMessageW(made, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProgramIcon()));
        // Shown without taking the keys from the screen that comes next.
        ShowWindow(made, SW_SHOWNA);
        return made;
    }();
    return frame;
}

bool IsFrame(HWND window) {
    WCHAR name[32] = L"";
    return GetClassNameW(window, name, 32) > 0 && lstrcmpW(name, kFrameClass) == 0;
}

void PaintTitleLine(HWND window) {
    HDC dc = GetWindowDC(window);
    RECT line = {0, 0, kScreenWidth, kTitleHeight};
    FillRect(dc, &line, Brush(kBarColour));
    WCHAR title[128] = L"";
    GetWindowTextW(window, title, 128);
    SelectObject(dc, Font(true));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kBarInk);
    InflateRect(&line, -4, 0);
    DrawTextW(dc, title, -1, &line,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    ReleaseDC(window, dc);
}

BOOL CALLBACK UsePhoneFont(HWND control, LPARAM) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(false)), TRUE);
    return TRUE;
}

// A screen: its title on the title line above its client area, the phone's paper behind its
// text, and the activation handed on to what the user sees.
LRESULT CALLBACK OnScreenProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR) {
    if (message == HandOnMessage()) {
        HandOnActivation(window);
        return 0;
    }
    switch (message) {
        case WM_NCCALCSIZE: {
            RECT* client = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0]
                                  : reinterpret_cast<RECT*>(lParam);
            client->top += kTitleHeight;
            return 0;
        }
        case WM_NCPAINT:
            PaintTitleLine(window);
            return 0;
        case WM_NCACTIVATE:
            PaintTitleLine(window);
            return TRUE;
        case WM_SETTEXT: {
            const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
            PaintTitleLine(window);
            return result;
        }
        case WM_CTLCOLORDLG:
            return reinterpret_cast<LRESULT>(Brush(kPaper));
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, kPaper);
            SetTextColor(dc, kInk);
            return reinterpret_cast<LRESULT>(Brush(kPaper));
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) {
                const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
                if (SeenWhenActivated(window) != window)
                    PostMessageW(window, HandOnMessage(), 0, 0);
                else
                    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0,
                                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
                return result;
            }
            break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

RECT ScreenRect() {
    POINT origin = {kBezel, kBezel};
    ClientToScreen(TheFrame(), &origin);
    return {origin.x, origin.y, origin.x + kScreenWidth, origin.y + kScreenHeight};
}

HFONT Font(bool bold) {
    // Tahoma, the phone's face, at the size of its text (8 points on a 96 dpi screen).
    static const HFONT regular = CreateFontW(
        -11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    static const HFONT heavy =
        CreateFontW(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    return bold ? heavy : regular;
}

HBRUSH Brush(COLORREF colour) {
    static std::map<COLORREF, HBRUSH> brushes;
    HBRUSH& brush = brushes[colour];
    if (brush == nullptr)
        brush = CreateSolidBrush(colour);
    return brush;
}

void PutOnScreen(HWND window) {
    const HWND frame = TheFrame();
    LONG style = GetWindowLongW(window, GWL_STYLE);
    style &= ~(WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    SetWindowLongW(window, GWL_STYLE, style | WS_POPUP);
    LONG extended = GetWindowLongW(window, GWL_EXSTYLE);
    extended &= ~(WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE | WS_EX_APPWINDOW);
    SetWindowLongW(window, GWL_EXSTYLE, extended);
    // A window without an owner is owned by the frame, so that it stays in front of it.
    if (GetWindow(window, GW_OWNER) == nullptr)
        SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(frame));
    SetWindowSubclass(window, OnScreenProc, 0, 0);
    EnumChildWindows(window, UsePhoneFont, 0);
    const RECT screen = ScreenRect();
    SetWindowPos(window, nullptr, screen.left, screen.top, kScreenWidth, kScreenHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void SetOpenPopup(HWND popup) {
    openPopup = popup;
}

HWND FocusBeneathPopup() {
    return openPopup != nullptr ? static_cast<HWND>(GetPropW(openPopup, kReturnFocusProperty))
                                : nullptr;
}

bool HandOnActivation(HWND activated) {
    const HWND front = SeenWhenActivated(activated);
    if (front == activated)
        return false;
    SetForegroundWindow(front);
    return true;
}

bool RegisterShellClass(const WCHAR* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSW type = {};
    type.lpfnWndProc = procedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = background;
    type.lpszClassName = name;
    return RegisterClassW(&type) != 0;
}

}  // namespace phone
