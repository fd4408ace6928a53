#pragma once
// signal --plot: the atoms as a chart on standard output. Each pass is one
// chart: printed when the pass is complete, or, on a terminal, redrawn in
// place as its atoms arrive (at most 10 frames a second) and by the next
// pass.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "plot/chart.h"
#include "plot/text_output.h"
#include "signal_views/signal_view.h"

namespace signal_views {

struct PlotSettings {
    int cols = 80;
    int rows = 16;
    plot::Glyphs glyphs = plot::Glyphs::kBraille;
    bool colour = false;  // SGR colours
    bool live = false;    // redraw in place (a terminal)
    std::optional<double> yMin;
    std::optional<double> yMax;
    // Atoms of one pass: the x axis spans them. 0: the first block of the
    // pass is the whole pass (data on demand).
    std::uint64_t passAtoms = 0;
};

class PlotView : public SignalView {
public:
    // Throws istd::Exception when the chart does not fit the size.
    PlotView(const SignalShape& shape, PlotSettings settings, std::FILE* out);

    void Atoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) override;
    void PassDone() override;
    void End(bool complete) override;

    // The chart as it stands, as text (tests and the frames).
    std::string Frame() const;

private:
    using Clock = std::chrono::steady_clock;
    void StartPass(std::uint32_t firstBlockAtoms, const isig::SignalMeta& meta);
    void Draw();

    SignalShape m_shape;
    PlotSettings m_settings;
    std::FILE* m_out;
    plot::Chart m_chart;
    plot::TextOptions m_text;
    std::optional<plot::ChartData> m_data;  // the pass being drawn
    std::uint64_t m_firstAtom = 0;          // position of the pass's first atom
    bool m_passOpen = false;   // atoms go to m_data; else the next atom starts a pass
    bool m_drawnOnce = false;  // a frame is on the terminal (live)
    bool m_shown = true;       // the output shows m_data as it is
    Clock::time_point m_lastFrame{};
};

}  // namespace signal_views
