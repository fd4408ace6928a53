#pragma once
// The plot pane's state on the UI thread: which signal, paused or not, the
// zoom, and the buffer the acquisition fills.
#include <memory>
#include <string>
#include <vector>

#include "browse/layout.h"
#include "browse/plot_buffer.h"

namespace browse {

// A stream's columns start this many atoms wide; data on demand reads
// the pane's width times this.
constexpr std::uint64_t c_defaultAtomsPerColumn = 64;
// The widest zoom: a column of this many atoms.
constexpr std::uint64_t c_maxAtomsPerColumn = 1u << 16;
// The plot pane redraws this often while data arrives.
constexpr std::chrono::milliseconds c_plotFrame{50};

// The columns of atoms the plot pane of a layout shows: two dots a cell
// across the pane less its axis labels.
std::size_t PlotColumnsFor(const Layout& layout);

struct PlotView {
    std::string path;
    std::vector<std::string> components;
    bool stream = false;
    bool opened = false;         // the acquisition runs
    bool paused = false;
    std::string error;
    std::shared_ptr<PlotBuffer> buffer;
    std::uint64_t drawnGeneration = 0;
};

}  // namespace browse
