// Drawing the phone screen into a character grid: each control drawn from the window system's
// state at its template place, the title and soft-key bars, menus, lists and message boxes.
#include "platform/phone/render.h"

#include <windows.h>
#include <aygshell.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "base/text.h"
#include "platform/aygshell/menu_bar.h"
#include "platform/comctl32/updown.h"
#include "platform/kernel32/resources.h"
#include "platform/user32/window_classes.h"
#include "platform/user32/window_manager.h"

namespace render {

namespace {

constexpr char32_t kReplacement = U'\uFFFD';
constexpr char32_t kEllipsis = U'…';
constexpr char16_t kLeftArrow = u'◀';
constexpr char16_t kRightArrow = u'▶';
constexpr char16_t kMenuSign = u'▲';
constexpr char16_t kCaret = u'▏';
constexpr char16_t kFocusMark = u'>';
constexpr std::uint32_t kIconBackdrop = 0x800080;  // purple: far from black, white and grey

// ---- Text ----

// Code points of UTF-16 text; a lone surrogate is one code point of its own.
std::u32string CodePoints(std::u16string_view text) {
    std::u32string points;
    points.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            points.push_back(0x10000 + ((char32_t{c} - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            points.push_back(c);
        }
    }
    return points;
}

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// What a code point shows as in one cell: invalid text as U+FFFD, control characters as '?'.
char32_t Shown(char32_t c) {
    if (IsSurrogate(c) || c > 0x10FFFF)
        return kReplacement;
    if (IsControl(c))
        return U'?';
    return c;
}

std::u16string ToUtf16(std::u32string_view points) {
    std::u16string text;
    for (char32_t c : points) {
        if (c >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(c));
        }
    }
    return text;
}

int Width(std::u32string_view points) {
    int width = 0;
    for (char32_t c : points)
        width += WidthOf(Shown(c));
    return width;
}

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

// Lines of a text; "\r\n" counts as one break.
std::vector<std::u16string> Lines(std::u16string_view text) {
    std::vector<std::u16string> lines(1);
    for (char16_t c : text) {
        if (c == u'\n')
            lines.emplace_back();
        else if (c != u'\r')
            lines.back().push_back(c);
    }
    return lines;
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

// An image of an icon: each pixel its colour, or nothing where the icon is transparent.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::optional<std::uint32_t>> pixels;  // rows top to bottom
};

struct Reader {
    std::span<const unsigned char> data;
    bool Has(std::size_t offset, std::size_t size) const {
        return offset <= data.size() && size <= data.size() - offset;
    }
    std::uint32_t U16(std::size_t offset) const { return data[offset] | data[offset + 1] << 8; }
    std::uint32_t U32(std::size_t offset) const {
        return U16(offset) | static_cast<std::uint32_t>(U16(offset + 2)) << 16;
    }
};

// An icon image in the device-independent bitmap form icon resources hold: the colour bits
// (1, 4, 8, 24 or 32 bits a pixel, bottom row first) then the 1-bit transparency mask.
std::optional<Picture> DecodeIconImage(std::span<const unsigned char> data) {
    Reader in{data};
    if (!in.Has(0, 40))
        return std::nullopt;
    std::uint32_t headerSize = in.U32(0);
    auto width = static_cast<std::int32_t>(in.U32(4));
    auto doubleHeight = static_cast<std::int32_t>(in.U32(8));
    std::uint32_t bits = in.U16(14);
    std::uint32_t compression = in.U32(16);
    std::uint32_t coloursUsed = in.U32(32);
    if (headerSize < 40 || compression != 0 || width <= 0 || width > 256 || doubleHeight <= 0 ||
        doubleHeight > 512 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
        return std::nullopt;
    int height = doubleHeight / 2;
    std::size_t paletteSize = bits <= 8 ? (coloursUsed != 0 ? coloursUsed : 1u << bits) : 0;
    if (paletteSize > 256)
        return std::nullopt;
    std::size_t paletteAt = headerSize;
    std::size_t colourStride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    std::size_t maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    std::size_t colourAt = paletteAt + paletteSize * 4;
    std::size_t maskAt = colourAt + colourStride * height;
    if (!in.Has(paletteAt, paletteSize * 4) || !in.Has(colourAt, colourStride * height))
        return std::nullopt;
    bool hasMask = in.Has(maskAt, maskStride * height);

    auto rgb = [](std::uint32_t b, std::uint32_t g, std::uint32_t r) {
        return r << 16 | g << 8 | b;
    };
    Picture picture{width, height, {}};
    picture.pixels.resize(static_cast<std::size_t>(width) * height);
    bool anyAlpha = false;
    std::vector<std::uint8_t> alpha(picture.pixels.size(), 0);
    for (int y = 0; y < height; ++y) {
        std::size_t row = colourAt + colourStride * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t colour = 0;
            if (bits <= 8) {
                std::size_t bit = static_cast<std::size_t>(x) * bits;
                std::uint32_t byte = data[row + bit / 8];
                std::uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= paletteSize)
                    index = 0;
                std::size_t entry = paletteAt + index * 4;
                colour = rgb(data[entry], data[entry + 1], data[entry + 2]);
            } else {
                std::size_t at = row + static_cast<std::size_t>(x) * (bits / 8);
                colour = rgb(data[at], data[at + 1], data[at + 2]);
                if (bits == 32) {
                    alpha[y * width + x] = data[at + 3];
                    anyAlpha = anyAlpha || data[at + 3] != 0;
                }
            }
            bool transparent = false;
            if (hasMask) {
                std::size_t maskRow = maskAt + maskStride * (height - 1 - y);
                transparent = (data[maskRow + x / 8] >> (7 - x % 8)) & 1;
            }
            std::size_t at = static_cast<std::size_t>(y) * width + x;
            picture.pixels[at] = transparent ? std::nullopt : std::optional(colour);
        }
    }
    // Images with an alpha channel say their transparency there.
    if (anyAlpha) {
        for (std::size_t i = 0; i < alpha.size(); ++i) {
            if (alpha[i] < 128)
                picture.pixels[i].reset();
        }
    }
    return picture;
}

// The largest image of an icon group that can be decoded: the best source to scale down.
std::optional<Picture> LoadIcon(const classes::StaticIcon& icon) {
    LPCWSTR resourceName = icon.name.empty() ? MAKEINTRESOURCE(icon.id) : icon.name.c_str();
    auto group = resources::Find(icon.module, RT_GROUP_ICON, resourceName);
    if (!group)
        return std::nullopt;
    Reader in{*group};
    if (!in.Has(0, 6))
        return std::nullopt;
    std::uint32_t count = in.U16(4);
    std::optional<Picture> best;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t entry = 6 + i * 14;
        if (!in.Has(entry, 14))
            break;
        auto id = static_cast<WORD>(in.U16(entry + 12));
        auto image = resources::Find(icon.module, RT_ICON, MAKEINTRESOURCE(id));
        if (!image)
            continue;
        std::optional<Picture> picture = DecodeIconImage(*image);
        if (picture && (!best || picture->width * picture->height > best->width * best->height))
            best = std::move(picture);
    }
    return best;
}

// The picture scaled to width x height: a pixel shows where at least half of what it covers
// is opaque, in the average colour of that part.
Picture Scale(const Picture& source, int width, int height) {
    Picture scaled{width, height, {}};
    scaled.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        int y0 = y * source.height / height;
        int y1 = std::max((y + 1) * source.height / height, y0 + 1);
        for (int x = 0; x < width; ++x) {
            int x0 = x * source.width / width;
            int x1 = std::max((x + 1) * source.width / width, x0 + 1);
            std::uint32_t r = 0, g = 0, b = 0, opaque = 0, total = 0;
            for (int sy = y0; sy < y1 && sy < source.height; ++sy) {
                for (int sx = x0; sx < x1 && sx < source.width; ++sx) {
                    ++total;
                    const auto& pixel =
                        source.pixels[static_cast<std::size_t>(sy) * source.width + sx];
                    if (!pixel)
                        continue;
                    ++opaque;
                    r += *pixel >> 16 & 0xFF;
                    g += *pixel >> 8 & 0xFF;
                    b += *pixel & 0xFF;
                }
            }
            if (opaque == 0 || opaque * 2 < total)
                continue;
            scaled.pixels[static_cast<std::size_t>(y) * width + x] =
                (r / opaque) << 16 | (g / opaque) << 8 | (b / opaque);
        }
    }
    return scaled;
}

// An icon as half-block characters: each cell shows two pixels, one above the other, so the
// pixels come out about square.
void DrawIcon(Grid& grid, const wm::Window& window, const classes::StaticIcon& source,
              const Box& box) {
    int width = box.Width();
    int rows = std::max(1, (window.cy + 7) / 8);
    int pixelRows = 2 * rows;
    std::optional<Picture> icon = LoadIcon(source);
    if (!icon) {
        for (int row = box.top; row < box.top + rows; ++row)
            grid.Put(box.left, row, std::u16string(width, u'▒'));
        return;
    }
    Picture picture = Scale(*icon, width, pixelRows);
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
    return Width(CodePoints(text.substr(from, to - from)));
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
    std::u16string label = u"[" + WithoutPrefixes(window.text) + u"]";
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

int WidthOf(char32_t c) {
    if (c == 0)
        return 0;
    // Combining marks.
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
        (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
        (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200D)
        return 0;
    // East Asian wide and full-width characters, and the common emoji.
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
        (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
        (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
        (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
        (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

Grid::Grid(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(static_cast<std::size_t>(columns) * rows) {}

bool Grid::Contains(int column, int row) const {
    return column >= 0 && column < columns_ && row >= 0 && row < rows_;
}

const Cell& Grid::At(int column, int row) const {
    static const Cell blank;
    if (!Contains(column, row))
        return blank;
    return cells_[static_cast<std::size_t>(row) * columns_ + column];
}

void Grid::Set(int column, int row, const Cell& cell) {
    if (!Contains(column, row))
        return;
    Cell& target = cells_[static_cast<std::size_t>(row) * columns_ + column];
    // Half of a wide character cannot stay alone.
    if (target.continuation && column > 0)
        cells_[static_cast<std::size_t>(row) * columns_ + column - 1] = Cell{};
    if (column + 1 < columns_ &&
        cells_[static_cast<std::size_t>(row) * columns_ + column + 1].continuation)
        cells_[static_cast<std::size_t>(row) * columns_ + column + 1] = Cell{};
    target = cell;
}

int Grid::Put(int column, int row, std::u16string_view text, std::uint8_t attributes, int end) {
    if (end < 0 || end > columns_)
        end = columns_;
    if (row < 0 || row >= rows_)
        return column;
    int start = column;
    for (char32_t c : CodePoints(text)) {
        char32_t shown = Shown(c);
        int width = WidthOf(shown);
        if (width == 0) {
            if (column > start && column - 1 < end && column - 1 >= 0) {
                Cell& previous = cells_[static_cast<std::size_t>(row) * columns_ + column - 1];
                if (previous.mark == 0)
                    previous.mark = shown;
            }
            continue;
        }
        if (column + width > end)
            break;
        if (column >= 0) {
            Cell cell;
            cell.ch = shown;
            cell.attributes = attributes;
            Set(column, row, cell);
            if (width == 2) {
                Cell half;
                half.continuation = true;
                half.attributes = attributes;
                Set(column + 1, row, half);
                cells_[static_cast<std::size_t>(row) * columns_ + column] = cell;
            }
        }
        column += width;
    }
    return column;
}

void Grid::AddAttributes(int column, int row, int end, std::uint8_t attributes) {
    for (int c = std::max(column, 0); c < std::min(end, columns_); ++c) {
        if (Contains(c, row))
            cells_[static_cast<std::size_t>(row) * columns_ + c].attributes |= attributes;
    }
}

std::string Grid::RowText(int row) const {
    std::string line;
    std::size_t kept = 0;
    for (int column = 0; column < columns_; ++column) {
        const Cell& cell = At(column, row);
        if (cell.continuation)
            continue;
        text::AppendUtf8(line, cell.ch);
        if (cell.mark != 0)
            text::AppendUtf8(line, cell.mark);
        if (cell.ch != U' ' || cell.mark != 0)
            kept = line.size();
    }
    line.resize(kept);
    return line;
}

std::string Grid::Text() const {
    std::string text;
    for (int row = 0; row < rows_; ++row) {
        text += RowText(row);
        text += '\n';
    }
    return text;
}

int TextWidth(std::u16string_view text) {
    return Width(CodePoints(text));
}

std::u16string Fit(std::u16string_view text, int width) {
    if (width <= 0)
        return {};
    std::u32string points = CodePoints(text);
    if (Width(points) <= width)
        return std::u16string(text);
    std::u32string cut;
    int used = 0;
    for (char32_t c : points) {
        int w = WidthOf(Shown(c));
        if (used + w > width - 1)
            break;
        cut.push_back(c);
        used += w;
    }
    while (!cut.empty() && cut.back() == U' ')
        cut.pop_back();
    cut.push_back(kEllipsis);
    return ToUtf16(cut);
}

std::vector<std::u16string> Wrap(std::u16string_view text, int width) {
    std::vector<std::u16string> wrapped;
    width = std::max(width, 1);
    for (const std::u16string& line : Lines(text)) {
        std::u32string rest = CodePoints(line);
        if (rest.empty()) {
            wrapped.emplace_back();
            continue;
        }
        while (!rest.empty()) {
            if (Width(rest) <= width) {
                wrapped.push_back(ToUtf16(rest));
                break;
            }
            // The longest start that fits, then back to its last blank if it has one.
            std::size_t fits = 0;
            int used = 0;
            while (fits < rest.size() && used + WidthOf(Shown(rest[fits])) <= width)
                used += WidthOf(Shown(rest[fits++]));
            std::size_t cut = fits;
            std::size_t next = fits;
            if (rest[fits] == U' ') {
                next = fits + 1;
            } else {
                std::size_t blank = rest.find_last_of(U' ', fits);
                if (blank != std::u32string::npos && blank > 0) {
                    cut = blank;
                    next = blank + 1;
                }
            }
            if (cut == 0)
                cut = next = std::max<std::size_t>(fits, 1);
            std::u32string piece = rest.substr(0, cut);
            while (!piece.empty() && piece.back() == U' ')
                piece.pop_back();
            wrapped.push_back(ToUtf16(piece));
            rest.erase(0, next);
            // Blanks where a line was broken do not start the next one.
            while (!rest.empty() && rest.front() == U' ')
                rest.erase(0, 1);
        }
    }
    return wrapped;
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
