#pragma once
// The plot pane's state on the UI thread: which signal, paused or not, and
// the buffer the acquisition fills (its window is the zoom of the time
// axis).
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "browse/plot_buffer.h"

namespace browse {

// The time axis spans this many atoms at first; + and - halve and double
// it within the bounds. Data on demand reads a window's worth each time.
constexpr std::uint64_t c_defaultWindow = 4096;
constexpr std::uint64_t c_minWindow = 16;
constexpr std::uint64_t c_maxWindow = std::uint64_t{1} << 18;
// The plot pane redraws this often while data arrives.
constexpr std::chrono::milliseconds c_plotFrame{50};

struct PlotView {
    std::string path;
    std::vector<std::string> components;
    bool stream = false;
    bool opened = false;         // the acquisition runs
    bool paused = false;
    std::string error;
    std::shared_ptr<PlotBuffer> buffer;
};

}  // namespace browse
