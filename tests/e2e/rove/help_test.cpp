// Help of every command, byte for byte: the option tables as the option
// parser lays them out, the usage examples and the frame around them.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "rove_case.h"

using velnor::test::BinPath;
using velnor::test::RunResult;

namespace {

const std::string kGlobalOptions =
    "Global Options: \n"
    "  -d [ --debug ] arg    Debug level\n"
    "                         --debug=[fileName or -] [level: 1...4]\n"
    "  -h [ --host ] arg     Application host (The default is 127.0.0.1)\n"
    "                         --host [IpAddress]\n"
    "  -P [ --platform ]     Access platform registry.\n"
    "  -A [ --application ]  Access application registry (default).\n"
    "  -p [ --port ] arg     Application port (overrides default)\n"
    "  -n [ --path ] arg     Path of the node\n"
    "  -q [ --quiet ]        Prints less information.\n"
    "  -v [ --verbose ]      Prints additional information.\n"
    // The scripting options, after the original ones.
    "  --json                One JSON object per line; a failing path gives an\n"
    "                        error record and the run goes on.\n"
    "  -g [ --glob ]         Path words may hold the patterns *, ? and **.\n"
    "  --all                 Allow writes and function runs through a pattern.\n"
    "\n";

const std::string kInfoOptions =
    "  -m [ --max-length ] arg Node's value is truncated to this size\n"
    "                          (default=80, 0=unlimited)\n";

const std::string kInfoExamples =
    "  Print info for the root node\n"
    "    velnor-rove info\n"
    "  Print the info for the node specified by the path\n"
    "    velnor-rove info --path=[nodeFullPath] [nodeFullPath] ... [nodeFullPath]\n"
    "  Print the list of nodes can be typed without '--path'\n"
    "    velnor-rove info [nodeFullPath] [nodeFullPath]\n";

const std::string kDumpOptions =
    "  -l [ --level ] arg      How many levels are printed out\n"
    "  -f [ --full-path ]      Prints full path of registry nodes.\n"
    "  -F [ --show-flags ]     Prints node flags.\n"
    "  -c [ --compact ]        Compact display (suppress redundant information).\n"
    "  -m [ --max-length ] arg Node's value is truncated to this length\n"
    "                          (default=80, 0=unlimited)\n";

const std::string kDumpExamples =
    "  Dump the whole tree\n"
    "    velnor-rove dump\n"
    "  Dump the tree from root for a specified levels (1 ...)\n"
    "    velnor-rove dump --level=[level]\n"
    "  Dump the tree below the specified path\n"
    "    velnor-rove dump --path=[nodeFullPath] [nodeFullPath] ...\n"
    "  Dump the tree from the specified path for specified levels\n"
    "    velnor-rove dump --path=[nodeFullPath] ... --level=[level]\n"
    "  Dump all the above commands can include the IP option\n"
    "    velnor-rove dump --host=[IpHost] --......\n"
    "  Dump the list of nodes can be typed without '--path'\n"
    "    velnor-rove dump [nodeFullPath] [nodeFullPath]\n"
    "  Dump the list of nodes expressed with full path name\n"
    "    velnor-rove dump --full-path [nodeFullPath] [nodeFullPath]\n";

const std::string kAccessExamples =
    "  Set nodes values\n"
    "    velnor-rove access --path=[nodeFullPath]=[value] [nodeFullPath]=[value]\n"
    "  Set node values from files (use @)\n"
    "    velnor-rove [nodeFullPath]=@[file_name]\n"
    "  Set node value from stdin (use @-)\n"
    "    velnor-rove [nodeFullPath]=@-\n"
    "  Print out node values\n"
    "    velnor-rove access --path=[nodeFullPath] [nodeFullPath]\n";

const std::string kListenOptions =
    "  -w [ --wait ] arg     Time period for listening notifications\n"
    "                        (default is -1 = infinite)\n"
    "                         --wait [seconds]\n"
    "  -I [ --ping ] arg     Time period for checking managed connection\n"
    "                        (default is 0 = unmanaged)\n"
    "                         --ping [seconds]\n"
    "  --time                Start each line with the UTC time of arrival.\n"
    "  --initial             Print each node's current value first.\n"
    "  --count arg           End after this many notifications.\n"
    "  --until arg           End when a value becomes this text; with\n"
    "                        --wait, a time-out fails.\n";

const std::string kListenExamples =
    "  Wait 1 minute for notifications on the specified nodes\n"
    "    velnor-rove listen --wait=60 [nodeFullPath] [nodeFullPath] ...\n"
    "  Wait at most 5 minutes until the node's value becomes 'done'\n"
    "    velnor-rove listen --initial --until=done --wait=300 [nodeFullPath]\n";

const std::string kSignalOptions =
    "  -l [ --lmt ] arg          LMT for data which needs to be retrieved.\n"
    "  -s [ --size ] arg         How many atoms to read.\n"
    "  -o [ --offset ] arg       Offset in atoms from the read position\n"
    "  -m [ --mode ] arg         Mode specifies how to read DOD data \n"
    "                            (Event|Now|Lmt|Position|SingleEvent) Default is \n"
    "                            'Now'\n"
    "  -b [ --behavior ] arg     Alias for mode.\n"
    "  -q [ --queue-size ] arg   Size of the client queue (in atom group units)\n"
    "  -L [ --loop ] [=arg(=-1)] Repeat the acquisition n times (infinite by \n"
    "                            default)\n"
    "  -T [ --timeout ] arg      Acquisition timeout (seconds), where applicable.\n"
    "  -H [ --header ]           Show header (signal component names)\n"
    "  -B [ --binary ]           Display signal in raw binary format\n"
    "  -c [ --csv ]              Display signal as comma separated list\n"
    "  --stat                    Discard signal data and just display statistics\n"
    "  --plot [=GLYPHS(=auto)]   Draw the atoms as a chart (auto, braille, block\n"
    "                            or ascii; auto: braille in a UTF-8 locale)\n"
    "  --plot-size COLSxROWS     Chart size (default: the terminal's width x 16,\n"
    "                            80x16 into a file or pipe)\n"
    "  --ymin arg                Lower bound of the chart's y axis\n"
    "  --ymax arg                Upper bound of the chart's y axis\n"
    "  --npy FILE                Write the atoms to a NumPy .npy file (- for\n"
    "                            standard output), metadata to FILE.json\n"
    "  --npy-meta FILE           Write the .npy metadata to this file instead\n"
    "                            (none: no metadata file)\n"
    "  --npy-each                With --loop, one .npy file per acquisition:\n"
    "                            FILE.0.npy, FILE.1.npy, ...\n";

const std::string kSignalExamples =
    "  DOD: Get 10 atoms from the signal now (at current LMT)\n"
    "     velnor-rove signal --size=10 [signalNodeFullPath]\n"
    "  DOD: Get data on demand signal data at next trigger event starting on offset of 10 atoms\n"
    "     velnor-rove signal --behavior=Event --offset=10 [signalNodeFullPath]\n"
    "  DOD: Get signal data at specific LMT\n"
    "     velnor-rove signal --behavior=Lmt --lmt=176000000 [signalNodeFullPath]\n"
    "  DOD: Acquire signal on event 10 times\n"
    "     velnor-rove signal --behavior=Event --loop=10 [signalNodeFullPath]\n"
    "  Stream: Acquire a million atoms in binary form\n"
    "     velnor-rove signal --size=1000000 -B [signalNodeFullPath]\n"
    "  Stream: Performance statistics on ten million atoms\n"
    "     velnor-rove signal --size=10000000 --stat [signalNodeFullPath]\n";

struct HelpCase {
    std::string command;
    std::string options;   // empty: the command has no options of its own
    std::string examples;  // each example line ends with a line end
};

std::ostream& operator<<(std::ostream& os, const HelpCase& c) { return os << c.command; }

// The frame around the parts: an empty line first, the option sections,
// the examples, the line end after them and a final empty line.
std::string ExpectedHelp(const HelpCase& c) {
    std::string text = "\nHelp for command: " + c.command + "\n\n";
    if (!c.options.empty()) text += "Valid Options: \n" + c.options + "\n";
    text += kGlobalOptions + "Show Examples: \n" + c.examples;
    // An empty example text still gets the line end after it.
    if (c.examples.empty()) text += "\n";
    return text + "\n";
}

class CommandHelp : public ::testing::TestWithParam<HelpCase> {};

TEST_P(CommandHelp, ByteForByte) {
    const HelpCase& c = GetParam();
    const RunResult r = velnor::test::Run({BinPath("velnor-rove"), "help", c.command});
    rove_test::ExpectResult(r, ExpectedHelp(c), "", 1);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandHelp,
                         ::testing::Values(HelpCase{"info", kInfoOptions, kInfoExamples},
                                           HelpCase{"dump", kDumpOptions, kDumpExamples},
                                           HelpCase{"access", "", kAccessExamples},
                                           HelpCase{"listen", kListenOptions, kListenExamples},
                                           HelpCase{"signal", kSignalOptions, kSignalExamples},
                                           HelpCase{"bench", "", ""}),
                         [](const ::testing::TestParamInfo<HelpCase>& info) { return info.param.command; });

// A command named by its number gets the same help as by its name.
TEST(CommandHelpByNumber, SameAsByName) {
    const RunResult byNumber = velnor::test::Run({BinPath("velnor-rove"), "help", "1"});
    rove_test::ExpectResult(byNumber, ExpectedHelp(HelpCase{"dump", kDumpOptions, kDumpExamples}), "", 1);
}

std::string SourceFile(const std::string& relative) {
    std::ifstream in(std::string(VELNOR_SOURCE_DIR) + "/" + relative);
    EXPECT_TRUE(in.good()) << relative;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The long option names a help text lists, as "--name".
std::set<std::string> LongOptions(const std::string& help) {
    std::set<std::string> names;
    static const std::regex option("--[a-z][a-z-]*");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        names.insert(it->str());
    return names;
}

// How roff source writes an option: every "-" escaped.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// The man page and the completion script know every option the help of a
// command lists; a new option cannot be forgotten in either.
TEST(HelpAndDocs, EveryOptionDocumented) {
    const std::string man = SourceFile("docs/velnor-rove.1");
    const std::string completion = SourceFile("completion/velnor-rove.bash");
    for (const char* command : {"info", "dump", "access", "listen", "signal", "bench"}) {
        const RunResult r = velnor::test::Run({BinPath("velnor-rove"), "help", command});
        std::set<std::string> names = LongOptions(r.out);
        // Texts inside help lines ("--debug=[fileName ...", "--host [IpAddress]") name options too.
        ASSERT_GE(names.size(), 8u) << r.out;
        for (const std::string& name : names) {
            EXPECT_NE(man.find(Roff(name)), std::string::npos) << command << ": " << name << " not in the man page";
            EXPECT_NE(completion.find(name), std::string::npos) << command << ": " << name << " not completed";
        }
        EXPECT_NE(man.find(".B " + std::string(command) + "\n"), std::string::npos) << command;
    }
}

TEST(HelpAndDocs, ServerOptionsDocumented) {
    const std::string man = SourceFile("docs/velnor-registryd.1");
    const std::string guide = SourceFile("README.md");
    const RunResult r = velnor::test::Run({BinPath("velnor-registryd"), "--help"});
    ASSERT_EQ(r.status, 0);
    const std::set<std::string> names = LongOptions(r.out);
    ASSERT_EQ(names.size(), 9u) << r.out;
    for (const std::string& name : names) {
        EXPECT_NE(man.find(Roff(name)), std::string::npos) << name << " not in the man page";
        EXPECT_NE(guide.find("`" + name), std::string::npos) << name << " not in README.md";
    }
}

}  // namespace
