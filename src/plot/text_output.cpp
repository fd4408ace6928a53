#include "plot/text_output.h"

namespace plot {
namespace {

void appendColour(std::string& out, std::int16_t colour, int base) {
  if (colour == kDefaultColour) return;
  if (colour < 8) {
    out += ';' + std::to_string(base + colour);
  } else {
    out += ';' + std::to_string(base + 8) + ";5;" + std::to_string(colour);
  }
}

bool isDefault(const Cell& cell) { return cell.ch == U' ' && cell.style == Style{}; }

}  // namespace

std::string sgrFor(const Style& style) {
  std::string out = "\x1b[0";
  if (style.attributes & kBold) out += ";1";
  if (style.attributes & kDim) out += ";2";
  if (style.attributes & kUnderline) out += ";4";
  if (style.attributes & kReverse) out += ";7";
  appendColour(out, style.fg, 30);
  appendColour(out, style.bg, 40);
  out += 'm';
  return out;
}

std::string toText(const CellGrid& grid, const TextOptions& options) {
  std::string out;
  for (int r = 0; r < grid.rows(); ++r) {
    int end = grid.cols();
    while (end > 0 && (options.sgr ? isDefault(grid.at(end - 1, r)) : grid.at(end - 1, r).ch == U' ')) --end;
    Style current;
    for (int c = 0; c < end; ++c) {
      const Cell& cell = grid.at(c, r);
      if (options.sgr && cell.style != current) {
        out += cell.style == Style{} ? std::string("\x1b[0m") : sgrFor(cell.style);
        current = cell.style;
      }
      if (options.asciiOnly && cell.ch >= 0x80)
        out += '?';
      else
        appendUtf8(out, cell.ch);
    }
    if (options.sgr && current != Style{}) out += "\x1b[0m";
    out += '\n';
  }
  return out;
}

}  // namespace plot
