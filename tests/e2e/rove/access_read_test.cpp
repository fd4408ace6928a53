// access reads: value formatting of every element type, element selections,
// executions and the failures of a read.
#include <gtest/gtest.h>

#include <memory>

#include "rove_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

using rove_test::RoveCase;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

class AccessRead : public velnor::test::ServerPerSuite<AccessRead, ::testing::TestWithParam<RoveCase>> {
public:
    static constexpr const char* c_tree = "rove-values.yaml";
};

TEST_P(AccessRead, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

const char* const kIndexError = "Error: Wrong format of array index\n";

INSTANTIATE_TEST_SUITE_P(
    Scalars, AccessRead,
    ::testing::Values(
        RoveCase{"bool", {"access", "scalars.flag"}, "scalars.flag: true\n"},
        RoveCase{"int", {"access", "scalars.count"}, "scalars.count: -7\n"},
        RoveCase{"uint", {"access", "scalars.ucount"}, "scalars.ucount: 7\n"},
        RoveCase{"int64", {"access", "scalars.big"}, "scalars.big: -9000000000\n"},
        RoveCase{"uint64", {"access", "scalars.ubig"}, "scalars.ubig: 18000000000000000000\n"},
        RoveCase{"double15digits", {"access", "scalars.third"}, "scalars.third: 0.333333333333333\n"},
        RoveCase{"doubleExponent", {"access", "scalars.huge"}, "scalars.huge: 1e+20\n"},
        RoveCase{"float6digits", {"access", "scalars.tenth"}, "scalars.tenth: 0.1\n"},
        RoveCase{"text", {"access", "scalars.label"}, "scalars.label: hello world\n"},
        RoveCase{"enum", {"access", "scalars.mode"}, "scalars.mode: slow\n"},
        RoveCase{"defaultCommand", {"scalars.count"}, "scalars.count: -7\n"},
        RoveCase{"emptyValueIsRead", {"scalars.count="}, "scalars.count: -7\n"},
        RoveCase{"scalarIgnoresIndex", {"access", "scalars.count[junk]"}, "scalars.count[junk]: -7\n"},
        RoveCase{"quiet", {"access", "-q", "scalars.count", "scalars.label"}, "-7\nhello world\n"},
        RoveCase{"pathOption", {"access", "--path", "scalars.count", "scalars.ucount", "-n", "scalars.flag"},
                 "scalars.count: -7\nscalars.ucount: 7\nscalars.flag: true\n"},
        RoveCase{"valueless", {"access", "plain"}, "plain: \n"},
        RoveCase{"root", {"access"}, "rove-host: \n"},
        RoveCase{"hidden", {"access", "secret"}, "secret: under the hood\n"},
        RoveCase{"platform", {"--platform", "firmware"}, "firmware: 4.2.0\n"},
        RoveCase{"platformWinsOverApplication", {"access", "--platform", "--application", "firmware"},
                 "firmware: 4.2.0\n"}),
    velnor::test::NameOfCase());

INSTANTIATE_TEST_SUITE_P(
    Arrays, AccessRead,
    ::testing::Values(
        RoveCase{"whole", {"access", "arrays.ints"}, "arrays.ints: [1,2,3,4]\n"},
        RoveCase{"emptyIndex", {"access", "arrays.ints[]"}, "arrays.ints[]: [1,2,3,4]\n"},
        RoveCase{"oneElement", {"access", "arrays.ints[1]"}, "arrays.ints[1]: [2]\n"},
        RoveCase{"twoRanges", {"access", "arrays.ints[0,2]"}, "arrays.ints[0,2]: [1][3]\n"},
        RoveCase{"range", {"access", "arrays.ints[1:3]"}, "arrays.ints[1:3]: [2,3,4]\n"},
        RoveCase{"overlapping", {"access", "arrays.six[4:5,0:1,5]"}, "arrays.six[4:5,0:1,5]: [4,5][0,1][5]\n"},
        RoveCase{"sizeOneNoBrackets", {"access", "arrays.one"}, "arrays.one: 5\n"},
        RoveCase{"bools", {"access", "arrays.bools"}, "arrays.bools: [true,false,true]\n"},
        RoveCase{"uints", {"access", "arrays.uints"}, "arrays.uints: [10,20,30]\n"},
        RoveCase{"int64s", {"access", "arrays.bigs"}, "arrays.bigs: [-5000000000,0,5000000000]\n"},
        RoveCase{"doubles", {"access", "arrays.doubles"}, "arrays.doubles: [0.5,1.5,2.5]\n"},
        RoveCase{"floats", {"access", "arrays.floats"}, "arrays.floats: [0.25,0.75]\n"},
        RoveCase{"textsWithCommas", {"access", "arrays.texts"}, "arrays.texts: [a,b,c]\n"}),
    velnor::test::NameOfCase());

// A failed read still ends its line; later arguments are still read and the
// run ends with status 1.
INSTANTIATE_TEST_SUITE_P(
    Failures, AccessRead,
    ::testing::Values(
        RoveCase{"emptyRange", {"access", "arrays.ints[4:4]"}, "arrays.ints[4:4]: \n", kIndexError, 1},
        RoveCase{"reversedRange", {"access", "arrays.ints[3:1]"}, "arrays.ints[3:1]: \n", kIndexError, 1},
        RoveCase{"threeParts", {"access", "arrays.ints[1:2:3]"}, "arrays.ints[1:2:3]: \n", kIndexError, 1},
        RoveCase{"openEnd", {"access", "arrays.ints[5:]"}, "arrays.ints[5:]: \n", kIndexError, 1},
        RoveCase{"openStart", {"access", "arrays.ints[:5]"}, "arrays.ints[:5]: \n", kIndexError, 1},
        RoveCase{"negative",
                 {"access", "arrays.ints[-1]", "scalars.count"},
                 "arrays.ints[-1]: \nscalars.count: -7\n",
                 kIndexError,
                 1},
        RoveCase{"countOverflow", {"access", "arrays.ints[0:4294967295]"}, "arrays.ints[0:4294967295]: \n",
                 kIndexError, 1},
        RoveCase{"quietFailure", {"access", "-q", "arrays.ints[2:1]", "scalars.count"}, "-7\n", kIndexError, 1},
        RoveCase{"notANumberEndsRun",
                 {"access", "arrays.ints[ 1]", "scalars.count"},
                 "arrays.ints[ 1]: \n",
                 "bad lexical cast: source type value could not be interpreted as target\n",
                 1}),
    velnor::test::NameOfCase());

INSTANTIATE_TEST_SUITE_P(
    Execute, AccessRead,
    ::testing::Values(RoveCase{"refused", {"access", "actions.refuse{}"}, "actions.refuse{}: failed\n\n"},
                      RoveCase{"markTextUnused", {"access", "actions.refuse{1 2}"}, "actions.refuse{1 2}: failed\n\n"},
                      RoveCase{"withValueSkipped",
                               {"access", "actions.bump{}=3"},
                               "",
                               "WARNING: invalid usage. Function nodes could not be set with a a new value. Node path: "
                               "'actions.bump{}=3'. Ignoring.\n",
                               0}),
    velnor::test::NameOfCase());

// A host given by name is looked up through the C library's resolver (the
// tool is linked with a shared C library so that every configured name
// service works), here over TCP with no local socket to find.
TEST_F(AccessRead, HostNamesAreResolved) {
    velnor::test::RunOptions tcpOnly;
    tcpOnly.env["VELNOR_RUNTIME_DIR"] = velnor::test::TempDir();
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        const auto r = velnor::test::Rove(*s_server, {"access", "-q", "--host", host, "scalars.count"}, tcpOnly);
        rove_test::ExpectResult(r, "-7\n", "", 0);
    }
}

}  // namespace
