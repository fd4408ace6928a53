// The plot's ring: what a frame reduces, bounded by the window.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "browse/plot_buffer.h"
#include "plot/chart.h"

namespace browse {
namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point c_t0 = Clock::time_point{} + std::chrono::hours(1);

plot::ChartData Reduced(const PlotBuffer& buffer, int components, int columns) {
    plot::ChartData data(components, columns, buffer.Window());
    buffer.ReduceInto(data);
    return data;
}

TEST(PlotBuffer, KeepsTheLastWindowOfAtomsOldestFirst) {
    PlotBuffer buffer(1, 8);
    std::vector<int> counter(20);
    for (int i = 0; i < 20; ++i) counter[static_cast<std::size_t>(i)] = i;
    buffer.Add(counter.data(), 5, c_t0);
    buffer.Add(counter.data() + 5, 15, c_t0);
    const PlotStatus status = buffer.Status();
    EXPECT_EQ(status.held, 8u);
    EXPECT_EQ(status.received, 20u);
    // Eight atoms on eight columns: one atom a slot, 12..19 in order.
    const plot::ChartData data = Reduced(buffer, 1, 8);
    ASSERT_EQ(data.added(), 8u);
    for (int s = 0; s < 8; ++s) EXPECT_EQ(data.slot(0, s).min, 12 + s) << s;
    EXPECT_DOUBLE_EQ(data.stats(0).mean(), 15.5);
}

TEST(PlotBuffer, ABlockLargerThanTheWindowKeepsItsEnd) {
    PlotBuffer buffer(2, 3);
    const double atoms[] = {1, -1, 2, -2, 3, -3, 4, -4, 5, -5};
    buffer.Add(atoms, 5, c_t0);
    const plot::ChartData data = Reduced(buffer, 2, 3);
    EXPECT_EQ(data.stats(0).min, 3);
    EXPECT_EQ(data.stats(0).max, 5);
    EXPECT_EQ(data.stats(1).min, -5);
    EXPECT_EQ(data.stats(1).max, -3);
}

TEST(PlotBuffer, ReplaceShowsOnlyTheNewestRead) {
    PlotBuffer buffer(1, 4);
    const float first[] = {9, 9, 9, 9};
    const float second[] = {1, 2};
    buffer.Replace(first, 4, c_t0);
    buffer.Replace(second, 2, c_t0);
    const plot::ChartData data = Reduced(buffer, 1, 4);
    EXPECT_EQ(data.added(), 2u);
    EXPECT_EQ(data.stats(0).max, 2);
    EXPECT_EQ(buffer.Status().received, 6u);
}

TEST(PlotBuffer, NotFiniteValuesAreGapsNotStatistics) {
    PlotBuffer buffer(1, 4);
    const double atoms[] = {1, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 3};
    buffer.Add(atoms, 4, c_t0);
    const plot::ChartData data = Reduced(buffer, 1, 4);
    EXPECT_EQ(data.stats(0).finite, 2u);
    EXPECT_EQ(data.stats(0).nonFinite, 2u);
    EXPECT_DOUBLE_EQ(data.stats(0).mean(), 2);
}

TEST(PlotBuffer, RateWindowPauseAndErrors) {
    PlotBuffer buffer(1, 100);
    std::vector<short> block(1000, 7);
    buffer.Add(block.data(), 1000, c_t0);
    buffer.Add(block.data(), 1000, c_t0 + std::chrono::milliseconds(500));
    buffer.Add(block.data(), 1000, c_t0 + std::chrono::milliseconds(1000));
    EXPECT_DOUBLE_EQ(buffer.Status().rate, 3000.0);
    // Paused: nothing is taken.
    buffer.SetPaused(true);
    const std::uint64_t generation = buffer.Status().generation;
    buffer.Add(block.data(), 1000, c_t0 + std::chrono::seconds(2));
    EXPECT_EQ(buffer.Status().received, 3000u);
    EXPECT_EQ(buffer.Status().generation, generation);
    buffer.SetPaused(false);
    // A new window starts again, with the ring sized for it.
    buffer.SetWindow(10);
    EXPECT_EQ(buffer.Status().held, 0u);
    buffer.Add(block.data(), 1000, c_t0 + std::chrono::seconds(3));
    EXPECT_EQ(buffer.Status().held, 10u);
    buffer.SetComponents(2);
    EXPECT_EQ(buffer.Status().components, 2u);
    EXPECT_EQ(buffer.Status().held, 0u);
    buffer.SetError("Interrupted read");
    EXPECT_EQ(buffer.Status().error, "Interrupted read");
}

TEST(PlotBuffer, ManyComponentsGetAShorterWindowNotMoreMemory) {
    // 64 components: the widest window would be 128 MiB of doubles.
    PlotBuffer buffer(64, std::uint64_t{1} << 18);
    EXPECT_EQ(buffer.Window(), c_maxRingElements / 64);
    std::vector<int> atom(64, 1);
    buffer.Add(atom.data(), 1, c_t0);
    // Zooming out further changes nothing, and keeps what is held.
    buffer.SetWindow(buffer.Window() * 2);
    EXPECT_EQ(buffer.Window(), c_maxRingElements / 64);
    EXPECT_EQ(buffer.Status().held, 1u);
    // Known later, the component count bounds the window too.
    PlotBuffer later(1, std::uint64_t{1} << 18);
    later.SetComponents(1u << 21);
    EXPECT_EQ(later.Window(), 1u);
}

TEST(PlotBuffer, AChartOfAnotherComponentCountTakesNothing) {
    PlotBuffer buffer(2, 4);
    const int atoms[] = {1, 2, 3, 4};
    buffer.Add(atoms, 2, c_t0);
    plot::ChartData data(1, 4, 4);
    buffer.ReduceInto(data);
    EXPECT_EQ(data.added(), 0u);
}

}  // namespace
}  // namespace browse
