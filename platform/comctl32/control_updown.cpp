// The up-down control (the phone's spinner) over a list box buddy: its arrow keys step the
// list's current entry, wrapping with UDS_WRAP, and with UDS_EXPANDABLE the action key opens
// the whole list to pick from. It knows its list only through the list's messages.
#include "platform/comctl32/updown.h"

#include <windows.h>
#include <commctrl.h>
#include <winuserm.h>

#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

// What an up-down control keeps.
struct UpDown {
    HWND buddy = nullptr;
    bool expanded = false;  // UDS_EXPANDABLE: the buddy list is open whole, to pick from
    int highlighted = -1;   // the entry highlighted in the open list
};

// An up-down stands in front of its list box's window procedure, so that the keys which step the
// list reach the up-down whichever of the two has the focus. It leaves two properties on the
// list: itself, and the list's own procedure. The list asks for the procedure with every message:
// the names go as atoms, which are found by their number.
LPCWSTR SpinnerProperty() {
    static const ATOM atom = GlobalAddAtomW(u"UpDownSpinner");
    return MAKEINTATOM(atom);
}

LPCWSTR ListProcProperty() {
    static const ATOM atom = GlobalAddAtomW(u"UpDownListProc");
    return MAKEINTATOM(atom);
}

UpDown& DataOf(HWND upDown) {
    return *wm::MutableStateOf<UpDown>(upDown);
}

bool IsListBox(HWND window) {
    return wm::HasClass(window, classes::kListBox);
}

int CountOf(HWND list) {
    return static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
}

int CurrentOf(HWND list) {
    return static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
}

// The keys the up-down takes: its arrows with UDS_ARROWKEYS, and action with UDS_EXPANDABLE.
bool IsSpinnerKey(HWND upDown, WPARAM key) {
    if (!IsWindow(upDown))
        return false;
    const auto style = static_cast<DWORD>(GetWindowLongW(upDown, GWL_STYLE));
    bool horizontal = (style & UDS_HORZ) != 0;
    bool arrows = (style & UDS_ARROWKEYS) != 0;
    if (arrows && horizontal && (key == VK_LEFT || key == VK_RIGHT))
        return true;
    if (arrows && !horizontal && (key == VK_UP || key == VK_DOWN))
        return true;
    return key == VK_RETURN && (style & UDS_EXPANDABLE);
}

// The procedure put in front of the buddy list's own: the up-down's keys go to the up-down,
// everything else to the list.
LRESULT CALLBACK BuddyListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_GETDLGCODE: {
            auto upDown = static_cast<HWND>(GetPropW(list, SpinnerProperty()));
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            if (key != nullptr && key->message == WM_KEYDOWN && IsSpinnerKey(upDown, key->wParam))
                return key->wParam == VK_RETURN ? DLGC_WANTALLKEYS : DLGC_WANTARROWS;
            break;
        }
        case WM_KEYDOWN: {
            auto upDown = static_cast<HWND>(GetPropW(list, SpinnerProperty()));
            if (IsSpinnerKey(upDown, wParam))
                return SendMessageW(upDown, WM_KEYDOWN, wParam, lParam);
            break;
        }
        default:
            break;
    }
    auto listProc = reinterpret_cast<WNDPROC>(GetPropW(list, ListProcProperty()));
    return listProc(list, message, wParam, lParam);
}

// Gives the list back its own procedure, unless another up-down has taken it since.
void ReleaseBuddy(HWND upDown, HWND list) {
    if (!IsWindow(list) || GetPropW(list, SpinnerProperty()) != upDown)
        return;
    SetWindowLongPtrW(list, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(GetPropW(list, ListProcProperty())));
    RemovePropW(list, SpinnerProperty());
    RemovePropW(list, ListProcProperty());
}

void TakeBuddy(HWND upDown, HWND list) {
    // A list that another up-down stands in front of already is taken over as it is.
    if (GetPropW(list, SpinnerProperty()) == nullptr) {
        SetPropW(list, ListProcProperty(),
                 reinterpret_cast<HANDLE>(GetWindowLongPtrW(list, GWLP_WNDPROC)));
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BuddyListProc));
    }
    SetPropW(list, SpinnerProperty(), upDown);
}

HWND SetBuddy(HWND upDown, HWND buddy) {
    HWND old = DataOf(upDown).buddy;
    ReleaseBuddy(upDown, old);
    DataOf(upDown).buddy = buddy;
    if (IsListBox(buddy))
        TakeBuddy(upDown, buddy);
    return old;
}

// Makes `index` the list's current entry as the user's choice: the list's parent hears
// LBN_SELCHANGE, as from the list itself.
void Choose(HWND list, int index) {
    if (!IsListBox(list) || CurrentOf(list) == index)
        return;
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (GetWindowLongW(list, GWL_STYLE) & LBS_NOTIFY)
        SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
}

void Step(HWND upDown, int delta) {
    HWND list = DataOf(upDown).buddy;
    if (!IsListBox(list))
        return;
    const int count = CountOf(list);
    if (count <= 0)
        return;
    const int current = CurrentOf(list);
    const bool wrap = (GetWindowLongW(upDown, GWL_STYLE) & UDS_WRAP) != 0;
    int next = 0;
    if (current < 0) {
        next = delta > 0 ? 0 : count - 1;
    } else {
        next = current + delta;
        if (next >= count)
            next = wrap ? 0 : count - 1;
        if (next < 0)
            next = wrap ? count - 1 : 0;
    }
    Choose(list, next);
}

void Expand(HWND upDown) {
    HWND list = DataOf(upDown).buddy;
    if (!IsListBox(list) || CountOf(list) <= 0)
        return;
    const int current = CurrentOf(list);
    UpDown& data = DataOf(upDown);
    data.expanded = true;
    data.highlighted = current >= 0 ? current : 0;
    wm::CaptureKeys(upDown);
}

void Collapse(HWND upDown, bool pick) {
    UpDown& data = DataOf(upDown);
    data.expanded = false;
    wm::ReleaseKeys(upDown);
    if (pick)
        Choose(data.buddy, data.highlighted);
}

// Keys while the list is open whole: up and down move the highlight (stopping at the ends),
// action or the left soft key ("OK") picks the highlighted entry, Back or the right soft key
// ("Annuler") closes the list unchanged.
void ExpandedKey(HWND upDown, WPARAM key) {
    HWND list = DataOf(upDown).buddy;
    if (!IsListBox(list)) {
        Collapse(upDown, false);
        return;
    }
    const int count = CountOf(list);
    int& highlighted = DataOf(upDown).highlighted;
    switch (key) {
        case VK_UP:
            if (highlighted > 0)
                --highlighted;
            break;
        case VK_DOWN:
            if (highlighted < count - 1)
                ++highlighted;
            break;
        case VK_RETURN:
        case VK_TSOFT1:
            Collapse(upDown, highlighted >= 0 && highlighted < count);
            break;
        case VK_ESCAPE:
        case VK_TSOFT2:
            Collapse(upDown, false);
            break;
        default:
            break;
    }
}

LRESULT Create(HWND upDown) {
    wm::Window* self = wm::Lookup(upDown);
    self->state = UpDown{};
    // UDS_AUTOBUDDY: the buddy is the window created just before this one.
    if ((self->style & UDS_AUTOBUDDY) && self->IsChild()) {
        const std::vector<HWND>& siblings = wm::Find(self->parent)->children;
        if (siblings.size() >= 2)
            SetBuddy(upDown, siblings[siblings.size() - 2]);
    }
    return 0;
}

LRESULT KeyDown(HWND upDown, WPARAM key) {
    if (DataOf(upDown).expanded) {
        ExpandedKey(upDown, key);
        return 0;
    }
    const auto style = static_cast<DWORD>(GetWindowLongW(upDown, GWL_STYLE));
    bool horizontal = (style & UDS_HORZ) != 0;
    if (style & UDS_ARROWKEYS) {
        if (key == (horizontal ? VK_RIGHT : VK_UP))
            Step(upDown, +1);
        else if (key == (horizontal ? VK_LEFT : VK_DOWN))
            Step(upDown, -1);
    }
    if (key == VK_RETURN && (style & UDS_EXPANDABLE))
        Expand(upDown);
    return 0;
}

LRESULT Destroy(HWND upDown) {
    wm::ReleaseKeys(upDown);
    SetBuddy(upDown, nullptr);
    return 0;
}

}  // namespace

namespace classes {

LRESULT CALLBACK UpDownProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return Create(window);
        case UDM_SETBUDDY:
            return reinterpret_cast<LRESULT>(SetBuddy(window, reinterpret_cast<HWND>(wParam)));
        case UDM_GETBUDDY:
            return reinterpret_cast<LRESULT>(DataOf(window).buddy);
        case WM_KEYDOWN:
            return KeyDown(window, wParam);
        case WM_GETDLGCODE:
            return DataOf(window).expanded ? DLGC_WANTALLKEYS : 0;
        case WM_DESTROY:
            return Destroy(window);
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes

namespace updown {

HWND SpinnerOf(HWND list) {
    auto upDown = static_cast<HWND>(GetPropW(list, SpinnerProperty()));
    return IsWindow(upDown) ? upDown : nullptr;
}

std::optional<int> OpenListHighlight(HWND upDown) {
    const auto* data = wm::StateOf<UpDown>(upDown);
    if (data == nullptr || !data->expanded)
        return std::nullopt;
    return data->highlighted;
}

}  // namespace updown
