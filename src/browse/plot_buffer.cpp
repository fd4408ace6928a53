#include "browse/plot_buffer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace browse {
namespace {

// The rate is the count of one interval of at least this length.
constexpr std::chrono::milliseconds c_rateInterval{1000};

}  // namespace

PlotBuffer::PlotBuffer(std::size_t components, std::size_t columns, std::uint64_t atomsPerColumn)
    : m_components(std::max<std::size_t>(components, 1)),
      m_columnsWanted(std::max<std::size_t>(columns, 1)),
      m_atomsPerColumn(std::max<std::uint64_t>(atomsPerColumn, 1)) {}

PlotColumn PlotBuffer::EmptyColumn() const {
    PlotColumn c;
    c.min.assign(m_components, std::numeric_limits<double>::infinity());
    c.max.assign(m_components, -std::numeric_limits<double>::infinity());
    c.sum.assign(m_components, 0.0);
    c.finite.assign(m_components, 0);
    return c;
}

void PlotBuffer::AddValueLocked(std::size_t component, double value) {
    if (m_columns.empty()) m_columns.push_back(EmptyColumn());
    PlotColumn& c = m_columns[(m_oldest + m_columns.size() - 1) % m_columns.size()];
    if (!std::isfinite(value)) return;  // NaN and infinities leave a gap
    c.min[component] = std::min(c.min[component], value);
    c.max[component] = std::max(c.max[component], value);
    c.sum[component] += value;
    ++c.finite[component];
}

void PlotBuffer::EndAtomLocked() {
    PlotColumn& c = m_columns[(m_oldest + m_columns.size() - 1) % m_columns.size()];
    if (++c.atoms < m_atomsPerColumn) return;
    // The column is full: the next atom opens a new one, in place of the
    // oldest once the ring is full.
    if (m_columns.size() < m_columnsWanted) {
        // Keep ring order: with m_oldest 0 while growing, append.
        m_columns.push_back(EmptyColumn());
    } else {
        m_columns[m_oldest] = EmptyColumn();
        m_oldest = (m_oldest + 1) % m_columns.size();
    }
}

void PlotBuffer::NoteArrivalLocked(std::size_t atoms, std::chrono::steady_clock::time_point now) {
    if (m_rateStart == std::chrono::steady_clock::time_point{}) m_rateStart = now;
    m_rateAtoms += atoms;
    const auto elapsed = now - m_rateStart;
    if (elapsed >= c_rateInterval) {
        m_rate = static_cast<double>(m_rateAtoms) / std::chrono::duration<double>(elapsed).count();
        m_rateStart = now;
        m_rateAtoms = 0;
    }
    ++m_generation;
}

template <class T>
void PlotBuffer::Add(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_paused) return;
    for (std::size_t i = 0; i < atoms; ++i) {
        for (std::size_t j = 0; j < m_components; ++j)
            AddValueLocked(j, static_cast<double>(elements[i * m_components + j]));
        EndAtomLocked();
    }
    NoteArrivalLocked(atoms, now);
}

template <class T>
void PlotBuffer::Replace(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_paused) return;
        m_columns.clear();
        m_oldest = 0;
    }
    Add(elements, atoms, now);
}

void PlotBuffer::Reshape(std::size_t columns, std::uint64_t atomsPerColumn) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_columnsWanted = std::max<std::size_t>(columns, 1);
    m_atomsPerColumn = std::max<std::uint64_t>(atomsPerColumn, 1);
    m_columns.clear();
    m_oldest = 0;
    ++m_generation;
}

void PlotBuffer::SetComponents(std::size_t components) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_components = std::max<std::size_t>(components, 1);
    m_columns.clear();
    m_oldest = 0;
    ++m_generation;
}

void PlotBuffer::SetPaused(bool paused) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_paused = paused;
    ++m_generation;
}

void PlotBuffer::SetError(const std::string& error) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_error = error;
    ++m_generation;
}

std::size_t PlotBuffer::Columns() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_columnsWanted;
}

std::uint64_t PlotBuffer::AtomsPerColumn() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_atomsPerColumn;
}

std::uint64_t PlotBuffer::AtomsShown() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<std::uint64_t>(m_columnsWanted) * m_atomsPerColumn;
}

PlotFrame PlotBuffer::Frame() const {
    std::lock_guard<std::mutex> lock(m_lock);
    PlotFrame frame;
    frame.components = m_components;
    frame.atomsPerColumn = m_atomsPerColumn;
    frame.generation = m_generation;
    frame.error = m_error;
    frame.columns.reserve(m_columns.size());
    for (std::size_t i = 0; i < m_columns.size(); ++i) frame.columns.push_back(m_columns[(m_oldest + i) % m_columns.size()]);
    PlotStatistics& s = frame.statistics;
    s.rate = m_rate;
    s.min.assign(m_components, std::numeric_limits<double>::quiet_NaN());
    s.max = s.min;
    s.mean = s.min;
    std::vector<double> sum(m_components, 0.0);
    std::vector<std::uint64_t> finite(m_components, 0);
    for (const auto& c : frame.columns) {
        s.atoms += c.atoms;
        for (std::size_t j = 0; j < m_components; ++j) {
            if (c.finite[j] == 0) continue;
            s.min[j] = finite[j] == 0 ? c.min[j] : std::min(s.min[j], c.min[j]);
            s.max[j] = finite[j] == 0 ? c.max[j] : std::max(s.max[j], c.max[j]);
            sum[j] += c.sum[j];
            finite[j] += c.finite[j];
        }
    }
    for (std::size_t j = 0; j < m_components; ++j)
        if (finite[j] != 0) s.mean[j] = sum[j] / static_cast<double>(finite[j]);
    return frame;
}

#define BROWSE_PLOT_TYPES(X) \
    X(double) X(float) X(unsigned long long) X(long long) X(unsigned int) X(int) X(unsigned short) X(short) \
        X(unsigned char) X(signed char)
#define BROWSE_INSTANTIATE(T)                                                                       \
    template void PlotBuffer::Add<T>(const T*, std::size_t, std::chrono::steady_clock::time_point); \
    template void PlotBuffer::Replace<T>(const T*, std::size_t, std::chrono::steady_clock::time_point);
BROWSE_PLOT_TYPES(BROWSE_INSTANTIATE)
#undef BROWSE_INSTANTIATE
#undef BROWSE_PLOT_TYPES

}  // namespace browse
