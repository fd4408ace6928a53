#include "signal_views/plot_view.h"

#include <cerrno>
#include <stdexcept>

#include "istd/exception.h"
#include "rove_signal_output.h"

namespace signal_views {
namespace {

constexpr auto c_framePeriod = std::chrono::milliseconds(100);  // 10 frames a second

template <class T>
void AddAtoms(plot::ChartData& data, const void* elements, std::uint32_t atoms) {
    data.addAtoms(static_cast<const T*>(elements), atoms);
}

void AddTyped(plot::ChartData& data, std::int32_t atomType, const void* elements, std::uint32_t atoms) {
    switch (atomType) {
        case 1: AddAtoms<double>(data, elements, atoms); return;
        case 2: AddAtoms<float>(data, elements, atoms); return;
        case 3: AddAtoms<std::uint64_t>(data, elements, atoms); return;
        case 4: AddAtoms<std::int64_t>(data, elements, atoms); return;
        case 5: AddAtoms<std::uint32_t>(data, elements, atoms); return;
        case 6: AddAtoms<std::int32_t>(data, elements, atoms); return;
        case 7: AddAtoms<std::uint16_t>(data, elements, atoms); return;
        case 8: AddAtoms<std::int16_t>(data, elements, atoms); return;
        case 9: AddAtoms<std::uint8_t>(data, elements, atoms); return;
        case 10: AddAtoms<std::int8_t>(data, elements, atoms); return;
        default: return;
    }
}

plot::Chart MakeChart(const SignalShape& shape, const PlotSettings& settings) {
    try {
        return plot::Chart(settings.cols, settings.rows, shape.components, settings.glyphs);
    } catch (const std::invalid_argument& e) {
        throw istd::Exception("signal: --plot of " + shape.path + ": " + e.what() + " (see --plot-size)", true);
    }
}

}  // namespace

PlotView::PlotView(const SignalShape& shape, PlotSettings settings, std::FILE* out)
    : m_shape(shape), m_settings(settings), m_out(out), m_chart(MakeChart(shape, settings)) {
    m_text.sgr = settings.colour;
    m_text.asciiOnly = settings.glyphs == plot::Glyphs::kAscii;
}

void PlotView::StartPass(std::uint32_t firstBlockAtoms, const isig::SignalMeta& meta) {
    const std::uint64_t expected = m_settings.passAtoms != 0 ? m_settings.passAtoms : firstBlockAtoms;
    const auto position = meta.find(isig::eMetaPosition);
    if (position != meta.end() && position->second >= 0)
        m_firstAtom = static_cast<std::uint64_t>(position->second);
    else if (m_data)
        m_firstAtom += m_data->expected();
    m_data.emplace(m_chart.data(expected));
    m_passOpen = true;
}

void PlotView::Atoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) {
    if (!m_passOpen) StartPass(atoms, meta);
    AddTyped(*m_data, m_shape.atomType, elements, atoms);
    m_shown = false;
    if (m_settings.live && Clock::now() - m_lastFrame >= c_framePeriod) Draw();
}

void PlotView::PassDone() {
    if (!m_passOpen) StartPass(0, isig::c_noMeta);  // a pass without atoms still shows its (empty) chart
    m_passOpen = false;
    m_shown = false;
    if (!m_settings.live || Clock::now() - m_lastFrame >= c_framePeriod) Draw();
}

void PlotView::End(bool /*complete*/) {
    // The last state of the last pass, if no frame showed it yet: after an
    // interrupt, the atoms acquired so far.
    if (m_data && !m_shown) Draw();
}

std::string PlotView::Frame() const {
    plot::ChartOptions options;
    options.colour = m_settings.colour;
    options.yMin = m_settings.yMin;
    options.yMax = m_settings.yMax;
    const std::uint64_t expected = m_data ? m_data->expected() : 0;
    options.x = {static_cast<double>(m_firstAtom), static_cast<double>(m_firstAtom + (expected > 0 ? expected - 1 : 0)),
                 "atoms"};
    const plot::ChartData empty = m_chart.data(0);
    return plot::toText(m_chart.render(m_data ? *m_data : empty, options), m_text);
}

void PlotView::Draw() {
    std::string text = Frame();
    if (m_settings.live) {
        // Back to the first row of the frame before, each row cleared to its end.
        std::string frame = m_drawnOnce ? "\r\x1b[" + std::to_string(m_chart.rows()) + "A" : std::string();
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\n', start);
            frame.append(text, start, end - start);
            frame += "\x1b[K\n";
            start = end + 1;
        }
        text.swap(frame);
    }
    if (std::fwrite(text.data(), 1, text.size(), m_out) != text.size() || std::fflush(m_out) != 0)
        signal_output::ThrowWriteFailure(m_out, errno);
    m_drawnOnce = true;
    m_shown = true;
    m_lastFrame = Clock::now();
}

}  // namespace signal_views
