// The bash completion script, driven the way bash drives it: the script is
// sourced, COMP_WORDS/COMP_CWORD are set, the completion function runs and
// COMPREPLY is printed one candidate a line. Node paths come from a real
// registry server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/case_name.h"
#include "support/registry_server.h"
#include "support/server_per_suite.h"

using velnor::test::BinPath;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

struct CompletionCase {
    std::string name;
    std::vector<std::string> words;  // COMP_WORDS without the program; the last one is completed
    std::string expected;            // COMPREPLY, one per line
};

std::ostream& operator<<(std::ostream& os, const CompletionCase& c) { return os << c.name; }

std::string Quote(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class Completion : public velnor::test::ServerPerSuite<Completion, ::testing::TestWithParam<CompletionCase>> {
public:
    static constexpr const char* c_tree = "rove-info.yaml";

protected:
    // A directory with a snapshot, another file and a folder: only the
    // snapshot and the folder are offered after diff, apply and save -o.
    static const std::string& SnapshotDir() {
        static const std::string dir = [] {
            const std::string d = velnor::test::TempDir();
            velnor::test::Run({"/bin/sh", "-c", "mkdir " + d + "/sub && touch " + d + "/saved.yaml " + d + "/skip.txt"});
            return d;
        }();
        return dir;
    }

    // Words may hold "@PORT@", replaced by the server's port, and "@SNAP@",
    // by SnapshotDir().
    static velnor::test::RunResult Complete(const std::vector<std::string>& words, const std::string& breaks) {
        std::string array = Quote(BinPath("velnor-rove"));
        for (std::string w : words) {
            const std::size_t at = w.find("@PORT@");
            if (at != std::string::npos) w.replace(at, 6, s_server->PortText());
            const std::size_t snap = w.find("@SNAP@");
            if (snap != std::string::npos) w.replace(snap, 6, SnapshotDir());
            array += " " + Quote(w);
        }
        const std::string script = "source " + Quote(std::string(VELNOR_SOURCE_DIR) + "/completion/velnor-rove.bash") +
                                   "\nCOMP_WORDBREAKS=" + Quote(breaks) + "\nCOMP_WORDS=(" + array + ")\n" +
                                   "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n" +
                                   "_velnor_rove\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
        return velnor::test::Run({"/bin/bash", "--norc", "--noprofile", "-c", script});
    }
};

TEST_P(Completion, Candidates) {
    const auto r = Complete(GetParam().words, " \t\n\"'><;|&(:");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    std::string expected = GetParam().expected;
    for (std::size_t at; (at = expected.find("@SNAP@")) != std::string::npos;) expected.replace(at, 6, SnapshotDir());
    EXPECT_EQ(r.out, expected + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Completion,
    ::testing::Values(
        CompletionCase{"commandWord", {"d"}, "dump\ndiff"},
        CompletionCase{"snapshotCommands", {"ap"}, "apply"},
        CompletionCase{"snapshotFileAfterDiff", {"diff", "@SNAP@/sa"}, "@SNAP@/saved.yaml"},
        CompletionCase{"folderAfterApply", {"apply", "@SNAP@/su"}, "@SNAP@/sub"},
        CompletionCase{"noOtherFiles", {"apply", "@SNAP@/sk"}, ""},
        CompletionCase{"pathAfterSnapshotFile", {"apply", "x.yaml", "--port", "@PORT@", "b"}, "boards."},
        CompletionCase{"saveOutputFile", {"save", "-o", "@SNAP@/sa"}, "@SNAP@/saved.yaml"},
        CompletionCase{"applyOptions", {"apply", "--fo"}, "--force"},
        CompletionCase{"browseCommand", {"br"}, "browse"},
        CompletionCase{"browseOptions", {"browse", "--re"}, "--read-only"},
        CompletionCase{"commandWordOrRootNode", {"--port", "@PORT@", "s"}, "single."},
        CompletionCase{"firstSegment", {"info", "--port", "@PORT@", "b"}, "boards."},
        CompletionCase{"allRootNodes", {"info", "--port", "@PORT@", ""}, "boards.\nsingle.\nleaf"},
        CompletionCase{"secondSegment", {"dump", "-p", "@PORT@", "boards.c"}, "boards.checked\nboards.coeffs"},
        CompletionCase{"childrenAfterDot", {"dump", "--port=@PORT@", "single."}, "single.child"},
        CompletionCase{"exactInner", {"access", "--port", "@PORT@", "single"}, "single."},
        CompletionCase{"exactLeaf", {"access", "--port", "@PORT@", "leaf"}, "leaf"},
        CompletionCase{"platform", {"access", "--port", "@PORT@", "--platform", "f"}, "firmware"},
        CompletionCase{"globalOption", {"info", "--h"}, "--host"},
        CompletionCase{"commandOption", {"dump", "--f"}, "--full-path"},
        CompletionCase{"signalModes", {"signal", "--mode", "S"}, "SingleEvent"},
        CompletionCase{"helpTopic", {"help", "li"}, "listen"},
        CompletionCase{"scriptingOption", {"info", "--js"}, "--json"},
        CompletionCase{"listenOption", {"listen", "--un"}, "--until"},
        CompletionCase{"enumValue", {"--port", "@PORT@", "boards.mode=s"}, "boards.mode=slow"},
        CompletionCase{"enumValues", {"access", "--port", "@PORT@", "boards.mode="},
                       "boards.mode=off\nboards.mode=slow\nboards.mode=fast"},
        CompletionCase{"noValuesOfOtherTypes", {"--port", "@PORT@", "boards.gain="}, ""}),
    velnor::test::NameOfCase());

TEST_F(Completion, NoServerNoCandidates) {
    const auto r = Complete({"info", "--port", "1", "b"}, " \t\n");
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Completion, ValueFromFileWithEqualsAsWordBreak) {
    // bash splits "boards.gain=@/et" at "=" into three words.
    const auto r = Complete({"--port", "@PORT@", "boards.gain", "=", "@/et"}, " \t\n=:");
    EXPECT_EQ(r.out, "@/etc\n");
    const auto whole = Complete({"--port", "@PORT@", "boards.gain=@/et"}, " \t\n");
    EXPECT_EQ(whole.out, "boards.gain=@/etc\n");
}

TEST_F(Completion, EnumValueWithEqualsAsWordBreak) {
    const auto r = Complete({"--port", "@PORT@", "boards.mode", "=", "f"}, " \t\n=:");
    EXPECT_EQ(r.out, "fast\n");
}

}  // namespace
