#pragma once
// The plot pane: the signal's traces over the window of atoms, one colour
// per component, on the shared chart (a braille canvas, or blocks where
// the locale is not UTF-8), with its y axis, its time axis and a legend of
// each component's min, max and mean; the title line gives the rate.
#include "browse/display_text.h"
#include "browse/layout.h"
#include "browse/plot_view.h"
#include "plot/cell_grid.h"

namespace browse {

struct Theme;

void DrawPlotPane(const PlotView& view, Charset_e charset, bool colour, const Theme& theme, const Rect& pane,
                  plot::CellGrid& grid);

// The title line: the path, the rate and the window.
std::string PlotTitle(const PlotView& view, const PlotStatus& status);

}  // namespace browse
