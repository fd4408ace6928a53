// Which signal output format a combination of --binary, --csv and --stat
// selects, and that --stat alone also turns on the verbose lines. The node
// is a data-on-demand int16 signal whose atom p holds p * 2 and p * 2 + 1,
// read from position 0, so every format has one exact expected output.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "rove_case.h"
#include "support/case_name.h"
#include "support/server_per_suite.h"

using rove_test::RoveCase;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

class OutputFormat : public velnor::test::ServerPerSuite<OutputFormat, ::testing::TestWithParam<RoveCase>> {
public:
    static constexpr const char* c_tree = "signal-types.yaml";
};

TEST_P(OutputFormat, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

RoveCase Case(const std::string& name, std::vector<std::string> switches, std::string out, std::string err = "") {
    std::vector<std::string> args{"signal"};
    args.insert(args.end(), switches.begin(), switches.end());
    for (const char* word : {"--mode", "Position", "--size", "2", "dod.int16"}) args.push_back(word);
    return RoveCase{name, args, std::move(out), std::move(err), 0};
}

// Atoms 0 and 1 as raw int16 in host byte order (little endian here).
const std::string kBinary("\x00\x00\x01\x00\x02\x00\x03\x00", 8);
const std::string kCsv = "0,1\n2,3\n";
const std::string kText = "          0            1  \n          2            3  \n";
const std::string kVerbose =
    "Signal data from node: signal-host.dod.int16\n"
    "lmt: 0, atoms: 2, position: 0\n"
    "Total number of atoms: 2\n";

INSTANTIATE_TEST_SUITE_P(
    Switches, OutputFormat,
    ::testing::Values(Case("text", {}, kText),
                      Case("binaryWinsOverAll", {"--stat", "--csv", "--binary"}, kBinary),
                      Case("binaryWinsOverCsv", {"-c", "-B"}, kBinary),
                      // --stat is not the chosen format here, so it sets nothing.
                      Case("csvWinsOverStat", {"--stat", "--csv"}, kCsv),
                      Case("statAloneIsVerbose", {"--stat"}, "", kVerbose),
                      Case("verboseAddsHeader", {"--csv", "-v"}, "a,b\n" + kCsv, kVerbose)),
    velnor::test::NameOfCase());

}  // namespace
