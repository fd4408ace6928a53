// The command frame: option processing, connection, node selection and the
// handler calls of one run.
#include "rove_frame.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/lexical_cast.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/positional_options.hpp>
#include <boost/program_options/value_semantic.hpp>
#include <boost/program_options/variables_map.hpp>

#include "istd/convert.h"
#include "istd/exception.h"
#include "istd/log.h"
#include "istd/trace_statement.h"
#include "istd/verinfo.h"
#include "rove_glob.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_output.h"
#include "rove_params.h"
#include "rove_signal.h"
#include "rove_values.h"
#include "signal_views/views.h"
#include "velnor-rove-listener.h"
#include "velnor-rove-signal-handler.h"

namespace po = boost::program_options;

namespace {

// Access arguments that failed in this run; any of them makes the exit status 1.
unsigned g_failedAccesses = 0;
// The exit status a snapshot command gave (save, diff, apply).
int g_snapshotStatus = 0;
// The entry of browse, given by the program, and the status it gave.
BrowseEntry g_browseEntry = nullptr;
int g_browseStatus = 0;

// Standard output must hold everything the command wrote: a full disk or a
// closed pipe is a failure, not a success.
void CheckStandardOutput() {
    if (rove_output::Good()) return;
    rove_output::NoteFailureReported();
    throw istd::Exception(rove_output::FailureText(), true);
}

std::int32_t PortFromText(const std::string& text) {
    if (istd::HasHexPrefix(text)) return static_cast<std::int32_t>(istd::HexTo<std::uint32_t>(text));
    return istd::DecimalTo<std::int32_t>(text);
}

// The port of VELNOR_APP_PORT into g_params; the warning about a value
// that is no port, or an empty text.
std::string ReadPortFromEnvironment() {
    const char* text = std::getenv("VELNOR_APP_PORT");
    if (!text) return std::string();
    try {
        g_params.port = PortFromText(text);
    } catch (const std::exception& e) {
        g_params.port = 0;
        return std::string("WARNING: Can't use VELNOR_APP_PORT = ") + text + ": " + e.what();
    }
    return std::string();
}

// A line that goes to standard output in the plain mode (where scripts of
// old look for it); with --json that output holds records only, and the
// line goes to standard error.
void WriteNotice(const std::string& line, bool json) {
    (json ? std::cerr : std::cout) << line << std::endl;
}

void WriteDefaults() {
    g_params.level = -1;
    g_params.dumpFlags = 0;
    g_params.waitTime = -1;
    g_params.pingPeriod = 0;
    g_params.format = eFormatText;
    g_params.offset = 0;
    g_params.size = 1;
    g_params.queueSize = 0;
    g_params.loop = 1;
    g_params.timeout = 0;
    g_params.lmt = 0;
    g_params.mode = "Now";
    g_params.header = false;
    g_params.verbose = false;
    g_params.quiet = false;
    g_params.maxLength = 80;
    g_params.json = g_params.glob = g_params.all = false;
    g_params.listenTime = g_params.initial = g_params.hasUntil = false;
    g_params.count = 0;
    g_params.until.clear();
}

// False when the --debug values are incomplete.
bool StartTracing(const po::variables_map& vm) {
    if (!vm.count("debug")) return true;
    if (g_debug.size() != 2) {
        WriteNotice("required parameter is missing in 'debug'", vm.count("json") > 0);
        return false;
    }
    istd::TraceFile& trace = istd::TraceFile::GetInstance();
    istd::TraceFile::Init(g_debug[0], "");
    trace.Start(boost::lexical_cast<int>(g_debug[1]));
    const istd::VersionRecord& v = istd::VerInfo::Get();
    ISTD_TRACE(2, "bool StartTracing(const boost::program_options::variables_map&)", c_traceFile,
               "velnor-rove " << istd::VerInfo::VersionText() << ", built " << v.buildTime << " by " << v.user
                              << " on " << v.machine << " with " << v.compiler);
    return true;
}

void ApplySwitches(const po::variables_map& vm) {
    if (vm.count("application")) g_params.root = mci::eApplicationRoot;
    if (vm.count("platform")) g_params.root = mci::ePlatformRoot;
    if (vm.count("header")) g_params.header = true;
    if (vm.count("verbose")) g_params.header = g_params.verbose = true;
    if (vm.count("quiet")) g_params.quiet = true;
    if (vm.count("full-path")) g_params.dumpFlags |= eDumpFullPath;
    if (vm.count("show-flags")) g_params.dumpFlags |= eDumpShowFlags;
    if (vm.count("compact")) g_params.dumpFlags |= eDumpCompact;
    if (vm.count("dry-run")) g_params.dryRun = true;
    if (vm.count("force")) g_params.force = true;
    if (vm.count("read-only")) g_params.readOnly = true;
    if (vm.count("mouse")) g_params.mouse = true;
    ApplyScriptingSwitches(vm);
    if (vm.count("binary")) {
        g_params.format = eFormatBinary;
    } else if (vm.count("csv")) {
        g_params.format = eFormatCsv;
    } else if (vm.count("stat")) {
        g_params.format = eFormatStat;
        g_params.verbose = true;
    }
    if (g_params.command == eSignal) signal_views::ApplyOptions(vm);
}

std::string BrokenConnectionText() {
    std::ostringstream text;
    text << "Connection to " << g_params.host;
    if (g_params.port != 0) text << ":" << istd::ToString(g_params.port);
    text << "/" << g_params.root << " is broken.";
    return text.str();
}

// The nodes selected by the path arguments, with their path, value and index.
struct Selection {
    std::vector<mci::Node> nodes;
    std::vector<std::string> paths;
    std::vector<std::string> values;
    std::vector<std::string> indexes;
    // --json: why a path could not be resolved (empty when it was); the run
    // goes on with the next path.
    std::vector<std::string> errors;
};

// signal --json writes records on standard error: its warnings and errors
// are records there too.
bool DiagnosticRecords() { return g_params.json && g_params.command == eSignal; }

void WarnSkipped(const char* reason, const std::string& argument) {
    const std::string text = std::string("invalid usage. ") + reason;
    if (DiagnosticRecords())
        rove_json::WriteDiagnostic(rove_json::Json{{"path", argument}, {"warning", text + " Ignoring."}});
    else
        std::cerr << "WARNING: " << text << " Node path: '" << argument << "'. Ignoring." << std::endl;
}

// A failure that ends the run, on standard error.
void ReportFailure(const std::string& text) {
    std::cout.flush();
    if (DiagnosticRecords())
        rove_json::WriteDiagnostic(rove_json::Json{{"error", text}});
    else
        std::cerr << text << std::endl;
}

// --json gives records for these commands; signal keeps its data formats
// (only its diagnostics become records) and bench its lines.
bool JsonRecords() {
    return g_params.json && (g_params.command == eInfo || g_params.command == eDump ||
                             g_params.command == eAccess || g_params.command == eListen);
}

// Without --json the first unknown path ends the run; with it, the path
// keeps its place with the error text.
mci::Node ResolveNode(const mci::Node& root, const std::string& path, std::string& error) {
    if (!JsonRecords()) return root.GetNode(mci::Tokenize(path));
    try {
        return root.GetNode(mci::Tokenize(path));
    } catch (const istd::Exception& e) {
        error = e.what();
        return mci::Node();
    }
}

void AddEntry(Selection& s, mci::Node node, std::string path, const AccessArgument& a, std::string error) {
    s.nodes.push_back(std::move(node));
    s.paths.push_back(std::move(path));
    s.values.push_back(a.value);
    s.indexes.push_back(a.index);
    s.errors.push_back(std::move(error));
}

// One node a pattern selected, with its path as the tool takes it.
struct PatternMatch {
    mci::Node node;
    std::string path;
};

// A write or function run through a pattern happens on every match or on
// none: each match is checked before anything is written.
void CheckAllAccept(const std::vector<PatternMatch>& matches, const AccessArgument& a) {
    const bool execute = IsExec(a.index);
    for (const auto& m : matches) {
        // The root's path is empty: messages name it.
        const std::string shown = m.path.empty() ? "(the root)" : m.path;
        if (execute && !m.node.IsExecutable()) throw istd::Exception("Node " + shown + " is not executable", true);
        if (!execute) CheckValueWrite(m.node, shown, a.value, a.index);
    }
}

// --glob: the matches of a pattern take its place, each with the pattern's
// index part and value. A pattern that fails ends the run as an unknown path
// does (with --json: its error record).
void AddPatternMatches(const mci::Node& root, const AccessArgument& a, Selection& s) {
    // A refused write reads as on a plain path ("Error: " and the reason); a
    // pattern without a match as an unknown path.
    bool refusal = true;
    try {
        const bool execute = IsExec(a.index);
        const bool writes = g_params.command == eAccess && (!a.value.empty() || execute);
        if (writes && !g_params.all) throw istd::Exception("Patterns are not allowed in writes", true);
        // Standard input can be read once only, not once per match.
        if (writes && a.value == "@-")
            throw istd::Exception("A value from standard input (@-) cannot be written through a pattern", true);
        refusal = false;
        std::vector<PatternMatch> matches;
        for (const auto& path : ExpandPattern(root, a.path)) matches.push_back({root.GetNode(path), mci::ToString(path)});
        refusal = true;
        if (writes) CheckAllAccept(matches, a);
        for (const auto& m : matches) AddEntry(s, m.node, m.path, a, std::string());
    } catch (const istd::Exception& e) {
        if (JsonRecords()) {
            AddEntry(s, mci::Node(), a.path, a, e.what());
            return;
        }
        if (refusal) throw istd::Exception("Error: " + std::string(e.what()), true);
        throw;
    }
}

Selection SelectNodes(const mci::Node& root) {
    Selection s;
    if (g_params.paths.empty()) {
        s.nodes.push_back(root);
        // JSON paths are the ones the tool takes back: the root is "".
        s.paths.push_back(JsonRecords() ? std::string() : root.GetName());
        s.values.emplace_back();
        s.indexes.emplace_back();
        s.errors.emplace_back();
        return s;
    }
    for (const auto& argument : g_params.paths) {
        AccessArgument a;
        switch (SplitArgument(argument, g_params.command == eAccess, a)) {
            case ArgumentUse::eValueNotAllowed:
                WarnSkipped("This command does not support setting value for node.", argument);
                continue;
            case ArgumentUse::eFunctionWithValue:
                WarnSkipped("Function nodes could not be set with a a new value.", argument);
                continue;
            case ArgumentUse::eUse:
                break;
        }
        if (g_params.glob && IsPattern(a.path)) {
            AddPatternMatches(root, a, s);
            continue;
        }
        std::string error;
        mci::Node node = ResolveNode(root, a.path, error);
        AddEntry(s, std::move(node), a.path, a, error);
    }
    return s;
}

void RunAccess(const Selection& s, std::size_t i) {
    try {
        ValueAccess(s.nodes[i], s.paths[i], s.values[i], s.indexes[i]);
    } catch (const istd::Exception& e) {
        ++g_failedAccesses;
        std::cout.flush();
        std::cerr << "Error: " << e << std::endl;
        istd::LogError(e.what());
    }
}

// --json: every failure of one path is that path's error record.
void RunJsonHandler(Selection& s, std::size_t i) {
    if (!s.errors[i].empty()) {
        rove_json::WriteError(s.paths[i], s.errors[i]);
        return;
    }
    try {
        switch (g_params.command) {
            case eInfo: PrintNodeInfoJson(s.nodes[i]); break;
            case eDump: DumpJson(s.nodes[i]); break;
            case eAccess: ValueAccessJson(s.nodes[i], s.paths[i], s.values[i], s.indexes[i]); break;
            case eListen: Listen(s.nodes[i]); break;
            default: break;  // JsonRecords() holds for the four commands above only
        }
    } catch (const std::exception& e) {
        std::cout.flush();
        rove_json::WriteError(s.paths[i], e.what());
    }
}

void RunSignal(Selection& s, std::size_t i) {
    if (!DiagnosticRecords()) {
        Signal(s.nodes[i]);
        return;
    }
    try {
        Signal(s.nodes[i]);
    } catch (const std::exception& e) {
        std::cout.flush();
        rove_json::WriteDiagnostic(rove_json::Json{{"path", s.paths[i]}, {"error", rove_json::ErrorText(e.what())}});
        throw FailureAlreadyReported();
    }
}

void RunHandler(Selection& s, std::size_t i) {
    if (JsonRecords()) {
        RunJsonHandler(s, i);
        return;
    }
    switch (g_params.command) {
        case eInfo: PrintNodeInfo(s.nodes[i]); break;
        case eDump: Dump(s.nodes[i]); break;
        case eAccess: RunAccess(s, i); break;
        case eListen:
            if (i == 0) std::cout << "Listen following nodes: " << std::endl;
            Listen(s.nodes[i]);
            break;
        case eSignal: RunSignal(s, i); break;
        case eBench: Benchmark(s.nodes[i]); break;
        case eSave:
        case eDiff:
        case eApply: break;  // run once, by RunSnapshotCommand
        case eBrowse: break;  // runs in place of the frame (RunBrowse)
    }
}

bool IsSnapshotCommand(Command_e command) { return command == eSave || command == eDiff || command == eApply; }

int RunSnapshotCommand(const mci::Node& root) {
    switch (g_params.command) {
        case eSave: return SaveSnapshot(root);
        case eDiff: return DiffSnapshot(root);
        default: return ApplySnapshot(root);
    }
}

// "Caught signal while waiting for the registry at HOST:PORT".
std::string InterruptText() { return "Caught signal while waiting for the registry at " + RegistryAddress(); }

bool GoesOverNodes(Command_e command) { return command == eAccess || command == eInfo || command == eDump; }

// access, info and dump go from node to node: once the registry did not
// answer, the nodes after it fail at once with the same error instead of
// each waiting out the deadline. With --json a signal ends the run at once,
// also while a call waits for the registry.
void PrepareForUnansweredCalls() {
    if (!GoesOverNodes(g_params.command)) return;
    mci::FailFastAfterNoAnswer(true);
    if (JsonRecords()) sigHandler.EndRunOnSignalDuringCalls(InterruptText());
}

// --json: a signal caught since the last node ends the run before the next.
void CheckInterruptBetweenNodes() {
    if (!JsonRecords() || !GoesOverNodes(g_params.command)) return;
    DeliverPendingSignals();
    if (sigHandler.Signal() != 0) throw istd::Exception(InterruptText(), true);
}

// browse connects on a thread of its own and keeps the terminal: it runs
// instead of the frame, from the library above this one.
int RunBrowse() {
    if (!g_browseEntry) throw istd::Exception("browse is not part of this program", true);
    return g_browseEntry();
}

// Withdraws the listen subscriptions when the command ends, however it ends:
// the server stops pushing to a process that no longer listens, and no line
// is printed after the command.
struct ListenerRelease {
    ListenerRelease() = default;
    ~ListenerRelease() { VelnorRoveListener::ReleaseInstanceSubscriptions(); }
    ListenerRelease(const ListenerRelease&) = delete;
    ListenerRelease& operator=(const ListenerRelease&) = delete;
};

}  // namespace

void ExecuteCommand() {
    ISTD_TRACE_FNC("void ExecuteCommand()", c_traceFile);
    std::cout << std::fixed;
    InstallSignalHandler();

    ISTD_TRACE(2, "void ExecuteCommand()", c_traceFile,
               "connecting to '" << g_params.host << "' port " << g_params.port << " registry " << g_params.root);
    const mci::Node root = mci::Connect(g_params.host, g_params.root, g_params.port, false);
    DeliverPendingSignals();
    if (sigHandler.Signal() != 0)
        throw istd::Exception("Caught signal while connecting to " + g_params.host, true);
    if (!root.IsValid()) throw istd::Exception(BrokenConnectionText(), true);
    if (IsSnapshotCommand(g_params.command)) {
        g_snapshotStatus = RunSnapshotCommand(root);
        return;
    }

    PrepareForUnansweredCalls();
    Selection selection = SelectNodes(root);
    g_params.accessMode = istd::EnumCast<isig::AccessMode_e>(g_params.mode);
    ISTD_TRACE(2, "void ExecuteCommand()", c_traceFile, "selected nodes: " << selection.nodes.size());

    ListenerRelease release;
    for (std::size_t i = 0; i < selection.nodes.size(); ++i) {
        CheckInterruptBetweenNodes();
        RunHandler(selection, i);
        CheckStandardOutput();
    }
    if (g_params.command == eListen) ListeningPhase(root);
}

// The command word leaves the path list; a number selecting a command stays.
void RemoveCommand() {
    if (g_params.paths.empty()) return;
    for (const auto& entry : istd::EnumMap<Command_e>::items.ValueToName()) {
        if (g_params.paths.front() == entry.second) {
            g_params.paths.erase(g_params.paths.begin());
            return;
        }
    }
}

namespace {

// "velnor-rove --port 5 save -o f" runs access with a path "save" (and
// refuses -o): when a run with options first fails and a command word
// follows them, say where the command goes.
void HintCommandFirst(int argc, char** argv) {
    if (argc < 3 || argv[1][0] != '-') return;
    for (int i = 2; i < argc; ++i) {
        Command_e command;
        if (!istd::EnumMap<Command_e>::items.Find(argv[i], command)) continue;
        std::cerr << "Hint: the command must come first: velnor-rove " << argv[i] << " [options] ..." << std::endl;
        return;
    }
}

void AddHiddenOptions(po::options_description& description, std::string& complete, bool& longFlag,
                      std::string& completeValue) {
    description.add_options()
        ("complete", po::value<std::string>(&complete), "BASH completion.")
        ("long", po::value<bool>(&longFlag), "Display full path or short.")
        ("complete-value", po::value<std::string>(&completeValue), "BASH completion of enumeration values.");
}

}  // namespace

bool DefineAndParseCommandOptions(int argc, char** argv, RoveCommandParser::Command command,
                                  po::options_description& description, bool commandDefaulted) {
    g_params.command = command.id;
    g_params.root = mci::eApplicationRoot;
    g_params.port = 0;
    std::string portWarning = ReadPortFromEnvironment();
    WriteDefaults();
    // Written once where the options put it: before anything else, and on
    // standard output unless they hold --json.
    const auto warnAboutPort = [&portWarning](bool json) {
        if (!portWarning.empty()) WriteNotice(portWarning, json);
        portWarning.clear();
    };
    try {
        po::positional_options_description positional;
        positional.add("path", -1);
        std::string complete;
        bool longFlag = false;
        std::string completeValue;
        AddHiddenOptions(description, complete, longFlag, completeValue);

        po::variables_map vm;
        po::store(po::command_line_parser(argc, argv).options(description).positional(positional).run(), vm);
        warnAboutPort(vm.count("json") > 0);
        po::notify(vm);
        if (!commandDefaulted) RemoveCommand();
        if (!StartTracing(vm)) return false;
        ApplySwitches(vm);

        if (vm.count("complete"))
            AutoComplete(complete, longFlag);
        else if (vm.count("complete-value"))
            CompleteEnumValue(completeValue);
        else if (g_params.command == eBrowse)
            g_browseStatus = RunBrowse();
        else
            ExecuteCommand();
        CheckStandardOutput();
    } catch (const FailureAlreadyReported&) {
        return false;
    } catch (const std::exception& e) {
        warnAboutPort(false);
        ReportFailure(e.what());
        if (commandDefaulted) HintCommandFirst(argc, argv);
        return false;
    } catch (...) {
        warnAboutPort(false);
        ReportFailure("Unknown exception.");
        return false;
    }
    // A signal acquisition that failed without ending the command is no success either.
    return g_failedAccesses == 0 && SignalFailures() == 0 && g_snapshotStatus == 0 && g_browseStatus == 0 &&
           rove_json::ErrorCount() == 0;
}

void SetBrowseEntry(BrowseEntry entry) { g_browseEntry = entry; }

int FailureStatus() { return g_snapshotStatus == c_statusBadSnapshot ? c_statusBadSnapshot : 1; }
