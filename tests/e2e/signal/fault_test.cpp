// Signal reads whose server goes away, stops answering or is restarted end
// by themselves within a wide bound, with an error naming the signal and
// status 1. The runs get a short call deadline, but where a reader's own
// time-out is to be kept against the contract's.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>

#include "expected.h"
#include "support/faults.h"
#include "velnor/wire.h"

namespace signal_test {
namespace {

using velnor::test::c_faultBound;
// Two seconds before the contract's call deadline could end a call.
constexpr std::chrono::milliseconds c_beforeTheCallDeadline = velnor::wire::c_callDeadline - std::chrono::seconds(2);
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

enum class Fault { Kill, Stop, Restart, None };

struct DodFaultCase {
    const char* name;
    Fault fault;
    std::vector<std::string> args;
    std::string err;
};

void PrintTo(const DodFaultCase& c, std::ostream* os) { *os << c.name; }

class DodEventFaultTest : public testing::TestWithParam<DodFaultCase> {};

// The events come every 50 ms; the fault strikes once the first block is
// out, while the reader waits for the next.
TEST_P(DodEventFaultTest, TheWaitEndsWithAnError) {
    const DodFaultCase& c = GetParam();
    RegistryServer server(FixturePath("signal-modes.yaml"));
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    auto rove = StartRove(server, c.args, options);
    std::optional<velnor::test::PausedServer> paused;
    if (c.fault != Fault::None) {
        ASSERT_TRUE(rove->WaitForOutput("\n", c_faultBound)) << rove->Err();
        if (c.fault == Fault::Kill) server.Kill();
        if (c.fault == Fault::Stop) paused.emplace(server);
        if (c.fault == Fault::Restart) server.Restart();
    }
    EXPECT_EQ(rove->Wait(c_faultBound), 1);
    EXPECT_EQ(rove->Err(), c.err);
    // Whole blocks of consecutive atoms came before the error.
    const auto lines = Lines(rove->Out());
    EXPECT_EQ(lines.size() % 4, 0u) << rove->Out();
}

const std::string c_lost = "Error: Can't read events signal. Error: -6 (remote access failed)\n";
const std::vector<std::string> c_endless = {"--csv", "--mode", "Event", "--size", "4", "--loop=-1", "events"};

INSTANTIATE_TEST_SUITE_P(
    Faults, DodEventFaultTest,
    testing::Values(DodFaultCase{"killed", Fault::Kill, c_endless, c_lost},
                    DodFaultCase{"stopped", Fault::Stop, c_endless, c_lost},
                    DodFaultCase{"restarted", Fault::Restart, c_endless, c_lost},
                    // No event for a minute: the time-out ends the wait.
                    DodFaultCase{"timeout_without_events", Fault::None,
                                 {"--mode", "Event", "--size", "4", "--timeout", "1", "slow"},
                                 "Error: Can't read slow signal. Error: -2 (no data yet)\n"}),
    [](const testing::TestParamInfo<DodFaultCase>& info) { return std::string(info.param.name); });

struct StreamFaultCase {
    const char* name;
    bool shortDeadline;  // the runs' short call deadline, else the contract's
    std::vector<std::string> args;
    std::string err;
};

void PrintTo(const StreamFaultCase& c, std::ostream* os) { *os << c.name; }

class StreamStopTest : public testing::TestWithParam<StreamFaultCase> {};

// The server is stopped once blocks flow. A reader with a time-out gives up
// that long after the last block, however long the pull in flight could
// still wait: well before the contract's call deadline would end it.
TEST_P(StreamStopTest, TheReadEndsWithItsError) {
    const StreamFaultCase& c = GetParam();
    RegistryServer server(FixturePath("signal-modes.yaml"));
    velnor::test::RunOptions options;
    if (c.shortDeadline) options.env = velnor::test::FaultEnvironment();
    auto rove = StartRove(server, c.args, options);
    ASSERT_TRUE(rove->WaitForOutput("\n", c_faultBound)) << rove->Err();
    const velnor::test::PausedServer paused(server);
    const auto bound = c.shortDeadline ? std::chrono::milliseconds(c_faultBound) : c_beforeTheCallDeadline;
    EXPECT_EQ(rove->Wait(bound), 1);
    EXPECT_EQ(rove->Err(), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StreamStopTest,
    testing::Values(StreamFaultCase{"with_timeout", false,
                                    {"--csv", "--size", "100", "--loop=-1", "--timeout", "1", "ticking"},
                                    "Error: Interrupted read from ticking signal. Error: -2 (no data yet)\n"},
                    StreamFaultCase{"without_timeout", true,
                                    {"--csv", "--size", "100", "--loop=-1", "ticking"},
                                    "Error: Interrupted read from ticking signal. Error: -6 (remote access failed)\n"}),
    [](const testing::TestParamInfo<StreamFaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace signal_test
