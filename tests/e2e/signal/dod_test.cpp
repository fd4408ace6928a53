// Data-on-demand reading: each mode, passes and headers, metadata, size
// limits, interruption, failures of the communication layer.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "expected.h"
#include "support/case_name.h"
#include "support/registry_server.h"

namespace signal_test {
namespace {

using namespace std::chrono_literals;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

std::string Counting(std::uint64_t first, std::uint64_t count) {
    return TypeNamed("int32").render(Format::Csv, first, count, 1);
}

struct DodCase {
    std::string name;
    std::string fixture;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

class DodReadTest : public testing::TestWithParam<DodCase> {};

TEST_P(DodReadTest, PrintsTheChosenAtoms) {
    const DodCase& c = GetParam();
    RegistryServer server(FixturePath(c.fixture));
    const auto r = RunRove(server, c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}

const std::string c_types = "signal-types.yaml";
const std::string c_modes = "signal-modes.yaml";

INSTANTIATE_TEST_SUITE_P(
    Modes, DodReadTest,
    testing::Values(
        DodCase{"now_newest_atoms", c_modes, {"--csv", "--size", "3", "events"}, Counting(97, 3), "", 0},
        DodCase{"now_with_offset", c_modes, {"--csv", "--size", "3", "--offset", "-10", "events"}, Counting(87, 3), "",
                0},
        // LMT 55 with 10 ticks per atom: the atom at or after it is 6.
        DodCase{"lmt", c_modes, {"--csv", "--mode", "Lmt", "--lmt", "55", "--size", "2", "events"}, Counting(6, 2), "",
                0},
        DodCase{"lmt_with_offset", c_modes, {"--csv", "-b", "Lmt", "-l", "60", "-o", "-1", "-s", "2", "events"},
                Counting(5, 2), "", 0},
        DodCase{"position", c_modes, {"--csv", "--mode", "Position", "--offset", "20", "--size", "3", "events"},
                Counting(20, 3), "", 0},
        // Rate 0: each event produces the next block on demand.
        DodCase{"single_event", c_modes, {"--csv", "--mode", "SingleEvent", "--size", "2", "events"},
                Counting(100, 2), "", 0},
        DodCase{"event_three_passes", c_modes, {"--csv", "--mode", "Event", "--size", "2", "--loop", "3", "events"},
                Counting(100, 6), "", 0},
        DodCase{"header_before_every_block", c_types, {"--csv", "-H", "--size", "2", "--loop", "2", "dod.int32"},
                "a,b\n" + TypeNamed("int32").render(Format::Csv, 198, 2, 2) + "a,b\n" +
                    TypeNamed("int32").render(Format::Csv, 198, 2, 2),
                "", 0},
        DodCase{"verbose_metadata", c_types, {"--csv", "-v", "--size", "3", "dod.int32"},
                "a,b\n" + TypeNamed("int32").render(Format::Csv, 197, 3, 2),
                "Signal data from node: signal-host.dod.int32\nlmt: 197, atoms: 3, position: 197\n"
                "Total number of atoms: 3\n",
                0},
        DodCase{"stat_prints_no_data", c_types, {"--stat", "--size", "3", "dod.int32"}, "",
                "Signal data from node: signal-host.dod.int32\nlmt: 197, atoms: 3, position: 197\n"
                "Total number of atoms: 3\n",
                0},
        DodCase{"no_pass", c_types, {"--loop", "0", "dod.int32"}, "", "", 0},
        DodCase{"size_above_32_bits", c_types, {"--size", "4294967296", "dod.int32"}, "",
                "Error: signal: DOD size 4294967296 is above the largest block of 4294967295 atoms.\n", 1},
        DodCase{"size_0", c_types, {"--size", "0", "dod.int32"}, "",
                "Error: signal: Can't open DOD. Error: -99 (general failure)\n", 1},
        DodCase{"before_the_first_atom", c_modes, {"--mode", "Position", "--offset", "-1", "--size", "2", "live"}, "",
                "Error: Can't read live signal. Error: -99 (general failure)\n", 1},
        // The error names the node by its path, not by its name alone.
        DodCase{"named_by_its_path", c_types, {"--mode", "Position", "--offset", "-1", "--size", "2", "dod.int32"}, "",
                "Error: Can't read dod.int32 signal. Error: -99 (general failure)\n", 1},
        // Far out, where position times components passes 64 bits: the
        // counter's elements 2^64 - 2 ... 2^64 + 1, wrapped to int32.
        DodCase{"position_far_out", c_types,
                {"--csv", "--mode", "Position", "--offset", "9223372036854775807", "--size", "2", "dod.int32"},
                "-2,-1\n0,1\n", "", 0},
        // No atom has an LMT at or after the largest one (10 ticks per atom).
        DodCase{"lmt_past_the_last_atom", c_modes,
                {"--csv", "--mode", "Lmt", "--lmt", "18446744073709551615", "--size", "2", "events"}, "",
                "Error: Can't read events signal. Error: -99 (general failure)\n", 1},
        DodCase{"not_a_signal_node", c_modes, {"value"}, "", "signal: not a signal node: signal-host.value\n", 1},
        // The communication layer's failure is logged as critical and the
        // command goes on with the next node.
        DodCase{"corba_failure_goes_on", c_modes, {"--size", "9000000", "big", "value"}, "",
                "CRITICAL: CORBA System Exception: IMP_LIMIT (minor 0x0, completed: NO)\n"
                "signal: not a signal node: signal-host.value\n",
                1},
        DodCase{"corba_failure_alone_is_status_1", c_modes, {"--size", "9000000", "big"}, "",
                "CRITICAL: CORBA System Exception: IMP_LIMIT (minor 0x0, completed: NO)\n", 1}),
    [](const testing::TestParamInfo<DodCase>& info) { return info.param.name; });

// A live signal: the metadata tells which atoms came; they must be those.
std::uint64_t PositionIn(const std::string& metaLine) {
    const std::string key = "position: ";
    const auto at = metaLine.find(key);
    return at == std::string::npos ? ~0ULL : std::stoull(metaLine.substr(at + key.size()));
}

TEST(DodLive, EventBlocksMatchTheirMetadata) {
    RegistryServer server(FixturePath(c_modes));
    const auto r = RunRove(server, {"--stat", "--mode", "Event", "--size", "4", "--loop", "3", "live"});
    EXPECT_EQ(r.status, 0);
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 7u) << r.err;
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_TRUE(HasShape(lines[1 + 2 * pass], "lmt: 9, atoms: 4, position: 9, event: 9")) << lines[1 + 2 * pass];
        EXPECT_EQ(lines[2 + 2 * pass], "Total number of atoms: 4");
    }
}

TEST(DodLive, NowBlockMatchesItsMetadata) {
    RegistryServer server(FixturePath(c_modes));
    const auto r = RunRove(server, {"--csv", "-v", "--size", "5", "live"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 3u) << r.err;
    EXPECT_EQ(r.out, "v\n" + Counting(PositionIn(lines[1]), 5));
}

TEST(DodLive, SingleEventBlocksFollowTheirTrigger) {
    RegistryServer server(FixturePath(c_modes));
    const auto r = RunRove(server, {"--csv", "-v", "--mode", "SingleEvent", "--size", "3", "--loop", "2", "live"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 5u) << r.err;
    const std::uint64_t first = PositionIn(lines[1]);
    const std::uint64_t second = PositionIn(lines[3]);
    EXPECT_GT(second, first);
    EXPECT_EQ(r.out, "v\n" + Counting(first, 3) + "v\n" + Counting(second, 3));
}

class DodInterruptTest : public testing::TestWithParam<std::string> {};

// The read waits for an event a minute away; the interrupt ends it.
TEST_P(DodInterruptTest, InterruptEndsTheWait) {
    RegistryServer server(FixturePath(c_modes));
    auto rove = StartRove(server, {"--mode", GetParam(), "slow"});
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(rove->Running());
    rove->Signal(SIGINT);
    EXPECT_EQ(rove->Wait(10s), 1);
    EXPECT_EQ(rove->Out(), "");
    EXPECT_EQ(rove->Err(), "Error: Can't read slow signal. Error: -4 (closed or interrupted)\n");
}

INSTANTIATE_TEST_SUITE_P(Waits, DodInterruptTest, testing::Values("SingleEvent", "Event"),
    [](const auto& info) { return velnor::test::CaseName(info.param); });

}  // namespace
}  // namespace signal_test
