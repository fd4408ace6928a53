#include "plot/dot_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace plot {
namespace {

// Braille dot bits by position in the cell: column 0 holds dots 1, 2, 3, 7;
// column 1 dots 4, 5, 6, 8 (top to bottom).
constexpr std::uint8_t kBrailleBits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};

std::uint8_t dotBit(Glyphs glyphs, int dx, int dy) {
  if (glyphs == Glyphs::kBraille) return kBrailleBits[dx][dy];
  return static_cast<std::uint8_t>(1u << dy);  // 1: top half, 2: bottom half
}

// Clips the segment (a0, b0)-(a1, b1) to lo <= a <= hi along its first
// coordinate; false when nothing of it is left. Each end that is cut is
// moved along the line from itself, so that a short visible part of a line
// with a far-off end keeps its precision. Halves keep differences finite.
bool clipAxis(double& a0, double& b0, double& a1, double& b1, double lo, double hi) {
  if (a0 > a1) {
    std::swap(a0, a1);
    std::swap(b0, b1);
  }
  if (a1 < lo || a0 > hi) return false;
  if (a0 == a1) return true;
  const double slope = (b1 * 0.5 - b0 * 0.5) / (a1 * 0.5 - a0 * 0.5);
  if (a0 < lo) b0 += (lo - a0) * slope, a0 = lo;
  if (a1 > hi) b1 -= (a1 - hi) * slope, a1 = hi;
  return std::isfinite(b0) && std::isfinite(b1);
}

bool clip(double& x0, double& y0, double& x1, double& y1, double xmin, double xmax, double ymin, double ymax) {
  return clipAxis(x0, y0, x1, y1, xmin, xmax) && clipAxis(y0, x0, y1, x1, ymin, ymax);
}

}  // namespace

DotsPerCell dotsPerCell(Glyphs glyphs) { return glyphs == Glyphs::kBraille ? DotsPerCell{2, 4} : DotsPerCell{1, 2}; }

DotCanvas::DotCanvas(int cols, int rows, Glyphs glyphs)
    : m_cols(std::max(cols, 0)),
      m_rows(std::max(rows, 0)),
      m_glyphs(glyphs),
      m_dots(dotsPerCell(glyphs)),
      m_bits(static_cast<std::size_t>(m_cols) * static_cast<std::size_t>(m_rows)),
      m_colours(m_bits.size(), kDefaultColour) {}

void DotCanvas::clear() {
  std::fill(m_bits.begin(), m_bits.end(), 0);
  std::fill(m_colours.begin(), m_colours.end(), kDefaultColour);
}

void DotCanvas::set(int x, int y, std::int16_t colour) {
  if (x < 0 || y < 0 || x >= width() || y >= height()) return;
  const std::size_t at = cell(x / m_dots.x, y / m_dots.y);
  m_bits[at] |= dotBit(m_glyphs, x % m_dots.x, y % m_dots.y);
  m_colours[at] = colour;
}

void DotCanvas::vline(int x, int y0, int y1, std::int16_t colour) {
  if (x < 0 || x >= width()) return;
  const int top = std::max(std::min(y0, y1), 0);
  const int bottom = std::min(std::max(y0, y1), height() - 1);
  for (int y = top; y <= bottom; ++y) set(x, y, colour);
}

void DotCanvas::line(double x0, double y0, double x1, double y1, std::int16_t colour) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  if (width() == 0 || height() == 0) return;
  // Dot (x, y) covers [x - 0.5, x + 0.5): clip to the dots' extent.
  if (!clip(x0, y0, x1, y1, -0.5, width() - 0.5, -0.5, height() - 0.5)) return;
  // Always walked from left to right, so that a line and its reverse set the same dots.
  if (x0 > x1 || (x0 == x1 && y0 > y1)) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  const long ix0 = std::lround(x0), iy0 = std::lround(y0);
  const long ix1 = std::lround(x1), iy1 = std::lround(y1);
  const long dx = std::labs(ix1 - ix0), dy = -std::labs(iy1 - iy0);
  const long sx = ix0 < ix1 ? 1 : -1, sy = iy0 < iy1 ? 1 : -1;
  long x = ix0, y = iy0, error = dx + dy;
  for (;;) {
    set(static_cast<int>(x), static_cast<int>(y), colour);
    if (x == ix1 && y == iy1) break;
    const long twice = 2 * error;
    if (twice >= dy) error += dy, x += sx;
    if (twice <= dx) error += dx, y += sy;
  }
}

char32_t DotCanvas::glyph(int col, int row) const {
  if (col < 0 || row < 0 || col >= m_cols || row >= m_rows) return U' ';
  const std::uint8_t bits = m_bits[cell(col, row)];
  switch (m_glyphs) {
    case Glyphs::kBraille:
      return bits == 0 ? U' ' : static_cast<char32_t>(0x2800 + bits);
    case Glyphs::kBlock: {
      static constexpr char32_t kBlocks[4] = {U' ', U'\u2580', U'\u2584', U'\u2588'};
      return kBlocks[bits & 3];
    }
    case Glyphs::kAscii: {
      static constexpr char32_t kAscii[4] = {U' ', U'\'', U'.', U':'};
      return kAscii[bits & 3];
    }
  }
  return U' ';
}

void DotCanvas::drawInto(CellGrid& grid, int col, int row) const {
  for (int r = 0; r < m_rows; ++r) {
    for (int c = 0; c < m_cols; ++c) {
      if (m_bits[cell(c, r)] == 0) continue;
      grid.set(col + c, row + r, glyph(c, r), Style{m_colours[cell(c, r)], kDefaultColour, kPlain});
    }
  }
}

}  // namespace plot
