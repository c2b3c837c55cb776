// The character grid and text in cells: code points, cell widths, and fitting and wrapping.
#include "platform/phone/grid.h"

#include <algorithm>

#include "base/text.h"

namespace render {

namespace {

constexpr char32_t kReplacement = U'\uFFFD';
constexpr char32_t kEllipsis = U'…';

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

}  // namespace

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

}  // namespace render
