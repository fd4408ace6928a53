// Stream reading: sizes over blocks, passes, statistics, headers, time-out,
// interruption, a server that dies and an output that fails.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "expected.h"
#include "support/registry_server.h"

namespace signal_test {
namespace {

using namespace std::chrono_literals;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

const AtomType& Int32() { return TypeNamed("int32"); }

struct StreamCase {
    std::string name;
    std::vector<std::string> args;
    std::string out;
};

class StreamOutputTest : public testing::TestWithParam<StreamCase> {};

// A fresh server per case: the stream starts at atom 0, blocks of 4 atoms.
TEST_P(StreamOutputTest, PrintsThePassesAtoms) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, GetParam().args);
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, StreamOutputTest,
    testing::Values(
        // 4, 4 and 2 atoms: the last two of the third block are dropped.
        StreamCase{"size_10_over_blocks_of_4", {"--csv", "--size", "10", "stream.int32"},
                   Int32().render(Format::Csv, 0, 10, 2)},
        // The second pass starts with the block after the dropped atoms.
        StreamCase{"two_passes", {"--csv", "--size", "10", "--loop", "2", "stream.int32"},
                   Int32().render(Format::Csv, 0, 10, 2) + Int32().render(Format::Csv, 12, 10, 2)},
        StreamCase{"no_pass", {"--csv", "--loop", "0", "stream.int32"}, ""},
        StreamCase{"negative_loop_is_no_pass", {"--csv", "--loop=-2", "stream.int32"}, ""},
        StreamCase{"size_0_prints_nothing", {"--size", "0", "--loop", "3", "stream.int32"}, ""},
        // The header comes once, before all passes.
        StreamCase{"header_once", {"--header", "--size", "4", "--loop", "2", "stream.int32"},
                   Header(Format::Text, {"a", "b"}) + Int32().render(Format::Text, 0, 8, 2)},
        StreamCase{"csv_header", {"--header", "--csv", "--size", "3", "stream.int32"},
                   Header(Format::Csv, {"a", "b"}) + Int32().render(Format::Csv, 0, 3, 2)},
        StreamCase{"binary_after_header", {"-B", "--header", "--size", "5", "stream.int32"},
                   Header(Format::Text, {"a", "b"}) + Int32().render(Format::Binary, 0, 5, 2)},
        // Hundreds of blocks pulled ahead of the reader arrive whole and in
        // order (a queue that holds them all: a reader slower than the
        // stream would lose blocks to a full queue, as it should).
        StreamCase{"many_blocks_in_order", {"-B", "--queue-size", "10000", "--size", "3000", "stream.int32"},
                   Int32().render(Format::Binary, 0, 3000, 2)},
        // Past the 65536 elements after which the server's 16-bit counter repeats.
        StreamCase{"int16_past_its_period", {"-B", "--queue-size", "10000", "--size", "33000", "stream.int16"},
                   TypeNamed("int16").render(Format::Binary, 0, 33000, 2)},
        StreamCase{"many_double_lines", {"--queue-size", "10000", "--size", "2000", "stream.double"},
                   TypeNamed("double").render(Format::Text, 0, 2000, 2)}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

constexpr std::uint64_t c_largeBlockAtoms = 131072;  // 1 MiB of int32 pairs

// Reads `blocks` blocks of the 1 MiB-block stream in binary, checks them
// byte for byte and a clean end, and gives the trace of that run.
std::string ReadLargeBlocks(const RegistryServer& server, std::uint64_t blocks) {
    const std::string trace = velnor::test::TempDir() + "/trace";
    const std::uint64_t atoms = blocks * c_largeBlockAtoms;
    // Tens of MiB checked byte for byte: slow under a sanitizer on a busy machine.
    velnor::test::RunOptions wide;
    wide.timeout = std::chrono::minutes(3);
    const auto r = velnor::test::Rove(server, {"signal", "-B", "--queue-size", "1000", "--size", std::to_string(atoms),
                                               "--debug", trace, "3", "large"},
                                      wide);
    EXPECT_EQ(r.out.size(), atoms * 8);
    EXPECT_TRUE(r.out == Int32().render(Format::Binary, 0, atoms, 2)) << "the bytes differ";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    std::ifstream file(trace);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A local reader of large blocks tries four ways (ahead or one at a time,
// over the unix socket or TCP) and keeps the fastest: every switch keeps
// the atoms whole and in order.
TEST(StreamTransports, LargeBlocksArriveWholeAndInOrderOverEveryWayTried) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    // Past the trials of 8 blocks each, and their lead-ins.
    const std::string traced = ReadLargeBlocks(server, 60);
    for (const char* way : {"pulling one block at a time over the bulk reference",
                            "pulling ahead over the signal's reference",
                            "pulling one block at a time over the signal's reference"})
        EXPECT_NE(traced.find(way), std::string::npos) << way;
}

// The tool reaches the registry over the unix socket, but TCP on
// 127.0.0.1 refuses: the stream goes on over the socket alone.
TEST(StreamTransports, ARefusedTcpAlternativeLeavesTheSocket) {
    RegistryServer server(FixturePath("signal-types.yaml"), {"--listen", "127.0.0.2"});
    const std::string traced = ReadLargeBlocks(server, 20);
    EXPECT_NE(traced.find("the bulk reference failed; pulling over the signal's reference only"), std::string::npos);
}

TEST(StreamStatistics, StatPrintsOnlyStatisticsOnStandardError) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, {"--stat", "--size", "100", "stream.int32"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 4u) << r.err;
    EXPECT_EQ(lines[0], "Signal data from node: signal-host.stream.int32");
    EXPECT_EQ(lines[1], "seconds, name, total, rejected, atoms/s, bytes/s");
    EXPECT_TRUE(HasShape(lines[2], "9.9, stream.int32, 9, 9, 9.9, 9.9")) << lines[2];
    EXPECT_TRUE(HasShape(lines[3], "9.9, velnor-rove, 9, 9, 9.9, 9.9")) << lines[3];
}

TEST(StreamStatistics, VerboseWithoutPassesStillReports) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = RunRove(server, {"--verbose", "--loop", "0", "stream.int32"});
    EXPECT_EQ(r.out, Header(Format::Text, {"a", "b"}));
    EXPECT_EQ(r.status, 0);
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 4u) << r.err;
    EXPECT_EQ(lines[1], "seconds, name, total, rejected, atoms/s, bytes/s");
}

TEST(StreamTimeout, StalledStreamGivesUpAfterTheTimeout) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    const auto r = RunRove(server, {"--timeout", "1", "stalled"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Interrupted read from stalled signal. Error: -2 (no data yet)\n");
    EXPECT_EQ(r.status, 1);
}

TEST(StreamTimeout, HugeTimeoutDoesNotOverflow) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    auto rove = StartRove(server, {"--header", "--timeout", "9223372036854775807", "stalled"});
    ASSERT_TRUE(rove->WaitForOutput("v  \n", 10s));
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(rove->Running());  // an overflowed deadline would have ended the wait at once
    rove->Signal(SIGINT);
    EXPECT_EQ(rove->Wait(10s), 1);
}

TEST(StreamInterrupt, InterruptDuringPopEndsTheRead) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    auto rove = StartRove(server, {"--header", "stalled"});
    ASSERT_TRUE(rove->WaitForOutput("v  \n", 10s));
    std::this_thread::sleep_for(300ms);
    rove->Signal(SIGINT);
    EXPECT_EQ(rove->Wait(10s), 1);
    EXPECT_EQ(rove->Out(), Header(Format::Text, {"v"}));
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from stalled signal. Error: -4 (closed or interrupted)\n");
}

TEST(StreamInterrupt, EndlessLoopEndsWithTheInterrupt) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    auto rove = StartRove(server, {"--csv", "--size", "10", "--loop=-1", "ticking"});
    ASSERT_TRUE(rove->WaitForOutput("\n", 10s));
    rove->Signal(SIGINT);
    EXPECT_EQ(rove->Wait(10s), 1);
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from ticking signal. Error: -4 (closed or interrupted)\n");
    // Whole passes of consecutive atoms: every line one more than the last.
    const auto lines = Lines(rove->Out());
    ASSERT_GE(lines.size(), 10u);
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(std::stoll(lines[i]), std::stoll(lines[i - 1]) + 1);
}

TEST(StreamServerDeath, KilledServerEndsTheReadWithAnError) {
    RegistryServer server(FixturePath("signal-modes.yaml"));
    auto rove = StartRove(server, {"--csv", "--loop=-1", "ticking"});
    ASSERT_TRUE(rove->WaitForOutput("\n", 10s));
    server.Kill();
    EXPECT_EQ(rove->Wait(15s), 1);
    // The reader's words first, then what became of the registry.
    EXPECT_EQ(rove->Err(), "Error: Interrupted read from ticking signal. Error: -6 (remote access failed): Registry at "
                           "127.0.0.1:" + server.PortText() + " is not reachable\n");
}

// The tool in a shell pipeline: `head` or a full disk ends the read.
velnor::test::RunResult Shell(const RegistryServer& server, const std::string& tail) {
    const std::string command = velnor::test::BinPath("velnor-rove") + " signal --port " + server.PortText() + " " +
                                tail;
    return velnor::test::Run({"/bin/bash", "-c", command});
}

TEST(StreamOutputFailure, ClosedPipeEndsTheRead) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = Shell(server, "-B --loop=-1 stream.int32 | head -c 100 > /dev/null; echo ${PIPESTATUS[0]}");
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(r.err, "Error: Can't write to standard output: Broken pipe\n");
}

TEST(StreamOutputFailure, FullDiskEndsTheRead) {
    RegistryServer server(FixturePath("signal-types.yaml"));
    const auto r = Shell(server, "--size 100000 stream.int32 > /dev/full; echo $?");
    EXPECT_EQ(r.out, "1\n");
    EXPECT_EQ(r.err, "Error: Can't write to standard output: No space left on device\n");
}

}  // namespace
}  // namespace signal_test
