// The subtree text rendered by the server, byte for byte.
#include <gtest/gtest.h>

#include "raw_registry.h"
#include "support/case_name.h"
#include "support/registry_server.h"
#include "support/server_per_suite.h"

namespace velnor::test {
namespace {

struct DumpCase {
    const char* name;
    const char* path;
    int level;
    unsigned flags;
    unsigned maxLength;
    bool hidden;
    const char* text;
};

class Dump : public ServerPerSuite<Dump, ::testing::TestWithParam<DumpCase>> {
public:
    static constexpr const char* c_tree = "server-basic.yaml";
};

TEST_P(Dump, Layout) {
    const DumpCase& c = GetParam();
    RawRegistry app(s_server->Port());
    CORBA::String_var text = app->dumpSubTree(app.Id(c.path), c.level, c.flags, c.maxLength, c.hidden);
    EXPECT_EQ(std::string(text.in()), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Dump,
    ::testing::Values(
        DumpCase{"plain", "arrays", -1, 0, 80, false,
                 "arrays\n"
                 "  coeffs [int32[4]] = [0,1,2,3]\n"
                 "  bits [bool[3]] = [true,false,true]\n"
                 "  one [int32[1]] = [5]\n"
                 "  empty [double[0]] = []\n"
                 "  names [string[2]] = [a,b,c]\n"},
        DumpCase{"node_alone", "arrays", 0, 0, 80, false, "arrays\n"},
        DumpCase{"leaf", "scalars.i32", -1, 0, 80, false, "i32 [int32] = 5\n"},
        DumpCase{"cut_values", "arrays", 1, 0, 5, false,
                 "arrays\n"
                 "  coeffs [int32[4]] = [0,1,...\n"
                 "  bits [bool[3]] = [true...\n"
                 "  one [int32[1]] = [5]\n"
                 "  empty [double[0]] = []\n"
                 "  names [string[2]] = [a,b,...\n"},
        DumpCase{"full_path", "saved", -1, 1, 80, false,
                 "test-host.saved\n"
                 "test-host.saved.gain [double] = 1.5\n"
                 "test-host.saved.mode [enum] = off\n"
                 "test-host.saved.table [int32[3]] = [1,2,3]\n"
                 "test-host.saved.reset [function]\n"
                 "test-host.saved.refuse [function]\n"},
        DumpCase{"flags", "saved", -1, 2, 80, false,
                 "saved {none}\n"
                 "  gain [double] {readable,writable,persistent} = 1.5\n"
                 "  mode [enum] {readable,writable,persistent} = off\n"
                 "  table [int32[3]] {readable,writable,array,persistent} = [1,2,3]\n"
                 "  reset [function] {executable}\n"
                 "  refuse [function] {executable}\n"},
        DumpCase{"compact", "saved", -1, 4, 80, false,
                 "saved\n"
                 "  gain = 1.5\n"
                 "  mode = off\n"
                 "  table = [1,2,3]\n"
                 "  reset\n"
                 "  refuse\n"},
        DumpCase{"compact_full_path_flags", "saved", -1, 7, 80, false,
                 "test-host.saved.gain {readable,writable,persistent} = 1.5\n"
                 "test-host.saved.mode {readable,writable,persistent} = off\n"
                 "test-host.saved.table {readable,writable,array,persistent} = [1,2,3]\n"
                 "test-host.saved.reset {executable}\n"
                 "test-host.saved.refuse {executable}\n"},
        DumpCase{"levels_below_root", "", 1, 0, 80, false,
                 "test-host\n"
                 "  name [string] = basic\n"
                 "  scalars\n"
                 "  arrays\n"
                 "  texts\n"
                 "  saved\n"
                 "  live\n"
                 "  adc [signal]\n"},
        DumpCase{"hidden_exposed", "", 1, 2, 80, true,
                 "test-host {none}\n"
                 "  name [string] {readable} = basic\n"
                 "  scalars {none}\n"
                 "  arrays {none}\n"
                 "  texts {none}\n"
                 "  saved {none}\n"
                 "  secret {hidden}\n"
                 "  pin [int32] {readable,writable,hidden} = 1234\n"
                 "  live {none}\n"
                 "  adc [signal] {signal}\n"},
        // Nothing in a value breaks its line or reaches a terminal as a
        // control character; the tab and UTF-8 beyond ASCII stay.
        DumpCase{"controls_escaped", "texts", -1, 0, 0, false,
                 "texts\n"
                 "  long [string] = abcdefghijklmnopqrstuvwxyz\n"
                 "  wide [string] = äöü€xyz\n"
                 "  lines [string] = one\\ntwo\n"
                 "  controls [string] = \\x1b[31mred\\x7f\\xc2\\x9b\tend\n"
                 "  third [double] = 0.333333333333333\n"}),
    NameOfCase());

}  // namespace
}  // namespace velnor::test
