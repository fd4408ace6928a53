// info reports and dump renderings, checked in full.
#include <gtest/gtest.h>

#include <memory>

#include "rove_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

using rove_test::RoveCase;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

class InfoDump : public velnor::test::ServerPerSuite<InfoDump, ::testing::TestWithParam<RoveCase>> {
public:
    static constexpr const char* c_tree = "rove-info.yaml";
};

TEST_P(InfoDump, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

const std::string kRule = "---------------------------------------------------\n";

struct Report {
    std::string name, value, type, validator, size, path, children, flags, root, parent, childNames;
    std::string host = "info-host";
};

std::string Text(const Report& r) {
    return kRule + "   Registry hostname    : " + r.host + "\n" + "   Node name            : " + r.name + "\n" +
           "   Value                : " + r.value + "\n" + "   Value type           : " + r.type + "\n" +
           "   Validator expression : " + r.validator + "\n" + "   Num of values        : " + r.size + "\n" +
           "   Full path            : " + r.path + "\n" + "   Num of children      : " + r.children + "\n" +
           "   Flags                : " + r.flags + "\n" + "   Root                 : " + r.root + "\n" +
           "   Parent node name     : " + r.parent + "\n" + "   Children             : " + r.childNames + "\n" +
           kRule;
}

const char* const kNoValue = "No value for this node";
const char* const kNoParent = "No parent for this node";
const char* const kNoChildren = "No children for this node";

const std::string kRoot = Text({"", kNoValue, "none", "", "0", "", "3", " none", "true", kNoParent,
                                "boards, single, leaf"});
const std::string kMode = Text({"mode", "slow", "enum (off,slow,fast)", "", "1", "boards.mode", "0",
                                "readable writable", "false", "boards", kNoChildren});
const std::string kEmptyDomain = Text({"empty-domain", "x", "string ()", "", "1", "boards.empty-domain", "0",
                                       "readable", "false", "boards", kNoChildren});
const std::string kBare =
    Text({"bare", kNoValue, "none", "", "0", "boards.bare", "0", " none", "false", "boards", kNoChildren});
const std::string kHidden = Text({"hidden-one", "9", "int32", "", "1", "boards.hidden-one", "0", "readable hidden",
                                  "false", "boards", kNoChildren});
const std::string kSingle =
    Text({"single", kNoValue, "none", "", "0", "single", "1", " none", "false", kNoParent, "child"});
const std::string kChecked = Text({"checked", "3", "int32", "value > 0", "1", "boards.checked", "0",
                                   "readable writable", "false", "boards", kNoChildren});
const std::string kCoeffs = Text({"coeffs", "[0,1,2,3]", "int32", "", "4", "boards.coeffs", "0",
                                  "readable writable array", "false", "boards", kNoChildren});
const std::string kGain = Text({"gain", "1.5", "double", "", "1", "boards.gain", "0", "readable writable persistent",
                                "false", "boards", kNoChildren});
const std::string kReset = Text({"reset", kNoValue, "none", "", "0", "boards.reset", "0", "executable", "false",
                                 "boards", kNoChildren});
const std::string kLongCut = Text({"long-text", "0123456789...", "string", "", "1", "boards.long-text", "0",
                                   "readable", "false", "boards", kNoChildren});
const std::string kFirmware = Text({"firmware", "4.2.0", "string", "", "1", "firmware", "0", "readable", "false",
                                    kNoParent, kNoChildren});

INSTANTIATE_TEST_SUITE_P(
    Info, InfoDump,
    ::testing::Values(RoveCase{"root", {"info"}, kRoot}, RoveCase{"domain", {"info", "boards.mode"}, kMode},
                      RoveCase{"emptyDomain", {"info", "boards.empty-domain"}, kEmptyDomain},
                      RoveCase{"noFlags", {"info", "boards.bare"}, kBare},
                      RoveCase{"hidden", {"info", "boards.hidden-one"}, kHidden},
                      RoveCase{"parentIsHost", {"info", "single"}, kSingle},
                      RoveCase{"validator", {"info", "boards.checked"}, kChecked},
                      RoveCase{"array", {"info", "boards.coeffs"}, kCoeffs},
                      RoveCase{"function", {"info", "boards.reset"}, kReset},
                      RoveCase{"truncated", {"info", "-m", "10", "boards.long-text"}, kLongCut},
                      RoveCase{"platform", {"info", "-P", "firmware"}, kFirmware},
                      RoveCase{"inOrder", {"info", "boards.gain", "--path", "single", "boards.mode"},
                               kGain + kSingle + kMode},
                      RoveCase{"missingNode", {"info", "boards.gain", "boards.nope"}, "",
                               "Node not found: boards.nope\n", 1}),
    velnor::test::NameOfCase());

const std::string kWholeTree =
    "info-host\n"
    "  boards\n"
    "    gain [double] = 1.5\n"
    "    mode [enum] = slow\n"
    "    empty-domain [string] = x\n"
    "    checked [int32] = 3\n"
    "    long-text [string] = 01234567890123456789012345678901234567890123456789012345678901234567890123456789...\n"
    "    coeffs [int32[4]] = [0,1,2,3]\n"
    "    reset [function]\n"
    "    bare\n"
    "    hidden-one [int32] = 9\n"
    "  single\n"
    "    child [int32] = 1\n"
    "  leaf [int32] = 7\n";
const std::string kLongText = "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789";

INSTANTIATE_TEST_SUITE_P(
    Dump, InfoDump,
    ::testing::Values(
        RoveCase{"wholeTree", {"dump"}, kWholeTree},
        RoveCase{"oneLevel", {"dump", "-l", "1"}, "info-host\n  boards\n  single\n  leaf [int32] = 7\n"},
        RoveCase{"nodeAlone", {"dump", "--level", "0", "boards"}, "boards\n"},
        RoveCase{"fullPathsInOrder",
                 {"dump", "-f", "single", "leaf"},
                 "info-host.single\ninfo-host.single.child [int32] = 1\ninfo-host.leaf [int32] = 7\n"},
        RoveCase{"flagsAndCompact", {"dump", "--full-path", "--show-flags", "--compact", "single"},
                 "info-host.single.child {readable} = 1\n"},
        RoveCase{"flags",
                 {"dump", "-F", "-l", "1", "single"},
                 "single {none}\n  child [int32] {readable} = 1\n"},
        RoveCase{"compactFullPath", {"dump", "-f", "-c", "single"}, "info-host.single.child = 1\n"},
        RoveCase{"cut", {"dump", "-m", "5", "boards.long-text"}, "long-text [string] = 01234...\n"},
        RoveCase{"unlimited", {"dump", "--max-length", "0", "boards.long-text"},
                 "long-text [string] = " + kLongText + "\n"},
        RoveCase{"platform", {"dump", "--platform"}, "info-host\n  firmware [string] = 4.2.0\n"},
        RoveCase{"missingNodeBeforeOutput", {"dump", "leaf", "nope"}, "", "Node not found: nope\n", 1}),
    velnor::test::NameOfCase());

}  // namespace
