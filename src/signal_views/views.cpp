#include "signal_views/views.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <tuple>

#include "istd/exception.h"
#include "plot/chart.h"
#include "rove_params.h"
#include "rove_signal.h"
#include "signal_views/npy_view.h"
#include "signal_views/plot_view.h"

namespace signal_views {
namespace {

constexpr int c_defaultRows = 16;
constexpr int c_defaultCols = 80;
// A stream plotted without --size shows this many atoms per dot column.
constexpr std::uint64_t c_streamAtomsPerDot = 4;

// The views of the node being read (main thread only).
std::vector<std::unique_ptr<SignalView>>* g_active = nullptr;
// Nodes that --npy was started for in this run.
unsigned g_npyNodes = 0;

[[noreturn]] void Refuse(const std::string& text) { throw istd::Exception("signal: " + text, true); }

bool ParseDimension(const std::string& text, int& value) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::atoi(text.c_str());
    return value > 0;
}

void ParsePlotSize(const std::string& text, int& cols, int& rows) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos || !ParseDimension(text.substr(0, x), cols) || !ParseDimension(text.substr(x + 1), rows))
        Refuse("--plot-size " + text + ": expected COLSxROWS, such as 80x16");
}

bool UnicodeLocale() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

bool ColourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    return ::isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || noColour[0] == '\0');
}

// "auto" (--plot alone) draws braille where the locale is UTF-8, ASCII elsewhere.
plot::Glyphs GlyphsOf(const std::string& mode) {
    if (mode == "ascii" || (mode == "auto" && !UnicodeLocale())) return plot::Glyphs::kAscii;
    return mode == "block" ? plot::Glyphs::kBlock : plot::Glyphs::kBraille;
}

PlotSettings PlotSettingsOf(bool stream) {
    PlotSettings settings;
    if (!g_params.plotSize.empty()) {
        ParsePlotSize(g_params.plotSize, settings.cols, settings.rows);
    } else if (::isatty(STDOUT_FILENO) == 1) {
        winsize size{};
        const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0;
        settings.cols = known && size.ws_col > 0 ? size.ws_col : c_defaultCols;
        // A chart redrawn in place must fit the terminal with the cursor's line below it.
        settings.rows = known && size.ws_row > 1 ? std::min<int>(c_defaultRows, size.ws_row - 1) : c_defaultRows;
    } else {
        settings.cols = c_defaultCols;
        settings.rows = c_defaultRows;
    }
    settings.glyphs = GlyphsOf(g_params.plot);
    settings.colour = ColourWanted();
    settings.live = ::isatty(STDOUT_FILENO) == 1;
    if (g_params.hasYmin) settings.yMin = g_params.ymin;
    if (g_params.hasYmax) settings.yMax = g_params.ymax;
    settings.passAtoms = stream ? g_params.size : 0;
    return settings;
}

// Atoms of the whole run, when the loop count gives it.
std::optional<std::uint64_t> AnnouncedAtoms() {
    if (g_params.loop < 0) return std::nullopt;
    const auto loops = static_cast<std::uint64_t>(g_params.loop);
    if (loops != 0 && g_params.size > std::numeric_limits<std::uint64_t>::max() / loops) return std::nullopt;
    return g_params.size * loops;
}

SignalShape ShapeOf(const std::string& path, const isig::SignalSource& source) {
    SignalShape shape;
    shape.path = path;
    shape.atomType = source.BaseEnumType();
    shape.components = source.GetComponentNames();
    shape.atomBytes = ElementBytes(shape.atomType) * static_cast<std::uint32_t>(shape.components.size());
    shape.stream = source.SignalAccessType() == isig::eAccessStream;
    return shape;
}

bool Requested() { return !g_params.plot.empty() || !g_params.npyFile.empty(); }

void RefuseCombinations(const boost::program_options::variables_map& vm) {
    const char* view = !g_params.plot.empty() ? "--plot" : "--npy";
    for (const char* other : {"csv", "binary", "stat", "json"}) {
        if (vm.count(other)) Refuse(std::string(view) + " cannot be combined with --" + other);
    }
    if (!g_params.plot.empty() && g_params.npyFile == "-") Refuse("--plot and --npy - would both write to standard output");
    if (g_params.npyEach && g_params.npyFile == "-") Refuse("--npy-each needs a file name, not -");
    if (g_params.npyEach && !g_params.npyMeta.empty() && g_params.npyMeta != "none")
        Refuse("--npy-each writes one metadata file beside each data file: --npy-meta takes only none with it");
    if (!g_params.npyFile.empty() && g_params.paths.size() > 1) Refuse("--npy writes one signal: give one node path");
}

}  // namespace

std::string AtomTypeName(std::int32_t atomType) {
    static const char* const c_names[] = {"double", "float", "uint64", "int64", "uint32",
                                          "int32",  "uint16", "int16", "uint8", "int8"};
    return atomType >= 1 && atomType <= 10 ? c_names[atomType - 1] : std::string();
}

std::uint32_t ElementBytes(std::int32_t atomType) {
    static constexpr std::uint32_t c_bytes[] = {8, 4, 8, 8, 4, 4, 2, 2, 1, 1};
    return atomType >= 1 && atomType <= 10 ? c_bytes[atomType - 1] : 0;
}

void ApplyOptions(const boost::program_options::variables_map& vm) {
    g_params.sizeGiven = vm.count("size") > 0;
    g_params.loopGiven = vm.count("loop") > 0;
    g_params.hasYmin = vm.count("ymin") > 0;
    g_params.hasYmax = vm.count("ymax") > 0;
    g_params.npyEach = vm.count("npy-each") > 0;
    const bool plotOptions = vm.count("plot-size") || g_params.hasYmin || g_params.hasYmax;
    if (plotOptions && g_params.plot.empty()) Refuse("--plot-size, --ymin and --ymax need --plot");
    if ((g_params.npyEach || vm.count("npy-meta")) && g_params.npyFile.empty())
        Refuse("--npy-each and --npy-meta need --npy");
    if (!Requested()) return;
    if (vm.count("plot") && g_params.plot != "auto" && g_params.plot != "braille" && g_params.plot != "block" &&
        g_params.plot != "ascii")
        Refuse("--plot=" + g_params.plot + ": expected auto, braille, block or ascii");
    if (vm.count("npy") && g_params.npyFile.empty()) Refuse("--npy needs a file name, or - for standard output");
    RefuseCombinations(vm);
    for (const auto& [given, value, name] : {std::tuple{g_params.hasYmin, g_params.ymin, "--ymin"},
                                             std::tuple{g_params.hasYmax, g_params.ymax, "--ymax"}}) {
        if (given && !std::isfinite(value)) Refuse(std::string(name) + " must be a finite number");
    }
    if (g_params.hasYmin && g_params.hasYmax && !(g_params.ymin < g_params.ymax)) Refuse("--ymin must be below --ymax");
    if (!g_params.plotSize.empty()) {
        int cols = 0, rows = 0;
        ParsePlotSize(g_params.plotSize, cols, rows);
    }
    if (!g_params.plot.empty()) std::setlocale(LC_CTYPE, "");
    // The component names are the chart's legend and the array's fields: no header line.
    g_params.header = false;
}

ViewScope::ViewScope(const std::string& path, const isig::SignalSource& source) : m_failuresBefore(SignalFailures()) {
    if (!Requested()) return;
    const SignalShape shape = ShapeOf(path, source);
    if (ElementBytes(shape.atomType) == 0) return;  // nothing is read
    if (!g_params.npyFile.empty() && ++g_npyNodes > 1)  // --glob may select several nodes
        Refuse("--npy writes one signal: the pattern selected several nodes");
    if (!g_params.plot.empty()) {
        PlotSettings settings = PlotSettingsOf(shape.stream);
        if (shape.stream && !g_params.sizeGiven) {
            // A stream without --size: a live window of a few atoms per dot,
            // until interrupted unless --loop says otherwise.
            const plot::Chart probe(settings.cols, settings.rows, shape.components, settings.glyphs);
            g_params.size = settings.passAtoms = static_cast<std::uint64_t>(probe.dotColumns()) * c_streamAtomsPerDot;
            if (!g_params.loopGiven) g_params.loop = -1;
        }
        m_views.push_back(std::make_unique<PlotView>(shape, settings, stdout));
    }
    if (!g_params.npyFile.empty()) {
        NpySettings settings;
        settings.path = g_params.npyFile;
        settings.each = g_params.npyEach;
        settings.metaPath = g_params.npyMeta;
        settings.announced = AnnouncedAtoms();
        settings.mode = g_params.mode;
        m_views.push_back(std::make_unique<NpyView>(shape, settings));
    }
    g_active = &m_views;
}

void ViewScope::Finish() {
    if (m_ended) return;
    m_ended = true;
    g_active = nullptr;
    const bool complete = SignalFailures() == m_failuresBefore;
    for (auto& view : m_views) view->End(complete);
}

ViewScope::~ViewScope() {
    if (m_ended) return;
    m_ended = true;
    g_active = nullptr;
    for (auto& view : m_views) {
        try {
            view->End(false);
        } catch (...) {
            // The failure that ended the run is the one reported.
        }
    }
}

bool DeliverAtoms(const void* elements, std::uint32_t atoms, const isig::SignalMeta& meta) {
    if (g_active == nullptr) return false;
    for (auto& view : *g_active) view->Atoms(elements, atoms, meta);
    return true;
}

void DeliverPassDone() {
    if (g_active == nullptr) return;
    for (auto& view : *g_active) view->PassDone();
}

}  // namespace signal_views
