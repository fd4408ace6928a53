#include "rove_commands.h"

#include <iostream>
#include <sstream>

#include <boost/program_options/value_semantic.hpp>
#include <boost/program_options/variables_map.hpp>

#include "istd/prog_opt_multi_val.h"
#include "istd/prog_opt_unsigned.h"
#include "istd/verinfo.h"

namespace po = boost::program_options;

namespace istd {
template <>
const BiMap<Command_e> EnumMap<Command_e>::items{
    {eInfo, "info"}, {eDump, "dump"}, {eAccess, "access"}, {eListen, "listen"}, {eSignal, "signal"}, {eBench, "bench"},
    {eSave, "save"}, {eDiff, "diff"}, {eApply, "apply"}, {eBrowse, "browse"},
};
}  // namespace istd

void SetCommands(RoveCommandParser::CommandList& commands) {
    commands.push_back({eInfo, "Print info of the registry nodes."});
    commands.push_back({eDump, "Dump the registry tree."});
    commands.push_back({eAccess, "Access values of the registry nodes."});
    commands.push_back({eListen, "Listen to the notifications on the registry nodes."});
    commands.push_back({eSignal, "Print out signal data."});
    commands.push_back({eSave, "Save the writable node values to a snapshot file."});
    commands.push_back({eDiff, "Compare a snapshot file with the registry."});
    commands.push_back({eApply, "Set the registry to a snapshot file, checked first."});
    commands.push_back({eBrowse, "Browse the registry live in the terminal."});
}

void LocalCommandParser::GetGlobalOptions(po::options_description& options) {
    options.add_options()
        ("debug,d", new istd::ProgOptMultiVal(&g_debug, 0, 2),
         "Debug level\n --debug=[fileName or -] [level: 1...4]")
        ("host,h", po::value<std::string>(&g_params.host),
         "Application host (The default is 127.0.0.1)\n --host [IpAddress]")
        ("platform,P", "Access platform registry.")
        ("application,A", "Access application registry (default).")
        ("port,p", po::value<std::int32_t>(&g_params.port), "Application port (overrides default)")
        ("path,n", po::value<std::vector<std::string>>(&g_params.paths)->multitoken(), "Path of the node")
        ("quiet,q", "Prints less information.")
        ("verbose,v", "Prints additional information.");
    // Added after the original ones, so that their help texts stay as they were.
    options.add_options()
        ("json", "One JSON object per line; a failing path gives an\nerror record and the run goes on.")
        ("glob,g", "Path words may hold the patterns *, ? and **.")
        ("all", "Allow writes and function runs through a pattern.");
}

namespace {

void AddInfoOptions(po::options_description& options) {
    options.add_options()
        ("max-length,m", istd::UnsignedOption<std::uint32_t>(&g_params.maxLength),
         "Node's value is truncated to this size\n(default=80, 0=unlimited)");
}

void AddDumpOptions(po::options_description& options) {
    options.add_options()
        ("level,l", po::value<std::int32_t>(&g_params.level), "How many levels are printed out")
        ("full-path,f", "Prints full path of registry nodes.")
        ("show-flags,F", "Prints node flags.")
        ("compact,c", "Compact display (suppress redundant information).")
        ("max-length,m", istd::UnsignedOption<std::uint32_t>(&g_params.maxLength),
         "Node's value is truncated to this length\n(default=80, 0=unlimited)");
}

void AddListenOptions(po::options_description& options) {
    options.add_options()
        ("wait,w", po::value<std::int32_t>(&g_params.waitTime),
         "Time period for listening notifications\n(default is -1 = infinite)\n --wait [seconds]")
        ("ping,I", po::value<std::int32_t>(&g_params.pingPeriod),
         "Time period for checking managed connection\n(default is 0 = unmanaged)\n --ping [seconds]");
    options.add_options()
        ("time", "Start each line with the UTC time of arrival.")
        ("initial", "Print each node's current value first.")
        ("count", istd::UnsignedOption<std::uint64_t>(&g_params.count), "End after this many notifications.")
        ("until", po::value<std::string>(&g_params.until),
         "End when a value becomes this text; with\n--wait, a time-out fails.");
}

void AddSignalOptions(po::options_description& options) {
    options.add_options()
        ("lmt,l", istd::UnsignedOption<std::uint64_t>(&g_params.lmt), "LMT for data which needs to be retrieved.")
        ("size,s", istd::UnsignedOption<std::uint64_t>(&g_params.size), "How many atoms to read.")
        ("offset,o", po::value<std::int64_t>(&g_params.offset), "Offset in atoms from the read position")
        ("mode,m", po::value<std::string>(&g_params.mode),
         "Mode specifies how to read DOD data \n(Event|Now|Lmt|Position|SingleEvent) Default is 'Now'")
        ("behavior,b", po::value<std::string>(&g_params.mode), "Alias for mode.")
        ("queue-size,q", istd::UnsignedOption<std::uint32_t>(&g_params.queueSize),
         "Size of the client queue (in atom group units)")
        ("loop,L", po::value<std::int32_t>(&g_params.loop)->implicit_value(-1),
         "Repeat the acquisition n times (infinite by default)")
        ("timeout,T", po::value<std::int64_t>(&g_params.timeout), "Acquisition timeout (seconds), where applicable.")
        ("header,H", "Show header (signal component names)")
        ("binary,B", "Display signal in raw binary format")
        ("csv,c", "Display signal as comma separated list")
        ("stat", "Discard signal data and just display statistics");
    // The views of the signal data, added after the original options.
    options.add_options()
        ("plot", po::value<std::string>(&g_params.plot)->implicit_value("auto")->value_name("GLYPHS"),
         "Draw the atoms as a chart (auto, braille, block\nor ascii; auto: braille in a UTF-8 locale)")
        ("plot-size", po::value<std::string>(&g_params.plotSize)->value_name("COLSxROWS"),
         "Chart size (default: the terminal's width x 16,\n80x16 into a file or pipe)")
        ("ymin", po::value<double>(&g_params.ymin), "Lower bound of the chart's y axis")
        ("ymax", po::value<double>(&g_params.ymax), "Upper bound of the chart's y axis")
        ("npy", po::value<std::string>(&g_params.npyFile)->value_name("FILE"),
         "Write the atoms to a NumPy .npy file (- for\nstandard output), metadata to FILE.json")
        ("npy-meta", po::value<std::string>(&g_params.npyMeta)->value_name("FILE"),
         "Write the .npy metadata to this file instead\n(none: no metadata file)")
        ("npy-each", "With --loop, one .npy file per acquisition:\nFILE.0.npy, FILE.1.npy, ...");
}

void AddSaveOptions(po::options_description& options) {
    options.add_options()
        ("output,o", po::value<std::string>(&g_params.outputFile),
         "Write the snapshot to this file\n(default: standard output)");
}

void AddBrowseOptions(po::options_description& options) {
    options.add_options()
        ("read-only", "Refuse every write and function run.")
        ("mouse", "Select and scroll with the mouse (the terminal's\nown text selection then needs Shift).");
}

void AddApplyOptions(po::options_description& options) {
    options.add_options()
        ("dry-run", "Print what would be written; write nothing.")
        ("force", "Apply a snapshot taken from another host or registry root.");
}

// One usage example: description, then the example line.
void AddExample(std::ostringstream& text, const char* description, const char* line) {
    if (text.tellp() > 0) text << std::endl;
    text << "  " << description << std::endl << "    " << line;
}

}  // namespace

bool LocalCommandParser::GetValidOptions(Command_e command, po::options_description& options) {
    switch (command) {
        case eInfo: AddInfoOptions(options); return true;
        case eDump: AddDumpOptions(options); return true;
        case eListen: AddListenOptions(options); return true;
        case eSignal: AddSignalOptions(options); return true;
        case eSave: AddSaveOptions(options); return true;
        case eApply: AddApplyOptions(options); return true;
        case eBrowse: AddBrowseOptions(options); return true;
        default: return false;
    }
}

bool AnswerVersion(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) != "--version") return false;
    const istd::VersionRecord& v = istd::VerInfo::Get();
    std::cout << "velnor-rove " << v.major << "." << v.minor << "." << v.build << std::endl;
    return true;
}

void TranslateHelpOption(int argc, char** argv) {
    static char help[] = "help";
    if (argc >= 2 && std::string(argv[1]) == "--help") argv[1] = help;
}

void ApplyScriptingSwitches(const po::variables_map& vm) {
    g_params.json = vm.count("json") > 0;
    g_params.glob = vm.count("glob") > 0;
    g_params.all = vm.count("all") > 0;
    g_params.listenTime = vm.count("time") > 0;
    g_params.initial = vm.count("initial") > 0;
    g_params.hasUntil = vm.count("until") > 0;
}

void LocalCommandParser::GetUsageExamples(Command_e command, std::string& text) {
    std::ostringstream s;
    switch (command) {
        case eInfo:
            AddExample(s, "Print info for the root node", "velnor-rove info");
            AddExample(s, "Print the info for the node specified by the path",
                       "velnor-rove info --path=[nodeFullPath] [nodeFullPath] ... [nodeFullPath]");
            AddExample(s, "Print the list of nodes can be typed without '--path'",
                       "velnor-rove info [nodeFullPath] [nodeFullPath]");
            break;
        case eDump:
            AddExample(s, "Dump the whole tree", "velnor-rove dump");
            AddExample(s, "Dump the tree from root for a specified levels (1 ...)", "velnor-rove dump --level=[level]");
            AddExample(s, "Dump the tree below the specified path",
                       "velnor-rove dump --path=[nodeFullPath] [nodeFullPath] ...");
            AddExample(s, "Dump the tree from the specified path for specified levels",
                       "velnor-rove dump --path=[nodeFullPath] ... --level=[level]");
            AddExample(s, "Dump all the above commands can include the IP option",
                       "velnor-rove dump --host=[IpHost] --......");
            AddExample(s, "Dump the list of nodes can be typed without '--path'",
                       "velnor-rove dump [nodeFullPath] [nodeFullPath]");
            AddExample(s, "Dump the list of nodes expressed with full path name",
                       "velnor-rove dump --full-path [nodeFullPath] [nodeFullPath]");
            break;
        case eAccess:
            AddExample(s, "Set nodes values",
                       "velnor-rove access --path=[nodeFullPath]=[value] [nodeFullPath]=[value]");
            AddExample(s, "Set node values from files (use @)", "velnor-rove [nodeFullPath]=@[file_name]");
            AddExample(s, "Set node value from stdin (use @-)", "velnor-rove [nodeFullPath]=@-");
            AddExample(s, "Print out node values", "velnor-rove access --path=[nodeFullPath] [nodeFullPath]");
            break;
        case eListen:
            AddExample(s, "Wait 1 minute for notifications on the specified nodes",
                       "velnor-rove listen --wait=60 [nodeFullPath] [nodeFullPath] ...");
            AddExample(s, "Wait at most 5 minutes until the node's value becomes 'done'",
                       "velnor-rove listen --initial --until=done --wait=300 [nodeFullPath]");
            break;
        case eSignal:
            AddExample(s, "DOD: Get 10 atoms from the signal now (at current LMT)",
                       " velnor-rove signal --size=10 [signalNodeFullPath]");
            AddExample(s, "DOD: Get data on demand signal data at next trigger event starting on offset of 10 atoms",
                       " velnor-rove signal --behavior=Event --offset=10 [signalNodeFullPath]");
            AddExample(s, "DOD: Get signal data at specific LMT",
                       " velnor-rove signal --behavior=Lmt --lmt=176000000 [signalNodeFullPath]");
            AddExample(s, "DOD: Acquire signal on event 10 times",
                       " velnor-rove signal --behavior=Event --loop=10 [signalNodeFullPath]");
            AddExample(s, "Stream: Acquire a million atoms in binary form",
                       " velnor-rove signal --size=1000000 -B [signalNodeFullPath]");
            AddExample(s, "Stream: Performance statistics on ten million atoms",
                       " velnor-rove signal --size=10000000 --stat [signalNodeFullPath]");
            break;
        case eSave:
            AddExample(s, "Save every writable node of the registry", "velnor-rove save -o [file].yaml");
            AddExample(s, "Save the writable nodes below the specified paths",
                       "velnor-rove save [nodeFullPath] [nodeFullPath] ... -o [file].yaml");
            break;
        case eDiff:
            AddExample(s, "List the differences between a snapshot and the registry (status 1 when any)",
                       "velnor-rove diff [file].yaml");
            AddExample(s, "Compare only the nodes below the specified paths",
                       "velnor-rove diff [file].yaml [nodeFullPath] ...");
            break;
        case eApply:
            AddExample(s, "Show what applying a snapshot would write", "velnor-rove apply [file].yaml --dry-run");
            AddExample(s, "Set the registry to a snapshot (nothing is written unless every entry passes the check)",
                       "velnor-rove apply [file].yaml [nodeFullPath] ...");
            AddExample(s, "Apply a snapshot taken from another host or registry root",
                       "velnor-rove apply [file].yaml --force");
            break;
        case eBrowse:
            AddExample(s, "Browse the registry from its root (q quits, ? lists the keys)", "velnor-rove browse");
            AddExample(s, "Browse the subtree below a node, without writing anything",
                       "velnor-rove browse --read-only [nodeFullPath]");
            break;
        default:
            break;
    }
    text = s.str();
}

void LocalCommandParser::GetGeneralHelp(std::string& text) {
    std::ostringstream s;
    s << std::endl
      << "General HELP:" << std::endl
      << "  " << "- Tree nodes are addressed with its 'Full Path' which" << std::endl
      << "  " << "  is visible in the output of the 'info' command." << std::endl
      << "  " << "- The 'FullPath' is composed by node names divided" << std::endl
      << "  " << "  only by '.' (dot)" << std::endl
      << "  " << "- Setting values can be done only with this syntax:" << std::endl
      << "      " << "   [nodeFullPath]=[value]" << std::endl
      << "      " << "   the '=' is mandatory without any space" << std::endl;
    text = s.str();
}
