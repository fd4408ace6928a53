#include "browse/plot_pane.h"

#include <cmath>
#include <stdexcept>

#include "browse/renderer.h"
#include "plot/chart.h"

namespace browse {

std::string PlotTitle(const PlotView& view, const PlotStatus& status) {
    std::string title = " " + view.path + (view.paused ? "  (paused)" : "");
    if (view.stream)
        title += "  rate " + std::to_string(std::llround(status.rate)) + " atoms/s  window " +
                 std::to_string(status.window) + " atoms";
    else
        title += "  newest " + std::to_string(status.window) + " atoms, read every " +
                 std::to_string(c_plotFrame.count()) + " ms";
    return title;
}

void DrawPlotPane(const PlotView& view, Charset_e charset, bool colour, const Theme& theme, const Rect& pane,
                  plot::CellGrid& grid) {
    grid.fill(pane.col, pane.row, pane.cols, 1, U' ', theme.title);
    const auto message = [&](const std::string& text, plot::Style style) {
        grid.put(pane.col + 1, pane.row + 1, CutToColumns(DisplayText(text, charset), static_cast<std::size_t>(pane.cols - 1)),
                 style, pane.cols - 1);
    };
    if (!view.buffer || !view.opened) {
        grid.put(pane.col, pane.row, CutToColumns(" " + DisplayText(view.path, charset), static_cast<std::size_t>(pane.cols)),
                 theme.title, pane.cols);
        if (!view.error.empty()) message(view.error, theme.error);
        else message("opening the signal ...", theme.dim);
        return;
    }
    const PlotStatus status = view.buffer->Status();
    grid.put(pane.col, pane.row,
             CutToColumns(DisplayText(PlotTitle(view, status), charset), static_cast<std::size_t>(pane.cols)),
             theme.title, pane.cols);
    if (!status.error.empty()) {
        message(status.error, theme.error);
        return;
    }
    std::vector<std::string> names;
    for (const auto& name : view.components) names.push_back(DisplayText(name, charset));
    if (names.size() != status.components) names.resize(status.components);
    const int cols = pane.cols;
    const int rows = pane.rows - 1;
    if (!plot::Chart::sizeProblem(cols, rows, names).empty()) {
        message("the pane is too small for the plot", theme.dim);
        return;
    }
    const plot::Chart chart(cols, rows, names, charset == Charset_e::eUtf8 ? plot::Glyphs::kBraille : plot::Glyphs::kAscii);
    plot::ChartData data = chart.data(status.window);
    view.buffer->ReduceInto(data);
    plot::ChartOptions options;
    options.colour = colour;
    // A stream's axis counts atoms since the plot opened; data on demand
    // shows the newest window.
    const std::uint64_t first = view.stream && status.received > status.held ? status.received - status.held : 0;
    options.x = plot::XAxis{static_cast<double>(first), static_cast<double>(first + status.window - 1), "atoms"};
    chart.render(data, options, grid, pane.col, pane.row + 1);
}

}  // namespace browse
