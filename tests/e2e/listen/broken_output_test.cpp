// A listener whose reader has gone: the next notification's write fails,
// and the run ends at once with the cause of that write and status 1.
#include <gtest/gtest.h>

#include "support/registry_server.h"

namespace listen_test {
namespace {

using velnor::test::BinPath;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

struct ReaderCase {
    const char* name;
    const char* listenOptions;
    const char* reader;  // the command that reads the listener's output and leaves
};

void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }

class ReaderGone : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderGone, RunEndsWithBrokenPipe) {
    // live.ticker changes 20 times a second.
    RegistryServer server(FixturePath("server-basic.yaml"));
    const std::string script = std::string("\"$1\" listen --port \"$2\" ") + GetParam().listenOptions +
                               " live.ticker | " + GetParam().reader + " >/dev/null; exit \"${PIPESTATUS[0]}\"";
    velnor::test::RunOptions options;
    options.timeout = std::chrono::seconds(60);  // only stops a run that never ends
    const velnor::test::RunResult r =
        velnor::test::Run({"/bin/bash", "-c", script, "bash", BinPath("velnor-rove"), server.PortText()}, options);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Can't write to standard output: Broken pipe\n");
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderGone,
                         ::testing::Values(ReaderCase{"head", "", "head -5"},
                                           ReaderCase{"grepFirstMatch", "", "grep -m1 -E 'ticker=[0-9]*[05]$'"},
                                           ReaderCase{"headManaged", "--ping 1", "head -3"},
                                           ReaderCase{"headJson", "--json", "head -5"},
                                           ReaderCase{"headTimedInitial", "--time --initial", "head -3"},
                                           ReaderCase{"headUntilNever", "--until never --wait 60", "head -3"}),
                         [](const ::testing::TestParamInfo<ReaderCase>& info) { return info.param.name; });

}  // namespace
}  // namespace listen_test
