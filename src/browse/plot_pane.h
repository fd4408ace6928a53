#pragma once
// The plot pane: the signal's traces over time, one colour per component,
// with the y axis, the time axis and a statistics line.
#include "browse/display_text.h"
#include "browse/layout.h"
#include "browse/plot_view.h"
#include "plot/cell_grid.h"

namespace browse {

struct Theme;

// The plot pane's columns left of the canvas, for the y axis' labels.
constexpr int c_axisCols = 8;

void DrawPlotPane(const PlotView& view, Charset_e charset, const Theme& theme, const Rect& pane,
                  plot::CellGrid& grid);

// "rate 100000/s  va 1..2 (1.5)": the statistics line's text.
std::string StatisticsText(const PlotView& view, const PlotStatistics& statistics);

}  // namespace browse
