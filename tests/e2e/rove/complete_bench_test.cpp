// The hidden completion options and the bench command.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "rove_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

using rove_test::RoveCase;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

class Complete : public velnor::test::ServerPerSuite<Complete, ::testing::TestWithParam<RoveCase>> {
public:
    static constexpr const char* c_tree = "rove-info.yaml";
};

TEST_P(Complete, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

const char* const kRootChildren = "\"boards.\" \"single.\" \"leaf\" \n";
const char* const kBoardsChildren =
    "\"boards.gain\" \"boards.mode\" \"boards.empty-domain\" \"boards.checked\" \"boards.long-text\" \"boards.coeffs\" \"boards.reset\" "
    "\"boards.bare\" \"boards.hidden-one\" \n";

INSTANTIATE_TEST_SUITE_P(
    Table, Complete,
    ::testing::Values(
        RoveCase{"noPathLong", {"--complete", "", "--long", "true"}, kRootChildren},
        RoveCase{"noPathShort", {"--complete", "x"}, kRootChildren},
        RoveCase{"partialFirstSegment", {"access", "bo", "--complete", "bo", "--long", "true"}, kRootChildren},
        RoveCase{"exactInnerLong", {"access", "boards", "--complete", "boards", "--long", "true"}, "\"boards. \"\n"},
        RoveCase{"exactInnerShort", {"access", "boards", "--complete", "boards", "--long", "false"}, "\"boards. \"\n"},
        RoveCase{"exactLeafShort", {"access", "single.child", "--complete", "child"}, "\"child \"\n"},
        RoveCase{"exactLeafLong", {"access", "single.child", "--complete", "single.child", "--long", "1"},
                 "\"single.child \"\n"},
        RoveCase{"partialSecondSegment", {"access", "boards.ga", "--complete", "boards.ga", "--long", "true"},
                 kBoardsChildren},
        RoveCase{"trailingDot", {"access", "boards.", "--complete", "boards.", "--long", "true"}, kBoardsChildren},
        RoveCase{"childrenByName",
                 {"access", "single", "--complete", "s", "--long", "false"},
                 "\"child\" \n"},
        RoveCase{"leafNotExact", {"access", "leaf", "--complete", "other", "--long", "true"}, "\n"},
        RoveCase{"platform", {"--platform", "--complete", ""}, "\"firmware\" \n"},
        RoveCase{"lastPathCounts", {"access", "boards", "single.", "--complete", "single.", "--long", "true"},
                 "\"single.child\" \n"},
        RoveCase{"badLong", {"access", "--complete", "", "--long", "maybe"}, "",
                 "the argument ('maybe') for option '--long' is invalid. Valid choices are 'on|off', 'yes|no', '1|0' and "
                 "'true|false'\n",
                 1}),
    velnor::test::NameOfCase());

TEST_F(Complete, MissingParentFails) {
    const auto r = velnor::test::Rove(*s_server, {"access", "nope.deeper", "--complete", "nope.deeper"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("nope"), std::string::npos) << r.err;
}

// Names and enumeration values that hold the quote or the backslash: both
// are escaped with a backslash, so that no word ends early.
class CompleteEscaped : public velnor::test::ServerPerSuite<CompleteEscaped, ::testing::TestWithParam<RoveCase>> {
public:
    static constexpr const char* c_tree = "completion-hostile.yaml";
};

TEST_P(CompleteEscaped, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Table, CompleteEscaped,
    ::testing::Values(
        RoveCase{"rootChildren", {"--complete", ""},
                 "\"$(id>pwned)\" \"semi;colon\" \"x|y&z<w>\" \"q\\\"uote\" \"back\\\\slash\" \"it's\" \"star*\" "
                 "\"`id>tick`\" \"wide.\" \"mode\" \n"},
        RoveCase{"exactMatch", {"access", "q\"uote", "--complete", "q\"uote", "--long", "true"}, "\"q\\\"uote \"\n"},
        RoveCase{"exactMatchRuleKept", {"access", "wide.l1", "--complete", "wide.l1", "--long", "true"}, "\"wide.l1 \"\n"},
        RoveCase{"enumValues", {"--complete-value", "mode"},
                 "\"a b\" \"a\\\"b\" \"$(id>pwned)\" \"back\\\\slash\" \"plain\" \n"}),
    velnor::test::NameOfCase());

struct BenchCase {
    const char* name;
    const char* tree;
    const char* level;  // tracing.level after the run
};

void PrintTo(const BenchCase& c, std::ostream* os) { *os << c.name; }

class BenchRun : public ::testing::TestWithParam<BenchCase> {};

// The three lines, whether the registry takes the writes or refuses them:
// a refused call is timed like any other.
TEST_P(BenchRun, ThreeLines) {
    RegistryServer server(FixturePath(GetParam().tree));
    const auto r = velnor::test::Rove(server, {"bench"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::istringstream lines(r.out);
    std::string line;
    for (const std::string label : {"GetValue(std::string)/s: ", "SetValue(int32_t)/s: ", "DumpSubTree * 200: "}) {
        ASSERT_TRUE(std::getline(lines, line)) << r.out;
        ASSERT_EQ(line.rfind(label, 0), 0u) << line;
        EXPECT_TRUE(rove_test::IsSixDecimals(line.substr(label.size()))) << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << r.out;
    EXPECT_EQ(rove_test::Read(server, "tracing.level"), std::string("tracing.level: ") + GetParam().level + "\n");
}

INSTANTIATE_TEST_SUITE_P(Registries, BenchRun,
                         ::testing::Values(BenchCase{"WritesTaken", "rove-values.yaml", "0"},
                                           BenchCase{"WritesRefused", "bench-refusals.yaml", "3"}),
                         [](const ::testing::TestParamInfo<BenchCase>& info) { return std::string(info.param.name); });

TEST(Bench, MissingChildEndsRun) {
    RegistryServer server(FixturePath("rove-values.yaml"));
    const auto r = velnor::test::Rove(server, {"bench", "scalars"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("app-name"), std::string::npos) << r.err;
}

}  // namespace
