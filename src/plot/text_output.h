// A CellGrid as text for a terminal or a file: plain UTF-8 or ASCII, or
// with SGR sequences for the cells' styles.
#pragma once

#include <string>

#include "plot/cell_grid.h"

namespace plot {

struct TextOptions {
  bool sgr = false;        // styles as SGR sequences, reset at the end of each row
  bool asciiOnly = false;  // characters beyond ASCII written as '?'
};

// The grid's rows, each ended by '\n', trailing blanks dropped.
std::string toText(const CellGrid& grid, const TextOptions& options = {});

// The SGR sequence that selects a style from the default one.
std::string sgrFor(const Style& style);

}  // namespace plot
