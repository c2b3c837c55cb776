// Dialogs: building a dialog and its controls from a template, modal loops (DialogBox...),
// EndDialog, DefDlgProcW, keyboard navigation (IsDialogMessageW) and the dialog item helpers.
#include <windows.h>

#include <climits>
#include <optional>

#include "platform/user32/dialog_template.h"
#include "platform/kernel32/resources.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

#ifndef ERROR_CONTROL_ID_NOT_FOUND
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#endif

namespace {

// Templates that do not come from a loaded resource carry no size; Win32 trusts them too.
constexpr std::size_t kUnboundedTemplate = SIZE_MAX / 2;

bool IsTabStop(HWND control) {
    const wm::Window* window = wm::Find(control);
    return window != nullptr && (window->style & WS_TABSTOP) && window->Visible() &&
           window->Enabled();
}

// Gives the focus back to the control that had it last. On activation alone that is all; asked
// for the focus itself, a dialog without such a control gives it to its first tab stop. An ended
// dialog gives the focus to nothing.
void RestoreFocus(HWND dialog, bool justActivated) {
    const auto* state = wm::StateOf<wm::DialogState>(dialog);
    if (state == nullptr || state->ended)
        return;
    HWND target = state->lastFocus;
    if (!wm::IsDescendant(dialog, target) || target == dialog || !IsTabStop(target)) {
        if (justActivated)
            return;
        target = GetNextDlgTabItem(dialog, nullptr, FALSE);
    }
    if (target != nullptr)
        SetFocus(target);
}

// Creates the dialog and its controls, sends WM_INITDIALOG, sets the focus and shows it.
HWND CreateFromTemplate(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                        DLGPROC procedure, LPARAM initParam) {
    if (dialogTemplate == nullptr || (owner != nullptr && !IsWindow(owner))) {
        SetLastError(owner != nullptr ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto parsed = dialogs::ParseTemplate(
        dialogTemplate, resources::BytesAvailable(dialogTemplate).value_or(kUnboundedTemplate));
    if (!parsed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string className = classes::kDialog;
    if (parsed->windowClass.present) {
        if (parsed->windowClass.isNumber) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        className = parsed->windowClass.text;
    }
    // A dialog is shown once its procedure has set it up.
    HWND dialog = CreateWindowExW(parsed->exStyle, className.c_str(), parsed->title.c_str(),
                                  parsed->style & ~WS_VISIBLE, parsed->x, parsed->y, parsed->cx,
                                  parsed->cy, owner, nullptr, instance, nullptr);
    if (dialog == nullptr)
        return nullptr;
    wm::DialogState state;
    state.proc = procedure;
    state.hasFont = parsed->hasFont;
    state.fontSize = parsed->pointSize;
    state.fontName = parsed->typeface;
    wm::Lookup(dialog)->state = std::move(state);

    for (const dialogs::TemplateItem& item : parsed->items) {
        // A title given by number reaches the control as 0xFFFF and the number, as on Win32
        // (a static icon's icon resource, for instance).
        std::u16string title = item.title.text;
        if (item.title.isNumber)
            title = {char16_t{0xFFFF}, static_cast<char16_t>(item.title.number)};
        HWND control = CreateWindowExW(
            item.exStyle, item.className.c_str(), title.c_str(), item.style | WS_CHILD, item.x,
            item.y, item.cx, item.cy, dialog, reinterpret_cast<HMENU>(UINT_PTR{item.id}), instance,
            item.creationData.empty() ? nullptr
                                      : const_cast<unsigned char*>(item.creationData.data()));
        if (control == nullptr) {
            DWORD error = GetLastError();
            DestroyWindow(dialog);
            SetLastError(error);
            return nullptr;
        }
    }

    HWND firstTabStop = GetNextDlgTabItem(dialog, nullptr, FALSE);
    LRESULT setFocus =
        SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), initParam);
    const auto* after = wm::StateOf<wm::DialogState>(dialog);
    if (after == nullptr)
        return nullptr;
    if (after->ended)
        return dialog;
    // TRUE from WM_INITDIALOG: the first tab stop in template order gets the focus.
    if (setFocus) {
        if (HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE))
            SetFocus(first);
    }
    after = wm::StateOf<wm::DialogState>(dialog);
    if (after != nullptr && !after->ended && (parsed->style & WS_VISIBLE))
        ShowWindow(dialog, SW_SHOWNORMAL);
    return IsWindow(dialog) ? dialog : nullptr;
}

// The modal loop: runs until the dialog has ended (or is destroyed, or WM_QUIT comes).
INT_PTR RunModal(HWND dialog) {
    while (true) {
        const auto* state = wm::StateOf<wm::DialogState>(dialog);
        if (state == nullptr)
            return -1;
        if (state->ended)
            break;
        MSG message;
        if (!GetMessageW(&message, nullptr, 0, 0)) {
            // WM_QUIT ends every loop: it is posted again for the loops outside this one.
            PostQuitMessage(static_cast<int>(message.wParam));
            DestroyWindow(dialog);
            return -1;
        }
        wm::HandleMessage(message);
    }
    INT_PTR result = wm::StateOf<wm::DialogState>(dialog)->result;
    DestroyWindow(dialog);
    return result;
}

void MoveFocus(HWND dialog, bool previous) {
    HWND from = GetFocus();
    if (!wm::IsDescendant(dialog, from) || from == dialog)
        from = nullptr;
    HWND next = GetNextDlgTabItem(dialog, from, previous ? TRUE : FALSE);
    if (next != nullptr && next != from)
        SetFocus(next);
}

}  // namespace

extern "C" INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE hInstance,
                                                  LPCDLGTEMPLATEW hDialogTemplate, HWND hWndParent,
                                                  DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    HWND dialog =
        CreateFromTemplate(hInstance, hDialogTemplate, hWndParent, lpDialogFunc, dwInitParam);
    if (dialog == nullptr)
        return -1;
    // A modal dialog disables its owner until it ends; a dialog without owner disables nothing.
    HWND owner = wm::TopLevelOf(hWndParent);
    bool disabledOwner = owner != nullptr && !EnableWindow(owner, FALSE);
    INT_PTR result = RunModal(dialog);
    if (disabledOwner)
        EnableWindow(owner, TRUE);
    return result;
}

extern "C" INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName,
                                          HWND hWndParent, DLGPROC lpDialogFunc,
                                          LPARAM dwInitParam) {
    HRSRC found = FindResourceW(hInstance, lpTemplateName, RT_DIALOG);
    if (found == nullptr)
        return -1;
    auto* dialogTemplate =
        static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(hInstance, found)));
    return DialogBoxIndirectParamW(hInstance, dialogTemplate, hWndParent, lpDialogFunc,
                                   dwInitParam);
}

extern "C" HWND WINAPI CreateDialogIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW lpTemplate,
                                                  HWND hWndParent, DLGPROC lpDialogFunc,
                                                  LPARAM dwInitParam) {
    return CreateFromTemplate(hInstance, lpTemplate, hWndParent, lpDialogFunc, dwInitParam);
}

extern "C" BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    auto* state = wm::MutableStateOf<wm::DialogState>(hDlg);
    if (state == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    state->ended = true;
    state->result = nResult;
    // The dialog disappears at once; its modal loop destroys it when the procedure returns.
    if (IsWindowVisible(hDlg))
        ShowWindow(hDlg, SW_HIDE);
    return TRUE;
}

namespace {

// What the dialog procedure answers, when it handled the message: its own value for the messages
// that return one, otherwise its DWLP_MSGRESULT.
std::optional<LRESULT> AskDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto* state = wm::StateOf<wm::DialogState>(dialog);
    if (state == nullptr || state->proc == nullptr)
        return std::nullopt;
    INT_PTR handled = state->proc(dialog, message, wParam, lParam);
    if (!handled)
        return std::nullopt;
    switch (message) {
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return handled;
        default: {
            const auto* now = wm::StateOf<wm::DialogState>(dialog);
            return now == nullptr ? 0 : now->msgResult;
        }
    }
}

}  // namespace

extern "C" LRESULT WINAPI DefDlgProcW(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (std::optional<LRESULT> answer = AskDialogProcedure(hDlg, Msg, wParam, lParam))
        return *answer;
    switch (Msg) {
        case WM_INITDIALOG:
            return FALSE;
        case WM_CLOSE:
            PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE)
                RestoreFocus(hDlg, true);
            return 0;
        case WM_SETFOCUS:
            RestoreFocus(hDlg, false);
            return 0;
        // A dialog does not end by itself: IDOK and IDCANCEL are its procedure's to handle.
        case WM_COMMAND:
            return 0;
        default:
            return DefWindowProcW(hDlg, Msg, wParam, lParam);
    }
}

extern "C" BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
    if (lpMsg == nullptr || wm::Find(hDlg) == nullptr || !wm::IsDescendant(hDlg, lpMsg->hwnd))
        return FALSE;
    if (lpMsg->message == WM_KEYDOWN) {
        UINT code = 0;
        if (lpMsg->hwnd != hDlg)
            code = static_cast<UINT>(SendMessageW(lpMsg->hwnd, WM_GETDLGCODE, lpMsg->wParam,
                                                  reinterpret_cast<LPARAM>(lpMsg)));
        if (!(code & DLGC_WANTALLKEYS)) {
            switch (lpMsg->wParam) {
                // Up and down move between tab stops, wrapping at both ends.
                case VK_UP:
                case VK_DOWN:
                    if (code & DLGC_WANTARROWS)
                        break;
                    MoveFocus(hDlg, lpMsg->wParam == VK_UP);
                    return TRUE;
                case VK_LEFT:
                case VK_RIGHT:
                    if (code & DLGC_WANTARROWS)
                        break;
                    return TRUE;
                case VK_TAB:
                    if (code & DLGC_WANTTAB)
                        break;
                    MoveFocus(hDlg, false);
                    return TRUE;
                case VK_RETURN:
                    if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
                        SendMessageW(lpMsg->hwnd, BM_CLICK, 0, 0);
                        return TRUE;
                    }
                    SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDOK)));
                    return TRUE;
                // The phone's Back key is VK_ESCAPE: the dialog gets IDCANCEL, and only its
                // procedure decides whether that ends it.
                case VK_ESCAPE:
                    SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(hDlg, IDCANCEL)));
                    return TRUE;
                default:
                    break;
            }
        }
    }
    TranslateMessage(lpMsg);
    DispatchMessageW(lpMsg);
    return TRUE;
}

extern "C" HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    const wm::Window* dialog = wm::Check(hDlg);
    if (dialog == nullptr)
        return nullptr;
    auto wanted = static_cast<UINT_PTR>(static_cast<UINT>(nIDDlgItem));
    for (HWND child : dialog->children) {
        const wm::Window* control = wm::Find(child);
        if (control == nullptr)
            continue;
        // Classic templates hold 16-bit ids, so -1 is stored as 0xFFFF.
        if (control->id == wanted ||
            (control->id <= 0xFFFF && control->id == static_cast<WORD>(nIDDlgItem)))
            return child;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

extern "C" int WINAPI GetDlgCtrlID(HWND hWnd) {
    const wm::Window* window = wm::Check(hWnd);
    if (window == nullptr || !window->IsChild())
        return 0;
    return static_cast<int>(window->id);
}

extern "C" LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                              LPARAM lParam) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr)
        return 0;
    return SendMessageW(control, Msg, wParam, lParam);
}

extern "C" UINT WINAPI GetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPWSTR lpString, int cchMax) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr) {
        if (lpString != nullptr && cchMax > 0)
            lpString[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(control, lpString, cchMax));
}

extern "C" BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr)
        return FALSE;
    return SetWindowTextW(control, lpString);
}

extern "C" HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    const wm::Window* dialog = wm::Check(hDlg);
    if (dialog == nullptr)
        return nullptr;
    const std::vector<HWND>& children = dialog->children;
    auto count = static_cast<int>(children.size());
    int start = -1;
    for (int i = 0; i < count; ++i) {
        if (children[i] == hCtl)
            start = i;
    }
    if (start < 0)
        start = bPrevious ? 0 : count - 1;
    int step = bPrevious ? -1 : 1;
    for (int n = 1; n <= count; ++n) {
        HWND candidate = children[((start + step * n) % count + count) % count];
        if (IsTabStop(candidate))
            return candidate;
    }
    return nullptr;
}
