#pragma once
// The data of the plot pane: the last `window` atoms of the signal and
// nothing more, in a ring, so that the memory does not grow with the rate
// or the time (the window is bounded by c_maxWindow). The acquisition
// thread adds atoms; the UI thread reduces the ring into a chart's data for
// each frame.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace plot {
class ChartData;
}

namespace browse {

// What a frame shows besides the traces.
struct PlotStatus {
    std::size_t components = 1;
    std::uint64_t window = 0;     // atoms the x axis spans
    std::uint64_t held = 0;       // atoms in the ring (up to the window)
    std::uint64_t received = 0;   // atoms received since the start (or the last reshape)
    double rate = 0;              // atoms per second, as received
    std::uint64_t generation = 0; // changes with every change of the data
    std::string error;            // the acquisition ended with this
};

// The ring holds at most this many elements (8 MiB of doubles): a signal
// of many components gets a shorter window.
constexpr std::uint64_t c_maxRingElements = std::uint64_t{1} << 20;

class PlotBuffer {
public:
    PlotBuffer(std::size_t components, std::uint64_t window);

    // Adds `atoms` atoms of interleaved components (atom i, component j at
    // i * components + j): a stream rolls on.
    template <class T>
    void Add(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now);
    // Replaces everything with one block (data on demand in Now mode).
    template <class T>
    void Replace(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now);

    // The signal's component count, once known: starts again.
    void SetComponents(std::size_t components);
    // The x axis spans `window` atoms from now on (zoom), as many as the
    // ring may hold: starts again when that changes the window.
    void SetWindow(std::uint64_t window);
    // Paused, atoms are dropped.
    void SetPaused(bool paused);
    void SetError(const std::string& error);

    std::uint64_t Window() const;
    PlotStatus Status() const;
    // Adds the atoms held, oldest first, to `data`.
    void ReduceInto(plot::ChartData& data) const;

private:
    template <class T>
    void AddLocked(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now);
    void ResetLocked();
    // `window` within 1 and what the ring may hold of m_components.
    std::uint64_t BoundedWindow(std::uint64_t window) const;

    mutable std::mutex m_lock;  // guards everything below
    std::size_t m_components;
    std::uint64_t m_window;
    std::vector<double> m_ring;      // m_window atoms of m_components elements
    std::uint64_t m_next = 0;        // ring index (in atoms) of the next atom
    std::uint64_t m_held = 0;
    std::uint64_t m_received = 0;
    bool m_paused = false;
    std::uint64_t m_generation = 0;
    std::string m_error;
    std::chrono::steady_clock::time_point m_rateStart{};
    std::uint64_t m_rateAtoms = 0;
    double m_rate = 0;
};

}  // namespace browse
