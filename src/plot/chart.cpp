#include "plot/chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace plot {
namespace {

// The first atom of slot `slot` when `atoms` atoms share `slots` slots:
// ceil(slot * atoms / slots), without overflow.
std::uint64_t slotStart(std::uint64_t slot, std::uint64_t atoms, std::uint64_t slots) {
  const unsigned __int128 product = static_cast<unsigned __int128>(slot) * atoms;
  return static_cast<std::uint64_t>((product + slots - 1) / slots);
}

std::size_t codePoints(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

char32_t markerGlyph(Glyphs glyphs) {
  switch (glyphs) {
    case Glyphs::kBraille: return U'\u28FF';
    case Glyphs::kBlock: return U'\u2588';
    case Glyphs::kAscii: return U'#';
  }
  return U'#';
}

constexpr int kMaxNameWidth = 16;
// " min " + value, " max " + value, " mean " + value.
constexpr int kLegendValues = 5 + 9 + 5 + 9 + 6 + 9;

}  // namespace

ChartData::ChartData(int components, int dotColumns, std::uint64_t atoms)
    : m_components(std::max(components, 0)),
      m_dotColumns(std::max(dotColumns, 0)),
      m_expected(atoms),
      m_slots(static_cast<int>(std::min<std::uint64_t>(atoms, static_cast<std::uint64_t>(m_dotColumns)))),
      m_slotData(static_cast<std::size_t>(m_components) * static_cast<std::size_t>(m_slots)),
      m_stats(static_cast<std::size_t>(m_components)) {
  m_nextBoundary = m_slots > 1 ? slotStart(1, m_expected, static_cast<std::uint64_t>(m_slots))
                               : std::numeric_limits<std::uint64_t>::max();
}

void ChartData::nextSlot() {
  ++m_slot;
  m_nextBoundary = m_slot + 1 < m_slots
                       ? slotStart(static_cast<std::uint64_t>(m_slot) + 1, m_expected, static_cast<std::uint64_t>(m_slots))
                       : std::numeric_limits<std::uint64_t>::max();
}

void ChartData::add(const double* values) {
  while (m_added >= m_nextBoundary) nextSlot();
  for (int j = 0; j < m_components; ++j) addValue(j, values[j]);
  ++m_added;
}

void ChartData::addValue(int component, double v) {
  if (std::isfinite(v)) {
    addFinite(component, v);
    return;
  }
  ++m_stats[static_cast<std::size_t>(component)].nonFinite;
  if (Slot* slot = currentSlot(component)) (slot->finite ? slot->gapAfter : slot->gapBefore) = true;
}

void ChartData::addFinite(int component, double v) {
  ComponentStats& stats = m_stats[static_cast<std::size_t>(component)];
  ++stats.finite;
  stats.min = std::min(stats.min, v);
  stats.max = std::max(stats.max, v);
  stats.sum += v;
  Slot* slot = currentSlot(component);
  if (!slot) return;
  if (!slot->finite) {
    slot->min = slot->max = slot->first = v;
    slot->finite = true;
  } else {
    slot->min = std::min(slot->min, v);
    slot->max = std::max(slot->max, v);
  }
  slot->last = v;
  slot->gapAfter = false;
}

double ChartData::slotX(int index) const {
  if (envelope() || m_expected < 2) return index;
  return static_cast<double>(index) * (m_dotColumns - 1) / static_cast<double>(m_expected - 1);
}

std::int16_t componentColour(std::size_t component) {
  static constexpr std::int16_t kPalette[] = {2, 3, 6, 5, 1, 4};
  return kPalette[component % (sizeof kPalette / sizeof kPalette[0])];
}

std::string formatValue(double value, int width, int maxDigits) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  for (int digits = std::min(maxDigits, 17); digits >= 1; --digits) {
    const int length = std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (length <= width) return text;
  }
  return std::string(text).substr(0, static_cast<std::size_t>(std::max(width, 0)));
}

Chart::Chart(int cols, int rows, std::vector<std::string> names, Glyphs glyphs)
    : m_cols(cols), m_rows(rows), m_names(std::move(names)), m_glyphs(glyphs) {
  const std::string problem = sizeProblem(cols, rows, m_names);
  if (!problem.empty()) throw std::invalid_argument(problem);
  for (std::size_t j = 0; j < m_names.size(); ++j) {
    if (m_names[j].empty()) m_names[j] = "#" + std::to_string(j);
  }
  m_canvasRows = rows - 1 - legendRows(cols, m_names);
}

int Chart::nameWidth(const std::vector<std::string>& names) {
  int width = 2;  // "#0" for a nameless component
  for (const std::string& name : names) width = std::max(width, static_cast<int>(codePoints(name)));
  return std::min(width, kMaxNameWidth);
}

int Chart::legendEntryWidth(const std::vector<std::string>& names) { return 2 + nameWidth(names) + kLegendValues; }

int Chart::legendRows(int cols, const std::vector<std::string>& names) {
  const int perRow = std::max(1, (cols + 2) / (legendEntryWidth(names) + 2));
  return (static_cast<int>(names.size()) + perRow - 1) / perRow;
}

std::string Chart::sizeProblem(int cols, int rows, const std::vector<std::string>& names) {
  constexpr int kMinCanvasCols = 10;
  constexpr int kMinCanvasRows = 2;
  const int minCols = kAxisWidth + kMinCanvasCols;
  if (names.empty()) return "a chart needs at least one component";
  if (cols < minCols) return "a chart needs at least " + std::to_string(minCols) + " columns";
  const int minRows = kMinCanvasRows + 1 + legendRows(cols, names);
  if (rows < minRows)
    return "a chart of " + std::to_string(names.size()) + " component" + (names.size() == 1 ? "" : "s") + " in " +
           std::to_string(cols) + " columns needs at least " + std::to_string(minRows) + " rows";
  return {};
}

CellGrid Chart::render(const ChartData& data, const ChartOptions& options) const {
  CellGrid grid(m_cols, m_rows);
  render(data, options, grid, 0, 0);
  return grid;
}

void Chart::render(const ChartData& data, const ChartOptions& options, CellGrid& grid, int col, int row) const {
  grid.fill(col, row, m_cols, m_rows);
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  for (int j = 0; j < data.components(); ++j) {
    low = std::min(low, data.stats(j).min);
    high = std::max(high, data.stats(j).max);
  }
  if (options.yMin) low = *options.yMin;
  if (options.yMax) high = *options.yMax;
  const bool bounded = std::isfinite(low) && std::isfinite(high);
  if (bounded) drawTraces(data, options, low, high, grid, col, row);
  drawAxes(options, bounded ? low : std::nan(""), bounded ? high : std::nan(""), grid, col, row);
  drawLegend(data, options, grid, col, row + m_canvasRows + 1);
}

void Chart::drawTraces(const ChartData& data, const ChartOptions& options, double low, double high, CellGrid& grid,
                       int col, int row) const {
  DotCanvas canvas(canvasCols(), m_canvasRows, m_glyphs);
  const double bottom = canvas.height() - 1;
  // Halves keep the difference finite for bounds at the ends of double's range.
  const double span = high * 0.5 - low * 0.5;
  const auto dotY = [&](double v) { return span > 0 ? bottom * (1.0 - (v * 0.5 - low * 0.5) / span) : bottom / 2; };
  const auto dotRow = [&](double v) {
    const double y = dotY(v);
    if (!(y >= -1.0)) return -1;
    if (y > canvas.height()) return canvas.height();
    return static_cast<int>(std::lround(y));
  };
  const int components = std::min(data.components(), static_cast<int>(m_names.size()));
  for (int j = 0; j < components; ++j) {
    const std::int16_t colour = options.colour ? componentColour(static_cast<std::size_t>(j)) : kDefaultColour;
    for (int s = 0; s < data.slots(); ++s) {
      const ChartData::Slot& slot = data.slot(j, s);
      if (!slot.finite) continue;
      const double x = data.slotX(s);
      if (s > 0) {
        const ChartData::Slot& previous = data.slot(j, s - 1);
        if (previous.finite && !previous.gapAfter && !slot.gapBefore)
          canvas.line(data.slotX(s - 1), dotY(previous.last), x, dotY(slot.first), colour);
      }
      canvas.vline(static_cast<int>(std::lround(x)), dotRow(slot.min), dotRow(slot.max), colour);
    }
  }
  canvas.drawInto(grid, col + kAxisWidth, row);
}

void Chart::drawAxes(const ChartOptions& options, double low, double high, CellGrid& grid, int col, int row) const {
  const bool ascii = m_glyphs == Glyphs::kAscii;
  for (int r = 0; r < m_canvasRows; ++r) grid.set(col + kLabelWidth, row + r, ascii ? U'|' : U'\u2502');
  grid.set(col + kLabelWidth, row + m_canvasRows, ascii ? U'+' : U'\u2514');
  const auto label = [&](int r, double value) {
    if (std::isnan(value)) return;
    const std::string text = formatValue(value, kLabelWidth);
    grid.put(col + kLabelWidth - static_cast<int>(text.size()), row + r, text);
  };
  label(0, high);
  label(m_canvasRows - 1, low);
  const std::string first = formatValue(options.x.first, 16, 16);
  std::string last = formatValue(options.x.last, 16, 16);
  if (!options.x.unit.empty()) last += " " + options.x.unit;
  const int axisRow = row + m_canvasRows;
  grid.put(col + kAxisWidth, axisRow, first);
  grid.put(col + m_cols - static_cast<int>(codePoints(last)), axisRow, last);
}

void Chart::drawLegend(const ChartData& data, const ChartOptions& options, CellGrid& grid, int col, int row) const {
  const int entryWidth = legendEntryWidth(m_names);
  const int perRow = std::max(1, (m_cols + 2) / (entryWidth + 2));
  const int names = nameWidth(m_names);
  for (std::size_t j = 0; j < m_names.size(); ++j) {
    const int r = row + static_cast<int>(j) / perRow;
    const int c = col + static_cast<int>(j) % perRow * (entryWidth + 2);
    const int right = col + m_cols;
    const std::int16_t colour = options.colour ? componentColour(j) : kDefaultColour;
    grid.set(c, r, markerGlyph(m_glyphs), Style{colour, kDefaultColour, kPlain});
    grid.put(c + 2, r, m_names[j], {}, std::min(names, right - c - 2));
    const bool counted = static_cast<int>(j) < data.components() && data.stats(static_cast<int>(j)).finite > 0;
    // Values padded to one width line up from row to row where the entry fits.
    const bool padded = entryWidth <= m_cols;
    const auto value = [&](double v) {
      std::string text = counted ? formatValue(v, 9) : "-";
      if (padded) text.resize(9, ' ');
      return text;
    };
    const ComponentStats none;
    const ComponentStats& stats = counted ? data.stats(static_cast<int>(j)) : none;
    // Whole fields only: a number cut at the edge would read as another number.
    int at = c + 2 + names;
    const std::string fields[] = {" min " + value(stats.min), " max " + value(stats.max), " mean " + value(stats.mean())};
    for (const std::string& field : fields) {
      std::string text = field;
      while (text.back() == ' ') text.pop_back();
      if (at + static_cast<int>(text.size()) > right) break;
      grid.put(at, r, field);
      at += static_cast<int>(field.size());
    }
  }
}

}  // namespace plot
