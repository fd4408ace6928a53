// A canvas of dots drawn with characters: braille patterns (2x4 dots a
// cell), half blocks (1x2) or plain ASCII (1x2) where a terminal or locale
// has no braille. Each cell keeps one colour, the colour of the last dot
// set in it. The canvas is copied into a CellGrid, where a chart adds its
// axes and legend.
#pragma once

#include <cstdint>
#include <vector>

#include "plot/cell_grid.h"

namespace plot {

enum class Glyphs : std::uint8_t {
  kBraille,  // U+2800..U+28FF: 2 columns x 4 rows of dots a cell
  kBlock,    // upper/lower half blocks: 1 x 2
  kAscii,    // ' . : (top, bottom, both): 1 x 2, for any terminal
};

struct DotsPerCell {
  int x;
  int y;
};

DotsPerCell dotsPerCell(Glyphs glyphs);

class DotCanvas {
 public:
  DotCanvas(int cols, int rows, Glyphs glyphs);

  int cols() const { return m_cols; }
  int rows() const { return m_rows; }
  Glyphs glyphs() const { return m_glyphs; }
  // Size in dots; (0, 0) is the top left dot.
  int width() const { return m_cols * m_dots.x; }
  int height() const { return m_rows * m_dots.y; }

  void clear();

  // Sets one dot; a dot outside the canvas is ignored.
  void set(int x, int y, std::int16_t colour = kDefaultColour);

  // The dots of column x from y0 to y1 (either order), clipped.
  void vline(int x, int y0, int y1, std::int16_t colour = kDefaultColour);

  // A straight line between two points given in dots; the part outside the
  // canvas is clipped first, so that far-off or huge coordinates cost no
  // more than the visible part. Coordinates that are not finite draw nothing.
  void line(double x0, double y0, double x1, double y1, std::int16_t colour = kDefaultColour);

  // The character a cell shows (a blank where it has no dot).
  char32_t glyph(int col, int row) const;

  // Copies the cells with at least one dot into `grid` at (col, row), each in
  // its colour; cells without dots leave the grid as it was.
  void drawInto(CellGrid& grid, int col, int row) const;

 private:
  std::size_t cell(int col, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_cols) + static_cast<std::size_t>(col);
  }

  int m_cols;
  int m_rows;
  Glyphs m_glyphs;
  DotsPerCell m_dots;
  std::vector<std::uint8_t> m_bits;     // one bit per dot of the cell
  std::vector<std::int16_t> m_colours;  // per cell
};

}  // namespace plot
