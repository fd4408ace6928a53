#include "browse/plot_buffer.h"

#include <algorithm>

#include "plot/chart.h"

namespace browse {
namespace {

// The rate is the count of one interval of at least this length.
constexpr std::chrono::milliseconds c_rateInterval{1000};

}  // namespace

PlotBuffer::PlotBuffer(std::size_t components, std::uint64_t window)
    : m_components(std::max<std::size_t>(components, 1)), m_window(BoundedWindow(window)) {
    ResetLocked();
}

std::uint64_t PlotBuffer::BoundedWindow(std::uint64_t window) const {
    const std::uint64_t most = std::max<std::uint64_t>(c_maxRingElements / m_components, 1);
    return std::clamp<std::uint64_t>(window, 1, most);
}

void PlotBuffer::ResetLocked() {
    m_ring.assign(static_cast<std::size_t>(m_window) * m_components, 0.0);
    m_next = m_held = m_received = 0;
    m_rateAtoms = 0;
    m_rateStart = {};
    ++m_generation;
}

template <class T>
void PlotBuffer::AddLocked(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now) {
    // Only the last window's worth of a large block can be shown.
    const std::size_t skip = atoms > m_window ? atoms - static_cast<std::size_t>(m_window) : 0;
    for (std::size_t i = skip; i < atoms; ++i) {
        double* atom = &m_ring[static_cast<std::size_t>(m_next) * m_components];
        for (std::size_t j = 0; j < m_components; ++j) atom[j] = static_cast<double>(elements[i * m_components + j]);
        m_next = (m_next + 1) % m_window;
    }
    m_held = std::min<std::uint64_t>(m_held + atoms, m_window);
    m_received += atoms;
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
    if (!m_paused) AddLocked(elements, atoms, now);
}

template <class T>
void PlotBuffer::Replace(const T* elements, std::size_t atoms, std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_paused) return;
    m_next = m_held = 0;
    const std::uint64_t received = m_received;
    AddLocked(elements, atoms, now);
    m_received = received + atoms;
}

void PlotBuffer::SetComponents(std::size_t components) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_components = std::max<std::size_t>(components, 1);
    m_window = BoundedWindow(m_window);
    ResetLocked();
}

void PlotBuffer::SetWindow(std::uint64_t window) {
    std::lock_guard<std::mutex> lock(m_lock);
    const std::uint64_t bounded = BoundedWindow(window);
    if (bounded == m_window) return;
    m_window = bounded;
    ResetLocked();
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

std::uint64_t PlotBuffer::Window() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_window;
}

PlotStatus PlotBuffer::Status() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return PlotStatus{m_components, m_window, m_held, m_received, m_rate, m_generation, m_error};
}

void PlotBuffer::ReduceInto(plot::ChartData& data) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (static_cast<std::size_t>(data.components()) != m_components) return;
    // Oldest first: from the atom after the newest, once the ring is full.
    const std::uint64_t oldest = m_held < m_window ? 0 : m_next;
    const std::uint64_t first = std::min(m_held, m_window - oldest);
    data.addAtoms(&m_ring[static_cast<std::size_t>(oldest) * m_components], static_cast<std::size_t>(first));
    if (m_held > first) data.addAtoms(m_ring.data(), static_cast<std::size_t>(m_held - first));
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
