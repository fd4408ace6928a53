// The listening phase: --wait alone, --ping with --wait, and a managed
// connection that survives a restart of the server.
#include <gtest/gtest.h>

#include <csignal>

#include "listen_session.h"

namespace listen_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

struct WaitCase {
    std::string name;
    std::vector<std::string> args;
};

std::ostream& operator<<(std::ostream& os, const WaitCase& c) { return os << c.name; }

class ListeningTime : public ::testing::TestWithParam<WaitCase> {};

// Each of these ends by itself after the registrations, with nothing but
// the announcement printed.
TEST_P(ListeningTime, EndsByItself) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    std::vector<std::string> args = {"listen"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    args.push_back("scalars.count");
    const velnor::test::RunResult r = velnor::test::Rove(server, args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, Announcement({"count"}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

const WaitCase c_waitCases[] = {
    {"wait0", {"--wait", "0"}},
    {"wait0_ping5", {"--ping", "5", "--wait", "0"}},
    {"wait1", {"--wait", "1"}},
    {"ping1_wait2", {"--ping", "1", "--wait", "2"}},
};

INSTANTIATE_TEST_SUITE_P(Listen, ListeningTime, ::testing::ValuesIn(c_waitCases),
                         [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

// Writes during a finite wait are printed before the run ends by itself.
TEST(ListeningTimeWrites, PrintedDuringTheWait) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--wait", "2", "scalars.label"}, 1);
    Write(server, {"scalars.label=during"});
    EXPECT_EQ(listener.NextLine(), "listen-host.scalars.label=during");
    EXPECT_EQ(listener.Process().Wait(c_patience), 0);
    EXPECT_EQ(listener.Process().Out(), Announcement({"label"}) + "listen-host.scalars.label=during\n");
    EXPECT_EQ(listener.Process().Err(), "");
}

// The server restarts while the listener pings it: the next ping re-makes the
// connection and its subscriptions, says so on standard error, and writes
// after it are printed again.
TEST(ManagedConnection, SurvivesAServerRestart) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--ping", "1", "--wait", "3", "scalars.count"}, 1);
    server.Restart();
    std::string line;
    int value = 100;
    // Writes before the re-subscription reach nobody; keep writing until one
    // is printed or the listener has ended.
    while (line.empty() && listener.Process().Running()) {
        Write(server, {"scalars.count=" + std::to_string(++value)});
        listener.Process().ReadLine(line, 200ms);
    }
    EXPECT_EQ(line.rfind("listen-host.scalars.count=", 0), 0u) << line;
    EXPECT_EQ(listener.Process().Wait(c_patience), 0);
    EXPECT_EQ(listener.Process().Err(), "Reconnected managed connection.\n");
    EXPECT_EQ(listener.Process().Out().rfind(Announcement({"count"}), 0), 0u);
}

// A value changed while the registry was away (here its restart puts the
// tree's value back) is printed after the reconnection, so that --until
// sees it: the listener compares the values with the last it printed.
TEST(ManagedConnection, PrintsWhatChangedWhileAway) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--ping", "1", "--wait", "30", "--until", "idle", "scalars.label"}, 1);
    Write(server, {"scalars.label=busy"});
    ASSERT_EQ(listener.NextLine(), "listen-host.scalars.label=busy");
    server.Restart();
    EXPECT_EQ(listener.Process().Wait(60s), 0);
    EXPECT_EQ(listener.Process().Out(),
              Announcement({"label"}) + "listen-host.scalars.label=busy\nlisten-host.scalars.label=idle\n");
    EXPECT_EQ(listener.Process().Err(), "Reconnected managed connection.\n");
}

// With --initial every value is printed again after a reconnection, changed
// or not.
TEST(ManagedConnection, InitialValuesAgainAfterAReconnection) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--ping", "1", "--initial", "scalars.label"}, 1);
    ASSERT_EQ(listener.NextLine(), "listen-host.scalars.label=idle");
    server.Restart();
    EXPECT_EQ(listener.NextLine(), "listen-host.scalars.label=idle");
    EXPECT_EQ(listener.StopWith(SIGTERM), 0);
    EXPECT_EQ(listener.Process().Err(), "Reconnected managed connection.\n");
}

// A registry that never comes back within --wait: the run fails and says
// so, once (with -v it said so when the loss began).
class LostForGood : public ::testing::TestWithParam<bool> {};

TEST_P(LostForGood, EndsWithTheLoss) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    std::vector<std::string> args = {"--ping", "1", "--wait", "5", "scalars.count"};
    if (GetParam()) args.insert(args.begin(), "-v");
    ListenSession listener(server, args, 1);
    server.Stop();
    EXPECT_EQ(listener.Process().Wait(60s), 1);
    EXPECT_EQ(listener.Process().Out(), Announcement({"count"}));
    EXPECT_EQ(listener.Process().Err(), "Connection to 127.0.0.1:" + server.PortText() + "/application lost.\n");
}

INSTANTIATE_TEST_SUITE_P(Listen, LostForGood, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Verbose" : "Quiet");
                         });

// Without a ping the connection is not managed: nothing is reported, and the
// listener still ends cleanly after its server went away and came back.
TEST(ManagedConnection, UnmanagedListenerEndsCleanlyAfterARestart) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"scalars.count"}, 1);
    server.Restart();
    Write(server, {"scalars.count=5"});
    ASSERT_EQ(listener.StopWith(SIGINT), 0);
    EXPECT_EQ(listener.Process().Out(), Announcement({"count"}));
    EXPECT_EQ(listener.Process().Err(), "");
}

}  // namespace
}  // namespace listen_test
