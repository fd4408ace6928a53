#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "isig/pull_ahead.h"

namespace isig::test {
namespace {

using Clock = PullDepthChooser::Clock;
using std::chrono::microseconds;

constexpr std::uint32_t c_trial = 8;
constexpr auto c_keep = std::chrono::milliseconds(100);

// Asks the chooser for `blocks` blocks; each block takes the time of the
// way the chooser picked for it. Gives the ways picked, in order.
std::vector<bool> Ask(PullDepthChooser& chooser, Clock::time_point& now, std::uint32_t blocks, microseconds ahead,
                      microseconds single) {
    std::vector<bool> picked;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        picked.push_back(chooser.PullAhead(now));
        now += picked.back() ? ahead : single;
    }
    return picked;
}

struct ChoiceCase {
    std::string name;
    microseconds ahead;   // time per block pulled ahead
    microseconds single;  // time per block pulled one at a time
    bool keepsAhead;
};

class PullDepthChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(PullDepthChoice, TriesBothWaysThenKeepsTheFaster) {
    const ChoiceCase& c = GetParam();
    PullDepthChooser chooser(c_trial, c_keep);
    Clock::time_point now{};
    const std::vector<bool> picked = Ask(chooser, now, 2 * c_trial + 20, c.ahead, c.single);
    for (std::uint32_t i = 0; i < c_trial; ++i) EXPECT_TRUE(picked[i]) << "trial ahead, block " << i;
    for (std::uint32_t i = c_trial; i < 2 * c_trial; ++i) EXPECT_FALSE(picked[i]) << "trial single, block " << i;
    for (std::size_t i = 2 * c_trial; i < picked.size(); ++i) EXPECT_EQ(picked[i], c.keepsAhead) << "block " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PullDepthChoice,
    testing::Values(ChoiceCase{"AheadTwiceAsFast", microseconds(50), microseconds(100), true},
                    ChoiceCase{"SingleFifthFaster", microseconds(100), microseconds(80), false},
                    ChoiceCase{"SingleFasterWithinNoise", microseconds(100), microseconds(97), true},
                    ChoiceCase{"Equal", microseconds(100), microseconds(100), true}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST(PullDepthChooser, TriesAgainAfterKeepingAWayForItsTime) {
    PullDepthChooser chooser(c_trial, c_keep);
    Clock::time_point now{};
    // Single wins while the reader and the server share a processor...
    Ask(chooser, now, 2 * c_trial, microseconds(100), microseconds(50));
    EXPECT_FALSE(chooser.PullAhead(now));
    now += c_keep;
    // ...and after its time the trials run again and find ahead faster.
    const std::vector<bool> picked = Ask(chooser, now, 2 * c_trial + 5, microseconds(50), microseconds(100));
    EXPECT_TRUE(picked.front());
    EXPECT_TRUE(picked.back());
}

TEST(PullDepthChooser, TheFirstBlockOfATrialIsNotTimed) {
    // The first block after a change of way pays for it (pulls dropped,
    // threads woken): one very slow first block must not decide.
    PullDepthChooser chooser(c_trial, c_keep);
    Clock::time_point now{};
    for (std::uint32_t i = 0; i < 2 * c_trial; ++i) {
        const bool ahead = chooser.PullAhead(now);
        const bool firstOfPhase = i == 0 || i == c_trial;
        now += firstOfPhase && ahead ? std::chrono::milliseconds(50) : ahead ? microseconds(50) : microseconds(100);
    }
    EXPECT_TRUE(chooser.PullAhead(now));
}

}  // namespace
}  // namespace isig::test
