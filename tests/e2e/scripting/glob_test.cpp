// --glob against the real registry: expansion in tree order for each
// command, hidden nodes, no match, and writes through patterns.
#include <gtest/gtest.h>

#include "script_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

namespace script_test {
namespace {

struct GlobCase {
    GlobCase(std::string name_, std::vector<std::string> args_, std::string out_, std::string err_ = "",
             int status_ = 0)
        : name(std::move(name_)), args(std::move(args_)), out(std::move(out_)), err(std::move(err_)),
          status(status_) {}
    std::string name;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status = 0;
};

std::ostream& operator<<(std::ostream& os, const GlobCase& c) { return os << c.name; }

class GlobReads : public velnor::test::ServerPerSuite<GlobReads, ::testing::TestWithParam<GlobCase>> {
public:
    static constexpr const char* c_tree = "scripting.yaml";
};

TEST_P(GlobReads, Run) {
    const velnor::test::RunResult r = velnor::test::Rove(*s_server, GetParam().args);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.status, GetParam().status);
}

const GlobCase c_readCases[] = {
    {"star", {"-g", "boards.*.offset"}, "boards.board0.offset: 0\nboards.board1.offset: 1\n"},
    {"question", {"-g", "boards.board?.gain"}, "boards.board0.gain: 1.5\nboards.board1.gain: 2.5\n"},
    {"anyNames", {"-g", "**.gain"}, "boards.board0.gain: 1.5\nboards.board1.gain: 2.5\nboards.board12.gain: 3.5\n"},
    {"indexPerMatch", {"--glob", "values.*s[1]"}, "values.ints[1]: [2]\nvalues.doubles[1]: [1.5]\nvalues.texts[1]: [b]\n"},
    {"hiddenMatches", {"-g", "boards.sp*"}, "boards.spare: 9\n"},
    {"mixedWithPlain", {"-g", "state", "b*.board1?.g*"}, "state: idle\nboards.board12.gain: 3.5\n"},
    {"noMatch", {"-g", "boards.*.bias"}, "", "Node not found: boards.*.bias\n", 1},
    {"noMatchPrefix", {"-g", "nothing.*"}, "", "Node not found: nothing.*\n", 1},
    // Without --glob the marks are name characters.
    {"plainWithoutGlob", {"boards.*"}, "", "Node not found: boards.*\n", 1},
    {"dumpEach", {"dump", "-g", "boards.board1?"}, "board12\n  gain [double] = 3.5\n"},
    {"infoCount", {"info", "--json", "-g", "boards.board1*"},
     "{\"name\":\"board1\",\"path\":\"boards.board1\",\"type\":\"none\",\"size\":0,\"flags\":[],\"domain\":null,"
     "\"validator\":null,\"parent\":\"boards\",\"children\":[\"gain\",\"offset\"],\"value\":null}\n"
     "{\"name\":\"board12\",\"path\":\"boards.board12\",\"type\":\"none\",\"size\":0,\"flags\":[],\"domain\":null,"
     "\"validator\":null,\"parent\":\"boards\",\"children\":[\"gain\"],\"value\":null}\n"},
    {"listenEach", {"listen", "-g", "--wait", "0", "boards.board?.gain"},
     "Listen following nodes: \n\tgain\n\tgain\n"},
    {"jsonNoMatchGoesOn", {"--json", "-g", "x*", "state"},
     "{\"path\":\"x*\",\"error\":\"Node not found: x*\"}\n{\"path\":\"state\",\"type\":\"string\",\"value\":\"idle\"}\n",
     "", 1},
    {"writeRefused", {"-g", "boards.*.offset=5"}, "", "Error: Patterns are not allowed in writes\n", 1},
    {"runRefused", {"-g", "actions.*{}"}, "", "Error: Patterns are not allowed in writes\n", 1},
    {"jsonWriteRefused", {"--json", "-g", "boards.*.offset=5"},
     "{\"path\":\"boards.*.offset\",\"error\":\"Patterns are not allowed in writes\"}\n", "", 1},
};

INSTANTIATE_TEST_SUITE_P(Glob, GlobReads, ::testing::ValuesIn(c_readCases), velnor::test::NameOfCase());

// With --all a pattern writes every match, or none when one would be refused
// (reported as a refused write on a plain path is).
TEST(GlobWrites, AllMatchesOrNone) {
    velnor::test::RegistryServer server(velnor::test::FixturePath("scripting.yaml"));
    auto gains = [&server] { return velnor::test::Rove(server, {"-g", "boards.*.gain"}).out; };
    const std::string before = gains();

    const velnor::test::RunResult refused = velnor::test::Rove(server, {"-g", "--all", "boards.*.gain=7"});
    EXPECT_EQ(refused.err, "Error: Node boards.board12.gain is not writable\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(gains(), before);

    const velnor::test::RunResult written = velnor::test::Rove(server, {"-g", "--all", "boards.board?.gain=7"});
    EXPECT_EQ(written.err, "");
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(gains(), "boards.board0.gain: 7\nboards.board1.gain: 7\nboards.board12.gain: 3.5\n");

    // values.*l* is flag (bool), label (string) and small (int64): "hello"
    // converts for the text only, so nothing is written, not even the text.
    const velnor::test::RunResult unconverted = velnor::test::Rove(server, {"-g", "--all", "values.*l*=hello"});
    EXPECT_EQ(unconverted.err, "Error: Bad cast from hello to bool\n");
    EXPECT_EQ(unconverted.status, 1);
    EXPECT_EQ(velnor::test::Rove(server, {"values.label"}).out, "values.label: say \"hi\"\tthere\n");

    // Standard input cannot be read once per match.
    velnor::test::RunOptions input;
    input.input = "x";
    const velnor::test::RunResult fromInput = velnor::test::Rove(server, {"-g", "--all", "values.*l*=@-"}, input);
    EXPECT_EQ(fromInput.err, "Error: A value from standard input (@-) cannot be written through a pattern\n");
    EXPECT_EQ(fromInput.status, 1);

    const velnor::test::RunResult run = velnor::test::Rove(server, {"--json", "-g", "--all", "actions.b*{}"});
    EXPECT_EQ(Records(run.out), Expected({R"({"path":"actions.bump","result":true})"}));
    const velnor::test::RunResult notRun = velnor::test::Rove(server, {"-g", "--all", "actions.*{}"});
    EXPECT_EQ(notRun.err, "Error: Node actions.target is not executable\n");
    // The root has an empty path: the message names it.
    EXPECT_EQ(velnor::test::Rove(server, {"-g", "--all", "**=1"}).err, "Error: Node (the root) is not writable\n");
}

}  // namespace
}  // namespace script_test
