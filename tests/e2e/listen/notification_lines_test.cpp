// What `velnor-rove listen` prints for the writes of other clients: one line
// per notification, with the element range unless the whole array changed.
#include <gtest/gtest.h>

#include <csignal>

#include "listen_session.h"
#include "support/server_per_suite.h"

namespace listen_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

struct LinesCase {
    std::string name;
    std::vector<std::string> listened;   // listen arguments
    std::vector<std::string> announced;  // the names announced
    std::vector<std::vector<std::string>> writes;  // one velnor-rove run each
    std::vector<std::string> lines;      // printed, in this order
};

std::ostream& operator<<(std::ostream& os, const LinesCase& c) { return os << c.name; }

class NotificationLines : public velnor::test::ServerPerSuite<NotificationLines, ::testing::TestWithParam<LinesCase>> {
public:
    static constexpr const char* c_tree = "listen-values.yaml";
};

TEST_P(NotificationLines, PrintsEachNotificationAsOneLine) {
    const LinesCase& c = GetParam();
    ListenSession listener(*s_server, c.listened, c.announced.size());
    for (const auto& write : c.writes) Write(*s_server, write);
    EXPECT_EQ(listener.NextLines(c.lines.size()), c.lines);
    ASSERT_EQ(listener.StopWith(SIGINT), 0);
    std::string expected = Announcement(c.announced);
    for (const auto& line : c.lines) expected += line + "\n";
    EXPECT_EQ(listener.Process().Out(), expected);
    EXPECT_EQ(listener.Process().Err(), "");
}

const LinesCase c_lineCases[] = {
    {"integer scalar", {"scalars.count"}, {"count"}, {{"scalars.count=7"}}, {"listen-host.scalars.count=7"}},
    {"double scalar", {"scalars.level"}, {"level"}, {{"scalars.level=2.25"}}, {"listen-host.scalars.level=2.25"}},
    {"text scalar", {"scalars.label"}, {"label"}, {{"scalars.label=busy now"}}, {"listen-host.scalars.label=busy now"}},
    // One line per change, and nothing that drives the terminal.
    {"text with line ends",
     {"scalars.label"},
     {"label"},
     {{"scalars.label=a\nlisten-host.scalars.count=666\r"}},
     {"listen-host.scalars.label=a\\nlisten-host.scalars.count=666\\r"}},
    {"text with a control sequence",
     {"scalars.label"},
     {"label"},
     {{"scalars.label=\x1b[2J\x1b]0;title\x07"}},
     {"listen-host.scalars.label=\\x1b[2J\\x1b]0;title\\x07"}},
    {"whole array without brackets",
     {"table"},
     {"table"},
     {{"table=1,2,3,4,5,6,7,8,9,10"}},
     {"listen-host.table=[1,2,3,4,5,6,7,8,9,10]"}},
    {"one element", {"table"}, {"table"}, {{"table[5]=7"}}, {"listen-host.table[5]=[7]"}},
    {"three elements", {"table"}, {"table"}, {{"table[2:4]=1,2,3"}}, {"listen-host.table[2:4]=[1,2,3]"}},
    {"last element of a pair", {"pair"}, {"pair"}, {{"pair[1]=9"}}, {"listen-host.pair[1]=[9]"}},
    {"whole pair", {"pair"}, {"pair"}, {{"pair=5,6"}}, {"listen-host.pair=[5,6]"}},
    {"function sets notify", {"scalars.count"}, {"count"}, {{"access", "reset{}"}}, {"listen-host.scalars.count=42"}},
    {"platform registry",
     {"--platform", "firmware"},
     {"firmware"},
     {{"--platform", "firmware=fw-3"}},
     {"listen-host.firmware=fw-3"}},
    {"node named twice is announced and printed twice",
     {"scalars.count", "scalars.count"},
     {"count", "count"},
     {{"scalars.count=3"}},
     {"listen-host.scalars.count=3", "listen-host.scalars.count=3"}},
    {"several nodes print in write order",
     {"scalars.label", "table", "scalars.count"},
     {"label", "table", "count"},
     {{"scalars.count=1"}, {"table[9]=4"}, {"scalars.label=x"}, {"scalars.count=2", "table[0:1]=8,9"}},
     {"listen-host.scalars.count=1", "listen-host.table[9]=[4]", "listen-host.scalars.label=x",
      "listen-host.scalars.count=2", "listen-host.table[0:1]=[8,9]"}},
};

INSTANTIATE_TEST_SUITE_P(Listen, NotificationLines, ::testing::ValuesIn(c_lineCases),
                         [](const ::testing::TestParamInfo<LinesCase>& info) {
                             std::string name;
                             for (char ch : info.param.name) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

// Refused writes change nothing and print nothing: the next accepted write
// is the next line.
TEST(ListenRefused, RefusedWriteIsNotPrinted) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"table"}, 1);
    const velnor::test::RunResult refused = velnor::test::Rove(server, {"table[10]=1"});
    EXPECT_EQ(refused.status, 1);
    Write(server, {"table[3]=5"});
    EXPECT_EQ(listener.NextLine(), "listen-host.table[3]=[5]");
}

// A node that does not exist ends the run before any node is subscribed.
TEST(ListenRefused, UnknownNodeEndsTheRun) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    const velnor::test::RunResult r = velnor::test::Rove(server, {"listen", "scalars.count", "no.such", "table"});
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Node not found: no.such\n");
    EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace listen_test
