// velnor-rove browse in a pseudo-terminal (tmux) against a real
// velnor-registryd: what the screen shows, what reaches the registry, and
// that the terminal modes are the same after the run as before it, however
// the run ends.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "browse_session.h"
#include "support/faults.h"
#include "support/process.h"
#include "support/server_per_suite.h"

namespace velnor::test {
namespace {

class BrowseTest : public ServerPerSuite<BrowseTest> {
public:
    static constexpr const char* c_tree = "browse.yaml";

protected:
    // The tests of a suite share its server: each starts from the tree's values.
    void SetUp() override {
        const RunResult reset = Rove(*s_server, {"boards.board0.gain=1.5", "boards.board0.coeffs=0,1,2,3",
                                                 "boards.board0.mode=slow", "boards.board0.enabled=false",
                                                 "acquisition.running=false"});
        ASSERT_EQ(reset.status, 0) << reset.err;
    }

    // The tree pane of a screen: the text left of the separator, each row
    // without its trailing blanks, from the pane's first row on.
    static std::vector<std::string> TreePane(const std::string& screen, std::size_t rows) {
        std::vector<std::string> pane;
        std::istringstream lines(screen);
        std::string line;
        while (pane.size() < rows && std::getline(lines, line)) {
            const std::size_t bar = line.find("\u2502");
            std::string left = line.substr(0, bar);
            left.erase(left.find_last_not_of(' ') + 1);
            pane.push_back(left);
        }
        return pane;
    }

    static BrowseSession::Options WithArgs(std::vector<std::string> args) {
        BrowseSession::Options options;
        options.args = std::move(args);
        return options;
    }

    static std::string Read(const std::string& path) {
        const RunResult r = Rove(*s_server, {"-q", path});
        return r.out;
    }

    // The run ended with `status`, nothing on standard error, and the
    // terminal as it was.
    static void ExpectEndedCleanly(BrowseSession& s, int status = 0) {
        EXPECT_EQ(s.WaitForExit(), status) << s.LastScreen();
        EXPECT_EQ(s.Stderr(), "");
        EXPECT_FALSE(s.ModesBefore().empty());
        EXPECT_EQ(s.ModesAfter(), s.ModesBefore());
    }
};

TEST_F(BrowseTest, OpensAtTheRootAndExpandsLevelByLevel) {
    BrowseSession s(*s_server, {});
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    EXPECT_EQ(TreePane(s.LastScreen(), 8),
              (std::vector<std::string>{" browse-host", " \u25be browse-host", "     app-name [string] = Velnor demo",
                                        "   \u25b8 boards", "   \u25b8 acquisition", "   \u25b8 signals", "   \u25b8 odd",
                                        ""}));
    s.Keys({"Down", "Down", "Enter"});
    ASSERT_TRUE(s.WaitForText("\u25b8 board1")) << s.LastScreen();
    s.Keys({"Down", "l"});
    // The level arrives whole: the tree pane, not the details (which name
    // the children first), is waited for.
    const std::vector<std::string> opened = {
        " browse-host", " \u25be browse-host", "     app-name [string] = Velnor demo", "   \u25be boards",
        "     \u25be board0", "         serial [string] = VB-2041-0017", "         gain [double] = 1.5",
        "         mode [enum] = slow", "         coeffs [int32[4]] = [0,1,2,3]", "         enabled [bool] = false",
        "         reset [function]", "       \u25b8 calibration", "     \u25b8 board1", "   \u25b8 acquisition"};
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) { return TreePane(screen, 14)[11] == "       \u25b8 calibration"; }))
        << s.LastScreen();
    EXPECT_EQ(TreePane(s.LastScreen(), 14), opened);
    // Left on an open node closes it; on a closed one goes to the parent.
    s.Keys({"Left"});
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) { return TreePane(screen, 6)[4] == "     \u25b8 board0"; }))
        << s.LastScreen();
    s.Keys({"Left", "Left"});
    ASSERT_TRUE(s.WaitForText("   \u25b8 boards")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, DetailsShowWhatInfoReportsAndTheBounds) {
    BrowseSession s(*s_server, WithArgs({"boards.board0.gain"}));
    ASSERT_TRUE(s.WaitForText("Bounds    [0, 10]")) << s.LastScreen();
    const std::string screen = s.LastScreen();
    for (const char* line : {"\u2502 boards.board0.gain", "\u2502 Type      double", "\u2502 Flags     readable writable",
                             "\u2502 Size      1", "\u2502 Parent    board0", "\u2502 Value     1.5"})
        EXPECT_NE(screen.find(line), std::string::npos) << line << "\n" << screen;
    s.Keys({"C-c"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, GoesToAPathCompletedWithTab) {
    BrowseSession s(*s_server, {});
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    s.Keys({"g", "C-u"});
    s.Type("boards.board0.cal");
    s.Keys({"Tab"});
    ASSERT_TRUE(s.WaitForText("Go to: boards.board0.calibration.")) << s.LastScreen();
    s.Keys({"Tab"});
    // One child: completed to the node itself.
    ASSERT_TRUE(s.WaitForText("Go to: boards.board0.calibration.trim")) << s.LastScreen();
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("\u2502 boards.board0.calibration.trim")) << s.LastScreen();
    EXPECT_NE(s.LastScreen().find("         trim [double] = 0.9987"), std::string::npos) << s.LastScreen();
    // Several candidates are listed above the prompt.
    s.Keys({"/", "C-u"});
    s.Type("boards.b");
    s.Keys({"Tab"});
    ASSERT_TRUE(s.WaitForText("Go to: boards.board")) << s.LastScreen();
    s.Keys({"Tab"});
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        return screen.find("board0.") != std::string::npos && screen.find("board1.") != std::string::npos;
    })) << s.LastScreen();
    s.Keys({"Escape"});
    s.Keys({"g", "C-u"});
    s.Type("nosuch.node");
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("Node not found: nosuch.node")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, WatchListFollowsAnotherWriter) {
    BrowseSession s(*s_server, WithArgs({"boards.board0"}));
    ASSERT_TRUE(s.WaitForText("gain [double] = 1.5")) << s.LastScreen();
    s.Keys({"Down", "Down", "w"});
    ASSERT_TRUE(s.WaitForText("Watch (1)")) << s.LastScreen();
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        const int row = RowOf(screen, " boards.board0.gain ");
        return row >= 0 && Row(screen, row).find("1.5") != std::string::npos;
    })) << s.LastScreen();
    EXPECT_EQ(Rove(*s_server, {"boards.board0.gain=7.25"}).status, 0);
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        const std::string row = Row(screen, RowOf(screen, " boards.board0.gain "));
        return std::regex_search(row, std::regex(R"( 7\.25 +\d\d:\d\d:\d\d\.\d\d\d +1$)"));
    })) << s.LastScreen();
    // The tree shows the new value too.
    EXPECT_NE(s.LastScreen().find("gain [double] = 7.25"), std::string::npos);
    // w on a subtree watches its value nodes.
    s.Keys({"Home", "w"});
    ASSERT_TRUE(s.WaitForText("Watch (6)")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, EditsGoThroughAccessChecksAndReadTheValueBack) {
    BrowseSession s(*s_server, WithArgs({"boards.board0"}));
    ASSERT_TRUE(s.WaitForText("coeffs [int32[4]] = [0,1,2,3]")) << s.LastScreen();
    // gain: the field starts with the value; out of range gives access's text.
    s.Keys({"Down", "Down"});
    ASSERT_TRUE(s.WaitForText("Bounds    [0, 10]")) << s.LastScreen();
    s.Keys({"e"});
    ASSERT_TRUE(s.WaitForText("Set boards.board0.gain=1.5")) << s.LastScreen();
    s.Keys({"C-u"});
    s.Type("12");
    s.Keys({"Enter"});
    const RunResult access = Rove(*s_server, {"boards.board0.gain=12"});
    ASSERT_EQ(access.status, 1);
    const std::string refused = access.err.substr(0, access.err.find('\n'));
    ASSERT_EQ(refused, "Error: Value 12 is out of range [0, 10] for node boards.board0.gain");
    ASSERT_TRUE(s.WaitForText(refused)) << s.LastScreen();
    EXPECT_EQ(Read("boards.board0.gain"), "1.5\n");
    // A conversion error is access's too.
    s.Keys({"e", "C-u"});
    s.Type("0x10");
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("Error: Bad cast from 0x10 to double")) << s.LastScreen();
    s.Keys({"e", "C-u"});
    s.Type("2.5");
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("boards.board0.gain = 2.5")) << s.LastScreen();
    EXPECT_EQ(Read("boards.board0.gain"), "2.5\n");
    // Elements of an array, with access's selection.
    s.Keys({"Down", "Down"});
    ASSERT_TRUE(s.WaitForText("\u2502 boards.board0.coeffs")) << s.LastScreen();
    s.Keys({"e", "C-u"});
    s.Type("[1:2]=7,8");
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("boards.board0.coeffs = [0,7,8,3]")) << s.LastScreen();
    EXPECT_EQ(Read("boards.board0.coeffs"), "[0,7,8,3]\n");
    // An enumeration is picked from its domain.
    s.Keys({"Up"});
    ASSERT_TRUE(s.WaitForText("Type      enum (off,slow,fast)")) << s.LastScreen();
    s.Keys({"e"});
    ASSERT_TRUE(s.WaitForText("Set boards.board0.mode to:  off  slow  fast")) << s.LastScreen();
    s.Keys({"Right", "Down", "Enter"});
    ASSERT_TRUE(s.WaitForText("boards.board0.mode = fast")) << s.LastScreen();
    EXPECT_EQ(Read("boards.board0.mode"), "fast\n");
    // A boolean toggles with Space.
    s.Keys({"Down", "Down"});
    ASSERT_TRUE(s.WaitForText("\u2502 boards.board0.enabled")) << s.LastScreen();
    s.Keys({"Space"});
    ASSERT_TRUE(s.WaitForText("boards.board0.enabled = true")) << s.LastScreen();
    EXPECT_EQ(Read("boards.board0.enabled"), "true\n");
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, ReadOnlyRefusesWritesAndRuns) {
    BrowseSession s(*s_server, WithArgs({"--read-only", "boards.board0"}));
    ASSERT_TRUE(s.WaitForText("enabled [bool] = false")) << s.LastScreen();
    const std::string refused = "Read-only (--read-only): writes and function runs are refused";
    for (const std::vector<std::string>& keys :
         {std::vector<std::string>{"Down", "Down", "e"}, {"End", "Up", "Up", "Space"}, {"Down", "x"}}) {
        s.Keys({"Escape"});
        ASSERT_TRUE(s.WaitFor([&](const std::string& screen) { return screen.find(refused) == std::string::npos; }));
        s.Keys(keys);
        ASSERT_TRUE(s.WaitForText(refused)) << s.LastScreen();
    }
    EXPECT_EQ(Read("boards.board0.enabled"), "false\n");
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, RunsAFunctionAfterConfirmation) {
    BrowseSession s(*s_server, WithArgs({"acquisition"}));
    ASSERT_TRUE(s.WaitForText("start [function]")) << s.LastScreen();
    s.Keys({"Down", "Down", "x"});
    ASSERT_TRUE(s.WaitForText("Run acquisition.start? (y/n)")) << s.LastScreen();
    s.Keys({"n"});
    ASSERT_TRUE(s.WaitForText("not run: acquisition.start")) << s.LastScreen();
    EXPECT_EQ(Read("acquisition.running"), "false\n");
    s.Keys({"x", "y"});
    ASSERT_TRUE(s.WaitForText("acquisition.start: done")) << s.LastScreen();
    EXPECT_EQ(Read("acquisition.running"), "true\n");
    // The function's effect reaches the screen through its notification.
    ASSERT_TRUE(s.WaitForText("running [bool] = true")) << s.LastScreen();
    s.Keys({"Down", "x", "y"});
    ASSERT_TRUE(s.WaitForText("acquisition.refuse: failed")) << s.LastScreen();
    s.Keys({"Up", "Up", "x"});
    ASSERT_TRUE(s.WaitForText("Node acquisition.running is not executable")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, OddValuesAreShownEscapedNeverSentRaw) {
    // Bytes that are not UTF-8 and control characters, written by access.
    const std::string file = TempDir() + "/raw";
    std::ofstream(file, std::ios::binary) << "a\xff\xfe" "b\x01\x1b[31m";
    ASSERT_EQ(Rove(*s_server, {"odd.raw=@" + file}).status, 0);
    BrowseSession s(*s_server, WithArgs({"odd"}));
    ASSERT_TRUE(s.WaitForText("raw [string] =")) << s.LastScreen();
    EXPECT_EQ(TreePane(s.LastScreen(), 9),
              (std::vector<std::string>{" odd", " \u25be odd", "     escape [string] = a\\x1b[2Jb\\x1b]0;owned\\x07c",
                                        "     lines [string] = one\\ntwo\\tthree\\u0085four", "     nan [double] = nan",
                                        "     low [int64] = -9223372036854775808",
                                        "     high [uint64] = 18446744073709551615",
                                        "     raw [string] = a\\xff\\xfeb\\x01\\x1b[31m", ""}));
    // What reached the terminal: no escape sequence but the browser's own.
    const std::string styled = s.StyledScreen();
    EXPECT_EQ(styled.find("\x1b[2J"), std::string::npos);
    EXPECT_EQ(styled.find("\x1b]0;"), std::string::npos);
    EXPECT_EQ(styled.find("\x1b[31m"), std::string::npos);
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, HugeValuesAreShownCut) {
    // A tree of its own: an array of 100,000 elements and a text of a
    // megabyte (written by access).
    const std::string dir = TempDir();
    {
        std::ofstream tree(dir + "/huge.yaml");
        tree << "host: huge-host\napplication:\n  nodes:\n    big: {type: uint32, value: [";
        for (int i = 0; i < 100000; ++i) tree << (i ? ", " : "") << i;
        tree << "]}\n    text: {type: string, value: \"\", flags: [writable]}\nplatform:\n  nodes: {}\n";
        std::ofstream(dir + "/text", std::ios::binary) << std::string(1 << 20, 'y') << "\x1b[2J";
    }
    RegistryServer server(dir + "/huge.yaml");
    ASSERT_EQ(Rove(server, {"text=@" + dir + "/text"}).status, 0);
    BrowseSession s(server, {});
    ASSERT_TRUE(s.WaitForText("text [string] = yyy")) << s.LastScreen();
    EXPECT_EQ(TreePane(s.LastScreen(), 4)[2], "     big [uint32[100000]] = [0,1,2,3,4,5,6,7,8,9,10,...");
    s.Keys({"Down"});
    ASSERT_TRUE(s.WaitForText("... (100000 elements)")) << s.LastScreen();
    s.Keys({"Down"});
    ASSERT_TRUE(s.WaitForText("... (1048580 bytes)")) << s.LastScreen();
    // Its edit field starts with the whole text, and the screen stays as it was.
    s.Keys({"e"});
    ASSERT_TRUE(s.WaitForText("Set text=yyyy")) << s.LastScreen();
    EXPECT_NE(s.LastScreen().find("\\x1b[2J"), std::string::npos) << s.LastScreen();
    s.Keys({"Escape", "q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, PlotsASignalAndItMoves) {
    BrowseSession::Options wide = WithArgs({"signals"});
    wide.cols = 160;
    BrowseSession s(*s_server, wide);
    ASSERT_TRUE(s.WaitForText("wave [signal]")) << s.LastScreen();
    s.Keys({"Down", "p"});
    // The rate, the legend of both components and braille traces.
    ASSERT_TRUE(s.WaitFor([&](const std::string& screen) {
        return std::regex_search(screen, std::regex(R"(signals\.wave  rate [1-9]\d* atoms/s  window 4096 atoms)")) &&
               std::regex_search(screen, std::regex(R"(a +min -?\d+ +max -?\d+ +mean)")) &&
               std::regex_search(screen, std::regex(R"(b +min -?\d+ +max -?\d+ +mean)")) &&
               screen.find("\u28ff") != std::string::npos;
    })) << s.LastScreen();
    const std::string first = s.LastScreen();
    ASSERT_TRUE(s.WaitFor([&](const std::string& screen) { return screen != first; })) << s.LastScreen();
    // + halves the window.
    s.Keys({"+"});
    ASSERT_TRUE(s.WaitForText("window 2048 atoms")) << s.LastScreen();
    // Paused, the plot says so and stands still.
    s.Keys({"Space"});
    ASSERT_TRUE(s.WaitForText("signals.wave  (paused)")) << s.LastScreen();
    // Data on demand: the newest window, read again and again.
    s.Keys({"p", "Down", "p"});
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        return screen.find("signals.count  newest 4096 atoms") != std::string::npos &&
               std::regex_search(screen, std::regex(R"(n +min \d+ +max \d+ +mean)"));
    })) << s.LastScreen();
    s.Keys({"p"});
    ASSERT_TRUE(s.WaitForText("\u2502 signals.count")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, AStoppedServerIsNotAnsweringAndKeysStillAnswer) {
    BrowseSession s(*s_server, WithArgs({"boards"}));
    ASSERT_TRUE(s.WaitForText("  connected ")) << s.LastScreen();
    {
        PausedServer paused(*s_server);
        ASSERT_TRUE(s.WaitForText(" not answering ")) << s.LastScreen();
        s.Keys({"?"});
        ASSERT_TRUE(s.WaitForText("Keys (any key closes this)")) << s.LastScreen();
        s.Keys({"Escape"});
        ASSERT_TRUE(s.WaitFor([](const std::string& screen) { return screen.find("Keys (any") == std::string::npos; }))
            << s.LastScreen();
    }
    ASSERT_TRUE(s.WaitForText("  connected ")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, QuitsAtOnceWhileTheServerIsStopped) {
    BrowseSession s(*s_server, WithArgs({"boards"}));
    ASSERT_TRUE(s.WaitForText("\u25b8 board0")) << s.LastScreen();
    PausedServer paused(*s_server);
    // A registry call in progress when q comes.
    s.Keys({"Down", "Enter", "q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, AKilledServerComesBackWithTheTreeAndWatchList) {
    BrowseSession s(*s_server, WithArgs({"boards"}));
    ASSERT_TRUE(s.WaitForText("\u25b8 board0")) << s.LastScreen();
    s.Keys({"Down", "Enter"});
    ASSERT_TRUE(s.WaitForText("gain [double] = 1.5")) << s.LastScreen();
    s.Keys({"Down", "Down", "w", "Down"});
    ASSERT_TRUE(s.WaitForText("Watch (1)")) << s.LastScreen();
    ASSERT_TRUE(s.WaitForText("\u2502 boards.board0.mode")) << s.LastScreen();
    // A value the restarted server does not have (it starts from the tree).
    ASSERT_EQ(Rove(*s_server, {"boards.board0.mode=fast"}).status, 0);
    ASSERT_TRUE(s.WaitForText("mode [enum] = fast")) << s.LastScreen();
    s_server->Kill();
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        return screen.find(" lost ") != std::string::npos || screen.find(" reconnecting ") != std::string::npos;
    })) << s.LastScreen();
    s_server->Restart();
    ASSERT_TRUE(s.WaitForText("  connected ")) << s.LastScreen();
    // The open levels are read from the new server, the selection is kept,
    // and the watch list follows the new server.
    ASSERT_TRUE(s.WaitForText("mode [enum] = slow")) << s.LastScreen();
    EXPECT_NE(s.LastScreen().find("\u2502 boards.board0.mode"), std::string::npos) << s.LastScreen();
    EXPECT_EQ(Rove(*s_server, {"boards.board0.gain=3.5"}).status, 0);
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        const std::string row = Row(screen, RowOf(screen, " boards.board0.gain "));
        return row.find(" 3.5 ") != std::string::npos;
    })) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, FollowsTheTerminalSize) {
    BrowseSession s(*s_server, {});
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    s.Resize(30, 10);
    ASSERT_TRUE(s.WaitFor([](const std::string& screen) {
        return Row(screen, 0) == "Terminal too small: need 40x12" && Row(screen, 1).empty();
    })) << s.LastScreen();
    s.Resize(60, 16);
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

// Every way out gives the terminal back as it was.
struct WayOut {
    const char* name;
    const char* key;   // a key to press, or
    int signal;        // a signal to send
};

class WaysOut : public BrowseTest, public ::testing::WithParamInterface<WayOut> {};

TEST_P(WaysOut, RestoreTheTerminal) {
    BrowseSession s(*s_server, {});
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    // A prompt open and a registry call just asked for: the state the
    // program is in when it is left does not matter.
    s.Keys({"Down", "Down", "Enter", "g"});
    if (GetParam().key)
        s.Keys({GetParam().key});
    else
        ASSERT_EQ(kill(s.BrowserPid(), GetParam().signal), 0);
    ExpectEndedCleanly(s);
}

INSTANTIATE_TEST_SUITE_P(Browse, WaysOut,
                         ::testing::Values(WayOut{"CtrlC", "C-c", 0}, WayOut{"Sigterm", nullptr, SIGTERM},
                                           WayOut{"Sighup", nullptr, SIGHUP}, WayOut{"Sigint", nullptr, SIGINT}),
                         [](const auto& info) { return std::string(info.param.name); });

// The terminal goes away (the ssh session or the terminal window closed):
// the browser ends, told by SIGHUP, or without it (not its controlling
// terminal) by its input's end.
class TerminalGone : public BrowseTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TerminalGone, EndsTheBrowser) {
    BrowseSession::Options options;
    options.ownSession = GetParam();
    BrowseSession s(*s_server, options);
    ASSERT_TRUE(s.WaitForText("\u25b8 odd")) << s.LastScreen();
    const int pid = s.BrowserPid();
    ASSERT_GT(pid, 0);
    s.CloseTerminal();
    EXPECT_TRUE(WaitUntilEnded(pid));
}

INSTANTIATE_TEST_SUITE_P(Browse, TerminalGone, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "InputEnds" : "Sighup"); });

// A start that fails says why, ends with status 1 and leaves the terminal
// as it was.
struct FailedStart {
    const char* name;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    const char* err;
};

class FailedStarts : public BrowseTest, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(FailedStarts, SayWhyAndRestoreTheTerminal) {
    BrowseSession::Options options;
    options.args = GetParam().args;
    options.env = GetParam().env;
    BrowseSession s(*s_server, options);
    EXPECT_EQ(s.WaitForExit(), 1);
    EXPECT_EQ(s.Stderr(), GetParam().err);
    EXPECT_FALSE(s.ModesBefore().empty());
    EXPECT_EQ(s.ModesAfter(), s.ModesBefore());
}

INSTANTIATE_TEST_SUITE_P(
    Browse, FailedStarts,
    ::testing::Values(FailedStart{"NoSuchStartNode", {"boards.nosuch"}, {}, "Node not found: boards.nosuch\n"},
                      FailedStart{"UnknownTerminal", {}, {{"TERM", "nosuchterm"}},
                                  "browse cannot use the terminal (TERM=nosuchterm)\n"},
                      FailedStart{"TwoPaths", {"boards", "odd"}, {}, "browse takes one PATH at most\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BrowseTest, NeedsATerminal) {
    const RunResult r = Rove(*s_server, {"browse"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "browse needs a terminal\n");
}

TEST_F(BrowseTest, AsciiAndNoColourWhereTheTerminalAsksForThem) {
    BrowseSession::Options options;
    options.env = {{"LANG", "C"}, {"LC_ALL", "C"}, {"NO_COLOR", "1"}};
    BrowseSession s(*s_server, options);
    ASSERT_TRUE(s.WaitForText("+ odd")) << s.LastScreen();
    EXPECT_EQ(Row(s.LastScreen(), 1).substr(0, 16), " - browse-host  ");
    EXPECT_NE(Row(s.LastScreen(), 1).find('|'), std::string::npos);
    // Attributes only: no colour in any SGR sequence.
    const std::string styled = s.StyledScreen();
    EXPECT_FALSE(std::regex_search(styled, std::regex("\x1b\\[[0-9;]*(3[0-7]|38;5;)"))) << styled;
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

TEST_F(BrowseTest, SavesASubtreeAndMarksTheDifferencesOfASnapshot) {
    const std::string file = TempDir() + "/board0.yaml";
    BrowseSession s(*s_server, WithArgs({"boards"}));
    ASSERT_TRUE(s.WaitForText("\u25b8 board0")) << s.LastScreen();
    s.Keys({"Down", "s", "C-u"});
    s.Type(file);
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("saved 5 nodes to " + file)) << s.LastScreen();
    // The file is the one save writes.
    const RunResult diff = Rove(*s_server, {"diff", file});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    ASSERT_EQ(Rove(*s_server, {"boards.board0.gain=4", "boards.board0.mode=fast"}).status, 0);
    s.Keys({"d", "C-u"});
    s.Type(file);
    s.Keys({"Enter"});
    ASSERT_TRUE(s.WaitForText("2 differences from " + file)) << s.LastScreen();
    // board0 is closed: its row carries the mark.
    EXPECT_EQ(TreePane(s.LastScreen(), 4)[2], "*  \u25b8 board0");
    s.Keys({"]"});
    ASSERT_TRUE(s.WaitForText("difference 1 of 2: boards.board0.gain: 1.5 -> 4")) << s.LastScreen();
    ASSERT_TRUE(s.WaitForText("\u2502 boards.board0.gain")) << s.LastScreen();
    EXPECT_NE(s.LastScreen().find("*      gain [double] = 4"), std::string::npos) << s.LastScreen();
    s.Keys({"]"});
    ASSERT_TRUE(s.WaitForText("difference 2 of 2: boards.board0.mode: \"slow\" -> \"fast\"")) << s.LastScreen();
    s.Keys({"q"});
    ExpectEndedCleanly(s);
}

}  // namespace
}  // namespace velnor::test
