#include "plot/cell_grid.h"

#include <algorithm>
#include <cwchar>

namespace plot {
namespace {

constexpr char32_t kReplacement = U'\uFFFD';

// A malformed, overlong or surrogate sequence yields U+FFFD and consumes
// one byte, so that every byte is accounted for.
char32_t decodeOne(std::string_view text, std::size_t& pos) {
  char32_t cp = 0;
  const std::size_t length = decodeUtf8(text, pos, cp);
  if (length == 0) {
    ++pos;
    return kReplacement;
  }
  pos += length;
  return cp;
}

// Printable in exactly one column. C0/C1 controls and DEL never reach a
// cell; beyond ASCII, wcwidth decides where the locale knows the
// character, and characters it does not know are replaced (a cell must
// not take two columns or none).
bool oneColumn(char32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return false;
  if (cp < 0x7F) return true;
  if (cp == kReplacement) return true;
  // Braille patterns and the block elements a chart draws with.
  if ((cp >= 0x2800 && cp <= 0x28FF) || (cp >= 0x2580 && cp <= 0x259F) || (cp >= 0x2500 && cp <= 0x257F)) return true;
  return wcwidth(static_cast<wchar_t>(cp)) == 1;
}

}  // namespace

std::size_t decodeUtf8(std::string_view text, std::size_t pos, char32_t& cp) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

CellGrid::CellGrid(int cols, int rows)
    : m_cols(std::max(cols, 0)),
      m_rows(std::max(rows, 0)),
      m_cells(static_cast<std::size_t>(m_cols) * static_cast<std::size_t>(m_rows)) {}

void CellGrid::set(int col, int row, char32_t ch, Style style) {
  if (!contains(col, row)) return;
  Cell& cell = at(col, row);
  cell.ch = oneColumn(ch) ? ch : kReplacement;
  cell.style = style;
}

int CellGrid::put(int col, int row, std::string_view utf8, Style style, int maxCols) {
  if (row < 0 || row >= m_rows) return 0;
  int written = 0;
  std::size_t pos = 0;
  while (pos < utf8.size() && col < m_cols && (maxCols < 0 || written < maxCols)) {
    const char32_t cp = decodeOne(utf8, pos);
    if (col >= 0) set(col, row, cp, style);
    ++col;
    ++written;
  }
  return written;
}

void CellGrid::fill(int col, int row, int cols, int rows, char32_t ch, Style style) {
  const int left = std::max(col, 0);
  const int top = std::max(row, 0);
  const int right = std::min(col + cols, m_cols);
  const int bottom = std::min(row + rows, m_rows);
  for (int r = top; r < bottom; ++r) {
    for (int c = left; c < right; ++c) set(c, r, ch, style);
  }
}

void CellGrid::blit(const CellGrid& source, int col, int row) {
  for (int r = 0; r < source.rows(); ++r) {
    for (int c = 0; c < source.cols(); ++c) {
      if (contains(col + c, row + r)) at(col + c, row + r) = source.at(c, r);
    }
  }
}

std::string CellGrid::rowText(int row) const {
  std::string out;
  if (row < 0 || row >= m_rows) return out;
  int last = m_cols - 1;
  while (last >= 0 && at(last, row).ch == U' ') --last;
  for (int c = 0; c <= last; ++c) appendUtf8(out, at(c, row).ch);
  return out;
}

std::string CellGrid::text() const {
  std::string out;
  for (int r = 0; r < m_rows; ++r) {
    out += rowText(r);
    out += '\n';
  }
  return out;
}

void appendUtf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

}  // namespace plot
