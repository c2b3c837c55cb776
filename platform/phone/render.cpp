// Drawing the phone screen into a character grid: each control, asked through its messages, at
// its template place; the title and soft-key bars, menus, open lists and message boxes.
#include "platform/phone/render.h"

#include <windows.h>
#include <aygshell.h>
#include <commctrl.h>

#include <algorithm>
#include <optional>

#include "platform/aygshell/menu_bar.h"
#include "platform/comctl32/updown.h"
#include "platform/phone/icon.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace render {

namespace {

constexpr char16_t kLeftArrow = u'◀';
constexpr char16_t kRightArrow = u'▶';
constexpr char16_t kMenuSign = u'▲';
constexpr char16_t kCaret = u'▏';
constexpr char16_t kFocusMark = u'>';
constexpr std::uint32_t kIconBackdrop = 0x800080;  // purple: far from black, white and grey

// A label without its mnemonic prefixes: "&&" is an ampersand, a single '&' shows nothing.
std::u16string WithoutPrefixes(std::u16string_view text) {
    std::u16string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        else if (text[i] == u'&')
            continue;
        shown.push_back(text[i]);
    }
    return shown;
}

// ---- Places ----

// A control's cells: columns [left, right) and rows [top, bottom) of the grid.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
};

// Where a window's rectangle (in dialog units, relative to `originX`, `originY`) lands.
Box BoxOf(const wm::Window& window, int originX, int originY) {
    Box box;
    int x = originX + window.x, y = originY + window.y;
    box.left = ColumnOf(x);
    box.right = std::max(ColumnOf(x + window.cx), box.left + 1);
    box.top = 1 + RowOf(y);
    box.bottom = std::max(1 + RowOf(y + window.cy), box.top + 1);
    return box;
}

// The first of `count` entries to show in `visible` rows so that `index` is among them, kept
// near the middle where the list allows.
int FirstVisible(int index, int count, int visible) {
    if (count <= visible || index < 0)
        return 0;
    return std::clamp(index - visible / 2, 0, count - visible);
}

bool Focused(HWND control) {
    HWND focus = wm::Focus();
    if (focus == nullptr)
        return false;
    if (focus == control)
        return true;
    // The focus on a spinner's up-down control shows on its list.
    return wm::HasClass(focus, classes::kUpDown) &&
           reinterpret_cast<HWND>(SendMessageW(focus, UDM_GETBUDDY, 0, 0)) == control;
}

void MarkFocus(Grid& grid, const Box& box) {
    if (box.left > 0)
        grid.Put(box.left - 1, box.top, std::u16string(1, kFocusMark), kBold);
    grid.AddAttributes(box.left, box.top, box.right, kBold);
}

// ---- Controls ----

void DrawStaticText(Grid& grid, const wm::Window& window, const Box& box) {
    DWORD type = window.style & SS_TYPEMASK;
    std::u16string text = (window.style & SS_NOPREFIX) ? window.text : WithoutPrefixes(window.text);
    bool wraps = type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE;
    int row = box.top;
    for (const std::u16string& line : Lines(text)) {
        // A line longer than its box stays whole where the row has room, and wraps where not.
        int room = grid.Columns() - box.left;
        std::vector<std::u16string> pieces =
            wraps ? Wrap(line, room) : std::vector<std::u16string>{line};
        for (const std::u16string& piece : pieces) {
            if (row > kClientRows)
                return;
            int width = TextWidth(piece);
            int column = box.left;
            if (width < box.Width() && type == SS_CENTER)
                column += (box.Width() - width) / 2;
            else if (width < box.Width() && type == SS_RIGHT)
                column += box.Width() - width;
            grid.Put(column, row, piece);
            ++row;
        }
    }
}

// ---- Icons ----

// An icon as half-block characters: each cell shows two pixels, one above the other, so the
// pixels come out about square.
void DrawIcon(Grid& grid, const wm::Window& window, const classes::StaticIcon& source,
              const Box& box) {
    int width = box.Width();
    int rows = std::max(1, (window.cy + 7) / 8);
    int pixelRows = 2 * rows;
    LPCWSTR name = source.name.empty() ? MAKEINTRESOURCE(source.id) : source.name.c_str();
    std::optional<icons::Picture> icon = icons::LargestImage(source.module, name);
    if (!icon) {
        for (int row = box.top; row < box.top + rows; ++row)
            grid.Put(box.left, row, std::u16string(width, u'▒'));
        return;
    }
    icons::Picture picture = icons::Scale(*icon, width, pixelRows);
    auto pixel = [&](int x, int y) -> std::optional<std::uint32_t> {
        if (y >= picture.height)
            return std::nullopt;
        return picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
    };
    // The icon stands on a tile of its own colour, so that its black and its white both show
    // whatever the terminal's own background.
    for (int row = 0; row < rows; ++row) {
        for (int x = 0; x < width; ++x) {
            auto top = pixel(x, 2 * row);
            auto bottom = pixel(x, 2 * row + 1);
            Cell cell;
            cell.background = kIconBackdrop;
            // A cell with both pixels shown is drawn whole, in the upper one's colour, so that
            // the shape reads right without colours too.
            if (top && bottom) {
                cell.ch = U'█';
                cell.foreground = *top;
            } else if (top) {
                cell.ch = U'▀';
                cell.foreground = *top;
            } else if (bottom) {
                cell.ch = U'▄';
                cell.foreground = *bottom;
            }
            grid.Set(box.left + x, box.top + row, cell);
        }
    }
}

// ---- Lists and spinners ----

// A list box's entries, asked of the list as its parent asks.
int CountOf(HWND list) {
    return static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
}

int CurrentOf(HWND list) {
    return static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
}

std::u16string EntryOf(HWND list, int index) {
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    std::u16string entry(static_cast<std::size_t>(length) + 1, u'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(entry.data()));
    entry.resize(static_cast<std::size_t>(length));
    return entry;
}

// A spinner: the current entry between the arrows, each arrow shown while a step that way
// leads somewhere.
void DrawSpinner(Grid& grid, HWND list, HWND upDown, const Box& box) {
    bool wraps = (GetWindowLongW(upDown, GWL_STYLE) & UDS_WRAP) != 0;
    int count = CountOf(list);
    int current = CurrentOf(list);
    bool hasCurrent = current >= 0 && current < count;
    if (count > 0 && (wraps || !hasCurrent || current > 0))
        grid.Put(box.left, box.top, std::u16string(1, kLeftArrow));
    if (count > 0 && (wraps || !hasCurrent || current < count - 1))
        grid.Put(box.right - 1, box.top, std::u16string(1, kRightArrow));
    if (hasCurrent)
        grid.Put(box.left + 2, box.top, Fit(EntryOf(list, current), box.Width() - 4));
}

void DrawPlainList(Grid& grid, HWND list, const Box& box) {
    int count = CountOf(list);
    int current = CurrentOf(list);
    int visible = box.bottom - box.top;
    int first = FirstVisible(current, count, visible);
    for (int i = first; i < count && i < first + visible; ++i) {
        int row = box.top + (i - first);
        grid.Put(box.left, row, Fit(EntryOf(list, i), box.Width()));
        if (i == current)
            grid.AddAttributes(box.left, row, box.right, kReverse);
    }
}

// ---- Edit fields ----

// Where the code point after or before `at` in UTF-16 text ends; a lone surrogate is one.
std::size_t NextPoint(std::u16string_view text, std::size_t at) {
    bool pair = at + 1 < text.size() && text[at] >= 0xD800 && text[at] <= 0xDBFF &&
                text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
    return at + (pair ? 2 : 1);
}
std::size_t PreviousPoint(std::u16string_view text, std::size_t at) {
    bool pair = at >= 2 && text[at - 2] >= 0xD800 && text[at - 2] <= 0xDBFF &&
                text[at - 1] >= 0xDC00 && text[at - 1] <= 0xDFFF;
    return at - (pair ? 2 : 1);
}
int CellsOf(std::u16string_view text, std::size_t from, std::size_t to) {
    return TextWidth(text.substr(from, to - from));
}

// An edit field: its text between brackets (with WS_BORDER), the caret shown while it has the
// focus. With more text than room it scrolls so that the caret stays in view (ES_AUTOHSCROLL);
// « and » take the brackets' places where text lies beyond. Only the text that shows is looked
// at, so a long text costs no more to draw than a short one.
void DrawEdit(Grid& grid, const wm::Window& window, const Box& box, bool focused) {
    bool border = (window.style & WS_BORDER) != 0;
    int inner = box.Width() - (border ? 2 : 0);
    if (inner <= 0)
        return;
    std::u16string stars;
    if (window.style & ES_PASSWORD)
        stars.assign(window.text.size(), u'*');
    std::u16string_view text = (window.style & ES_PASSWORD) ? stars : window.text;
    DWORD caretAt = 0;
    SendMessageW(window.handle, EM_GETSEL, reinterpret_cast<WPARAM>(&caretAt), 0);
    std::size_t caret = std::min<std::size_t>(caretAt, text.size());
    // The caret mark takes one cell just before the text at the caret.
    auto markAt = [&](std::size_t at) { return focused && at == caret ? 1 : 0; };

    // Where the text shown starts: the most of its end that fits or, when the caret lies before
    // that, the caret a third of the way in.
    std::size_t first = text.size();
    int used = markAt(first);
    while (first > 0) {
        std::size_t previous = PreviousPoint(text, first);
        int cells = CellsOf(text, previous, first) + markAt(previous);
        if (used + cells > inner)
            break;
        used += cells;
        first = previous;
    }
    if (focused && caret < first) {
        first = caret;
        for (int i = 0; i < inner / 3 && first > 0; ++i)
            first = PreviousPoint(text, first);
    }
    std::u16string shown;
    std::size_t last = first;
    used = 0;
    bool more = false;
    while (true) {
        if (markAt(last)) {
            if (used + 1 > inner) {
                more = true;
                break;
            }
            shown.push_back(kCaret);
            ++used;
        }
        if (last >= text.size())
            break;
        std::size_t next = NextPoint(text, last);
        int cells = CellsOf(text, last, next);
        if (used + cells > inner) {
            more = true;
            break;
        }
        shown.append(text.substr(last, next - last));
        used += cells;
        last = next;
    }

    int textLeft = box.left + (border ? 1 : 0);
    grid.Put(textLeft, box.top, shown, kUnderline, textLeft + inner);
    grid.AddAttributes(textLeft, box.top, textLeft + inner, kUnderline);
    if (border) {
        grid.Put(box.left, box.top, first > 0 ? u"«" : u"[");
        grid.Put(box.right - 1, box.top, more ? u"»" : u"]");
    } else if (first > 0) {
        grid.Put(textLeft, box.top, u"«");
    }
}

void DrawButton(Grid& grid, const wm::Window& window, const Box& box) {
    std::u16string label = WithoutPrefixes(window.text);
    label.insert(0, 1, u'[');
    label += u']';
    int width = TextWidth(label);
    int column = box.left + std::max(0, (box.Width() - width) / 2);
    grid.Put(column, box.top, Fit(label, grid.Columns() - column));
}

void DrawControl(Grid& grid, HWND control, int originX, int originY) {
    const wm::Window* window = wm::Find(control);
    if (window == nullptr || !window->Visible() || window->destroying)
        return;
    Box box = BoxOf(*window, originX, originY);
    if (box.top > kClientRows)
        return;
    bool focused = Focused(control);
    if (wm::HasClass(control, classes::kStatic)) {
        if (std::optional<classes::StaticIcon> icon = classes::IconOf(control))
            DrawIcon(grid, *window, *icon, box);
        else
            DrawStaticText(grid, *window, box);
        return;
    }
    if (wm::HasClass(control, classes::kListBox)) {
        if (HWND upDown = updown::SpinnerOf(control))
            DrawSpinner(grid, control, upDown, box);
        else
            DrawPlainList(grid, control, box);
    } else if (wm::HasClass(control, classes::kEdit)) {
        DrawEdit(grid, *window, box, focused);
    } else if (wm::HasClass(control, classes::kButton)) {
        DrawButton(grid, *window, box);
    } else if (wm::HasClass(control, classes::kUpDown)) {
        // Drawn with the list it spins.
        return;
    } else if (!window->text.empty()) {
        grid.Put(box.left, box.top, window->text);
    }
    if (focused)
        MarkFocus(grid, box);
}

// ---- Bars, menus and boxes ----

void DrawTitle(Grid& grid, std::u16string_view title) {
    grid.Put(0, kTitleRow, Fit(title, grid.Columns()));
    grid.AddAttributes(0, kTitleRow, grid.Columns(), kReverse | kBold);
}

void DrawSoftKeys(Grid& grid, std::u16string left, std::u16string right) {
    int half = grid.Columns() / 2;
    int rightWidth =
        std::min(TextWidth(right), grid.Columns() - std::min(TextWidth(left), half) - 1);
    right = Fit(right, std::max(rightWidth, 0));
    left = Fit(left, grid.Columns() - TextWidth(right) - (right.empty() ? 0 : 1));
    grid.Put(0, kSoftKeyRow, left);
    grid.Put(grid.Columns() - TextWidth(right), kSoftKeyRow, right);
    grid.AddAttributes(0, kSoftKeyRow, grid.Columns(), kReverse);
}

std::u16string SoftKeyLabel(const std::vector<menubar::SoftKey>& keys, std::size_t index) {
    if (index >= keys.size() || (keys[index].state & TBSTATE_HIDDEN))
        return {};
    const menubar::SoftKey& key = keys[index];
    std::u16string label = WithoutPrefixes(key.label);
    if (key.DropsDown())
        label += std::u16string(u" ") + kMenuSign;
    return label;
}

// One row of a menu or an open list.
struct FramedRow {
    std::u16string text;
    bool separator = false;
    bool dim = false;
};

// A framed list of rows over the screen: rows [top, bottom) and columns [left, right), the
// `highlighted` row reversed with the mark before it, scrolled to keep it in view; ▲ and ▼ on
// the frame say that more lies above or below.
void DrawFramedList(Grid& grid, const Box& frame, const std::vector<FramedRow>& rows,
                    int highlighted) {
    for (int row = frame.top; row < frame.bottom; ++row) {
        for (int column = frame.left; column < frame.right; ++column)
            grid.Set(column, row, Cell{});
    }
    int inner = frame.Width() - 2;
    std::u16string line(inner, u'─');
    grid.Put(frame.left, frame.top, u"┌" + line + u"┐");
    grid.Put(frame.left, frame.bottom - 1, u"└" + line + u"┘");
    auto count = static_cast<int>(rows.size());
    int visible = frame.bottom - frame.top - 2;
    int first = FirstVisible(highlighted, count, visible);
    if (first > 0)
        grid.Put(frame.right - 2, frame.top, u"▲");
    if (first + visible < count)
        grid.Put(frame.right - 2, frame.bottom - 1, u"▼");
    for (int i = 0; i < visible; ++i) {
        int row = frame.top + 1 + i;
        grid.Put(frame.left, row, u"│");
        grid.Put(frame.right - 1, row, u"│");
        if (first + i >= count)
            continue;
        const FramedRow& entry = rows[first + i];
        if (entry.separator) {
            grid.Put(frame.left + 1, row, line);
            continue;
        }
        bool isHighlighted = first + i == highlighted;
        if (isHighlighted)
            grid.Put(frame.left + 1, row, std::u16string(1, kFocusMark));
        grid.Put(frame.left + 2, row, Fit(entry.text, inner - 1), entry.dim ? kDim : kPlain);
        if (isHighlighted)
            grid.AddAttributes(frame.left + 1, row, frame.right - 1, kReverse);
    }
}

// The pop-up menu, over the soft key that opened it, its items numbered as the digit keys
// pick them.
void DrawPopupMenu(Grid& grid, const menubar::OpenPopup& popup) {
    const auto* items = popup.items;
    if (items == nullptr || items->empty())
        return;
    std::vector<FramedRow> rows;
    int number = 0;
    int widest = 0;
    for (const menus::MenuItem& item : *items) {
        FramedRow row;
        if (item.IsSeparator()) {
            row.separator = true;
        } else {
            ++number;
            std::u16string prefix =
                number <= 9 ? std::u16string{static_cast<char16_t>(u'0' + number), u' '} : u"  ";
            row.text = prefix + WithoutPrefixes(item.text) + (item.IsPopup() ? u" ▸" : u"");
            row.dim = !item.IsEnabled();
        }
        widest = std::max(widest, TextWidth(row.text));
        rows.push_back(std::move(row));
    }
    int width = std::min(widest + 4, grid.Columns());
    int height = std::min(static_cast<int>(rows.size()) + 2, kClientRows);
    Box frame;
    frame.bottom = kSoftKeyRow;
    frame.top = frame.bottom - height;
    bool fromRight = popup.key == 1;
    frame.left = fromRight ? grid.Columns() - width : 0;
    frame.right = frame.left + width;
    DrawFramedList(grid, frame, rows, popup.highlighted);
}

// An expanded spinner: its whole list over the screen's area.
void DrawExpandedList(Grid& grid, HWND upDown, int highlighted) {
    HWND list = reinterpret_cast<HWND>(SendMessageW(upDown, UDM_GETBUDDY, 0, 0));
    if (!wm::HasClass(list, classes::kListBox))
        return;
    std::vector<FramedRow> rows;
    for (int i = 0, count = CountOf(list); i < count; ++i)
        rows.push_back({EntryOf(list, i)});
    Box frame{0, 1, grid.Columns(), 1 + kClientRows};
    DrawFramedList(grid, frame, rows, highlighted);
}

// A message box fills the display: its caption as the title, its text wrapped at blanks, and
// its one button on the left soft key.
void DrawMessageBox(Grid& grid, const classes::MessageBoxContent& box) {
    grid = Grid(grid.Columns(), grid.Rows());
    DrawTitle(grid, box.caption);
    std::vector<std::u16string> lines = Wrap(box.text, grid.Columns() - 2);
    int row = 2;
    for (std::size_t i = 0; i < lines.size() && row <= kClientRows; ++i, ++row) {
        bool lastRoom = row == kClientRows && i + 1 < lines.size();
        grid.Put(1, row, lastRoom ? Fit(lines[i] + u"…", grid.Columns() - 2) : lines[i]);
    }
    DrawSoftKeys(grid, box.buttons.empty() ? u"OK" : box.buttons[0], u"");
}

bool Shows(const wm::Window* window) {
    return window != nullptr && window->Visible() && !window->destroying;
}

// The screen in front: the foreground window, or when there is none (between two screens) the
// frontmost visible one that can be activated.
HWND ScreenInFront() {
    HWND foreground = wm::Foreground();
    if (Shows(wm::Find(foreground)))
        return foreground;
    for (HWND topLevel : wm::TopLevelWindows()) {
        const wm::Window* window = wm::Find(topLevel);
        if (Shows(window) && !(window->exStyle & WS_EX_NOACTIVATE))
            return topLevel;
    }
    return nullptr;
}

}  // namespace

// ---- Public helpers ----

int ColumnOf(int x) {
    int width = wm::TheDisplay().width;
    int scaled = x * kColumns;
    // Rounds to the nearest column, a half rounding up (floor division for negative places).
    int numerator = scaled + width / 2;
    return numerator >= 0 ? numerator / width : -((-numerator + width - 1) / width);
}

int RowOf(int y) {
    // The nearest row, a half rounding down.
    int numerator = y + 3;
    return numerator >= 0 ? numerator / 8 : -((-numerator + 7) / 8);
}

Grid DrawScreen() {
    Grid grid;
    HWND screen = ScreenInFront();
    const wm::Window* window = wm::Find(screen);
    if (window == nullptr)
        return grid;
    if (std::optional<classes::MessageBoxContent> box = classes::MessageBoxOf(screen)) {
        DrawMessageBox(grid, *box);
        return grid;
    }
    DrawTitle(grid, window->text);
    std::vector<HWND> children = window->children;
    for (HWND child : children)
        DrawControl(grid, child, window->x, window->y);

    HWND menuBar = SHFindMenuBar(screen);
    HWND captured = wm::KeyCapture();
    std::optional<int> openList = updown::OpenListHighlight(captured);
    if (openList && wm::TopLevelOf(captured) == screen) {
        // The open list takes every key; its soft keys pick the entry or close it unchanged.
        DrawExpandedList(grid, captured, *openList);
        DrawSoftKeys(grid, u"OK", u"Annuler");
    } else if (menuBar != nullptr && IsWindowVisible(menuBar)) {
        std::vector<menubar::SoftKey> keys = menubar::SoftKeysOf(menuBar);
        DrawSoftKeys(grid, SoftKeyLabel(keys, 0), SoftKeyLabel(keys, 1));
        if (std::optional<menubar::OpenPopup> popup = menubar::PopupOf(menuBar);
            popup && captured == menuBar)
            DrawPopupMenu(grid, *popup);
    } else {
        DrawSoftKeys(grid, u"", u"");
    }

    // A message box the screen owns stands over it.
    for (HWND owned : wm::OwnedWindows(screen)) {
        const wm::Window* ownedWindow = wm::Find(owned);
        if (!Shows(ownedWindow))
            continue;
        if (std::optional<classes::MessageBoxContent> box = classes::MessageBoxOf(owned)) {
            DrawMessageBox(grid, *box);
            break;
        }
    }
    return grid;
}

}  // namespace render
