// signal with --json: the data keeps its format; the -v and --stat lines
// become records on standard error.
#include <gtest/gtest.h>

#include "script_case.h"
#include "support/case_name.h"

namespace script_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

TEST(SignalJson, VerboseMetadataRecords) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const velnor::test::RunResult plain = velnor::test::Rove(server, {"signal", "--csv", "-v", "--size", "3", "dod.int32"});
    const velnor::test::RunResult json =
        velnor::test::Rove(server, {"signal", "--json", "--csv", "-v", "--size", "3", "dod.int32"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out, plain.out);
    EXPECT_EQ(Records(json.err), Expected({R"({"path":"dod.int32","signal":true})",
                                           R"({"meta":{"lmt":197,"atoms":3,"position":197}})", R"({"atoms":3})"}));
}

TEST(SignalJson, StatisticsRecords) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const velnor::test::RunResult r = velnor::test::Rove(server, {"signal", "--json", "--stat", "--size", "100", "stream.int32"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    const std::vector<Json> records = Records(r.err);
    ASSERT_EQ(records.size(), 3u) << r.err;
    EXPECT_EQ(records[0], Json::parse(R"({"path":"stream.int32","signal":true})"));
    for (std::size_t i = 1; i < records.size(); ++i) {
        // The counters are snapshots of a running stream: near, not exactly, the size read.
        EXPECT_GT(records[i]["total"].get<std::uint64_t>(), 0u) << records[i].dump();
        EXPECT_EQ(records[i]["rejected"], 0) << records[i].dump();
        EXPECT_GT(records[i]["seconds"].get<double>(), 0.0);
        EXPECT_GT(records[i]["atoms_per_s"].get<double>(), 0.0);
        EXPECT_DOUBLE_EQ(records[i]["bytes_per_s"].get<double>(), records[i]["atoms_per_s"].get<double>() * 8);
    }
    EXPECT_EQ(records[1]["name"], "stream.int32");
    EXPECT_EQ(records[2]["name"], "velnor-rove");
}

// Standard output carries signal data alone; the failures are records on
// standard error, as the other lines there, with the text the plain mode
// prints (without its "Error: "). A path unknown ends the run as it does
// without --json, before any node is read.
struct SignalErrorCase {
    std::string name;
    std::vector<std::string> args;
    std::string record;
};

std::ostream& operator<<(std::ostream& os, const SignalErrorCase& c) { return os << c.name; }

class SignalJsonErrors : public ::testing::TestWithParam<SignalErrorCase> {};

TEST_P(SignalJsonErrors, AreRecords) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    std::vector<std::string> args = {"signal", "--json"};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const velnor::test::RunResult r = velnor::test::Rove(server, args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Records(r.err), Expected({GetParam().record})) << r.err;
    EXPECT_EQ(r.status, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Signal, SignalJsonErrors,
    ::testing::Values(
        SignalErrorCase{"unknownPath", {"nothing", "dod.int32"}, R"({"error":"Node not found: nothing"})"},
        SignalErrorCase{"readRefused",
                        {"--mode", "Position", "--offset", "-1", "--size", "2", "dod.int32", "dod.int16"},
                        R"json({"path":"dod.int32","error":"Can't read dod.int32 signal. Error: -99 (general failure)"})json"},
        SignalErrorCase{"notASignal",
                        {"stream"},
                        R"({"path":"stream","error":"signal: not a signal node: signal-host.stream"})"}),
    velnor::test::NameOfCase());

}  // namespace
}  // namespace script_test
