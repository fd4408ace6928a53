// The bash completion script, driven the way bash drives it: the script is
// sourced, COMP_LINE/COMP_POINT hold the typed line (with bash's own
// COMP_WORDBREAKS unless a test sets others), the completion function runs
// and COMPREPLY is printed one candidate a line, exactly as readline would
// put it in place of the text after the last word break. Node paths come
// from a real registry server; a run without --port asks a port that is
// known to be closed.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/faults.h"
#include "support/registry_server.h"
#include "support/server_per_suite.h"

using velnor::test::BinPath;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

struct CompletionCase {
    std::string name;
    std::string typed;     // the line after the program, up to the cursor
    std::string expected;  // COMPREPLY, one per line
};

std::ostream& operator<<(std::ostream& os, const CompletionCase& c) { return os << c.name; }

std::string Quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// A directory with snapshots, another file and a folder: only the snapshots
// and the folder are offered after diff, apply and save -o.
const std::string& SnapshotDir() {
    static const std::string dir = [] {
        const std::string d = velnor::test::TempDir();
        velnor::test::Run({"/bin/sh", "-c",
                           "mkdir \"$1/sub\" && touch \"$1/saved.yaml\" \"$1/skip.txt\" \"$1/with blank.yaml\"", "sh", d});
        return d;
    }();
    return dir;
}

// Runs the completion of `typed` (after the program's path), where "@PORT@"
// stands for `port` and "@SNAP@" for SnapshotDir(). `breaks` replaces
// bash's COMP_WORDBREAKS, and `home` HOME, when given.
velnor::test::RunResult Complete(std::string typed, int port, const char* breaks = nullptr,
                                 const std::string& home = "") {
    static const velnor::test::ReservedPort closed;
    ReplaceAll(typed, "@PORT@", std::to_string(port));
    ReplaceAll(typed, "@SNAP@", SnapshotDir());
    std::string script = "source " + Quote(std::string(VELNOR_SOURCE_DIR) + "/completion/velnor-rove.bash") + "\n";
    if (breaks) script += "COMP_WORDBREAKS=" + Quote(breaks) + "\n";
    script += "COMP_LINE=" + Quote(BinPath("velnor-rove") + " " + typed) +
              "\nCOMP_POINT=${#COMP_LINE}\n_velnor_rove\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    velnor::test::RunOptions options;
    options.env["VELNOR_APP_PORT"] = std::to_string(closed.Port());
    if (!home.empty()) options.env["HOME"] = home;
    return velnor::test::Run({"/bin/bash", "--norc", "--noprofile", "-c", script}, options);
}

void ExpectCandidates(const velnor::test::RunResult& r, std::string expected) {
    ReplaceAll(expected, "@SNAP@", SnapshotDir());
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected + "\n");
}

class Completion : public velnor::test::ServerPerSuite<Completion, ::testing::TestWithParam<CompletionCase>> {
public:
    static constexpr const char* c_tree = "rove-info.yaml";
};

TEST_P(Completion, Candidates) { ExpectCandidates(Complete(GetParam().typed, s_server->Port()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, Completion,
    ::testing::Values(
        CompletionCase{"commandWord", "d", "dump\ndiff"},
        CompletionCase{"snapshotCommands", "ap", "apply"},
        CompletionCase{"snapshotFileAfterDiff", "diff @SNAP@/sa", "@SNAP@/saved.yaml"},
        CompletionCase{"snapshotWithBlank", "diff @SNAP@/wi", "@SNAP@/with\\ blank.yaml"},
        CompletionCase{"folderAfterApply", "apply @SNAP@/su", "@SNAP@/sub"},
        CompletionCase{"noOtherFiles", "apply @SNAP@/sk", ""},
        CompletionCase{"pathAfterSnapshotFile", "apply x.yaml --port @PORT@ b", "boards."},
        CompletionCase{"saveOutputFile", "save -o @SNAP@/sa", "@SNAP@/saved.yaml"},
        CompletionCase{"applyOptions", "apply --fo", "--force"},
        CompletionCase{"browseCommand", "br", "browse"},
        CompletionCase{"browseOptions", "browse --re", "--read-only"},
        CompletionCase{"commandWordOrRootNode", "--port @PORT@ s", "single."},
        CompletionCase{"firstSegment", "info --port @PORT@ b", "boards."},
        CompletionCase{"allRootNodes", "info --port @PORT@ ", "boards.\nsingle.\nleaf"},
        CompletionCase{"secondSegment", "dump -p @PORT@ boards.c", "boards.checked\nboards.coeffs"},
        CompletionCase{"childrenAfterDot", "dump --port=@PORT@ single.", "single.child"},
        CompletionCase{"exactInner", "access --port @PORT@ single", "single."},
        CompletionCase{"exactLeaf", "access --port @PORT@ leaf", "leaf"},
        CompletionCase{"quotedPort", "access --port '@PORT@' le", "leaf"},
        CompletionCase{"platform", "access --port @PORT@ --platform f", "firmware"},
        CompletionCase{"globalOption", "info --h", "--host"},
        CompletionCase{"commandOption", "dump --f", "--full-path"},
        CompletionCase{"signalModes", "signal --mode S", "SingleEvent"},
        CompletionCase{"signalModeAfterEquals", "signal --mode=Po", "Position"},
        CompletionCase{"helpTopic", "help li", "listen"},
        CompletionCase{"scriptingOption", "info --js", "--json"},
        CompletionCase{"listenOption", "listen --un", "--until"},
        // "=" and "@" break words: readline replaces what follows "=", and
        // "@" with what follows it.
        CompletionCase{"enumValue", "--port @PORT@ boards.mode=s", "slow"},
        CompletionCase{"enumValues", "access --port @PORT@ boards.mode=", "off\nslow\nfast"},
        CompletionCase{"noValuesOfOtherTypes", "--port @PORT@ boards.gain=", ""},
        CompletionCase{"valueFromFile", "--port @PORT@ boards.gain=@@SNAP@/sa", "@@SNAP@/saved.yaml"},
        CompletionCase{"valueFromFileWithBlank", "--port @PORT@ boards.gain=@@SNAP@/wi", "@@SNAP@/with\\ blank.yaml"},
        CompletionCase{"noRegistryNoPaths", "info b", ""}),
    velnor::test::NameOfCase());

// A "~" typed first stays the home directory; a quoted one is a name.
TEST_F(Completion, HomeDirectoryStaysBare) {
    ExpectCandidates(Complete("diff ~/sa", s_server->Port(), nullptr, SnapshotDir()), "~/saved.yaml");
    ExpectCandidates(Complete("diff ~/wi", s_server->Port(), nullptr, SnapshotDir()), "~/with\\ blank.yaml");
}

// Without "=" and "@" among the word breaks the whole word is replaced.
TEST_F(Completion, FewerWordBreaks) {
    ExpectCandidates(Complete("--port @PORT@ boards.mode=f", s_server->Port(), " \t\n"), "boards.mode=fast");
    ExpectCandidates(Complete("--port @PORT@ boards.gain=@@SNAP@/sa", s_server->Port(), " \t\n"),
                     "boards.gain=@@SNAP@/saved.yaml");
}

// Names that a shell would take apart: each candidate is inserted so that
// the shell reads it back as the name, whether typed bare, with
// backslashes or inside a quote left open; longer siblings of a name typed
// in full are offered too.
class HostileCompletion
    : public velnor::test::ServerPerSuite<HostileCompletion, ::testing::TestWithParam<CompletionCase>> {
public:
    static constexpr const char* c_tree = "completion-hostile.yaml";
};

TEST_P(HostileCompletion, Candidates) {
    ExpectCandidates(Complete("--port @PORT@ " + GetParam().typed, s_server->Port()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostileCompletion,
    ::testing::Values(
        CompletionCase{"allRootNodes", "",
                       "\\$\\(id\\>pwned\\)\nsemi\\;colon\nx\\|y\\&z\\<w\\>\nq\\\"uote\nback\\\\slash\nit\\'s\nstar\\*\n"
                       "\\`id\\>tick\\`\nwide.\nmode"},
        CompletionCase{"commandSubstitution", "$", "\\$\\(id\\>pwned\\)"},
        CompletionCase{"semicolon", "se", "semi\\;colon"},
        CompletionCase{"typedWithBackslash", "semi\\;", "semi\\;colon"},
        CompletionCase{"typedInClosedQuotes", "'semi;'c", "semi\\;colon"},
        CompletionCase{"danglingBackslash", "back\\", "back\\\\slash"},
        CompletionCase{"insideSingleQuotes", "'semi;", "semi;colon"},
        CompletionCase{"quoteInSingleQuotes", "'it", "it'\\''s"},
        CompletionCase{"doubleQuote", "q", "q\\\"uote"},
        CompletionCase{"insideDoubleQuotes", "\"q", "q\\\"uote"},
        CompletionCase{"backquote", "`", "\\`id\\>tick\\`"},
        CompletionCase{"longerSiblings", "wide.l1", "wide.l1\nwide.l10\nwide.l11"},
        CompletionCase{"enumNames", "mode=", "a\\ b\na\\\"b\n\\$\\(id\\>pwned\\)\nback\\\\slash\nplain"},
        CompletionCase{"enumBlank", "mode=a", "a\\ b\na\\\"b"},
        CompletionCase{"enumInsideDoubleQuotes", "mode=\"a", "a b\na\\\"b"}),
    velnor::test::NameOfCase());

// Ten thousand children, all offered: reading the tool's answer and
// quoting it take linear time (a wide bound, far above what it takes).
TEST(WideCompletion, TenThousandChildren) {
    const std::string tree = velnor::test::TempDir() + "/wide.yaml";
    {
        std::ofstream out(tree);
        out << "host: wide-host\napplication:\n  nodes:\n    wide:\n      nodes:\n";
        for (int i = 0; i < 10000; ++i) out << "        l" << i << ": {type: int32, value: " << i << "}\n";
    }
    const RegistryServer server(tree);
    std::string script = "source " + Quote(std::string(VELNOR_SOURCE_DIR) + "/completion/velnor-rove.bash") +
                         "\nCOMP_LINE=" + Quote(BinPath("velnor-rove") + " --port " + server.PortText() + " wide.") +
                         "\nCOMP_POINT=${#COMP_LINE}\n_velnor_rove\n"
                         "printf '%s\\n' \"${#COMPREPLY[@]}\" \"${COMPREPLY[0]}\" \"${COMPREPLY[9999]}\"\n";
    velnor::test::RunOptions options;
    options.timeout = std::chrono::seconds(30);
    const auto r = velnor::test::Run({"/bin/bash", "--norc", "--noprofile", "-c", script}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "10000\nwide.l0\nwide.l9999\n");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
