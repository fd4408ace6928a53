#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "isig/pull_ahead.h"

namespace isig::test {
namespace {

using Clock = PullWayChooser::Clock;
using std::chrono::microseconds;

constexpr std::uint32_t c_trial = 8;
constexpr auto c_keep = std::chrono::milliseconds(100);

// Asks the chooser for `blocks` blocks; each block takes the time of the
// way the chooser picked for it. Gives the ways picked, in order.
std::vector<std::uint32_t> Ask(PullWayChooser& chooser, Clock::time_point& now, std::uint32_t blocks,
                               const std::vector<microseconds>& perWay) {
    std::vector<std::uint32_t> picked;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        picked.push_back(chooser.Next(now));
        now += perWay.at(picked.back());
    }
    return picked;
}

struct ChoiceCase {
    std::string name;
    std::vector<microseconds> perWay;  // time per block of each way
    std::uint32_t kept;
};

class PullWayChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(PullWayChoice, TriesEveryWayInTurnThenKeepsTheFastest) {
    const ChoiceCase& c = GetParam();
    const auto ways = static_cast<std::uint32_t>(c.perWay.size());
    PullWayChooser chooser(ways, c_trial, c_keep);
    Clock::time_point now{};
    const std::vector<std::uint32_t> picked = Ask(chooser, now, ways * c_trial + 20, c.perWay);
    for (std::uint32_t i = 0; i < ways * c_trial; ++i) EXPECT_EQ(picked[i], i / c_trial) << "trial block " << i;
    for (std::size_t i = ways * c_trial; i < picked.size(); ++i) EXPECT_EQ(picked[i], c.kept) << "block " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PullWayChoice,
    testing::Values(ChoiceCase{"FirstTwiceAsFast", {microseconds(50), microseconds(100)}, 0},
                    ChoiceCase{"SecondFifthFaster", {microseconds(100), microseconds(80)}, 1},
                    ChoiceCase{"SecondFasterWithinNoise", {microseconds(100), microseconds(97)}, 0},
                    ChoiceCase{"Equal", {microseconds(100), microseconds(100)}, 0},
                    ChoiceCase{"FastestOfFourIsTheThird",
                               {microseconds(100), microseconds(120), microseconds(60), microseconds(70)}, 2},
                    ChoiceCase{"AllOthersWithinNoiseOfTheFirst",
                               {microseconds(100), microseconds(97), microseconds(96), microseconds(99)}, 0},
                    ChoiceCase{"LastOfFourOnlySlightlyAheadOfTheThird",
                               {microseconds(100), microseconds(120), microseconds(71), microseconds(70)}, 3}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(PullWayChooser, OneWayIsAlwaysThatWay) {
    PullWayChooser chooser(1, c_trial, c_keep);
    Clock::time_point now{};
    for (std::uint32_t way : Ask(chooser, now, 3 * c_trial, {microseconds(100)})) EXPECT_EQ(way, 0u);
}

TEST(PullWayChooser, TriesAgainAfterKeepingAWayForItsTime) {
    PullWayChooser chooser(2, c_trial, c_keep);
    Clock::time_point now{};
    // The second way wins while the reader and the server share a processor...
    Ask(chooser, now, 2 * c_trial, {microseconds(100), microseconds(50)});
    EXPECT_EQ(chooser.Next(now), 1u);
    now += c_keep;
    // ...and after its time the trials run again and find the first faster.
    const std::vector<std::uint32_t> picked = Ask(chooser, now, 2 * c_trial + 5, {microseconds(50), microseconds(100)});
    EXPECT_EQ(picked.front(), 0u);
    EXPECT_EQ(picked.back(), 0u);
}

TEST(PullWayChooser, TheFirstBlockOfATrialIsNotTimed) {
    // The first block after a change of way pays for it (pulls dropped,
    // threads woken, a connection made): one very slow first block must
    // not decide.
    PullWayChooser chooser(2, c_trial, c_keep);
    Clock::time_point now{};
    for (std::uint32_t i = 0; i < 2 * c_trial; ++i) {
        const std::uint32_t way = chooser.Next(now);
        const bool firstOfTrial = i == 0 || i == c_trial;
        now += firstOfTrial && way == 0 ? std::chrono::milliseconds(50) : way == 0 ? microseconds(50) : microseconds(100);
    }
    EXPECT_EQ(chooser.Next(now), 0u);
}

TEST(PullWayChooser, ALeadInIsNotTimedAndOnlyComesBeforeTheFirstTrial) {
    // The second way's connection is new: its first blocks are slow.
    constexpr std::uint32_t leadIn = 4;
    PullWayChooser chooser(2, c_trial, c_keep, {0, leadIn});
    Clock::time_point now{};
    std::vector<std::uint32_t> picked;
    for (std::uint32_t i = 0; i < 2 * c_trial + leadIn + 5; ++i) {
        const std::uint32_t way = chooser.Next(now);
        const bool cold = way == 1 && i < c_trial + leadIn + 1;
        now += way == 0 ? microseconds(100) : cold ? std::chrono::milliseconds(10) : microseconds(50);
        picked.push_back(way);
    }
    for (std::uint32_t i = 0; i < c_trial; ++i) EXPECT_EQ(picked[i], 0u) << "block " << i;
    for (std::size_t i = c_trial; i < picked.size(); ++i) EXPECT_EQ(picked[i], 1u) << "block " << i;
    // The next round's trials are as long as any.
    now += c_keep;
    const std::vector<std::uint32_t> again = Ask(chooser, now, 2 * c_trial + 1, {microseconds(50), microseconds(100)});
    for (std::uint32_t i = 0; i < c_trial; ++i) EXPECT_EQ(again[i], 0u) << "block " << i;
    for (std::uint32_t i = c_trial; i < 2 * c_trial; ++i) EXPECT_EQ(again[i], 1u) << "block " << i;
    EXPECT_EQ(again.back(), 0u);
}

// --- how long a pull may take ---

struct LimitCase {
    const char* name;
    bool readers;                   // a give-up time is known
    Clock::duration fromNow;        // the readers give up this long from now
    bool never;                     // ... or never (no time-out)
    std::chrono::milliseconds limit;
    bool cut;
};

class PullTimeTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(PullTimeTest, CutsPullsAtTheReadersGiveUpTime) {
    const LimitCase& c = GetParam();
    const Clock::time_point now = Clock::now();
    const PullTime time(std::chrono::milliseconds(1000),
                        c.readers ? PullTime::GiveUpTime([&] { return c.never ? Clock::time_point::max() : now + c.fromNow; })
                                  : PullTime::GiveUpTime());
    bool cut = !c.cut;
    EXPECT_EQ(time.Limit(now, cut), c.limit);
    EXPECT_EQ(cut, c.cut);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, PullTimeTest,
    ::testing::Values(LimitCase{"NoReaders", false, {}, false, std::chrono::milliseconds(1000), false},
                      LimitCase{"NeverGiveUp", true, {}, true, std::chrono::milliseconds(1000), false},
                      LimitCase{"AfterTheDeadline", true, std::chrono::seconds(5), false,
                                std::chrono::milliseconds(1000), false},
                      // Rounded up: the pull does not end before they give up.
                      LimitCase{"BeforeTheDeadline", true, microseconds(300200), false,
                                std::chrono::milliseconds(301), true},
                      LimitCase{"GivenUpAlready", true, -std::chrono::milliseconds(1), false,
                                std::chrono::milliseconds(0), true},
                      LimitCase{"GivingUpNow", true, {}, false, std::chrono::milliseconds(0), true}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace isig::test
