// The list box, unsorted or sorted, with its current entry and a value kept with each entry.
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace {

// A list box's entries, their texts one after the other in one buffer: a list of many thousand
// tones is a few allocations, not one per entry.
class TextList {
  public:
    std::size_t size() const { return starts_.size(); }
    std::u16string_view operator[](std::size_t i) const {
        const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : text_.size();
        return std::u16string_view(text_).substr(starts_[i], end - starts_[i]);
    }
    void Insert(std::size_t i, std::u16string_view entry) {
        if (i >= starts_.size()) {
            starts_.push_back(text_.size());
            text_.append(entry);
            return;
        }
        const std::size_t at = starts_[i];
        text_.insert(at, entry);
        starts_.insert(starts_.begin() + static_cast<std::ptrdiff_t>(i), at);
        for (std::size_t k = i + 1; k < starts_.size(); ++k)
            starts_[k] += entry.size();
    }
    void Erase(std::size_t i) {
        const std::size_t length = (*this)[i].size();
        text_.erase(starts_[i], length);
        starts_.erase(starts_.begin() + static_cast<std::ptrdiff_t>(i));
        for (std::size_t k = i; k < starts_.size(); ++k)
            starts_[k] -= length;
    }
    void Clear() {
        text_.clear();
        starts_.clear();
    }

  private:
    std::u16string text_;
    std::vector<std::size_t> starts_;
};

// What a list box keeps.
struct ListBox {
    TextList items;
    std::vector<LPARAM> itemData;
    int current = LB_ERR;  // the current entry, LB_ERR when there is none

    int Count() const { return static_cast<int>(items.size()); }
    bool Has(int index) const { return index >= 0 && index < Count(); }
};

ListBox& DataOf(HWND window) {
    return *wm::MutableStateOf<ListBox>(window);
}

std::u16string_view TextOf(LPCWSTR text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

LRESULT Insert(ListBox& list, int index, LPCWSTR text) {
    if (index == -1)
        index = list.Count();
    if (index < 0 || index > list.Count())
        return LB_ERR;
    list.items.Insert(index, TextOf(text));
    list.itemData.insert(list.itemData.begin() + index, 0);
    if (list.current >= index)
        ++list.current;
    return index;
}

// LBS_SORT keeps the entries in order, compared without regard to case; an entry goes after
// those equal to it.
LRESULT AddString(HWND window, LPCWSTR text) {
    ListBox& list = DataOf(window);
    if (!(wm::Find(window)->style & LBS_SORT))
        return Insert(list, -1, text);
    const std::u16string key = text::Fold(TextOf(text));
    int index = 0;
    while (index < list.Count() && text::Fold(list.items[index]) <= key)
        ++index;
    return Insert(list, index, text);
}

LRESULT DeleteString(HWND window, int index) {
    ListBox& list = DataOf(window);
    if (!list.Has(index))
        return LB_ERR;
    list.items.Erase(index);
    list.itemData.erase(list.itemData.begin() + index);
    if (list.current == index)
        list.current = LB_ERR;
    else if (list.current > index)
        --list.current;
    return list.Count();
}

LRESULT ResetContent(HWND window) {
    ListBox& list = DataOf(window);
    list.items.Clear();
    list.itemData.clear();
    list.current = LB_ERR;
    return 0;
}

// -1 clears the current entry and, as on Win32, still answers LB_ERR; so does an index out of
// range, which clears it too.
LRESULT SetCurrent(HWND window, int index) {
    ListBox& list = DataOf(window);
    list.current = list.Has(index) ? index : LB_ERR;
    return list.current;
}

LRESULT GetTextLength(HWND window, int index) {
    const ListBox& list = DataOf(window);
    return list.Has(index) ? static_cast<LRESULT>(list.items[index].size()) : LB_ERR;
}

// LB_GETTEXT has no buffer size: the caller sizes it with LB_GETTEXTLEN + 1.
LRESULT GetText(HWND window, int index, LPWSTR buffer) {
    const ListBox& list = DataOf(window);
    if (!list.Has(index) || buffer == nullptr)
        return LB_ERR;
    const std::u16string_view entry = list.items[index];
    wm::CopyText(entry, buffer, entry.size() + 1);
    return static_cast<LRESULT>(entry.size());
}

LRESULT GetItemData(HWND window, int index) {
    const ListBox& list = DataOf(window);
    return list.Has(index) ? list.itemData[index] : LB_ERR;
}

LRESULT SetItemData(HWND window, int index, LPARAM value) {
    ListBox& list = DataOf(window);
    if (!list.Has(index))
        return LB_ERR;
    list.itemData[index] = value;
    return 0;
}

// The search starts after `start` and wraps round to it; case is ignored.
LRESULT FindExact(HWND window, int start, LPCWSTR wanted) {
    const ListBox& list = DataOf(window);
    const int count = list.Count();
    if (wanted == nullptr || count == 0)
        return LB_ERR;
    if (start < -1 || start >= count)
        start = -1;
    for (int n = 1; n <= count; ++n) {
        int index = (start + n) % count;
        if (text::EqualNoCase(list.items[index], wanted))
            return index;
    }
    return LB_ERR;
}

LRESULT Notify(HWND window, WORD code) {
    if (wm::Find(window)->style & LBS_NOTIFY)
        wm::NotifyParent(window, code);
    return 0;
}

// Win32's type-ahead: a character typed on a list makes current the next entry after the
// current one that starts with it, without regard to case, wrapping round.
LRESULT TypeAhead(HWND window, char16_t typed) {
    ListBox& list = DataOf(window);
    const int count = list.Count();
    for (int n = 1; n <= count; ++n) {
        const int index = (std::max(list.current, -1) + n) % count;
        if (text::EqualNoCase(list.items[index].substr(0, 1), std::u16string_view(&typed, 1))) {
            list.current = index;
            return Notify(window, LBN_SELCHANGE);
        }
    }
    return 0;
}

}  // namespace

namespace classes {

LRESULT CALLBACK ListBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto index = static_cast<int>(wParam);
    switch (message) {
        case WM_CREATE:
            wm::Lookup(window)->state = ListBox{};
            return 0;
        case LB_ADDSTRING:
            return AddString(window, reinterpret_cast<LPCWSTR>(lParam));
        case LB_INSERTSTRING:
            return Insert(DataOf(window), index, reinterpret_cast<LPCWSTR>(lParam));
        case LB_DELETESTRING:
            return DeleteString(window, index);
        case LB_RESETCONTENT:
            return ResetContent(window);
        case LB_SETCURSEL:
            return SetCurrent(window, index);
        case LB_GETCURSEL:
            return DataOf(window).current;
        case LB_GETCOUNT:
            return DataOf(window).Count();
        case LB_GETTEXTLEN:
            return GetTextLength(window, index);
        case LB_GETTEXT:
            return GetText(window, index, reinterpret_cast<LPWSTR>(lParam));
        case LB_GETITEMDATA:
            return GetItemData(window, index);
        case LB_SETITEMDATA:
            return SetItemData(window, index, lParam);
        case LB_FINDSTRINGEXACT:
            return FindExact(window, index, reinterpret_cast<LPCWSTR>(lParam));
        case LB_GETTOPINDEX:
            return std::max(DataOf(window).current, 0);
        case WM_SETFOCUS:
            return Notify(window, LBN_SETFOCUS);
        case WM_KILLFOCUS:
            return Notify(window, LBN_KILLFOCUS);
        case WM_CHAR:
            return TypeAhead(window, static_cast<char16_t>(wParam));
        case WM_GETDLGCODE:
            return DLGC_WANTCHARS;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace classes
