// listen for scripts: time stamps, JSON records, the initial values, and the
// ends by --count, --until and its time-out; the lost connection with -v.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <thread>

#include "listen_session.h"
#include "script_case.h"
#include "support/case_name.h"

namespace script_test {
namespace {

using listen_test::Announcement;
using listen_test::c_patience;
using listen_test::ListenSession;
using listen_test::Write;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;
using namespace std::chrono_literals;

const std::regex c_isoTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");

TEST(ListenTime, EachLineStartsWithTheUtcTime) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--time", "scalars.count"}, 1);
    Write(server, {"scalars.count=1"});
    const std::string line = listener.NextLine();
    EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z listen-host\.scalars\.count=1)")))
        << line;
    EXPECT_EQ(listener.StopWith(SIGTERM), 0);
}

TEST(ListenJson, OneRecordPerNotification) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--json", "scalars.level", "table"}, 2, {}, false);
    Write(server, {"scalars.level=0.25"});
    Write(server, {"table[2:3]=7"});
    const std::vector<std::string> lines = listener.NextLines(2);
    ASSERT_EQ(lines.size(), 2u);
    std::vector<Json> records = Records(lines[0] + "\n" + lines[1] + "\n");
    ASSERT_EQ(records.size(), 2u);
    for (auto& record : records) {
        EXPECT_TRUE(std::regex_match(record["time"].get<std::string>(), c_isoTime)) << record.dump();
        record.erase("time");
    }
    EXPECT_EQ(records, Expected({R"({"path":"scalars.level","range":null,"value":0.25})",
                                 R"({"path":"table","range":[2,3],"value":[7,7]})"}));
    EXPECT_EQ(listener.StopWith(SIGTERM), 0);
    EXPECT_EQ(listener.Process().Out(), lines[0] + "\n" + lines[1] + "\n");
}

// --count and --until end the command by themselves, with status 0, after
// the line that met them; nothing is printed after it.
struct EndCase {
    std::string name;
    std::vector<std::string> options;
    std::vector<std::string> labels;  // written one after the other
    std::string out;                  // the notification lines
};

std::ostream& operator<<(std::ostream& os, const EndCase& c) { return os << c.name; }

class ListenEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(ListenEnds, ByItself) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    std::vector<std::string> args = GetParam().options;
    args.push_back("scalars.label");
    ListenSession listener(server, args, 1);
    for (const auto& label : GetParam().labels) {
        Write(server, {"scalars.label=" + label});
        listener.NextLine();  // each write is printed before the next one
    }
    EXPECT_EQ(listener.Process().Wait(c_patience), 0);
    EXPECT_EQ(listener.Process().Out(), Announcement({"label"}) + GetParam().out);
    EXPECT_EQ(listener.Process().Err(), "");
}

const EndCase c_endCases[] = {
    {"count2", {"--count", "2"}, {"a", "b"}, "listen-host.scalars.label=a\nlisten-host.scalars.label=b\n"},
    {"untilReached", {"--until", "done"}, {"busy", "done"}, "listen-host.scalars.label=busy\nlisten-host.scalars.label=done\n"},
    {"untilBeforeWait", {"--until", "done", "--wait", "300"}, {"done"}, "listen-host.scalars.label=done\n"},
    {"countAndInitial", {"--initial", "--count", "1"}, {"x"}, "listen-host.scalars.label=idle\nlisten-host.scalars.label=x\n"},
};

INSTANTIATE_TEST_SUITE_P(Listen, ListenEnds, ::testing::ValuesIn(c_endCases), velnor::test::NameOfCase());

// Runs that need no writes: the initial values, a value that already
// holds, and the time-out of --until.
struct RunCase {
    std::string name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

std::ostream& operator<<(std::ostream& os, const RunCase& c) { return os << c.name; }

class ListenRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(ListenRuns, Run) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    std::vector<std::string> args = {"listen"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const velnor::test::RunResult r = velnor::test::Rove(server, args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.status, GetParam().status);
}

const RunCase c_runCases[] = {
    {"initialValues",
     {"--initial", "--wait", "0", "scalars.label", "reset", "pair"},
     Announcement({"label", "reset", "pair"}) + "listen-host.scalars.label=idle\nlisten-host.pair=[1,2]\n", "", 0},
    {"untilAlreadyHolds",
     {"--initial", "--until", "idle", "scalars.label"},
     Announcement({"label"}) + "listen-host.scalars.label=idle\n", "", 0},
    {"untilTimesOut",
     {"--until", "done", "--wait", "1", "scalars.label"},
     Announcement({"label"}), "Timed out waiting for scalars.label to become done\n", 1},
    {"untilTimesOutAfterInitial",
     {"--initial", "--until", "done", "--wait", "1", "scalars.label"},
     Announcement({"label"}) + "listen-host.scalars.label=idle\n",
     "Timed out waiting for scalars.label to become done\n", 1},
    // Nothing could be subscribed: the command ends instead of waiting for ever.
    {"jsonOnlyUnknownPaths",
     {"--json", "nothing"},
     "{\"path\":\"nothing\",\"error\":\"Node not found: nothing\"}\n", "", 1},
};

INSTANTIATE_TEST_SUITE_P(Listen, ListenRuns, ::testing::ValuesIn(c_runCases), velnor::test::NameOfCase());

// With -v a ping that gets no answer says so once; the reconnection follows
// when the server is back.
TEST(ListenPing, LostConnectionReportedOnceWithVerbose) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"-v", "--ping", "1", "--wait", "60", "scalars.count"}, 1);
    server.Stop();
    std::this_thread::sleep_for(3500ms);  // at least two pings fail
    server.Restart();
    std::string line;
    int value = 100;
    while (line.empty() && listener.Process().Running()) {
        Write(server, {"scalars.count=" + std::to_string(++value)});
        listener.Process().ReadLine(line, 200ms);
    }
    EXPECT_EQ(listener.StopWith(SIGTERM), 0);
    EXPECT_EQ(listener.Process().Err(), "Connection to 127.0.0.1:" + server.PortText() +
                                             "/application lost.\nReconnected managed connection.\n");
}

}  // namespace
}  // namespace script_test
