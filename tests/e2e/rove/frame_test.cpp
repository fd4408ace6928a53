// The command frame: command words, help, options, VELNOR_APP_PORT,
// --debug, connection failures, skipped arguments, exit statuses and
// failed writes to standard output.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "rove_case.h"
#include "support/case_name.h"
#include "support/faults.h"
#include "support/server_per_suite.h"

using rove_test::RoveCase;
using velnor::test::BinPath;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;
using velnor::test::RunOptions;
using velnor::test::RunResult;

namespace {

std::string Pad(const std::string& name) { return name + std::string(17 - name.size(), ' '); }

const std::string kGeneralHelp =
    "\n\nAvailable commands: \n"
    "  " + Pad("info") + "   [Print info of the registry nodes.]\n"
    "  " + Pad("dump") + "   [Dump the registry tree.]\n"
    "  " + Pad("access") + "   [Access values of the registry nodes.]\n"
    "  " + Pad("listen") + "   [Listen to the notifications on the registry nodes.]\n"
    "  " + Pad("signal") + "   [Print out signal data.]\n"
    "  " + Pad("save") + "   [Save the writable node values to a snapshot file.]\n"
    "  " + Pad("diff") + "   [Compare a snapshot file with the registry.]\n"
    "  " + Pad("apply") + "   [Set the registry to a snapshot file, checked first.]\n"
    "  " + Pad("browse") + "   [Browse the registry live in the terminal.]\n"
    "\n"
    "\nGeneral HELP:\n"
    "  - Tree nodes are addressed with its 'Full Path' which\n"
    "    is visible in the output of the 'info' command.\n"
    "  - The 'FullPath' is composed by node names divided\n"
    "    only by '.' (dot)\n"
    "  - Setting values can be done only with this syntax:\n"
    "         [nodeFullPath]=[value]\n"
    "         the '=' is mandatory without any space\n"
    "\n\n";

RunResult RunRove(std::vector<std::string> args, const RunOptions& options = {}) {
    args.insert(args.begin(), BinPath("velnor-rove"));
    return velnor::test::Run(args, options);
}

class Frame : public velnor::test::ServerPerSuite<Frame> {
public:
    static constexpr const char* c_tree = "rove-values.yaml";
};

TEST_F(Frame, NoArguments) {
    rove_test::ExpectResult(RunRove({}), "Type 'velnor-rove help' for usage.\n", "", 1);
}

TEST_F(Frame, GeneralHelp) {
    rove_test::ExpectResult(RunRove({"help"}), kGeneralHelp, "", 1);
    rove_test::ExpectResult(RunRove({"help", "help"}), kGeneralHelp, "", 1);
}

TEST_F(Frame, UnknownCommandAfterHelp) {
    rove_test::ExpectResult(RunRove({"help", "bogus"}), "ERROR: Unknown command bogus\n", "", 1);
    rove_test::ExpectResult(RunRove({"help", "4294967297"}), "ERROR: Unknown command 4294967297\n", "", 1);
}

TEST_F(Frame, CommandHelpWithoutOwnOptions) {
    const RunResult access = RunRove({"help", "access"});
    EXPECT_EQ(access.status, 1);
    EXPECT_EQ(access.out.rfind("\nHelp for command: access\n\nGlobal Options: \n", 0), 0u) << access.out;
    EXPECT_EQ(access.out.find("Valid Options: "), std::string::npos);
    EXPECT_NE(access.out.find("Show Examples: \n  Set nodes values\n    velnor-rove access --path=[nodeFullPath]=[value] "
                              "[nodeFullPath]=[value]\n"),
              std::string::npos)
        << access.out;
    const RunResult bench = RunRove({"help", "bench"});
    EXPECT_EQ(bench.status, 1);
    EXPECT_NE(bench.out.find("Help for command: bench\n"), std::string::npos);
    const std::string tail = "Show Examples: \n\n\n";
    EXPECT_EQ(bench.out.substr(bench.out.size() - tail.size()), tail) << bench.out;
}

TEST_F(Frame, CommandHelpWithOwnOptions) {
    const RunResult dump = RunRove({"help", "dump"});
    EXPECT_EQ(dump.status, 1);
    EXPECT_EQ(dump.out.rfind("\nHelp for command: dump\n\nValid Options: \n", 0), 0u) << dump.out;
    for (const char* text : {"How many levels are printed out", "Prints full path of registry nodes.",
                             "-F [ --show-flags ]", "(default=80, 0=unlimited)", "Global Options: \n",
                             "--debug=[fileName or -] [level: 1...4]", "-p [ --port ] arg",
                             "    velnor-rove dump --full-path [nodeFullPath] [nodeFullPath]\n\n"})
        EXPECT_NE(dump.out.find(text), std::string::npos) << text << "\n" << dump.out;
    EXPECT_EQ(dump.out.find("complete"), std::string::npos) << "hidden options stay hidden";
    const RunResult signal = RunRove({"help", "signal"});
    for (const char* text : {"-L [ --loop ] [=arg(=-1)]", "(Event|Now|Lmt|Position|SingleEvent) Default is",
                             "--stat ", "     velnor-rove signal --size=10000000 --stat [signalNodeFullPath]\n"})
        EXPECT_NE(signal.out.find(text), std::string::npos) << text << "\n" << signal.out;
}


class FrameRun : public Frame, public ::testing::WithParamInterface<RoveCase> {};

TEST_P(FrameRun, Run) { rove_test::ExpectRun(*s_server, GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Options, FrameRun,
    ::testing::Values(
        RoveCase{"optionOfOtherCommand", {"info", "--level", "2"}, "", "unrecognised option '--level'\n", 1},
        RoveCase{"noHelpOption", {"dump", "--help"}, "", "unrecognised option '--help'\n", 1},
        RoveCase{"negativeLength",
                 {"info", "--max-length", "-1"},
                 "",
                 "the argument ('-1') for option '--max-length' is invalid\n",
                 1},
        RoveCase{"badPortOption", {"info", "--port", "12ab"}, "", "the argument ('12ab') for option '--port' is invalid\n",
                 1},
        RoveCase{"debugOneValue", {"info", "--debug", "trace.log"}, "required parameter is missing in 'debug'\n", "",
                 1},
        RoveCase{"debugNoValue", {"info", "-d"}, "required parameter is missing in 'debug'\n", "", 1},
        RoveCase{"debugTwice",
                 {"info", "--debug", "a", "--debug", "b"},
                 "",
                 "Non-composing value with multiple occurrences.\n",
                 1},
        RoveCase{"debugBadLevel",
                 {"info", "--debug", "/dev/null", "high"},
                 "",
                 "bad lexical cast: source type value could not be interpreted as target\n",
                 1}),
    velnor::test::NameOfCase());

INSTANTIATE_TEST_SUITE_P(
    Commands, FrameRun,
    ::testing::Values(
        RoveCase{"valueForInfoSkipped",
                 {"info", "scalars.count=1"},
                 "",
                 "WARNING: invalid usage. This command does not support setting value for node. Node path: "
                 "'scalars.count=1'. Ignoring.\n",
                 0},
        RoveCase{"emptyValueForDumpSkipped",
                 {"dump", "scalars.count="},
                 "",
                 "WARNING: invalid usage. This command does not support setting value for node. Node path: "
                 "'scalars.count='. Ignoring.\n",
                 0},
        // A leading "+" is part of a number: +1 is dump (its -l is known), +10 is Now.
        RoveCase{"signedCommandNumber", {"+1", "-l", "0"}, "", "Node not found: +1\n", 1},
        RoveCase{"signedModeNumber", {"signal", "--mode", "+10", "scalars.count"}, "",
                 "signal: not a signal node: rove-host.scalars.count\n", 1},
        RoveCase{"modeNumberTooWide", {"signal", "--mode", "4294967297", "scalars.count"}, "", "Invalid enum value\n",
                 1},
        RoveCase{"modeUnknown", {"signal", "--mode", "Later", "scalars.count"}, "", "Invalid integer value\n", 1},
        RoveCase{"modeAliasLast",
                 {"signal", "--behavior", "Event", "--mode", "Bad", "scalars.count"},
                 "",
                 "Invalid integer value\n",
                 1},
        RoveCase{"signalOnPlainNode", {"signal", "--loop", "--mode", "Lmt", "scalars.count"}, "",
                 "signal: not a signal node: rove-host.scalars.count\n", 1},
        RoveCase{"listenWaitZero",
                 {"listen", "--wait", "0", "scalars.count"},
                 "Listen following nodes: \n\tcount\n",
                 "",
                 0},
        RoveCase{"commandNumberStaysPath", {"2", "scalars.count"}, "", "Node not found: 2\n", 1}),
    velnor::test::NameOfCase());

TEST_F(Frame, WideNumberFallsBackToAccess) {
    // 4294967297 is no command: it is the path of an access read.
    const RunResult r = velnor::test::Rove(*s_server, {"4294967297"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("4294967297"), std::string::npos) << r.err;
}

TEST_F(Frame, LongNeedsValue) {
    rove_test::ExpectResult(RunRove({"--complete", "x", "--long"}), "",
                            "the required argument for option '--long' is missing\n", 1);
}

// (With the port alone, for every command: the fault matrix, e2e/faults.)
TEST_F(Frame, ConnectionBroken) {
    const velnor::test::ReservedPort closed;
    const std::string port = std::to_string(closed.Port());
    rove_test::ExpectResult(RunRove({"dump", "-h", "127.0.0.1", "-p", port, "-P"}), "",
                            "Connection to 127.0.0.1:" + port + "/platform is broken.\n", 1);
}

// An address no registry can have is a failed connection: the frame's own
// words and status 1; completion prints nothing and succeeds.
TEST_F(Frame, UnusableAddressIsABrokenConnection) {
    struct Case {
        std::vector<std::string> args;
        const char* appPort;  // VELNOR_APP_PORT, or null
        std::string out;
        std::string err;
        int status;
    };
    const velnor::test::ReservedPort closed;
    const std::string port = std::to_string(closed.Port());
    const Case cases[] = {
        {{"vals.one"}, "0xffffffff", "", "Connection to :-1/application is broken.\n", 1},
        {{"info", "--port", "70000"}, nullptr, "", "Connection to :70000/application is broken.\n", 1},
        {{"dump", "--host", "127.0.0.1/registry-platform", "--port", port}, nullptr, "",
         "Connection to 127.0.0.1/registry-platform:" + port + "/application is broken.\n", 1},
        {{"dump", "--host", "a,omniunix:/tmp/x"}, nullptr, "", "Connection to a,omniunix:/tmp/x/application is broken.\n",
         1},
        {{"--port", "70000", "--complete", ""}, nullptr, "", "", 0},
        {{"--port", "70000", "--complete", "x", "a.b"}, nullptr, "", "Invalid registry node handle (not connected)\n",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        RunOptions options;
        if (c.appPort) options.env["VELNOR_APP_PORT"] = c.appPort;
        rove_test::ExpectResult(RunRove(c.args, options), c.out, c.err, c.status);
    }
}

TEST_F(Frame, AppPortFromEnvironment) {
    RunOptions options;
    options.env["VELNOR_APP_PORT"] = s_server->PortText();
    rove_test::ExpectResult(RunRove({"scalars.count"}, options), "scalars.count: -7\n", "", 0);
    std::ostringstream hex;
    hex << "0x" << std::hex << s_server->Port();
    options.env["VELNOR_APP_PORT"] = hex.str();
    rove_test::ExpectResult(RunRove({"scalars.count"}, options), "scalars.count: -7\n", "", 0);
    const velnor::test::ReservedPort closed;
    std::ostringstream closedHex;
    closedHex << "0x" << std::hex << closed.Port();
    options.env["VELNOR_APP_PORT"] = closedHex.str();
    rove_test::ExpectResult(RunRove({"info"}, options), "",
                            "Connection to :" + std::to_string(closed.Port()) + "/application is broken.\n", 1);
}

TEST_F(Frame, BadAppPortWarns) {
    struct Case {
        const char* value;
        const char* error;
    };
    const Case cases[] = {
        {"0x", "Bad cast from 0x to int"},
        {"12ab", "Bad cast from 12ab to int"},
        {"0x1fz", "Bad hex cast from 0x1fz to unsigned int"},
        {"0x10,0x20", "Bad hex cast from 0x10,0x20 to unsigned int"},
        {"0x100000000", "Bad hex cast from 0x100000000 to unsigned int"},
        {"", "Bad cast from  to int"},
    };
    for (const auto& c : cases) {
        RunOptions options;
        options.env["VELNOR_APP_PORT"] = c.value;
        const std::string warning = std::string("WARNING: Can't use VELNOR_APP_PORT = ") + c.value + ": " + c.error;
        // --debug with one value stops before connecting.
        rove_test::ExpectResult(RunRove({"info", "--debug", "x"}, options),
                                warning + "\nrequired parameter is missing in 'debug'\n", "", 1);
        // --port still selects the server.
        rove_test::ExpectResult(velnor::test::Rove(*s_server, {"scalars.count"}, options),
                                warning + "\nscalars.count: -7\n", "", 0);
        // With --json standard output holds records only: both lines go to
        // standard error.
        rove_test::ExpectResult(RunRove({"info", "--json", "--debug", "x"}, options), "",
                                warning + "\nrequired parameter is missing in 'debug'\n", 1);
        rove_test::ExpectResult(velnor::test::Rove(*s_server, {"scalars.count", "--json"}, options),
                                "{\"path\":\"scalars.count\",\"type\":\"int32\",\"value\":-7}\n", warning + "\n",
                                0);
    }
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(Frame, TraceLevels) {
    const std::string dir = velnor::test::TempDir();
    struct Case {
        const char* level;
        bool info;     // level 2: connection and selection facts
        bool detail;   // level 3: each access
        bool scopes;   // level 4: function scopes
    };
    for (const Case& c : {Case{"0", false, false, false}, Case{"2", true, false, false}, Case{"3", true, true, false},
                          Case{"4", true, true, true}}) {
        const std::string file = dir + "/trace-" + c.level;
        rove_test::ExpectResult(velnor::test::Rove(*s_server, {"scalars.count", "--debug", file, c.level}),
                                "scalars.count: -7\n", "", 0);
        const std::string trace = Slurp(file);
        EXPECT_EQ(trace.find("connecting to") != std::string::npos, c.info) << c.level << "\n" << trace;
        EXPECT_EQ(trace.find("path: 'scalars.count'") != std::string::npos, c.detail) << c.level << "\n" << trace;
        EXPECT_EQ(trace.find("void ExecuteCommand()") != std::string::npos, c.info || c.scopes) << trace;
        EXPECT_EQ(trace.find("void ValueAccess(const mci::Node&, const std::string&, const std::string&, const "
                             "std::string&)") != std::string::npos,
                  c.detail || c.scopes)
            << trace;
    }
}

// A traced run ends through the normal exit: the destructors of the
// objects that live as long as the process write their scopes too.
TEST_F(Frame, TracedRunWritesTheScopesOfItsEnd) {
    const std::string file = velnor::test::TempDir() + "/trace";
    rove_test::ExpectResult(
        velnor::test::Rove(*s_server, {"listen", "--wait", "0", "scalars.count", "--debug", file, "4"}),
        "Listen following nodes: \n\tcount\n", "", 0);
    const std::string trace = Slurp(file);
    for (const char* scope : {"VelnorRoveListener::VelnorRoveListener(): > enter",
                              "VelnorRoveListener::~VelnorRoveListener(): > enter",
                              "VelnorRoveListener::~VelnorRoveListener(): < exit"})
        EXPECT_NE(trace.find(scope), std::string::npos) << scope << "\n" << trace;
}

TEST_F(Frame, LogErrorReachesTrace) {
    const std::string file = velnor::test::TempDir() + "/trace";
    rove_test::ExpectResult(velnor::test::Rove(*s_server, {"scalars.ucount=-1", "-d", file, "1"}), "",
                            "Error: Bad cast from -1 to unsigned int\n", 1);
    const std::string trace = Slurp(file);
    EXPECT_NE(trace.find("void istd::LogError(const std::string&)"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Bad cast from -1 to unsigned int"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("connecting to"), std::string::npos) << trace;
}

TEST_F(Frame, VersionMarkersMatchRecord) {
    const std::string binary = Slurp(BinPath("velnor-rove"));
    const char* keys[] = {"MCIVersion", "MCISvnRevision", "MCIBuildCompiler", "MCIBuildMachine", "MCIBuildTime",
                          "MCIBuildUser"};
    std::vector<std::string> values;
    std::size_t from = 0;
    for (const char* key : keys) {
        const std::string head = std::string("$") + key + ": ";
        const std::size_t at = binary.find(head, from);
        ASSERT_NE(at, std::string::npos) << key << " missing or out of order";
        EXPECT_EQ(binary.find(head, at + 1), std::string::npos) << key << " more than once";
        const std::size_t end = binary.find(" $", at);
        values.push_back(binary.substr(at + head.size(), end - at - head.size()));
        from = end;
    }
    EXPECT_EQ(values[0], "2.8-167--r20437");
    EXPECT_EQ(values[1], "20437");
    EXPECT_TRUE(rove_test::MatchesShape(values[4], "9999/99/99 99:99:99")) << values[4];

    // The record registered before main carries the same values.
    const std::string file = velnor::test::TempDir() + "/trace";
    velnor::test::Rove(*s_server, {"scalars.count", "--debug", file, "2"});
    const std::string expected = "velnor-rove " + values[0] + ", built " + values[4] + " by " + values[5] + " on " +
                                 values[3] + " with " + values[2];
    EXPECT_NE(Slurp(file).find(expected), std::string::npos) << expected << "\n" << Slurp(file);
}

// A write to standard output that fails is an error, never a silent success.
// (A closed or full output for every command: the fault matrix, e2e/faults.)
TEST_F(Frame, StandardOutputFailures) {
    // A pipe whose reader is gone before the tool writes.
    const std::string script =
        "import os,subprocess,sys\n"
        "r,w=os.pipe()\nos.close(r)\n"
        "p=subprocess.run(sys.argv[1:],stdout=w,stderr=subprocess.PIPE)\n"
        "sys.stderr.write(p.stderr.decode())\nsys.exit(p.returncode)\n";
    rove_test::ExpectResult(
        velnor::test::Run({"/usr/bin/python3", "-c", script, BinPath("velnor-rove"), "dump", "--port", s_server->PortText()}), "",
        "Can't write to standard output: Broken pipe\n", 1);
}

// A standard descriptor closed at start stays closed for the command: no
// file opened later takes its number, so "@-" does not read the ORB's own
// pipe (for ever) and output does not go into it. (A closed input or output
// for every command: the fault matrix, e2e/faults.)
TEST(FrameClosedDescriptors, BehaveAsClosed) {
    RegistryServer server(FixturePath("rove-values.yaml"));
    const std::string rove = BinPath("velnor-rove") + " --port " + server.PortText() + " ";
    struct Case {
        std::string command;
        std::string out;
        std::string err;
        int status;
    };
    const Case cases[] = {
        {"arrays.ints=@- <&-", "", "Error: Can't read value from file -\n", 1},
        {"nosuch 2>&-", "", "", 1},
        {"scalars.label=@- <&- 2>&-", "", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        RunOptions options;
        options.timeout = std::chrono::seconds(30);  // only stops a run that never ends
        rove_test::ExpectResult(velnor::test::Run({"/bin/sh", "-c", rove + c.command}, options), c.out, c.err,
                                c.status);
    }
    EXPECT_EQ(rove_test::Read(server, "scalars.label"), "scalars.label: hello world\n");
    EXPECT_EQ(rove_test::Read(server, "arrays.ints"), "arrays.ints: [1,2,3,4]\n");
}

// The cause reported is the one of the write that failed (here the first
// one, the VELNOR_APP_PORT warning), whatever the command did after it.
TEST_F(Frame, FailedWarningReportsItsOwnCause) {
    const std::string port = " --port " + s_server->PortText();
    const std::string full = "Can't write to standard output: No space left on device\n";
    const velnor::test::ReservedPort closed;
    const std::string closedPort = std::to_string(closed.Port());
    struct Case {
        std::string args;
        std::string err;
    };
    const Case cases[] = {
        {"dump" + port, full},
        {"access scalars.count" + port, full},
        {"access arrays.one=5" + port, full},
        {"listen --wait 0 scalars.count" + port, full},
        {"--complete ''" + port, full},
        {"info --port " + closedPort, "Connection to :" + closedPort + "/application is broken.\n" + full},
        {"help", full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        RunOptions options;
        options.env["VELNOR_APP_PORT"] = "12ab";
        rove_test::ExpectResult(
            velnor::test::Run({"/bin/sh", "-c", BinPath("velnor-rove") + " " + c.args + " >/dev/full"}, options), "",
            c.err, 1);
    }
}

}  // namespace
