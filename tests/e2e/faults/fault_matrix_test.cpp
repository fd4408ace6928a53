// The fault matrix: every command of velnor-rove against every fault a run
// can meet, from a registry that never started to a closed standard input.
// Each run must end by itself within the wide bound of support/faults.h
// (the runs get the short call deadline, so a stopped registry costs them
// about a second a call), with the status and the one line naming the
// cause that the table gives, and with whole lines of output. A write the
// tool refuses changes nothing on the server.
//
// A fault "during" a run strikes once the run has connected and is held in
// its work: writing a text longer than a pipe holds to an output this test
// does not read yet (with more nodes to go), reading its value from a pipe
// or from standard input, inside the benchmark, or after its first lines
// with more to come.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/faults.h"

namespace {

using velnor::test::c_faultBound;
using velnor::test::Descriptor_e;
using velnor::test::RegistryServer;

enum class Fault_e {
    eNoServer,         // no registry ever listened on the port
    eKilledBefore,     // SIGKILL before the run (its socket file stays behind)
    eKilledDuring,     // SIGKILL while the run is held
    eStoppedDuring,    // SIGSTOP while the run is held (SIGCONT after it ended)
    eRestartedDuring,  // SIGTERM and a new registry on the same port while the run is held
    eOutputClosed,     // standard output closed at start
    eOutputFull,       // standard output on /dev/full
    eInputClosed,      // standard input closed at start
};
constexpr int c_faults = 8;
const char* const c_faultNames[c_faults] = {"noServer",         "killedBefore", "killedDuring", "stoppedDuring",
                                            "restartedDuring", "outputClosed", "outputFull",   "inputClosed"};

bool IsDuring(Fault_e f) {
    return f == Fault_e::eKilledDuring || f == Fault_e::eStoppedDuring || f == Fault_e::eRestartedDuring;
}

// Where a run is held while a fault "during" strikes.
enum class Hold_e {
    eBulkOutput,    // writing the bulk text (4 MiB) to its output; later nodes to go
    eValuePipe,     // reading the value of "@PIPE"
    eValueInput,    // reading the value of "@-" (seen in the trace)
    eBenchmark,     // in the benchmark's loops (seen in the trace)
    eFirstLine,     // printed its first line; more than a pipe holds to come
    eNotification,  // printed a notification, listening on
    eNone,          // the run connects and answers in one go: a stop strikes before
                    // it starts, a kill or restart has no moment to strike in
};

// How standard output is checked.
enum class Out_e {
    eNothing,  // empty
    eText,     // exactly Outcome::text
    eBefore,   // whole lines (blocks) of the command's output, as far as it came
    eNormal,   // the command's whole output
};

// What the shape checks of eBefore and eNormal look for.
enum class Shape_e { eText, eListen, eNumbers, eBench };

// The value of "label" after the run (writes only).
enum class Label_e { eUnchecked, eKept, eChanged };

struct Outcome {
    int status = -1;  // -1: the cell does not exist (see Hold_e::eNone)
    std::string err;  // exactly; PORT stands for the port
    // Where two texts are right, depending on a race the test does not
    // decide: the other one (PORT as in err).
    std::string otherErr;
    Out_e out = Out_e::eNothing;
    std::string text;  // Out_e::eText; BULK stands for the bulk text
    Label_e label = Label_e::eUnchecked;
};

struct Row {
    const char* name;
    std::vector<std::string> args;  // PIPE and TRACE stand for the value pipe and the trace file
    Hold_e hold;
    Shape_e shape;
    std::size_t block;  // eNumbers: output lines per block
    std::size_t whole;  // eNumbers: lines of the whole output
    Outcome outcomes[c_faults];
};

const std::string c_bulkStart = "0123456789abcdef";
const std::string c_newLabel = "changed";

const std::string& Bulk() {
    static const std::string bulk = [] {
        std::string text;
        while (text.size() < (4u << 20)) text += c_bulkStart;
        return text;
    }();
    return bulk;
}

// ---------------------------------------------------------------- outcomes

Outcome NotApplicable() { return {}; }
Outcome Fails(std::string err, Out_e out = Out_e::eNothing, std::string text = {}) {
    return {1, std::move(err), {}, out, std::move(text)};
}
Outcome Broken() { return Fails("Connection to :PORT/application is broken.\n"); }
Outcome Ends(Out_e out, std::string text = {}) { return {0, "", {}, out, std::move(text)}; }
Outcome Writes(Label_e label, int status = 0, std::string err = {}) {
    return {status, std::move(err), {}, Out_e::eNothing, {}, label};
}
Outcome CantWrite(Fault_e fault, const char* prefix = "") {
    return Fails(std::string(prefix) + "Can't write to standard output: " +
                 (fault == Fault_e::eOutputClosed ? "Bad file descriptor" : "No space left on device") + "\n");
}

const std::string c_unreachable = "Registry at 127.0.0.1:PORT is not reachable\n";
const std::string c_noAnswer = "Registry at 127.0.0.1:PORT did not answer in time\n";
// A signal read that loses its registry: the reader's error, then the cause.
const std::string c_streamLost = "Error: Interrupted read from flowing signal. Error: -6 (remote access failed)";
const std::string c_dodLost = "Error: Can't read events signal. Error: -6 (remote access failed)";

std::string Info(const std::string& name, const std::string& value) {
    const std::string ruler = "---------------------------------------------------\n";
    return ruler + "   Registry hostname    : fault-host\n" + "   Node name            : " + name + "\n" +
           "   Value                : " + value + "\n" + "   Value type           : string\n" +
           "   Validator expression : \n" + "   Num of values        : 1\n" + "   Full path            : " + name +
           "\n" + "   Num of children      : 0\n" + "   Flags                : readable writable\n" +
           "   Root                 : false\n" + "   Parent node name     : No parent for this node\n" +
           "   Children             : No children for this node\n" + ruler;
}

// A signal read: lost with `lost` and the cause when its registry goes, cut
// by a failed write. A restart is met in the gap between the two
// registries, or by the new one, which knows nothing of the read.
Row SignalRow(const char* name, std::vector<std::string> args, std::size_t block, std::size_t whole,
              const std::string& lost) {
    Outcome restarted = Fails(lost + ": " + c_unreachable, Out_e::eBefore);
    restarted.otherErr = lost + "\n";
    return Row{name, std::move(args), Hold_e::eFirstLine, Shape_e::eNumbers, block, whole,
               {Broken(), Broken(), Fails(lost + ": " + c_unreachable, Out_e::eBefore),
                Fails(lost + ": " + c_noAnswer, Out_e::eBefore), restarted, CantWrite(Fault_e::eOutputClosed, "Error: "),
                CantWrite(Fault_e::eOutputFull, "Error: "), Ends(Out_e::eNormal)}};
}

std::vector<std::string> Dod(std::vector<std::string> mode) {
    std::vector<std::string> args = {"signal", "--csv", "--size", "2000", "--loop", "40"};
    args.insert(args.end(), mode.begin(), mode.end());
    args.push_back("events");
    return args;
}

Row WriteRow(const char* name, const char* value, Hold_e hold, Outcome inputClosed) {
    std::vector<std::string> args = {"access", std::string("label=") + value};
    if (hold == Hold_e::eValueInput) args.insert(args.end(), {"--debug", "TRACE", "4"});
    return Row{name, std::move(args), hold, Shape_e::eText, 0, 0,
               // Gone or stopped, the registry answers no write. A write that
               // got no answer may still land when a stopped registry resumes.
               {Broken(), Broken(), Fails("Error: " + c_unreachable), Fails("Error: " + c_noAnswer),
                Writes(Label_e::eChanged), Writes(Label_e::eChanged), Writes(Label_e::eChanged), inputClosed}};
}

// The outcome columns, in the order of Fault_e: noServer, killedBefore,
// killedDuring, stoppedDuring, restartedDuring, outputClosed, outputFull,
// inputClosed. Where a fault does not touch what a command does (a closed
// input for all but "@-", a closed output for a write), the run gives its
// normal result.
const std::vector<Row>& Matrix() {
    static const std::vector<Row> rows = {
        {"accessRead", {"access", "bulk", "label", "label"}, Hold_e::eBulkOutput, Shape_e::eText, 0, 0,
         // Access errors go on with the next path.
         {Broken(), Broken(),
          Fails("Error: " + c_unreachable + "Error: " + c_unreachable, Out_e::eText, "bulk: BULK\nlabel: \nlabel: \n"),
          Fails("Error: " + c_noAnswer + "Error: " + c_noAnswer, Out_e::eText, "bulk: BULK\nlabel: \nlabel: \n"),
          Ends(Out_e::eText, "bulk: BULK\nlabel: kept\nlabel: kept\n"), CantWrite(Fault_e::eOutputClosed),
          CantWrite(Fault_e::eOutputFull), Ends(Out_e::eText, "bulk: \nlabel: kept\nlabel: kept\n")}},
        WriteRow("accessWrite", "@PIPE", Hold_e::eValuePipe, Writes(Label_e::eChanged)),
        // A closed standard input is no empty value: nothing is written.
        WriteRow("accessWriteInput", "@-", Hold_e::eValueInput,
                 Writes(Label_e::eKept, 1, "Error: Can't read value from file -\n")),
        {"info", {"info", "-m", "0", "bulk", "label"}, Hold_e::eBulkOutput, Shape_e::eText, 0, 0,
         {Broken(), Broken(), Fails(c_unreachable, Out_e::eText, Info("bulk", "BULK")),
          Fails(c_noAnswer, Out_e::eText, Info("bulk", "BULK")),
          Ends(Out_e::eText, Info("bulk", "BULK") + Info("label", "kept")), CantWrite(Fault_e::eOutputClosed),
          CantWrite(Fault_e::eOutputFull),
          Ends(Out_e::eText, Info("bulk", "No value for this node") + Info("label", "kept"))}},
        {"dump", {"dump", "-m", "0", "bulk", "label"}, Hold_e::eBulkOutput, Shape_e::eText, 0, 0,
         {Broken(), Broken(), Fails(c_unreachable, Out_e::eText, "bulk [string] = BULK\n"),
          Fails(c_noAnswer, Out_e::eText, "bulk [string] = BULK\n"),
          Ends(Out_e::eText, "bulk [string] = BULK\nlabel [string] = kept\n"), CantWrite(Fault_e::eOutputClosed),
          CantWrite(Fault_e::eOutputFull), Ends(Out_e::eText, "bulk [string] = \nlabel [string] = kept\n")}},
        // Without --ping the connection is not watched: the wait runs its
        // time, whatever became of the registry, and ends with status 0.
        {"listen", {"listen", "--wait", "3", "ticker"}, Hold_e::eNotification, Shape_e::eListen, 0, 0,
         {Broken(), Broken(), Ends(Out_e::eBefore), Ends(Out_e::eBefore), Ends(Out_e::eBefore),
          CantWrite(Fault_e::eOutputClosed), CantWrite(Fault_e::eOutputFull), Ends(Out_e::eNormal)}},
        SignalRow("stream", {"signal", "--csv", "--size", "60000", "flowing"}, 1, 60000, c_streamLost),
        SignalRow("dodNow", Dod({"--mode", "Now"}), 2000, 80000, c_dodLost),
        SignalRow("dodLmt", Dod({"--mode", "Lmt", "--lmt", "50"}), 2000, 80000, c_dodLost),
        SignalRow("dodPosition", Dod({"--mode", "Position", "--offset", "5"}), 2000, 80000, c_dodLost),
        SignalRow("dodEvent", Dod({"--mode", "Event"}), 2000, 80000, c_dodLost),
        SignalRow("dodSingleEvent", Dod({"--mode", "SingleEvent"}), 2000, 80000, c_dodLost),
        {"bench", {"bench", "--debug", "TRACE", "4"}, Hold_e::eBenchmark, Shape_e::eBench, 0, 0,
         {Broken(), Broken(), Fails(c_unreachable, Out_e::eBefore), Fails(c_noAnswer, Out_e::eBefore),
          // The calls in the gap between the two registries find none.
          Fails(c_unreachable, Out_e::eBefore), CantWrite(Fault_e::eOutputClosed),
          CantWrite(Fault_e::eOutputFull), Ends(Out_e::eNormal)}},
        // Completion prints nothing when it cannot connect, and succeeds. It
        // connects and answers in one go: stopped, the registry is stopped
        // from the start (the connection times out); a kill or a restart has
        // no moment inside the run to strike in, and no cell.
        {"complete", {"--complete", ""}, Hold_e::eNone, Shape_e::eText, 0, 0,
         {Ends(Out_e::eNothing), Ends(Out_e::eNothing), NotApplicable(), Ends(Out_e::eNothing), NotApplicable(),
          CantWrite(Fault_e::eOutputClosed), CantWrite(Fault_e::eOutputFull),
          Ends(Out_e::eText, "\"app-name\" \"tracing.\" \"label\" \"bulk\" \"ticker\" \"events\" \"flowing\" \n")}},
    };
    return rows;
}

// ---------------------------------------------------------------- checks

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void ExpectMatching(const std::vector<std::string>& lines, std::size_t from, const std::regex& pattern) {
    for (std::size_t i = from; i < lines.size(); ++i)
        ASSERT_TRUE(std::regex_match(lines[i], pattern)) << "line " << i << ": " << lines[i];
}

// Whole lines of the command's output; with `whole`, all of it.
void ExpectShape(const Row& row, const std::string& out, bool whole) {
    ASSERT_TRUE(out.empty() || out.back() == '\n') << "a cut line at the end";
    const std::vector<std::string> lines = Lines(out);
    switch (row.shape) {
        case Shape_e::eText: FAIL() << "checked as text"; break;
        case Shape_e::eListen:
            ASSERT_GE(lines.size(), whole ? 3u : 2u) << out;
            EXPECT_EQ(lines[0], "Listen following nodes: ");
            EXPECT_EQ(lines[1], "\tticker");
            ExpectMatching(lines, 2, std::regex("fault-host\\.ticker=[0-9]+"));
            break;
        case Shape_e::eNumbers:
            EXPECT_EQ(lines.size() % row.block, 0u) << "a cut block";
            if (whole) {
                EXPECT_EQ(lines.size(), row.whole);
            }
            ExpectMatching(lines, 0, std::regex("[0-9]+"));
            break;
        case Shape_e::eBench: {
            const char* const labels[] = {"GetValue\\(std::string\\)/s: ", "SetValue\\(int32_t\\)/s: ",
                                          "DumpSubTree \\* 200: "};
            ASSERT_LE(lines.size(), 3u) << out;
            if (whole) {
                EXPECT_EQ(lines.size(), 3u) << out;
            }
            for (std::size_t i = 0; i < lines.size(); ++i)
                EXPECT_TRUE(std::regex_match(lines[i], std::regex(std::string(labels[i]) + "[0-9]+\\.[0-9]{6}")))
                    << lines[i];
            break;
        }
    }
}

void ExpectOutput(const Row& row, const Outcome& o, const std::string& out) {
    switch (o.out) {
        case Out_e::eNothing: EXPECT_EQ(out, ""); break;
        // Compared without the bulk text, which would flood the report.
        case Out_e::eText: EXPECT_EQ(Replace(out, Bulk(), "BULK"), o.text); break;
        case Out_e::eBefore: ExpectShape(row, out, false); break;
        case Out_e::eNormal: ExpectShape(row, out, true); break;
    }
}

// ---------------------------------------------------------------- the run

struct Cell {
    const Row* row;
    Fault_e fault;
};

void PrintTo(const Cell& c, std::ostream* os) { *os << c.row->name << "_" << c_faultNames[int(c.fault)]; }

std::vector<Cell> Cells() {
    std::vector<Cell> cells;
    for (const Row& row : Matrix())
        for (int f = 0; f < c_faults; ++f)
            if (row.outcomes[f].status >= 0) cells.push_back(Cell{&row, static_cast<Fault_e>(f)});
    return cells;
}

std::vector<std::string> Arguments(const Row& row, int port, const std::string& pipe, const std::string& trace) {
    std::vector<std::string> argv = {velnor::test::BinPath("velnor-rove")};
    for (const std::string& a : row.args) argv.push_back(Replace(Replace(a, "PIPE", pipe), "TRACE", trace));
    argv.insert(argv.end(), {"--port", std::to_string(port)});
    return argv;
}

velnor::test::RunOptions OptionsFor(const Row& row, Fault_e fault) {
    velnor::test::RunOptions options;
    options.env = velnor::test::FaultEnvironment();
    options.timeout = c_faultBound;
    if (fault == Fault_e::eInputClosed) options.in = Descriptor_e::eClosed;
    if (fault == Fault_e::eOutputClosed) options.out = Descriptor_e::eClosed;
    if (fault == Fault_e::eOutputFull) options.out = Descriptor_e::eDevFull;
    if (row.hold == Hold_e::eValueInput) {
        options.input = c_newLabel;
        options.holdInput = IsDuring(fault);
    }
    return options;
}

std::string Read(const RegistryServer& server, const std::string& path) {
    return velnor::test::Rove(server, {"access", path}).out;
}

// The bulk node gets its text before the run.
void WriteBulk(const RegistryServer& server) {
    const std::string file = velnor::test::TempDir() + "/bulk";
    std::ofstream(file) << Bulk();
    const velnor::test::RunResult r = velnor::test::Rove(server, {"access", "bulk=@" + file});
    ASSERT_EQ(r.status, 0) << r.err;
}

// Waits until the run is held where the fault is to strike.
bool Hold(const Row& row, velnor::test::Child& rove, velnor::test::ValuePipe& pipe, const std::string& trace) {
    switch (row.hold) {
        case Hold_e::eBulkOutput: return rove.WaitForOutput(c_bulkStart, c_faultBound);
        case Hold_e::eValuePipe: return pipe.WaitForReader(c_faultBound);
        case Hold_e::eValueInput:
            return velnor::test::WaitForFileText(trace, "std::string ReadFile(const std::string&): > enter",
                                                 c_faultBound);
        case Hold_e::eBenchmark:
            return velnor::test::WaitForFileText(trace, "void Benchmark(mci::Node&): > enter", c_faultBound);
        case Hold_e::eFirstLine: return rove.WaitForOutput("\n", c_faultBound);
        case Hold_e::eNotification: return rove.WaitForOutput("fault-host.ticker=", c_faultBound);
        case Hold_e::eNone: return true;
    }
    return false;
}

// Gives the value pipe its value once the run opens it, unless the run ends first.
void FeedPipe(velnor::test::Child& rove, velnor::test::ValuePipe& pipe) {
    while (rove.Running()) {
        if (pipe.WaitForReader(std::chrono::milliseconds(20))) {
            pipe.WriteAndClose(c_newLabel);
            return;
        }
    }
}

class FaultMatrix : public ::testing::TestWithParam<Cell> {};

TEST_P(FaultMatrix, EndsByItselfWithItsOutcome) {
    const Row& row = *GetParam().row;
    const Fault_e fault = GetParam().fault;
    const Outcome& expected = row.outcomes[int(fault)];

    std::optional<velnor::test::ReservedPort> reserved;
    std::unique_ptr<RegistryServer> server;
    if (fault == Fault_e::eNoServer)
        reserved.emplace();
    else
        server = std::make_unique<RegistryServer>(velnor::test::FixturePath("fault-matrix.yaml"));
    const int port = reserved ? reserved->Port() : server->Port();
    if (IsDuring(fault) && row.hold == Hold_e::eBulkOutput) {
        ASSERT_NO_FATAL_FAILURE(WriteBulk(*server));
    }
    if (fault == Fault_e::eKilledBefore) server->Kill();
    // Declared after the server: resumed before it is stopped.
    std::optional<velnor::test::PausedServer> paused;
    if (fault == Fault_e::eStoppedDuring && row.hold == Hold_e::eNone) paused.emplace(*server);

    const std::string dir = velnor::test::TempDir();
    velnor::test::ValuePipe pipe(dir + "/value");
    const std::string trace = dir + "/trace";
    const auto start = std::chrono::steady_clock::now();
    velnor::test::Child rove(Arguments(row, port, pipe.Path(), trace), OptionsFor(row, fault));
    if (IsDuring(fault) && row.hold != Hold_e::eNone) {
        ASSERT_TRUE(Hold(row, rove, pipe, trace)) << "never held: " << rove.Err();
        if (fault == Fault_e::eKilledDuring) server->Kill();
        if (fault == Fault_e::eStoppedDuring) paused.emplace(*server);
        if (fault == Fault_e::eRestartedDuring) server->Restart();
        if (row.hold == Hold_e::eValueInput) rove.CloseInput(c_newLabel);
    }
    if (row.hold == Hold_e::eValuePipe) FeedPipe(rove, pipe);
    const int status = rove.Wait(c_faultBound);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("seconds", std::to_string(seconds));
    paused.reset();

    ASSERT_NE(status, -1) << "still running after " << c_faultBound.count() << " s; stderr: " << rove.Err();
    EXPECT_EQ(status, expected.status);
    if (expected.otherErr.empty() || rove.Err() != Replace(expected.otherErr, "PORT", std::to_string(port))) {
        EXPECT_EQ(rove.Err(), Replace(expected.err, "PORT", std::to_string(port)));
    }
    ExpectOutput(row, expected, rove.Out());
    if (expected.label != Label_e::eUnchecked) {
        EXPECT_EQ(Read(*server, "label"),
                  "label: " + (expected.label == Label_e::eKept ? std::string("kept") : c_newLabel) + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, ::testing::ValuesIn(Cells()),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                             return std::string(info.param.row->name) + "_" + c_faultNames[int(info.param.fault)];
                         });

}  // namespace
