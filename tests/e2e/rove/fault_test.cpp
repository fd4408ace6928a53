// Runs that meet a registry which stops answering (SIGSTOP) end by
// themselves within a wide bound, with the registry's time-out error and
// status 1, over TCP and over the local socket, however the runtime
// directory is spelled; the nodes after the first unanswered call do not
// wait again; an interrupt ends the benchmark, and a --json run, at once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "rove_case.h"
#include "support/faults.h"

namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

bool IsSocket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Sockets bound to `path`: the listening one, and one per accepted
// connection (which shows its listener's path).
int SocketsAt(const std::string& path) {
    std::ifstream table("/proc/net/unix");
    std::string line;
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string field, last;
        while (fields >> field) last = field;
        if (last == path) ++count;
    }
    return count;
}

struct RuntimeDirCase {
    const char* name;
    const char* serverSuffix;  // appended to the server's runtime directory
    const char* clientSuffix;  // appended to the tool's; null: another, empty directory (TCP)
};

void PrintTo(const RuntimeDirCase& c, std::ostream* os) { *os << c.name; }

class StoppedRegistryTest : public ::testing::TestWithParam<RuntimeDirCase> {};

// The tool connects and looks its nodes up, then waits for the value to
// write on a pipe; the registry is stopped before the value comes. The
// write and the read after it each end at the deadline.
TEST_P(StoppedRegistryTest, WriteAndReadEndWithTheTimeout) {
    const RuntimeDirCase& c = GetParam();
    const std::string dir = velnor::test::TempDir();
    const velnor::test::ScopedEnvironment runtime("VELNOR_RUNTIME_DIR", dir + c.serverSuffix);
    RegistryServer server(FixturePath("rove-values.yaml"));
    const std::string socket = velnor::test::SocketPathIn(dir, server.Port());
    ASSERT_TRUE(IsSocket(socket)) << socket;

    velnor::test::ValuePipe pipe(velnor::test::TempDir() + "/value");
    velnor::test::RunOptions options;
    const std::string clientDir = c.clientSuffix ? dir + c.clientSuffix : velnor::test::TempDir();
    options.env = velnor::test::FaultEnvironment({{"VELNOR_RUNTIME_DIR", clientDir}});
    velnor::test::Child rove({velnor::test::BinPath("velnor-rove"), "--port", server.PortText(),
                              "actions.target=@" + pipe.Path(), "scalars.label"},
                             options);
    ASSERT_TRUE(pipe.WaitForReader(velnor::test::c_faultBound)) << rove.Err();
    // The tool found the server's socket exactly when it looked in the same
    // directory, whatever the slashes.
    EXPECT_EQ(SocketsAt(socket) > 1, c.clientSuffix != nullptr);
    {
        const velnor::test::PausedServer paused(server);
        pipe.WriteAndClose("7");
        ASSERT_EQ(rove.Wait(velnor::test::c_faultBound), 1) << rove.Err();
    }
    const std::string timeout = "Error: Registry at 127.0.0.1:" + server.PortText() + " did not answer in time\n";
    EXPECT_EQ(rove.Err(), timeout + timeout);
    EXPECT_EQ(rove.Out(), "scalars.label: \n");
}

INSTANTIATE_TEST_SUITE_P(
    RuntimeDirectories, StoppedRegistryTest,
    ::testing::Values(RuntimeDirCase{"Tcp", "", nullptr}, RuntimeDirCase{"LocalSocket", "", ""},
                      RuntimeDirCase{"ToolWithTrailingSlash", "", "/"},
                      RuntimeDirCase{"ServerWithTrailingSlash", "/", ""},
                      RuntimeDirCase{"BothWithSlashes", "//", "/"}),
    [](const ::testing::TestParamInfo<RuntimeDirCase>& info) { return std::string(info.param.name); });

// A signal once the benchmark has begun (its trace scope is open) ends it
// at once: between two calls, and during a call that waits for a stopped
// registry (which would otherwise end at the deadline, with its error).
struct BenchInterruptCase {
    const char* name;
    bool stopRegistry;
};

void PrintTo(const BenchInterruptCase& c, std::ostream* os) { *os << c.name; }

class BenchInterrupt : public ::testing::TestWithParam<BenchInterruptCase> {};

TEST_P(BenchInterrupt, EndsTheRunAtOnce) {
    RegistryServer server(FixturePath("rove-values.yaml"));
    const std::string trace = velnor::test::TempDir() + "/trace";
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    velnor::test::Child rove(
        {velnor::test::BinPath("velnor-rove"), "bench", "--port", server.PortText(), "--debug", trace, "4"}, options);
    ASSERT_TRUE(velnor::test::WaitForFileText(trace, "void Benchmark(mci::Node&): > enter", velnor::test::c_faultBound))
        << rove.Err();
    std::optional<velnor::test::PausedServer> paused;
    if (GetParam().stopRegistry) paused.emplace(server);
    rove.Signal(SIGINT);
    ASSERT_EQ(rove.Wait(velnor::test::c_faultBound), 1) << rove.Err();
    EXPECT_EQ(rove.Err(), "Caught signal during the benchmark\n");
    // Lines already written stay; none is cut.
    std::istringstream lines(rove.Out());
    std::string line;
    for (const std::string label : {"GetValue(std::string)/s: ", "SetValue(int32_t)/s: ", "DumpSubTree * 200: "}) {
        if (!std::getline(lines, line)) break;
        EXPECT_EQ(line.rfind(label, 0), 0u) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, BenchInterrupt,
                         ::testing::Values(BenchInterruptCase{"BetweenCalls", false},
                                           BenchInterruptCase{"WhileARegistryIsStopped", true}),
                         [](const ::testing::TestParamInfo<BenchInterruptCase>& info) {
                             return std::string(info.param.name);
                         });

// A run over many nodes whose registry stops answering once it has begun
// (held on the value of its first write, read from a pipe): the first call
// waits out the deadline, the nodes after it fail at once with the same
// error (ten deadlines would take the run past the bound); with --json a
// signal ends the run at once, also while that first call waits.
struct StoppedRunCase {
    const char* name;
    std::vector<std::string> options;
    bool interrupt;
    std::string out;  // PORT stands for the port
    std::string err;
};

void PrintTo(const StoppedRunCase& c, std::ostream* os) { *os << c.name; }

class RunOverStoppedRegistry : public ::testing::TestWithParam<StoppedRunCase> {};

std::string Times(int n, const std::string& text) {
    std::string all;
    for (int i = 0; i < n; ++i) all += text;
    return all;
}

std::string WithPort(std::string text, const std::string& port) {
    for (std::size_t at = text.find("PORT"); at != std::string::npos; at = text.find("PORT", at + port.size()))
        text.replace(at, 4, port);
    return text;
}

TEST_P(RunOverStoppedRegistry, DoesNotWaitAgain) {
    const StoppedRunCase& c = GetParam();
    RegistryServer server(FixturePath("rove-values.yaml"));
    velnor::test::ValuePipe pipe(velnor::test::TempDir() + "/value");
    std::vector<std::string> args = {velnor::test::BinPath("velnor-rove"), "--port", server.PortText()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back("actions.target=@" + pipe.Path());
    for (int i = 0; i < 9; ++i) args.push_back("scalars.label");
    velnor::test::RunOptions options;
    // A deadline that ten calls in a row would take past the bound.
    options.env = velnor::test::FaultEnvironment({{"VELNOR_CALL_DEADLINE_MS", "4000"}});
    velnor::test::Child rove(args, options);
    ASSERT_TRUE(pipe.WaitForReader(velnor::test::c_faultBound)) << rove.Err();
    const velnor::test::PausedServer paused(server);
    pipe.WriteAndClose("7");
    if (c.interrupt) rove.Signal(SIGINT);
    ASSERT_EQ(rove.Wait(velnor::test::c_faultBound), 1) << "still running; stderr: " << rove.Err();
    EXPECT_EQ(rove.Out(), WithPort(c.out, server.PortText()));
    EXPECT_EQ(rove.Err(), WithPort(c.err, server.PortText()));
}

const std::string c_noAnswer = "Registry at 127.0.0.1:PORT did not answer in time";

INSTANTIATE_TEST_SUITE_P(
    Modes, RunOverStoppedRegistry,
    ::testing::Values(
        StoppedRunCase{"Plain", {}, false, Times(9, "scalars.label: \n"), Times(10, "Error: " + c_noAnswer + "\n")},
        StoppedRunCase{"Json",
                       {"--json"},
                       false,
                       "{\"path\":\"actions.target\",\"error\":\"" + c_noAnswer + "\"}\n" +
                           Times(9, "{\"path\":\"scalars.label\",\"error\":\"" + c_noAnswer + "\"}\n"),
                       ""},
        StoppedRunCase{"JsonInterrupted",
                       {"--json"},
                       true,
                       "",
                       "Caught signal while waiting for the registry at 127.0.0.1:PORT\n"}),
    [](const ::testing::TestParamInfo<StoppedRunCase>& info) { return std::string(info.param.name); });

}  // namespace
