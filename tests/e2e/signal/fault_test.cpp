// A reader's own time-out (--timeout) ends a signal read that gets no
// data, whether no event comes or the server stops answering: before the
// contract's call deadline would end the call in flight. (A server that
// goes away, stops or restarts under each kind of read: the fault matrix,
// e2e/faults.)
#include <gtest/gtest.h>

#include <chrono>

#include "expected.h"
#include "support/faults.h"
#include "velnor/wire.h"

namespace signal_test {
namespace {

using velnor::test::c_faultBound;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;
// Two seconds before the contract's call deadline could end a call.
constexpr std::chrono::milliseconds c_beforeTheCallDeadline = velnor::wire::c_callDeadline - std::chrono::seconds(2);

// No event for a minute: the time-out ends the Event wait.
TEST(SignalTimeout, EndsAnEventWaitWithoutEvents) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    auto rove = StartRove(server, {"--mode", "Event", "--size", "4", "--timeout", "1", "slow"}, options);
    EXPECT_EQ(rove->Wait(c_faultBound), 1);
    EXPECT_EQ(rove->Err(), "Error: Can't read slow signal. Error: -2 (no data yet)\n");
}

// The server is stopped once blocks flow. A reader with a time-out gives up
// that long after the last block, however long the pull in flight could
// still wait (the contract's call deadline here).
TEST(SignalTimeout, EndsAStreamReadOfAStoppedServer) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    auto rove = StartRove(server, {"--csv", "--size", "100", "--loop=-1", "--timeout", "1", "ticking"});
    ASSERT_TRUE(rove->WaitForOutput("\n", c_faultBound)) << rove->Err();
    const velnor::test::PausedServer paused(server);
    EXPECT_EQ(rove->Wait(c_beforeTheCallDeadline), 1);
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from ticking signal. Error: -2 (no data yet)\n");
}

}  // namespace
}  // namespace signal_test
