// Streams whose blocks take a while to produce deliver every block when it
// is produced, also when that takes longer than a call may; an idle stream
// keeps the reader waiting without an error until it is interrupted. The
// runs get a call deadline (1 s) shorter than the slowest block.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "expected.h"
#include "support/faults.h"

namespace signal_test {
namespace {

using namespace std::chrono_literals;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

velnor::test::RunOptions ShortDeadline() {
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    options.timeout = velnor::test::c_faultBound;
    return options;
}

struct PeriodCase {
    const char* node;
    std::uint64_t block;  // atoms per block
};

void PrintTo(const PeriodCase& c, std::ostream* os) { *os << c.node; }

class BlockPeriodTest : public testing::TestWithParam<PeriodCase> {};

TEST_P(BlockPeriodTest, TwoWholeBlocksArrive) {
    const PeriodCase& c = GetParam();
    RegistryServer server(FixturePath("signal-periods.yaml"));
    const auto r = velnor::test::Rove(server, {"signal", "--csv", "--size", std::to_string(2 * c.block), c.node},
                                      ShortDeadline());
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    // Consecutive atoms from the start of a block.
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2 * c.block) << r.out;
    const std::uint64_t first = std::stoull(lines[0]);
    EXPECT_EQ(first % c.block, 0u) << first;
    EXPECT_EQ(r.out, TypeNamed("int32").render(Format::Csv, first, 2 * c.block, 1));
}

INSTANTIATE_TEST_SUITE_P(Periods, BlockPeriodTest,
                         testing::Values(PeriodCase{"fast", 50}, PeriodCase{"slow", 30}, PeriodCase{"slower", 15}),
                         [](const testing::TestParamInfo<PeriodCase>& info) { return std::string(info.param.node); });

TEST(IdleStream, WaitsWithoutAnErrorUntilInterrupted) {
    RegistryServer server(FixturePath("signal-periods.yaml"));
    auto rove = StartRove(server, {"--header", "idle"}, ShortDeadline());
    ASSERT_TRUE(rove->WaitForOutput("v  \n", velnor::test::c_faultBound));
    // Several call deadlines: the pulls that found nothing were asked again.
    std::this_thread::sleep_for(3s);
    EXPECT_TRUE(rove->Running());
    EXPECT_EQ(rove->Err(), "");
    rove->Signal(SIGINT);
    EXPECT_EQ(rove->Wait(velnor::test::c_faultBound), 1);
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from idle signal. Error: -4 (closed or interrupted)\n");
}

}  // namespace
}  // namespace signal_test
