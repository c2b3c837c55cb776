// A grid of character cells as the phone's screen shows text: wide characters and combining
// marks in their cells, attributes and colours, and text measured, cut and wrapped to fit cells.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace render {

// The phone's display: a title bar, 16 rows for the screen's own area, and the soft-key bar.
inline constexpr int kColumns = 30;
inline constexpr int kClientRows = 16;
inline constexpr int kRows = kClientRows + 2;
inline constexpr int kTitleRow = 0;
inline constexpr int kSoftKeyRow = kRows - 1;

enum Attribute : std::uint8_t {
    kPlain = 0,
    kReverse = 1,    // title bar, soft-key bar, highlighted entries
    kBold = 2,       // the focused control
    kUnderline = 4,  // an edit field's text
    kDim = 8,        // a grayed menu item
};

// A colour as 0xRRGGBB, or kNoColour for the terminal's own.
inline constexpr std::uint32_t kNoColour = 0xFFFFFFFF;

struct Cell {
    char32_t ch = U' ';
    char32_t mark = 0;  // a combining mark shown over `ch`, or 0
    std::uint8_t attributes = kPlain;
    std::uint32_t foreground = kNoColour;
    std::uint32_t background = kNoColour;
    // The right half of a wide character drawn in the cell before: shows nothing of its own.
    bool continuation = false;
};

// How many cells a character takes: 2 for East Asian wide ones, 0 for combining marks, else 1.
int WidthOf(char32_t c);

class Grid {
  public:
    Grid(int columns = kColumns, int rows = kRows);

    int Columns() const { return columns_; }
    int Rows() const { return rows_; }
    bool Contains(int column, int row) const;
    // Cells outside the grid read as blanks and are never written.
    const Cell& At(int column, int row) const;
    void Set(int column, int row, const Cell& cell);

    // Writes text from (column, row), cut at `end` (exclusive; -1 for the grid's right edge).
    // Invalid UTF-16 shows as U+FFFD and control characters as '?'. Returns the column after the
    // last cell written.
    int Put(int column, int row, std::u16string_view text, std::uint8_t attributes = kPlain,
            int end = -1);
    // Gives every cell of a row span these attributes (added to what they have).
    void AddAttributes(int column, int row, int end, std::uint8_t attributes);

    // A row as UTF-8 text, trailing blanks removed.
    std::string RowText(int row) const;
    // Every row, each ended by "\n".
    std::string Text() const;

  private:
    int columns_;
    int rows_;
    std::vector<Cell> cells_;
};

// The number of cells text takes (see WidthOf).
int TextWidth(std::u16string_view text);
// Text cut to at most `width` cells; a cut text ends with "…".
std::u16string Fit(std::u16string_view text, int width);
// The lines of a text; "\r\n" counts as one break.
std::vector<std::u16string> Lines(std::u16string_view text);
// Text broken into lines: at its line breaks, then at blanks so that each line fits `width`
// cells (a word longer than that is cut where the line ends).
std::vector<std::u16string> Wrap(std::u16string_view text, int width);

}  // namespace render
