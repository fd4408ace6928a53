#pragma once
// The data of the plot pane: what the pane can show and nothing more. The
// acquisition thread adds atoms; they are gathered into columns of a fixed
// number of atoms each (the minimum, maximum and mean of every component
// per column), and only the last `columns` columns are kept, so the memory
// does not grow with the rate or the time. The UI thread takes a copy of
// the columns for each frame.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace browse {

struct PlotColumn {
    std::vector<double> min;   // per component
    std::vector<double> max;
    std::vector<double> sum;   // of the finite atoms
    std::uint64_t atoms = 0;   // atoms gathered
    std::vector<std::uint64_t> finite;  // finite atoms per component
};

struct PlotStatistics {
    double rate = 0;                 // atoms per second, as received
    std::vector<double> min, max, mean;  // per component, over the columns shown
    std::uint64_t atoms = 0;         // atoms in the columns shown
};

// A copy of what a frame draws.
struct PlotFrame {
    std::size_t components = 0;
    std::uint64_t atomsPerColumn = 1;
    std::vector<PlotColumn> columns;  // oldest first; the last may be partial
    PlotStatistics statistics;
    std::uint64_t generation = 0;     // changes with every change of the data
    std::string error;                // the acquisition ended with this
};

class PlotBuffer {
public:
    PlotBuffer(std::size_t components, std::size_t columns, std::uint64_t atomsPerColumn);

    // Adds `atoms` atoms of interleaved components (atom i, component j at
    // i * components + j). Streams: the columns roll on.
    template <class T>
    void Add(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now);
    // Replaces everything with one block (data on demand, read again and
    // again in Now mode).
    template <class T>
    void Replace(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now);

    // The pane changed size, or the zoom changed: starts again with the new
    // shape (what was gathered cannot be split into finer columns).
    void Reshape(std::size_t columns, std::uint64_t atomsPerColumn);
    // The signal's component count, once known: starts again.
    void SetComponents(std::size_t components);
    void SetPaused(bool paused);
    void SetError(const std::string& error);

    std::size_t Columns() const;
    std::uint64_t AtomsPerColumn() const;
    // Atoms one read on demand asks for: the whole width.
    std::uint64_t AtomsShown() const;
    PlotFrame Frame() const;

private:
    void AddValueLocked(std::size_t component, double value);
    void EndAtomLocked();
    void NoteArrivalLocked(std::size_t atoms, std::chrono::steady_clock::time_point now);
    PlotColumn EmptyColumn() const;

    mutable std::mutex m_lock;  // guards everything below
    std::size_t m_components;
    std::size_t m_columnsWanted;
    std::uint64_t m_atomsPerColumn;
    std::vector<PlotColumn> m_columns;  // a ring of m_columnsWanted
    std::size_t m_oldest = 0;           // ring index of the oldest column
    bool m_paused = false;
    std::uint64_t m_generation = 0;
    std::string m_error;
    // The rate: atoms received since m_rateStart.
    std::chrono::steady_clock::time_point m_rateStart{};
    std::uint64_t m_rateAtoms = 0;
    double m_rate = 0;
};

}  // namespace browse
