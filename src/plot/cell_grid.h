// A rectangle of character cells: what a screen or a chart is drawn into
// before it reaches a terminal. Nothing here knows ncurses or escape
// sequences; the browser's terminal layer copies a grid to the screen, the
// signal plot prints one as text, and tests compare grids as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

// Colours are palette indexes (0-7 the basic eight, up to 255 where the
// terminal has them); kDefaultColour leaves the terminal's own colour.
constexpr std::int16_t kDefaultColour = -1;

enum Attribute : std::uint8_t {
  kPlain = 0,
  kBold = 1,
  kDim = 2,
  kReverse = 4,
  kUnderline = 8,
};

struct Style {
  std::int16_t fg = kDefaultColour;
  std::int16_t bg = kDefaultColour;
  std::uint8_t attributes = kPlain;

  friend bool operator==(const Style& a, const Style& b) {
    return a.fg == b.fg && a.bg == b.bg && a.attributes == b.attributes;
  }
  friend bool operator!=(const Style& a, const Style& b) { return !(a == b); }
};

// One cell holds one printable code point of one column's width.
struct Cell {
  char32_t ch = U' ';
  Style style;
};

class CellGrid {
 public:
  CellGrid() = default;
  CellGrid(int cols, int rows);

  int cols() const { return m_cols; }
  int rows() const { return m_rows; }
  bool contains(int col, int row) const { return col >= 0 && row >= 0 && col < m_cols && row < m_rows; }

  Cell& at(int col, int row) { return m_cells[index(col, row)]; }
  const Cell& at(int col, int row) const { return m_cells[index(col, row)]; }

  // Sets one cell; outside the grid it does nothing.
  void set(int col, int row, char32_t ch, Style style = {});

  // Writes UTF-8 text from (col, row) to the right, one code point a cell,
  // stopping at the grid's edge or after maxCols cells (maxCols < 0: no
  // limit). Bytes that are not UTF-8 and code points that are not
  // printable in one column (controls, wide or combining characters) are
  // drawn as U+FFFD, so that the grid never holds anything a terminal would
  // act on. Callers escape values first where the reader must see every
  // byte. Returns the number of cells written.
  int put(int col, int row, std::string_view utf8, Style style = {}, int maxCols = -1);

  // Fills a rectangle (clipped to the grid) with one character and style.
  void fill(int col, int row, int cols, int rows, char32_t ch = U' ', Style style = {});
  void clear(Style style = {}) { fill(0, 0, m_cols, m_rows, U' ', style); }

  // Copies another grid onto this one with its top left corner at (col, row),
  // clipped to this grid.
  void blit(const CellGrid& source, int col, int row);

  // One row as UTF-8, trailing blanks removed; the whole grid as rows joined
  // by '\n' (with a final '\n'). Styles are left out: this is what tests
  // compare and what a plain-text chart prints.
  std::string rowText(int row) const;
  std::string text() const;

 private:
  std::size_t index(int col, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_cols) + static_cast<std::size_t>(col);
  }

  int m_cols = 0;
  int m_rows = 0;
  std::vector<Cell> m_cells;
};

// Appends the UTF-8 encoding of a code point.
void appendUtf8(std::string& out, char32_t ch);

// Decodes the well-formed UTF-8 sequence at text[pos] (pos < size) into cp;
// gives its length, or 0 when the bytes there are not one (malformed,
// cut, overlong, a surrogate or beyond U+10FFFF).
std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& cp);

}  // namespace plot
