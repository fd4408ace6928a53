// A chart of sampled data in a CellGrid: one trace per component on a dot
// canvas, a y axis labelled with its bounds, an x axis labelled with its
// first and last position, and a legend with each component's name, min,
// max and mean.
//
// The atoms are reduced as they arrive (ChartData): with more atoms than
// dot columns each column keeps the min-max envelope of its atoms, so a
// fast signal squeezed into a narrow chart shows as a filled band, never
// an aliased zig-zag; with fewer, each atom is a point joined to the next
// by a line. Values that are not finite (NaN, infinities) are gaps: they
// are not drawn, lines are not drawn across them, and they are left out of
// the bounds and the statistics. Memory is the chart's width, however many
// atoms pass through.
//
// A chart that is redrawn (a live view) keeps its Chart, builds a ChartData
// of what it shows for every frame, and renders it into its own grid.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <optional>
#include <string>
#include <vector>

#include "plot/cell_grid.h"
#include "plot/dot_canvas.h"

namespace plot {

struct ComponentStats {
  std::uint64_t finite = 0;     // values counted below
  std::uint64_t nonFinite = 0;  // NaN and infinities, left out
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double sum = 0.0;

  double mean() const { return finite == 0 ? std::numeric_limits<double>::quiet_NaN() : sum / static_cast<double>(finite); }
};

// The atoms of one chart, reduced to the chart's dot columns as they are added.
class ChartData {
 public:
  // One slot: the finite values of the atoms that fall on one dot column.
  struct Slot {
    double min = 0.0;
    double max = 0.0;
    double first = 0.0;
    double last = 0.0;
    bool finite = false;     // at least one finite value
    bool gapBefore = false;  // a value that is not finite came before the first finite one
    bool gapAfter = false;   // ... or after the last
  };

  // `atoms` is how many atoms the x axis spans; more may be added (they
  // fold into the last column), fewer leave the end of the chart empty.
  ChartData(int components, int dotColumns, std::uint64_t atoms);

  int components() const { return m_components; }
  std::uint64_t expected() const { return m_expected; }
  std::uint64_t added() const { return m_added; }
  // True when each column shows the envelope of several atoms.
  bool envelope() const { return m_expected > static_cast<std::uint64_t>(m_dotColumns); }

  // Adds one atom: one value per component.
  void add(const double* values);

  // Adds `atoms` atoms of `components()` elements each, element (i, j) at
  // i * components() + j.
  template <class T>
  void addAtoms(const T* elements, std::size_t atoms) {
    // Atoms are taken in runs that fall on one slot, each reduced to a
    // min, max and sum per component; a run with a value that is not
    // finite is taken again one value at a time.
    std::size_t i = 0;
    while (i < atoms) {
      while (m_added >= m_nextBoundary) nextSlot();
      const std::size_t run = static_cast<std::size_t>(
          std::min<std::uint64_t>({atoms - i, m_nextBoundary - m_added, kMaxRun}));
      const T* first = elements + i * static_cast<std::size_t>(m_components);
      if (!addRunInLanes(first, run)) {
        for (int j = 0; j < m_components; ++j) {
          if (!addRun(j, first + j, run)) addValues(j, first + j, run);
        }
      }
      m_added += run;
      i += run;
    }
  }

  const ComponentStats& stats(int component) const { return m_stats[static_cast<std::size_t>(component)]; }
  int slots() const { return m_slots; }
  const Slot& slot(int component, int index) const {
    return m_slotData[static_cast<std::size_t>(component) * static_cast<std::size_t>(m_slots) +
                      static_cast<std::size_t>(index)];
  }
  // The dot column a slot is drawn at.
  double slotX(int index) const;

 private:
  void nextSlot();
  Slot* currentSlot(int component) {
    return m_slots > 0 ? &m_slotData[static_cast<std::size_t>(component) * static_cast<std::size_t>(m_slots) +
                                     static_cast<std::size_t>(m_slot)]
                       : nullptr;
  }
  // One finite value of a component.
  void addFinite(int component, double v);

  // Atoms of one run at most: sums of 32-bit integers stay exact in 64 bits.
  static constexpr std::uint64_t kMaxRun = std::uint64_t{1} << 30;

  // What sums the values of a run: 64-bit integers, exactly, for integers
  // of 32 bits and less; double for the others.
  template <class T>
  using RunSum = std::conditional_t<std::is_integral_v<T> && (sizeof(T) < 8),
                                    std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>, double>;

  // A run of `count` finite values of one component, reduced: into the
  // statistics and the current slot.
  template <class T>
  void addReduced(int component, T low, T high, double sum, std::size_t count, T first, T last) {
    ComponentStats& stats = m_stats[static_cast<std::size_t>(component)];
    stats.finite += count;
    stats.sum += sum;
    stats.min = std::min(stats.min, static_cast<double>(low));
    stats.max = std::max(stats.max, static_cast<double>(high));
    Slot* slot = currentSlot(component);
    if (!slot) return;
    if (!slot->finite) {
      slot->min = slot->max = slot->first = static_cast<double>(first);
      slot->finite = true;
    }
    slot->min = std::min(slot->min, static_cast<double>(low));
    slot->max = std::max(slot->max, static_cast<double>(high));
    slot->last = static_cast<double>(last);
    slot->gapAfter = false;
  }

  // Every component of a run in one pass over its elements, in kLanes
  // lanes (component j in lanes j, j + C, ...) that the compiler keeps in
  // vector registers. False, with nothing added, when the component count
  // does not divide the lanes, for 64-bit integers, or when the run holds a
  // value that is not finite (or a sum that overflows).
  template <class T>
  bool addRunInLanes(const T* first, std::size_t count) {
    constexpr int kLanes = sizeof(T) == 8 ? 8 : 16;
    const int components = m_components;
    if constexpr (std::is_integral_v<T> && sizeof(T) == 8) {
      return false;
    } else {
      if (components == 0 || kLanes % components != 0) return false;
      using Sum = RunSum<T>;
      T low[kLanes];
      T high[kLanes];
      Sum sum[kLanes];
      for (int l = 0; l < kLanes; ++l) {
        low[l] = high[l] = first[l % components];
        sum[l] = 0;
      }
      const std::size_t n = count * static_cast<std::size_t>(components);
      std::size_t k = 0;
      for (; k + kLanes <= n; k += kLanes) {
        for (int l = 0; l < kLanes; ++l) {
          const T v = first[k + static_cast<std::size_t>(l)];
          low[l] = v < low[l] ? v : low[l];
          high[l] = v > high[l] ? v : high[l];
          sum[l] += static_cast<Sum>(v);
        }
      }
      for (int l = 0; k < n; ++k, ++l) {  // k is a multiple of kLanes here
        const T v = first[k];
        low[l] = v < low[l] ? v : low[l];
        high[l] = v > high[l] ? v : high[l];
        sum[l] += static_cast<Sum>(v);
      }
      for (int l = components; l < kLanes; ++l) {
        const int j = l % components;
        low[j] = low[l] < low[j] ? low[l] : low[j];
        high[j] = high[l] > high[j] ? high[l] : high[j];
        sum[j] += sum[l];
      }
      if constexpr (!std::is_integral_v<T>) {
        for (int j = 0; j < components; ++j) {
          if (!std::isfinite(sum[j])) return false;
        }
      }
      const T* last = first + (count - 1) * static_cast<std::size_t>(components);
      for (int j = 0; j < components; ++j)
        addReduced(j, low[j], high[j], static_cast<double>(sum[j]), count, first[j], last[j]);
      return true;
    }
  }

  // `count` values of one component, `m_components` elements apart,
  // reduced in one pass; false, with nothing added, when one is not finite
  // (or their sum overflows).
  template <class T>
  bool addRun(int component, const T* values, std::size_t count) {
    using Sum = RunSum<T>;
    const std::size_t stride = static_cast<std::size_t>(m_components);
    T low = values[0];
    T high = values[0];
    Sum sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const T v = values[k * stride];
      low = v < low ? v : low;
      high = v > high ? v : high;
      sum += static_cast<Sum>(v);
    }
    if constexpr (!std::is_integral_v<T>) {
      if (!std::isfinite(sum)) return false;
    }
    addReduced(component, low, high, static_cast<double>(sum), count, values[0], values[(count - 1) * stride]);
    return true;
  }

  // The same one value at a time, with gaps for values that are not finite.
  template <class T>
  void addValues(int component, const T* values, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(m_components);
    for (std::size_t k = 0; k < count; ++k) addValue(component, static_cast<double>(values[k * stride]));
  }
  void addValue(int component, double v);

  int m_components;
  int m_dotColumns;
  std::uint64_t m_expected;
  int m_slots;
  std::uint64_t m_added = 0;
  int m_slot = 0;                     // slot of the next atom
  std::uint64_t m_nextBoundary = 0;  // first atom of the slot after it
  std::vector<Slot> m_slotData;
  std::vector<ComponentStats> m_stats;
};

// What the x axis is labelled with at its two ends (atom positions up to
// 2^53 in full).
struct XAxis {
  double first = 0.0;
  double last = 0.0;
  std::string unit;  // e.g. "atoms" or "s"; empty: none
};

struct ChartOptions {
  bool colour = true;            // traces and legend marks in component colours
  std::optional<double> yMin;    // bounds of the y axis; unset: the data's
  std::optional<double> yMax;
  XAxis x;
};

// The palette index of a component's colour.
std::int16_t componentColour(std::size_t component);

// Formats a value in at most `width` characters, with as many significant
// digits as fit (`maxDigits` at most); "nan", "inf", "-inf" for values not
// finite.
std::string formatValue(double value, int width, int maxDigits = 6);

class Chart {
 public:
  // Throws std::invalid_argument (with the reason) when the size cannot
  // hold the chart: see sizeProblem.
  Chart(int cols, int rows, std::vector<std::string> names, Glyphs glyphs = Glyphs::kBraille);

  // Empty when a chart of these names fits cols x rows, else why not.
  static std::string sizeProblem(int cols, int rows, const std::vector<std::string>& names);

  int cols() const { return m_cols; }
  int rows() const { return m_rows; }
  Glyphs glyphs() const { return m_glyphs; }
  const std::vector<std::string>& names() const { return m_names; }
  int canvasCols() const { return m_cols - kAxisWidth; }
  int canvasRows() const { return m_canvasRows; }
  int dotColumns() const { return canvasCols() * dotsPerCell(m_glyphs).x; }
  int dotRows() const { return m_canvasRows * dotsPerCell(m_glyphs).y; }

  // Data sized for this chart.
  ChartData data(std::uint64_t atoms) const {
    return ChartData(static_cast<int>(m_names.size()), dotColumns(), atoms);
  }

  // Draws the chart into grid's rectangle at (col, row) of cols() x rows(),
  // blanking it first.
  void render(const ChartData& data, const ChartOptions& options, CellGrid& grid, int col = 0, int row = 0) const;
  CellGrid render(const ChartData& data, const ChartOptions& options) const;

 private:
  static constexpr int kLabelWidth = 9;
  static constexpr int kAxisWidth = kLabelWidth + 1;
  static int nameWidth(const std::vector<std::string>& names);
  static int legendEntryWidth(const std::vector<std::string>& names);
  static int legendRows(int cols, const std::vector<std::string>& names);

  void drawTraces(const ChartData& data, const ChartOptions& options, double low, double high, CellGrid& grid,
                  int col, int row) const;
  void drawAxes(const ChartOptions& options, double low, double high, CellGrid& grid, int col, int row) const;
  void drawLegend(const ChartData& data, const ChartOptions& options, CellGrid& grid, int col, int row) const;

  int m_cols;
  int m_rows;
  std::vector<std::string> m_names;
  Glyphs m_glyphs;
  int m_canvasRows = 0;
};

}  // namespace plot
