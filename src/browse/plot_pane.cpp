#include "browse/plot_pane.h"

#include <cmath>
#include <cstdio>

#include "browse/renderer.h"

namespace browse {

std::size_t PlotColumnsFor(const Layout& layout) {
    const int cells = layout.details.cols - c_axisCols - 1;
    return static_cast<std::size_t>(cells > 1 ? cells : 1) * 2;
}

namespace {

std::string Number(double v) {
    if (std::isnan(v)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

}  // namespace

std::string StatisticsText(const PlotView& view, const PlotStatistics& s) {
    std::string text = "rate " + Number(std::round(s.rate)) + "/s";
    for (std::size_t j = 0; j < s.min.size(); ++j) {
        const std::string name = j < view.components.size() ? view.components[j] : "c" + std::to_string(j);
        text += "  " + name + " " + Number(s.min[j]) + ".." + Number(s.max[j]) + " mean " + Number(s.mean[j]);
    }
    return text;
}

void DrawPlotPane(const PlotView& view, Charset_e charset, const Theme& theme, const Rect& pane, plot::CellGrid& grid) {
    grid.fill(pane.col, pane.row, pane.cols, 1, U' ', theme.title);
    std::string title = " plot " + DisplayText(view.path, charset);
    if (view.paused) title += "  (paused)";
    grid.put(pane.col, pane.row, CutToColumns(title, static_cast<std::size_t>(pane.cols)), theme.title, pane.cols);
    if (!view.error.empty()) {
        grid.put(pane.col + 1, pane.row + 1, DisplayText(view.error, charset), theme.error, pane.cols - 1);
        return;
    }
    if (!view.opened || !view.buffer) {
        grid.put(pane.col + 1, pane.row + 1, "opening the signal ...", theme.dim, pane.cols - 1);
        return;
    }
    const PlotFrame frame = view.buffer->Frame();
    const std::string stats = StatisticsText(view, frame.statistics);
    grid.put(pane.col + 1, pane.row + pane.rows - 1, CutToColumns(DisplayText(stats, charset),
                                                                   static_cast<std::size_t>(pane.cols - 1)),
             theme.dim, pane.cols - 1);
}

}  // namespace browse
