// Snapshots of the dot canvas and the chart, compared as text.
#include "plot/chart.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "plot/dot_canvas.h"
#include "plot/text_output.h"

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
};

std::string canvasText(const plot::DotCanvas& canvas) {
  plot::CellGrid grid(canvas.cols(), canvas.rows());
  canvas.drawInto(grid, 0, 0);
  return grid.text();
}

// A chart of one value per atom.
std::string chartOf(int cols, int rows, const std::vector<double>& values, plot::XAxis x,
                    plot::Glyphs glyphs = plot::Glyphs::kBraille) {
  const plot::Chart chart(cols, rows, {"v"}, glyphs);
  plot::ChartData data = chart.data(values.size());
  for (const double v : values) data.add(&v);
  plot::ChartOptions options;
  options.x = std::move(x);
  return chart.render(data, options).text();
}

TEST_F(PlotTest, EachDotSetsItsOwnGlyph) {
  struct Case {
    plot::Glyphs glyphs;
    int x;
    int y;
    char32_t shown;
  };
  const Case cases[] = {
      {plot::Glyphs::kBraille, 0, 0, U'\u2801'}, {plot::Glyphs::kBraille, 0, 1, U'\u2802'},
      {plot::Glyphs::kBraille, 0, 2, U'\u2804'}, {plot::Glyphs::kBraille, 0, 3, U'\u2840'},
      {plot::Glyphs::kBraille, 1, 0, U'\u2808'}, {plot::Glyphs::kBraille, 1, 1, U'\u2810'},
      {plot::Glyphs::kBraille, 1, 2, U'\u2820'}, {plot::Glyphs::kBraille, 1, 3, U'\u2880'},
      {plot::Glyphs::kBlock, 0, 0, U'\u2580'},   {plot::Glyphs::kBlock, 0, 1, U'\u2584'},
      {plot::Glyphs::kAscii, 0, 0, U'\''},       {plot::Glyphs::kAscii, 0, 1, U'.'},
  };
  for (const Case& c : cases) {
    plot::DotCanvas canvas(2, 2, c.glyphs);
    const plot::DotsPerCell dots = plot::dotsPerCell(c.glyphs);
    // The same dot in the cell at (1, 1): the cell arithmetic, not only the bit.
    canvas.set(dots.x + c.x, dots.y + c.y, 5);
    EXPECT_EQ(canvas.glyph(1, 1), c.shown) << c.x << "," << c.y;
    EXPECT_EQ(canvas.glyph(0, 0), U' ');
    plot::CellGrid grid(2, 2);
    canvas.drawInto(grid, 0, 0);
    EXPECT_EQ(grid.at(1, 1).style.fg, 5);
  }
  plot::DotCanvas both(1, 1, plot::Glyphs::kAscii);
  both.vline(0, 0, 1);
  EXPECT_EQ(both.glyph(0, 0), U':');
}

TEST_F(PlotTest, LinesAreClippedAndNeverWalkOffTheCanvas) {
  plot::DotCanvas canvas(4, 1, plot::Glyphs::kBraille);
  // From far off on the left to far off on the right, through the middle rows:
  // clipped before it is walked, so this costs eight dots, not 1e300 steps.
  canvas.line(-1e300, 1.5, 1e300, 1.5);
  canvas.line(kNan, 0, 3, 0);
  canvas.line(0, 0, kInf, 3);
  canvas.set(-1, 0);
  canvas.set(8, 0);
  canvas.vline(2, -100000, 100000);
  EXPECT_EQ(canvasText(canvas), "\u2824\u2867\u2824\u2824\n");
}

TEST_F(PlotTest, ASineIsDrawnAsPointsJoinedByLines) {
  std::vector<double> sine;
  for (int i = 0; i < 60; ++i) sine.push_back(std::sin(2 * M_PI * i / 60.0));
  EXPECT_EQ(chartOf(40, 8, sine, {0, 59, "atoms"}),
            "        1│    ⡠⠔⠊⠉⠉⠒⠤⡀\n"
            "         │  ⡠⠊       ⠈⠢⡀\n"
            "         │⢠⠊           ⠈⠢⡀\n"
            "         │⠁              ⠘⢄           ⢀⠔\n"
            "         │                 ⠑⢄       ⢀⠔⠁\n"
            "       -1│                   ⠑⠢⢄⣀⣀⠤⠒⠁\n"
            "         └0                     59 atoms\n"
            "⣿ v  min -1 max 1 mean 5.042e-17\n");
}

TEST_F(PlotTest, ACounterFallsBackInOneColumn) {
  std::vector<double> counter;
  for (int i = 0; i < 24; ++i) counter.push_back(i % 8);
  EXPECT_EQ(chartOf(30, 6, counter, {0, 23, "atoms"}),
            "        7│    ⢀⠔⡇    ⢀⢼     ⢠⠊\n"
            "         │   ⡠⠃ ⢸   ⡔⠁ ⡇  ⢀⠔⠁\n"
            "         │ ⢀⠔⠁  ⢸ ⢀⠜   ⡇ ⢀⠎\n"
            "        0│⡠⠊     ⡷⠁    ⢸⠔⠁\n"
            "         └0           23 atoms\n"
            "⣿ v  min 0 max 7 mean 3.5\n");
}

TEST_F(PlotTest, AConstantAndASingleAtomSitInTheMiddle) {
  EXPECT_EQ(chartOf(30, 6, std::vector<double>(100, 7.0), {0, 99, ""}),
            "        7│\n"
            "         │\n"
            "         │⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉⠉\n"
            "        7│\n"
            "         └0                 99\n"
            "⣿ v  min 7 max 7 mean 7\n");
  EXPECT_EQ(chartOf(30, 6, {3.5}, {0, 0, "atoms"}),
            "      3.5│\n"
            "         │\n"
            "         │⠁\n"
            "      3.5│\n"
            "         └0            0 atoms\n"
            "⣿ v  min 3.5 max 3.5 mean 3.5\n");
}

TEST_F(PlotTest, ValuesThatAreNotFiniteAreGaps) {
  const plot::Chart chart(30, 7, {"x", "y"});
  plot::ChartData data = chart.data(12);
  const double xs[12] = {0, 1, 2, kNan, 4, 5, kInf, 7, 8, -kInf, 10, 11};
  for (const double x : xs) {
    const double atom[2] = {x, kNan};
    data.add(atom);
  }
  plot::ChartOptions options;
  options.x = {0, 1.1, "s"};
  EXPECT_EQ(chart.render(data, options).text(),
            "       11│                 ⠐⠊⠉\n"
            "         │            ⠐⠊⠁\n"
            "         │       ⠔⠊⠁\n"
            "        0│⣀⠤⠔⠊\n"
            "         └0              1.1 s\n"
            "⣿ x  min 0 max 11 mean 5.33333\n"
            "⣿ y  min - max - mean -\n");
  EXPECT_EQ(data.stats(0).finite, 9u);
  EXPECT_EQ(data.stats(0).nonFinite, 3u);
  EXPECT_EQ(data.stats(1).nonFinite, 12u);
}

TEST_F(PlotTest, NothingFiniteDrawsAnEmptyChartWithoutLabels) {
  EXPECT_EQ(chartOf(30, 4, {kNan, kInf, -kInf}, {0, 2, ""}),
            "         │\n"
            "         │\n"
            "         └0                  2\n"
            "⣿ v  min - max - mean -\n");
}

TEST_F(PlotTest, MoreAtomsThanDotsShowTheEnvelopeOfEachColumn) {
  // A signal alternating between its bounds, 1000 atoms on 40 dot columns:
  // every column holds both bounds, so the chart is a filled band. Taking
  // one atom per column instead would draw a flat line at one bound.
  std::vector<double> alternating;
  for (int i = 0; i < 1000; ++i) alternating.push_back(i % 2 ? 1.0 : -1.0);
  const std::string text = chartOf(30, 6, alternating, {0, 999, ""});
  const std::string full = "│" + std::string() + "⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿⣿\n";
  EXPECT_EQ(text, "        1" + full + "         " + full + "         " + full + "       -1" + full +
                      "         └0                999\n⣿ v  min -1 max 1 mean 0\n");
}

TEST_F(PlotTest, AtomsAreSharedOutEvenlyAmongTheColumns) {
  plot::ChartData data(1, 4, 10);
  for (int i = 0; i < 12; ++i) {  // two more than announced: they join the last column
    const double v = i;
    data.add(&v);
  }
  ASSERT_TRUE(data.envelope());
  ASSERT_EQ(data.slots(), 4);
  const double expected[4][2] = {{0, 2}, {3, 4}, {5, 7}, {8, 11}};
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(data.slot(0, s).min, expected[s][0]) << s;
    EXPECT_EQ(data.slot(0, s).max, expected[s][1]) << s;
  }
  plot::ChartData partial(1, 40, 10);
  const double v = 1;
  partial.add(&v);
  EXPECT_FALSE(partial.envelope());
  EXPECT_TRUE(partial.slot(0, 0).finite);
  EXPECT_FALSE(partial.slot(0, 1).finite);
  EXPECT_DOUBLE_EQ(partial.slotX(9), 39.0);
}

TEST_F(PlotTest, GivenBoundsClipTheTraceAndLabelTheAxis) {
  const plot::Chart chart(30, 4, {"v"}, plot::Glyphs::kAscii);
  plot::ChartData data = chart.data(10);
  for (int i = 0; i < 10; ++i) {
    const double v = i * 1e300;  // far beyond the given bounds but the first two
    data.add(&v);
  }
  plot::ChartOptions options;
  options.yMin = -1;
  options.yMax = 1e300;
  options.x = {0, 9, "atoms"};
  EXPECT_EQ(chart.render(data, options).text(),
            "   1e+300| .'\n"
            "       -1|.'\n"
            "         +0            9 atoms\n"
            "# v  min 0 max 9e+300\n");
}

TEST_F(PlotTest, SizesTooSmallForTheChartAreRefusedWithTheReason) {
  struct Case {
    int cols;
    int rows;
    std::size_t components;
    std::string problem;
  };
  const Case cases[] = {
      {20, 4, 1, ""},
      {19, 4, 1, "a chart needs at least 20 columns"},
      {20, 3, 1, "a chart of 1 component in 20 columns needs at least 4 rows"},
      {80, 7, 5, "a chart of 5 components in 80 columns needs at least 8 rows"},
      {120, 6, 5, ""},
      {120, 5, 5, "a chart of 5 components in 120 columns needs at least 6 rows"},
      {80, 16, 0, "a chart needs at least one component"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> names(c.components, "name");
    EXPECT_EQ(plot::Chart::sizeProblem(c.cols, c.rows, names), c.problem) << c.cols << "x" << c.rows;
    if (!c.problem.empty()) {
      EXPECT_THROW(plot::Chart(c.cols, c.rows, names), std::invalid_argument);
    }
  }
}

TEST_F(PlotTest, ValuesAreFormattedToFitTheirWidth) {
  struct Case {
    double value;
    int width;
    const char* text;
    int maxDigits = 6;
  };
  const Case cases[] = {
      {1.5, 9, "1.5"},           {-123456789.0, 9, "-1.23e+08"}, {1e300, 9, "1e+300"},
      {-1.7976931348623157e308, 9, "-1.8e+308"}, {0.000123456, 9, "0.0001235"},  {kNan, 9, "nan"},
      {-kInf, 9, "-inf"},        {65535, 9, "65535"},            {18446744073709551615.0, 9, "1.845e+19"},
      {1384450.0, 16, "1384450", 16},  {9007199254740992.0, 16, "9007199254740992", 16},
      {0.1, 16, "0.1", 16},
  };
  for (const Case& c : cases) EXPECT_EQ(plot::formatValue(c.value, c.width, c.maxDigits), c.text) << c.value;
}

TEST_F(PlotTest, TextIsPlainOrStyledWithSgrAndCanBeKeptToAscii) {
  plot::CellGrid grid(6, 2);
  grid.put(0, 0, "a");
  grid.set(1, 0, U'\u28FF', {2, plot::kDefaultColour, plot::kPlain});
  grid.set(2, 0, U'b', {200, 4, plot::kBold});
  grid.set(4, 1, U' ', {plot::kDefaultColour, 1, plot::kPlain});
  EXPECT_EQ(plot::toText(grid), "a\u28FFb\n\n");
  EXPECT_EQ(plot::toText(grid, {false, true}), "a?b\n\n");
  EXPECT_EQ(plot::toText(grid, {true, false}),
            "a\x1b[0;32m\u28FF\x1b[0;1;38;5;200;44mb\x1b[0m\n"
            "    \x1b[0;41m \x1b[0m\n");
}

}  // namespace

namespace {

// Atoms of type T, `components` to an atom, reduced in typed runs (in lanes
// where the components divide them, strided otherwise, value by value
// where one is not finite) against the same atoms added as doubles one by
// one: the same envelopes, gaps and statistics (float sums to rounding).
template <class T>
void expectTypedRunsReduceAsValues(int components, bool withGaps) {
  const std::size_t atoms = 500;
  std::vector<T> elements;
  for (std::size_t k = 0; k < 2 * atoms * static_cast<std::size_t>(components); ++k) {
    const auto v = static_cast<std::int64_t>((k * 7919) % 65536) - 32768;
    elements.push_back(static_cast<T>(std::is_signed_v<T> ? v : v + 32768));
  }
  if constexpr (std::is_floating_point_v<T>) {
    if (withGaps) {
      for (const std::size_t k : {3u, 41u, 42u, 43u, 377u, 1000u, 1003u})
        elements[k % elements.size()] = k % 2 ? std::numeric_limits<T>::quiet_NaN() : std::numeric_limits<T>::infinity();
    }
  }
  for (const int dots : {7, 40, 500, 2000}) {
    const std::string where = std::to_string(components) + " components, " + std::to_string(dots) + " dots";
    plot::ChartData typed(components, dots, atoms);
    plot::ChartData values(components, dots, atoms);
    // Three blocks, the second starting part of the way into the elements.
    const std::size_t c = static_cast<std::size_t>(components);
    typed.addAtoms(elements.data(), 3);
    typed.addAtoms(elements.data() + 3 * c, 197);
    typed.addAtoms(elements.data() + 400 * c, 300);  // atoms 200 to 499
    std::vector<double> atom(c);
    for (std::size_t i = 0; i < atoms; ++i) {
      const std::size_t at = (i < 200 ? i : i + 200) * c;
      for (std::size_t j = 0; j < c; ++j) atom[j] = static_cast<double>(elements[at + j]);
      values.add(atom.data());
    }
    for (int j = 0; j < components; ++j) {
      const plot::ComponentStats& a = typed.stats(j);
      const plot::ComponentStats& b = values.stats(j);
      EXPECT_TRUE(a.min == b.min && a.max == b.max && a.finite == b.finite && a.nonFinite == b.nonFinite) << where;
      if (std::is_integral_v<T>) {
        EXPECT_EQ(a.sum, b.sum) << where;
      } else {
        EXPECT_NEAR(a.sum, b.sum, 1e-9 * static_cast<double>(b.finite) * 32768) << where;
      }
      for (int s = 0; s < typed.slots(); ++s) {
        const auto& x = typed.slot(j, s);
        const auto& y = values.slot(j, s);
        EXPECT_TRUE(x.finite == y.finite && x.gapBefore == y.gapBefore && x.gapAfter == y.gapAfter) << where << " " << s;
        if (y.finite) {
          EXPECT_TRUE(x.min == y.min && x.max == y.max && x.first == y.first && x.last == y.last) << where << " " << s;
        }
      }
    }
  }
}

TEST_F(PlotTest, TypedAtomsReduceAsValuesOneByOne) {
  for (const int components : {1, 2, 3, 4, 5, 8}) {
    expectTypedRunsReduceAsValues<std::int8_t>(components, false);
    expectTypedRunsReduceAsValues<std::uint8_t>(components, false);
    expectTypedRunsReduceAsValues<std::int16_t>(components, false);
    expectTypedRunsReduceAsValues<std::uint32_t>(components, false);
    expectTypedRunsReduceAsValues<std::int64_t>(components, false);
    expectTypedRunsReduceAsValues<std::uint64_t>(components, false);
    for (const bool gaps : {false, true}) {
      expectTypedRunsReduceAsValues<float>(components, gaps);
      expectTypedRunsReduceAsValues<double>(components, gaps);
    }
  }
}

}  // namespace
