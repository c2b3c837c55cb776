// Windows and messages: the window table and classes, CreateWindowExW and DestroyWindow, the
// message queue and SendMessageW/PostMessageW/GetMessageW, focus, activation and window text.
#include "platform/user32/window_manager.h"
#include "platform/user32/window_state.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <unordered_map>

#include <aygshell.h>

#include "platform/user32/keys.h"
#include "base/text.h"
#include "platform/user32/window_classes.h"

#ifndef ERROR_CANNOT_FIND_WND_CLASS
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#endif
#ifndef ERROR_CLASS_ALREADY_EXISTS
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#endif
#ifndef ERROR_TLW_WITH_WSCHILD
#define ERROR_TLW_WITH_WSCHILD 1406L
#endif
#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413L
#endif

namespace wm {

namespace {

// Out of line, so that Sys(), which every message calls several times, is a test and a load.
[[gnu::noinline]] System* MakeSystem() {
    static System system;
    return &system;
}

}  // namespace

System& Sys() {
    static System* const system = MakeSystem();
    return *system;
}

namespace {

// Counts up for the life of the process, so no handle value is ever given twice.
uint64_t nextSerial = 1;

HWND NewHandle() {
    return reinterpret_cast<HWND>(HandleValue(static_cast<uint64_t>(getpid()), nextSerial++));
}

void AddClass(std::u16string name, WNDPROC proc, ATOM atom) {
    System& sys = Sys();
    sys.classes.push_back({std::move(name), atom, proc, nullptr, true});
}

void EnsureSystemClasses() {
    System& sys = Sys();
    if (!sys.classes.empty())
        return;
    AddClass(classes::kDialog, DefDlgProcW, 0x8002);
    AddClass(classes::kButton, classes::ButtonProc, 0x0080);
    AddClass(classes::kEdit, classes::EditProc, 0x0081);
    AddClass(classes::kStatic, classes::StaticProc, 0x0082);
    AddClass(classes::kListBox, classes::ListBoxProc, 0x0083);
    AddClass(classes::kUpDown, classes::UpDownProc, sys.nextAtom++);
    AddClass(classes::kMenuBar, classes::MenuBarProc, sys.nextAtom++);
    AddClass(classes::kMessageBox, classes::MessageBoxProc, sys.nextAtom++);
}

const WindowClass* FindClass(LPCWSTR name) {
    EnsureSystemClasses();
    for (const WindowClass& windowClass : Sys().classes) {
        if (IS_INTRESOURCE(name)) {
            if (windowClass.atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name)))
                return &windowClass;
        } else if (text::EqualNoCase(windowClass.name, std::u16string_view(name))) {
            return &windowClass;
        }
    }
    return nullptr;
}

std::shared_ptr<Window> Hold(HWND window) {
    System& sys = Sys();
    const std::shared_ptr<Window>* found = sys.windows.Find(window);
    return found == nullptr ? nullptr : *found;
}

void MoveToFront(HWND topLevel) {
    auto& list = Sys().topLevels;
    list.erase(std::remove(list.begin(), list.end(), topLevel), list.end());
    list.insert(list.begin(), topLevel);
}

void KillFocus() {
    System& sys = Sys();
    HWND old = sys.focus;
    if (old == nullptr)
        return;
    sys.focus = nullptr;
    SendMessageW(old, WM_KILLFOCUS, 0, 0);
}

bool MatchesFilter(const MSG& message, HWND window, UINT low, UINT high) {
    if (low != 0 || high != 0) {
        if (message.message < low || message.message > high)
            return false;
    }
    if (window == nullptr)
        return true;
    // A filter of -1 takes only messages posted to no window.
    if (window == reinterpret_cast<HWND>(-1))
        return message.hwnd == nullptr;
    return message.hwnd != nullptr && IsDescendant(window, message.hwnd);
}

DWORD Now() {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

BOOL DestroyOne(HWND window) {
    System& sys = Sys();
    std::shared_ptr<Window> held = Hold(window);
    if (!held) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (held->destroying)
        return TRUE;
    held->destroying = true;
    // Owned windows (a screen's menu bar, a message box) go before their owner.
    for (HWND owned : OwnedWindows(window))
        DestroyOne(owned);
    if (sys.focus != nullptr && IsDescendant(window, sys.focus))
        KillFocus();
    held->style &= ~WS_VISIBLE;
    SendMessageW(window, WM_DESTROY, 0, 0);
    std::vector<HWND> children = held->children;
    for (HWND child : children)
        DestroyOne(child);
    SendMessageW(window, WM_NCDESTROY, 0, 0);

    if (held->IsChild()) {
        if (Window* parent = Lookup(held->parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
        }
    } else {
        auto& list = sys.topLevels;
        list.erase(std::remove(list.begin(), list.end(), window), list.end());
    }
    sys.windows.Erase(window);
    std::erase_if(sys.queue, [window](const MSG& message) { return message.hwnd == window; });
    if (sys.keyCapture == window)
        sys.keyCapture = nullptr;
    if (sys.foreground == window) {
        sys.foreground = nullptr;
        ActivateNext();
    }
    return TRUE;
}

}  // namespace

const Window* Find(HWND window) {
    return Lookup(window);
}

Window* Lookup(HWND window) {
    if (window == nullptr)
        return nullptr;
    System& sys = Sys();
    const std::shared_ptr<Window>* found = sys.windows.Find(window);
    return found == nullptr ? nullptr : found->get();
}

Window* Check(HWND window) {
    Window* found = Lookup(window);
    if (found == nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return found;
}

std::vector<HWND> TopLevelWindows() {
    return Sys().topLevels;
}

HWND Foreground() {
    return Sys().foreground;
}

HWND Focus() {
    return Sys().focus;
}

HWND KeyCapture() {
    return Sys().keyCapture;
}

const Display& TheDisplay() {
    static const Display display;
    return display;
}

HWND TopLevelOf(HWND window) {
    Window* current = Lookup(window);
    while (current != nullptr && current->IsChild()) {
        Window* parent = Lookup(current->parent);
        if (parent == nullptr)
            break;
        current = parent;
    }
    return current == nullptr ? nullptr : current->handle;
}

bool IsDescendant(HWND ancestor, HWND window) {
    for (Window* current = Lookup(window); current != nullptr;) {
        if (current->handle == ancestor)
            return true;
        if (!current->IsChild())
            return false;
        current = Lookup(current->parent);
    }
    return false;
}

bool HasClass(HWND window, std::u16string_view className) {
    const Window* found = Lookup(window);
    return found != nullptr && text::EqualNoCase(found->className, className);
}

std::vector<HWND> OwnedWindows(HWND owner) {
    std::vector<HWND> owned;
    for (HWND topLevel : Sys().topLevels) {
        if (Window* window = Lookup(topLevel); window != nullptr && window->owner == owner)
            owned.push_back(topLevel);
    }
    return owned;
}

void Activate(HWND topLevel) {
    System& sys = Sys();
    Window* window = Lookup(topLevel);
    if (window == nullptr || window->IsChild())
        return;
    MoveToFront(topLevel);
    if (sys.foreground == topLevel)
        return;
    HWND old = sys.foreground;
    sys.foreground = topLevel;
    if (old != nullptr)
        SendMessageW(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(topLevel));
    if (sys.focus != nullptr && !IsDescendant(topLevel, sys.focus))
        KillFocus();
    if (sys.foreground == topLevel)
        SendMessageW(topLevel, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
}

void ActivateNext() {
    System& sys = Sys();
    for (HWND topLevel : sys.topLevels) {
        Window* window = Lookup(topLevel);
        if (window != nullptr && window->Visible() && !window->destroying &&
            !(window->exStyle & WS_EX_NOACTIVATE) && topLevel != sys.foreground) {
            Activate(topLevel);
            return;
        }
    }
    sys.foreground = nullptr;
    KillFocus();
}

void NotifyParent(HWND control, WORD code) {
    Window* window = Lookup(control);
    if (window == nullptr || !window->IsChild())
        return;
    SendMessageW(window->parent, WM_COMMAND, MAKEWPARAM(window->id, code),
                 reinterpret_cast<LPARAM>(control));
}

void CaptureKeys(HWND window) {
    Sys().keyCapture = window;
}

void ReleaseKeys(HWND window) {
    System& sys = Sys();
    if (sys.keyCapture == window)
        sys.keyCapture = nullptr;
}

void HandleMessage(MSG& message) {
    HWND topLevel = TopLevelOf(message.hwnd);
    if (StateOf<DialogState>(topLevel) != nullptr && IsDialogMessageW(topLevel, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void ProcessPendingMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        HandleMessage(message);
    }
}

std::size_t CopyText(std::u16string_view text, LPWSTR buffer, std::size_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    std::size_t count = std::min(text.size(), size - 1);
    std::copy_n(text.data(), count, buffer);
    buffer[count] = 0;
    return count;
}

DWORD ProcessOf(HWND window) {
    return static_cast<DWORD>(ProcessOfHandle(reinterpret_cast<uintptr_t>(window)));
}

void SetRemoteWindows(RemoteWindows remote) {
    Sys().remote = std::move(remote);
}

}  // namespace wm

using wm::Check;
using wm::Lookup;
using wm::Sys;
using wm::Window;

// ---- Classes and windows ----

extern "C" ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass) {
    if (lpWndClass == nullptr || lpWndClass->lpfnWndProc == nullptr ||
        lpWndClass->lpszClassName == nullptr || IS_INTRESOURCE(lpWndClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (wm::FindClass(lpWndClass->lpszClassName) != nullptr) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto& sys = Sys();
    ATOM atom = sys.nextAtom++;
    sys.classes.push_back(
        {lpWndClass->lpszClassName, atom, lpWndClass->lpfnWndProc, lpWndClass->hInstance, false});
    return atom;
}

extern "C" BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance) {
    const auto* found = wm::FindClass(lpClassName);
    if (found == nullptr || found->system) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return FALSE;
    }
    auto& classes = Sys().classes;
    classes.erase(classes.begin() + (found - classes.data()));
    return TRUE;
}

extern "C" HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                                       DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                       HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                       LPVOID lpParam) {
    const auto* windowClass = lpClassName == nullptr ? nullptr : wm::FindClass(lpClassName);
    if (windowClass == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (hWndParent != nullptr && Check(hWndParent) == nullptr)
        return nullptr;
    if ((dwStyle & WS_CHILD) && hWndParent == nullptr) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    auto window = std::make_shared<Window>();
    HWND handle = wm::NewHandle();
    window->handle = handle;
    window->className = windowClass->name;
    window->proc = windowClass->proc;
    window->instance = hInstance;
    window->style = dwStyle;
    window->exStyle = dwExStyle;
    if (lpWindowName != nullptr)
        window->text = lpWindowName;
    window->x = X;
    window->y = Y;
    window->cx = nWidth;
    window->cy = nHeight;
    auto& sys = Sys();
    if (dwStyle & WS_CHILD) {
        window->parent = hWndParent;
        window->id = reinterpret_cast<UINT_PTR>(hMenu);
        Lookup(hWndParent)->children.push_back(handle);
    } else {
        // The owner of a top-level window is always a top-level window.
        window->owner = wm::TopLevelOf(hWndParent);
        sys.topLevels.insert(sys.topLevels.begin(), handle);
    }
    sys.windows.Add(handle, std::move(window));

    CREATESTRUCTW create{lpParam,
                         hInstance,
                         hMenu,
                         hWndParent,
                         nHeight,
                         nWidth,
                         Y,
                         X,
                         static_cast<LONG>(dwStyle),
                         lpWindowName,
                         lpClassName,
                         dwExStyle};
    if (SendMessageW(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        wm::DestroyOne(handle);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Window* created = Lookup(handle);
    if (created != nullptr && !created->IsChild() && created->Visible() &&
        !(created->exStyle & WS_EX_NOACTIVATE))
        wm::Activate(handle);
    return created == nullptr ? nullptr : handle;
}

extern "C" BOOL WINAPI DestroyWindow(HWND hWnd) {
    return wm::DestroyOne(hWnd);
}

extern "C" LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    Window* window = Lookup(hWnd);
    if (window == nullptr)
        return 0;
    switch (Msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_SETTEXT:
            window->text = lParam == 0 ? std::u16string() : reinterpret_cast<LPCWSTR>(lParam);
            return TRUE;
        case WM_GETTEXT:
            return static_cast<LRESULT>(
                wm::CopyText(window->text, reinterpret_cast<LPWSTR>(lParam), wParam));
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(window->text.size());
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_ACTIVATE:
            // An activated top-level window without a focused descendant takes the focus.
            if (LOWORD(wParam) != WA_INACTIVE && !window->IsChild() &&
                !wm::IsDescendant(hWnd, Sys().focus))
                SetFocus(hWnd);
            return 0;
        default:
            return 0;
    }
}

extern "C" BOOL WINAPI IsWindow(HWND hWnd) {
    return Lookup(hWnd) != nullptr ? TRUE : FALSE;
}

extern "C" BOOL WINAPI IsWindowVisible(HWND hWnd) {
    for (Window* window = Lookup(hWnd); window != nullptr;) {
        if (!window->Visible())
            return FALSE;
        if (!window->IsChild())
            return TRUE;
        window = Lookup(window->parent);
    }
    return FALSE;
}

extern "C" BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    Window* window = Check(hWnd);
    return window != nullptr && window->Enabled() ? TRUE : FALSE;
}

extern "C" BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return FALSE;
    BOOL wasDisabled = window->Enabled() ? FALSE : TRUE;
    if (bEnable)
        window->style &= ~WS_DISABLED;
    else
        window->style |= WS_DISABLED;
    if (wasDisabled != (bEnable ? FALSE : TRUE))
        SendMessageW(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    return wasDisabled;
}

extern "C" BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return FALSE;
    BOOL wasVisible = window->Visible() ? TRUE : FALSE;
    if (nCmdShow == SW_HIDE) {
        window->style &= ~WS_VISIBLE;
        if (wasVisible)
            SendMessageW(hWnd, WM_SHOWWINDOW, FALSE, 0);
        if (Sys().foreground == hWnd)
            wm::ActivateNext();
        return wasVisible;
    }
    window->style |= WS_VISIBLE;
    if (!wasVisible)
        SendMessageW(hWnd, WM_SHOWWINDOW, TRUE, 0);
    window = Lookup(hWnd);
    bool activates =
        nCmdShow != SW_SHOWNA && nCmdShow != SW_SHOWNOACTIVATE && nCmdShow != SW_SHOWMINNOACTIVE;
    if (window != nullptr && !window->IsChild() && activates &&
        !(window->exStyle & WS_EX_NOACTIVATE))
        wm::Activate(hWnd);
    return wasVisible;
}

extern "C" HWND WINAPI GetParent(HWND hWnd) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return nullptr;
    if (window->IsChild())
        return window->parent;
    // A pop-up window's parent is its owner.
    return (window->style & WS_POPUP) ? window->owner : nullptr;
}

extern "C" BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString) {
    if (Check(hWnd) == nullptr)
        return FALSE;
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

extern "C" int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount) {
    if (Check(hWnd) == nullptr)
        return 0;
    if (lpString == nullptr || nMaxCount <= 0)
        return 0;
    return static_cast<int>(
        SendMessageW(hWnd, WM_GETTEXT, nMaxCount, reinterpret_cast<LPARAM>(lpString)));
}

extern "C" int WINAPI GetWindowTextLengthW(HWND hWnd) {
    if (Check(hWnd) == nullptr)
        return 0;
    return static_cast<int>(SendMessageW(hWnd, WM_GETTEXTLENGTH, 0, 0));
}

extern "C" int WINAPI GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount) {
    Window* window = Check(hWnd);
    if (window == nullptr || nMaxCount <= 0)
        return 0;
    return static_cast<int>(wm::CopyText(window->className, lpClassName, nMaxCount));
}

extern "C" LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return 0;
    auto* dialog = std::any_cast<wm::DialogState>(&window->state);
    switch (nIndex) {
        case GWL_STYLE:
            return static_cast<LONG_PTR>(window->style);
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(window->exStyle);
        case GWLP_ID:
            return static_cast<LONG_PTR>(window->id);
        case GWLP_USERDATA:
            return window->userData;
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(window->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(window->instance);
        case GWLP_HWNDPARENT:
            return reinterpret_cast<LONG_PTR>(window->IsChild() ? window->parent : window->owner);
        default:
            break;
    }
    if (dialog != nullptr) {
        if (nIndex == static_cast<int>(DWLP_MSGRESULT))
            return dialog->msgResult;
        if (nIndex == static_cast<int>(DWLP_DLGPROC))
            return reinterpret_cast<LONG_PTR>(dialog->proc);
        if (nIndex == static_cast<int>(DWLP_USER))
            return dialog->user;
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

extern "C" LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return 0;
    LONG_PTR old = GetWindowLongPtrW(hWnd, nIndex);
    auto* dialog = std::any_cast<wm::DialogState>(&window->state);
    switch (nIndex) {
        case GWL_STYLE:
            window->style = static_cast<DWORD>(dwNewLong);
            return old;
        case GWL_EXSTYLE:
            window->exStyle = static_cast<DWORD>(dwNewLong);
            return old;
        case GWLP_ID:
            window->id = static_cast<UINT_PTR>(dwNewLong);
            return old;
        case GWLP_USERDATA:
            window->userData = dwNewLong;
            return old;
        case GWLP_WNDPROC:
            if (dwNewLong == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return 0;
            }
            window->proc = reinterpret_cast<WNDPROC>(dwNewLong);
            return old;
        default:
            break;
    }
    if (dialog != nullptr) {
        if (nIndex == static_cast<int>(DWLP_MSGRESULT)) {
            dialog->msgResult = dwNewLong;
            return old;
        }
        if (nIndex == static_cast<int>(DWLP_DLGPROC)) {
            dialog->proc = reinterpret_cast<DLGPROC>(dwNewLong);
            return old;
        }
        if (nIndex == static_cast<int>(DWLP_USER)) {
            dialog->user = dwNewLong;
            return old;
        }
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

extern "C" LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex) {
    return static_cast<LONG>(GetWindowLongPtrW(hWnd, nIndex));
}

extern "C" LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
    return static_cast<LONG>(SetWindowLongPtrW(hWnd, nIndex, dwNewLong));
}

// ---- Window properties ----

namespace {

// A property's name is an atom, given as its number (MAKEINTATOM) or by the name itself; 0 when
// the name has none.
ATOM PropertyAtom(LPCWSTR name) {
    return IS_INTRESOURCE(name) ? LOWORD(reinterpret_cast<ULONG_PTR>(name)) : GlobalFindAtomW(name);
}

}  // namespace

extern "C" BOOL WINAPI SetPropW(HWND hWnd, LPCWSTR lpString, HANDLE hData) {
    Window* window = Check(hWnd);
    if (window == nullptr)
        return FALSE;
    if (lpString == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ATOM atom = IS_INTRESOURCE(lpString) ? PropertyAtom(lpString) : GlobalAddAtomW(lpString);
    if (atom == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    window->properties[atom] = hData;
    return TRUE;
}

extern "C" HANDLE WINAPI GetPropW(HWND hWnd, LPCWSTR lpString) {
    Window* window = Lookup(hWnd);
    if (window == nullptr || lpString == nullptr)
        return nullptr;
    const auto found = window->properties.find(PropertyAtom(lpString));
    return found == window->properties.end() ? nullptr : found->second;
}

extern "C" HANDLE WINAPI RemovePropW(HWND hWnd, LPCWSTR lpString) {
    Window* window = Lookup(hWnd);
    if (window == nullptr || lpString == nullptr)
        return nullptr;
    const auto found = window->properties.find(PropertyAtom(lpString));
    if (found == window->properties.end())
        return nullptr;
    HANDLE data = found->second;
    window->properties.erase(found);
    return data;
}

// ---- Focus and activation ----

extern "C" HWND WINAPI SetFocus(HWND hWnd) {
    auto& sys = Sys();
    HWND before = sys.focus;
    if (hWnd == nullptr) {
        wm::KillFocus();
        return before;
    }
    if (Check(hWnd) == nullptr)
        return nullptr;
    HWND topLevel = wm::TopLevelOf(hWnd);
    if (topLevel != sys.foreground)
        wm::Activate(topLevel);
    HWND old = sys.focus;
    if (old == hWnd || Lookup(hWnd) == nullptr)
        return before;
    sys.focus = hWnd;
    if (old != nullptr)
        SendMessageW(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (sys.focus != hWnd)
        return before;
    if (auto* dialog = wm::MutableStateOf<wm::DialogState>(topLevel); dialog && hWnd != topLevel)
        dialog->lastFocus = hWnd;
    SendMessageW(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return before;
}

extern "C" HWND WINAPI GetFocus(void) {
    return Sys().focus;
}

namespace {

// The window that comes forward for `topLevel`: a window that a modal dialog or message box has
// disabled hands the foreground on to that pop-up (its last active one, the frontmost window it
// owns that can be active), as the phone's shell does, so keys go where the user sees them.
HWND LastActivePopup(HWND topLevel) {
    for (const Window* window = Lookup(topLevel); window != nullptr && !window->Enabled();) {
        const Window* popup = nullptr;
        for (HWND candidate : Sys().topLevels) {
            const Window* owned = Lookup(candidate);
            if (owned != nullptr && owned->owner == window->handle && !owned->destroying &&
                !(owned->exStyle & WS_EX_NOACTIVATE)) {
                popup = owned;
                break;
            }
        }
        if (popup == nullptr)
            break;
        topLevel = popup->handle;
        window = popup;
    }
    return topLevel;
}

}  // namespace

extern "C" BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    if (Lookup(hWnd) == nullptr) {
        auto& remote = Sys().remote;
        if (hWnd != nullptr && wm::ProcessOf(hWnd) != static_cast<DWORD>(getpid()) &&
            remote.setForeground)
            return remote.setForeground(hWnd) ? TRUE : FALSE;
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    HWND target = LastActivePopup(wm::TopLevelOf(hWnd));
    // A window not shown yet (a screen still in its initialisation) does not take the keys from
    // the one the user sees.
    const Window* front = Lookup(Sys().foreground);
    if (!Lookup(target)->Visible() && front != nullptr && front->Visible())
        target = front->handle;
    wm::Activate(target);
    return TRUE;
}

extern "C" HWND WINAPI GetForegroundWindow(void) {
    return Sys().foreground;
}

extern "C" HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    const wm::WindowClass* wanted = nullptr;
    if (lpClassName != nullptr) {
        wanted = wm::FindClass(lpClassName);
        if (wanted == nullptr)
            return nullptr;
    }
    for (HWND topLevel : Sys().topLevels) {
        Window* window = Lookup(topLevel);
        if (window == nullptr || window->destroying)
            continue;
        if (wanted != nullptr && !text::EqualNoCase(window->className, wanted->name))
            continue;
        if (lpWindowName != nullptr &&
            !text::EqualNoCase(window->text, std::u16string_view(lpWindowName)))
            continue;
        return topLevel;
    }
    auto& remote = Sys().remote;
    if (remote.find) {
        return remote.find(
            lpClassName != nullptr && !IS_INTRESOURCE(lpClassName)
                ? std::u16string_view(lpClassName)
                : std::u16string_view(),
            lpWindowName != nullptr ? std::u16string_view(lpWindowName) : std::u16string_view());
    }
    return nullptr;
}

// ---- Messages ----

extern "C" LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    // Holding the window keeps it in memory even if its procedure destroys it.
    std::shared_ptr<Window> window = wm::Hold(hWnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return window->proc(hWnd, Msg, wParam, lParam);
}

extern "C" BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd != nullptr && Check(hWnd) == nullptr)
        return FALSE;
    Sys().queue.push_back(MSG{hWnd, Msg, wParam, lParam, wm::Now(), {0, 0}});
    return TRUE;
}

extern "C" void WINAPI PostQuitMessage(int nExitCode) {
    auto& sys = Sys();
    sys.quitPosted = true;
    sys.quitCode = nExitCode;
}

extern "C" BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                                    UINT wRemoveMsg) {
    if (lpMsg == nullptr)
        return FALSE;
    auto& sys = Sys();
    for (auto it = sys.queue.begin(); it != sys.queue.end(); ++it) {
        if (!wm::MatchesFilter(*it, hWnd, wMsgFilterMin, wMsgFilterMax))
            continue;
        *lpMsg = *it;
        if (wRemoveMsg & PM_REMOVE)
            sys.queue.erase(it);
        return TRUE;
    }
    // WM_QUIT comes once everything posted before it has been taken.
    if (sys.quitPosted) {
        *lpMsg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(sys.quitCode), 0, wm::Now(), {0, 0}};
        if (wRemoveMsg & PM_REMOVE)
            sys.quitPosted = false;
        return TRUE;
    }
    return FALSE;
}

extern "C" BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (lpMsg == nullptr ||
        (hWnd != nullptr && hWnd != reinterpret_cast<HWND>(-1) && Check(hWnd) == nullptr))
        return -1;
    while (!PeekMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, PM_REMOVE))
        keys::WaitForInput();
    return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

extern "C" BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (lpMsg == nullptr || lpMsg->message != WM_KEYDOWN)
        return FALSE;
    char16_t character = 0;
    UINT key = static_cast<UINT>(lpMsg->wParam);
    if (key >= keys::kVirtualKey0 && key <= keys::kVirtualKey0 + 9)
        character = static_cast<char16_t>(u'0' + (key - keys::kVirtualKey0));
    else if (key == VK_TSTAR)
        character = u'*';
    else if (key == VK_TPOUND)
        character = u'#';
    else if (key == VK_BACK || key == VK_RETURN || key == VK_ESCAPE || key == VK_SPACE)
        character = static_cast<char16_t>(key);
    if (character == 0)
        return FALSE;
    // The character comes right after its key, before anything posted meanwhile.
    Sys().queue.push_front(
        MSG{lpMsg->hwnd, WM_CHAR, character, lpMsg->lParam, lpMsg->time, lpMsg->pt});
    return TRUE;
}

extern "C" LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
    if (lpMsg == nullptr || lpMsg->hwnd == nullptr)
        return 0;
    return SendMessageW(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}
