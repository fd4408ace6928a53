// Keys and the worker's results: what the browser asks the worker and what
// it keeps, without a terminal or a registry.
#include <gtest/gtest.h>

#include "browse_fixture.h"

namespace browse::test {
namespace {

Key K(KeyCode_e code) { return Key::Of(code); }

// The demo with boards.board0's level open and `path` selected.
BrowseFixture& At(BrowseFixture& f, const std::string& path) {
    f.browser.Apply(RevealResult{path, {DemoLevel("boards"), DemoLevel("boards.board0")}, ""}, f.now);
    f.Answer();
    EXPECT_EQ(f.browser.SelectedPath(), path);
    return f;
}

TEST(Browser, ALevelIsReadOnceAndExpandsWhenItArrives) {
    RecordingSink sink;
    Browser browser(BrowserOptions{}, sink);
    browser.Resize(80, 24);
    browser.Start();
    ASSERT_EQ(sink.Sent<StartRequest>().size(), 1u);
    browser.Apply(DemoStart(), T0());
    ASSERT_EQ(sink.Sent<LoadChildrenRequest>().size(), 1u);  // the root's level, at once
    browser.Apply(DemoLevel(""), T0());
    for (int i = 0; i < 5; ++i) browser.HandleKey(K(KeyCode_e::eDown), T0());  // boards
    browser.HandleKey(K(KeyCode_e::eEnter), T0());
    browser.HandleKey(K(KeyCode_e::eRight), T0());  // again while it is read: no second request
    ASSERT_EQ(sink.Sent<LoadChildrenRequest>().size(), 2u);
    EXPECT_EQ(sink.Sent<LoadChildrenRequest>()[1].path, "boards");
    EXPECT_EQ(browser.GetTree().Rows().size(), 7u);
    browser.Apply(DemoLevel("boards"), T0());
    EXPECT_EQ(browser.GetTree().Rows().size(), 9u);
    // Closed and opened again: nothing is read.
    browser.HandleKey(K(KeyCode_e::eLeft), T0());
    browser.HandleKey(K(KeyCode_e::eRight), T0());
    EXPECT_EQ(sink.Sent<LoadChildrenRequest>().size(), 2u);
    EXPECT_EQ(browser.GetTree().Rows().size(), 9u);
    // Right on an open node goes to its first child; Left on a leaf to its parent.
    browser.HandleKey(K(KeyCode_e::eRight), T0());
    EXPECT_EQ(browser.SelectedPath(), "boards.board0");
    browser.HandleKey(Key::Char(U'h'), T0());
    EXPECT_EQ(browser.SelectedPath(), "boards");
}

TEST(Browser, NavigationKeysMoveTheSelectionAndScroll) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.gain");
    struct Step {
        Key key;
        const char* selected;
        int top;
    };
    const Step steps[] = {
        {K(KeyCode_e::eHome), "", 0},
        {K(KeyCode_e::eEnd), "trigger", 8},
        {K(KeyCode_e::ePageUp), "boards.board0.gain", 8},
        {K(KeyCode_e::ePageDown), "trigger", 8},
        {Key::Char(U'k'), "boards.board1", 8},
        {Key::Char(U'j'), "trigger", 8},
        {K(KeyCode_e::eDown), "trigger", 8},
    };
    for (const auto& s : steps) {
        f.Press(s.key);
        EXPECT_EQ(f.browser.SelectedPath(), s.selected);
        EXPECT_EQ(f.browser.TreeTop(), s.top) << s.selected;
    }
    // Each selection asks for its details; the worker keeps the newest.
    EXPECT_EQ(f.sink.Sent<DetailsRequest>().back().path, "trigger");
}

TEST(Browser, ReadOnlyRefusesEveryWriteAndRun) {
    BrowserOptions options;
    options.readOnly = true;
    for (const char* path : {"boards.board0.gain", "acquisition.running", "boards.board0.reset"}) {
        BrowseFixture f(80, 24, options);
        f.browser.Apply(RevealResult{path, {DemoLevel(ParentPath(path))}, ""}, f.now);
        if (std::string(path).rfind("boards", 0) == 0)
            f.browser.Apply(RevealResult{path, {DemoLevel("boards"), DemoLevel("boards.board0")}, ""}, f.now);
        f.Answer();
        for (const Key& key : {Key::Char(U'e'), Key::Char(U' '), Key::Char(U'x')}) {
            f.Press(key);
            EXPECT_EQ(f.browser.Prompt(), Prompt_e::eNone) << path;
        }
        EXPECT_TRUE(f.sink.Sent<WriteRequest>().empty()) << path;
        EXPECT_TRUE(f.sink.Sent<ExecuteRequest>().empty()) << path;
        // (Space on a double does nothing.)
        if (std::string(path) != "boards.board0.gain") {
            EXPECT_EQ(f.browser.GetMessage().text, "Read-only (--read-only): writes and function runs are refused");
        }
    }
}

TEST(Browser, EditsAreRefusedWhereAccessWouldRefuseThem) {
    struct Case {
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"boards.board0.serial", "Node boards.board0.serial is not writable"},
        {"boards.board0.adc", "Unable to set value for valueless node!"},
    };
    for (const auto& c : cases) {
        BrowseFixture f(80, 24);
        At(f, c.path).Type("e");
        EXPECT_EQ(f.browser.Prompt(), Prompt_e::eNone);
        EXPECT_EQ(f.browser.GetMessage().text, c.message);
        EXPECT_TRUE(f.browser.GetMessage().error);
    }
}

TEST(Browser, AnEditStartsWithTheValueAndSendsTheText) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.coeffs").Type("e");
    ASSERT_EQ(f.browser.Prompt(), Prompt_e::eEdit);
    EXPECT_EQ(f.browser.PromptLabel(), "Set boards.board0.coeffs=");
    EXPECT_EQ(f.browser.Editor().Text(), "0,1,2,3");
    f.Press(Key::Char(c_ctrlU));
    f.Type("[1:2]=7,8");
    f.Press(K(KeyCode_e::eEnter));
    ASSERT_EQ(f.sink.Sent<WriteRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<WriteRequest>()[0].path, "boards.board0.coeffs");
    EXPECT_EQ(f.sink.Sent<WriteRequest>()[0].text, "[1:2]=7,8");
    // The worker's answer: the value read back, or access's error.
    f.browser.Apply(WriteResult{"boards.board0.coeffs", "", "[0,7,8,3]"}, f.now);
    EXPECT_EQ(f.browser.GetMessage().text, "boards.board0.coeffs = [0,7,8,3]");
    EXPECT_EQ(f.browser.GetTree().Find("boards.board0.coeffs")->value, "[0,7,8,3]");
    f.browser.Apply(WriteResult{"boards.board0.coeffs", "Error: Wrong number of values", ""}, f.now);
    EXPECT_EQ(f.browser.GetMessage().text, "Error: Wrong number of values");
    EXPECT_TRUE(f.browser.GetMessage().error);
}

TEST(Browser, AnEditBeforeTheDetailsArriveIsFilledWhenTheyDo) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.gain");
    f.browser.HandleKey(K(KeyCode_e::eDown), f.now);  // offset: its details are asked for, not answered
    f.browser.HandleKey(Key::Char(U'e'), f.now);
    EXPECT_EQ(f.browser.Editor().Text(), "");
    f.Answer();
    EXPECT_EQ(f.browser.Editor().Text(), "-0.25");
    // Typed text is not replaced by details that come later.
    f.Type("5");
    f.browser.Apply(DetailsResult{"boards.board0.offset", DemoDetails("boards.board0.offset")}, f.now);
    EXPECT_EQ(f.browser.Editor().Text(), "-0.255");
}

TEST(Browser, AnEnumerationIsPickedFromItsDomain) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.mode").Type("e");
    ASSERT_EQ(f.browser.Prompt(), Prompt_e::eEnumPick);
    EXPECT_EQ(f.browser.Choices(), (std::vector<std::string>{"off", "slow", "fast"}));
    EXPECT_EQ(f.browser.Choice(), 1);  // the current value
    for (const Key& key : {K(KeyCode_e::eRight), K(KeyCode_e::eRight), K(KeyCode_e::eDown)}) f.Press(key);
    EXPECT_EQ(f.browser.Choice(), 2);
    f.Press(K(KeyCode_e::eLeft));
    f.Press(K(KeyCode_e::eLeft));
    f.Press(K(KeyCode_e::eUp));
    EXPECT_EQ(f.browser.Choice(), 0);
    f.Press(K(KeyCode_e::eEnter));
    ASSERT_EQ(f.sink.Sent<WriteRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<WriteRequest>()[0].text, "off");
}

TEST(Browser, SpaceTogglesABooleanOnly) {
    BrowseFixture f(80, 24);
    f.browser.Apply(RevealResult{"acquisition.running", {DemoLevel("acquisition")}, ""}, f.now);
    f.Answer();
    f.Type(" ");
    ASSERT_EQ(f.sink.Sent<WriteRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<WriteRequest>()[0].text, "true");
    f.browser.Apply(WriteResult{"acquisition.running", "", "true"}, f.now);
    f.Type(" ");
    EXPECT_EQ(f.sink.Sent<WriteRequest>()[1].text, "false");
    // An array of booleans and a read-only boolean are not toggled.
    At(f, "boards.board0.channel-enabled").Type(" ");
    At(f, "boards.board0.heartbeat").Type(" ");
    EXPECT_EQ(f.sink.Sent<WriteRequest>().size(), 2u);
    EXPECT_EQ(f.browser.GetMessage().text, "Node boards.board0.heartbeat is not writable");
}

TEST(Browser, AFunctionRunsOnlyAfterYes) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.reset").Type("x");
    ASSERT_EQ(f.browser.Prompt(), Prompt_e::eConfirmRun);
    EXPECT_EQ(f.browser.PromptLabel(), "Run boards.board0.reset? (y/n) ");
    f.Type("q");  // anything but y
    EXPECT_TRUE(f.sink.Sent<ExecuteRequest>().empty());
    EXPECT_FALSE(f.browser.QuitRequested());
    EXPECT_EQ(f.browser.GetMessage().text, "not run: boards.board0.reset");
    f.Type("xy");
    ASSERT_EQ(f.sink.Sent<ExecuteRequest>().size(), 1u);
    f.browser.Apply(ExecuteResult{"boards.board0.reset", "", false}, f.now);
    EXPECT_EQ(f.browser.GetMessage().text, "boards.board0.reset: failed");
    EXPECT_TRUE(f.browser.GetMessage().error);
    At(f, "boards.board0.gain").Type("x");
    EXPECT_EQ(f.browser.GetMessage().text, "Node boards.board0.gain is not executable");
}

TEST(Browser, GoToCompletesWithTabAndRevealsThePath) {
    BrowseFixture f(80, 24);
    f.Type("g");
    EXPECT_EQ(f.browser.Editor().Text(), "");  // the root's path
    f.Type("boards.board0.ga");
    f.Press(K(KeyCode_e::eTab));
    ASSERT_EQ(f.sink.Sent<CompleteRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<CompleteRequest>()[0].text, "boards.board0.ga");
    // --complete lists every child; the typed prefix chooses.
    f.browser.Apply(CompleteResult{"boards.board0.ga", {"boards.board0.serial", "boards.board0.gain",
                                                        "boards.board0.calibration."}},
                    f.now);
    EXPECT_EQ(f.browser.Editor().Text(), "boards.board0.gain");
    EXPECT_TRUE(f.browser.Candidates().empty());
    // An answer to text that has changed since is dropped.
    f.browser.Apply(CompleteResult{"boards.", {"boards.board0.", "boards.board1."}}, f.now);
    EXPECT_EQ(f.browser.Editor().Text(), "boards.board0.gain");
    f.Press(K(KeyCode_e::eEnter));
    ASSERT_EQ(f.sink.Sent<RevealRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<RevealRequest>()[0].path, "boards.board0.gain");
    f.browser.Apply(RevealResult{"boards.board0.gain", {DemoLevel(""), DemoLevel("boards"), DemoLevel("boards.board0")}, ""},
                    f.now);
    EXPECT_EQ(f.browser.SelectedPath(), "boards.board0.gain");
    EXPECT_TRUE(f.browser.GetTree().Find("boards.board0")->expanded);
    f.browser.Apply(RevealResult{"nosuch", {}, "Node not found: nosuch"}, f.now);
    EXPECT_EQ(f.browser.GetMessage().text, "Node not found: nosuch");
}

TEST(Browser, GoToOutsideTheBrowsedSubtreeIsRefused) {
    BrowserOptions options;
    options.startPath = "boards";
    BrowseFixture f(80, 24, options);
    f.Type("g");
    f.Press(Key::Char(c_ctrlU));
    f.Type("trigger.level");
    f.Press(K(KeyCode_e::eEnter));
    EXPECT_TRUE(f.sink.Sent<RevealRequest>().empty());
    EXPECT_EQ(f.browser.GetMessage().text, "trigger.level lies outside boards, the subtree browsed");
}

TEST(Browser, WatchingFollowsTheValuesOnScreenAndTheWatchList) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.gain");
    const std::vector<std::string> onScreen = f.sink.Sent<FollowRequest>().back().paths;
    EXPECT_NE(std::find(onScreen.begin(), onScreen.end(), "boards.board0.gain"), onScreen.end());
    EXPECT_EQ(std::find(onScreen.begin(), onScreen.end(), "trigger.level"), onScreen.end());  // not loaded
    f.Type("w");
    EXPECT_EQ(f.browser.Watch().Paths(), std::vector<std::string>{"boards.board0.gain"});
    EXPECT_EQ(f.browser.Watch().Entries()[0].value, "1.5");
    f.Type("w");
    EXPECT_TRUE(f.browser.Watch().Paths().empty());
    // A subtree: its value nodes, through the worker; the same again removes them.
    f.Press(K(KeyCode_e::eHome));
    f.Type("w");
    ASSERT_EQ(f.sink.Sent<WatchSubtreeRequest>().size(), 1u);
    const WatchSubtreeResult below{"", {"app-name", "tracing.level"}, {"Velnor demo", "0"}, ""};
    f.browser.Apply(below, f.now);
    EXPECT_EQ(f.browser.Watch().Paths(), (std::vector<std::string>{"app-name", "tracing.level"}));
    // The watched paths follow the registry, on screen or not.
    const std::vector<std::string> followed = f.sink.Sent<FollowRequest>().back().paths;
    EXPECT_NE(std::find(followed.begin(), followed.end(), "tracing.level"), followed.end());
    f.browser.Apply(below, f.now);
    EXPECT_TRUE(f.browser.Watch().Paths().empty());
    // Tab moves to the watch list only when it has entries.
    f.Press(K(KeyCode_e::eTab));
    EXPECT_EQ(f.browser.Focus(), Focus_e::eTree);
}

TEST(Browser, TheWatchListHasItsOwnKeys) {
    BrowseFixture f(80, 24);
    f.browser.Apply(WatchSubtreeResult{"", {"a", "b", "c"}, {"1", "2", "3"}, ""}, f.now);
    f.Press(K(KeyCode_e::eTab));
    ASSERT_EQ(f.browser.Focus(), Focus_e::eWatch);
    f.Press(K(KeyCode_e::eDown));
    f.Press(K(KeyCode_e::eDelete));
    EXPECT_EQ(f.browser.Watch().Paths(), (std::vector<std::string>{"a", "c"}));
    f.Press(K(KeyCode_e::eEnd));
    f.Press(K(KeyCode_e::eEnter));  // shown in the tree
    EXPECT_EQ(f.browser.Focus(), Focus_e::eTree);
    EXPECT_EQ(f.sink.Sent<RevealRequest>().back().path, "c");
}

TEST(Browser, SnapshotDifferencesAreMarkedAndVisitedInTurn) {
    BrowseFixture f(80, 24);
    f.Type("d");
    f.Type("setup.yaml");
    f.Press(K(KeyCode_e::eEnter));
    ASSERT_EQ(f.sink.Sent<DiffRequest>().size(), 1u);
    EXPECT_EQ(f.sink.Sent<DiffRequest>()[0].file, "setup.yaml");
    f.browser.Apply(DiffResult{"setup.yaml", {{"boards.board0.gain", "1.5 -> 2.5"}, {"app-name", "\"a\" -> \"b\""}}, 8, ""},
                    f.now);
    EXPECT_EQ(f.browser.GetMessage().text, "2 differences from setup.yaml: ] next, [ previous");
    f.Type("]");
    EXPECT_EQ(f.browser.GetMessage().text, "difference 1 of 2: boards.board0.gain: 1.5 -> 2.5");
    EXPECT_EQ(f.sink.Sent<RevealRequest>().back().path, "boards.board0.gain");  // not loaded yet
    f.Type("]");
    EXPECT_EQ(f.browser.SelectedPath(), "app-name");  // on screen: selected at once
    f.Type("]");
    EXPECT_EQ(f.browser.GetMessage().text, "difference 1 of 2: boards.board0.gain: 1.5 -> 2.5");
    f.Type("[");
    EXPECT_EQ(f.browser.GetMessage().text, "difference 2 of 2: app-name: \"a\" -> \"b\"");
    // An empty file name clears the marks.
    f.Type("d");
    f.Press(K(KeyCode_e::eEnter));
    EXPECT_TRUE(f.browser.GetTree().Differences().empty());
    f.Type("]");
    EXPECT_EQ(f.browser.GetMessage().text, "no snapshot differences (d compares with a snapshot)");
}

TEST(Browser, TheFilterAppliesAsItIsTyped) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.gain");
    f.Type("f");
    f.Type("temp");
    EXPECT_EQ(f.browser.GetTree().Rows().size(), 4u);  // root, boards, board0, temperature
    f.Press(K(KeyCode_e::eEnter));
    EXPECT_EQ(f.browser.GetTree().Filter(), "temp");
    f.Press(K(KeyCode_e::eEscape));
    EXPECT_EQ(f.browser.GetTree().Filter(), "");
}

TEST(Browser, QuitKeys) {
    struct Case {
        const char* name;
        std::vector<Key> keys;
        bool quits;
    };
    const Case cases[] = {
        {"q", {Key::Char(U'q')}, true},
        {"Ctrl-C", {Key::Char(c_ctrlC)}, true},
        {"Ctrl-C in a prompt", {Key::Char(U'g'), Key::Char(c_ctrlC)}, true},
        {"q in a prompt is text", {Key::Char(U'g'), Key::Char(U'q')}, false},
        {"q closes the help", {Key::Char(U'?'), Key::Char(U'q')}, false},
    };
    for (const auto& c : cases) {
        BrowseFixture f(80, 24);
        for (const Key& key : c.keys) f.Press(key);
        EXPECT_EQ(f.browser.QuitRequested(), c.quits) << c.name;
    }
}

TEST(Browser, ANewConnectionReadsTheOpenLevelsAgainAndKeepsTheSelection) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.gain").Type("p");  // not a signal: no plot
    EXPECT_EQ(f.browser.GetMessage().text, "signal: not a signal node: boards.board0.gain");
    f.browser.Apply(StateResult{Connection_e::eLost, "Registry at 127.0.0.1:17520 is not reachable"}, f.now);
    EXPECT_EQ(f.browser.State(), Connection_e::eLost);
    const std::size_t before = f.sink.Sent<LoadChildrenRequest>().size();
    f.browser.Apply(DemoStart(), f.now);
    // The root's level first; each open level below follows its parent's.
    std::vector<LoadChildrenRequest> loads = f.sink.Sent<LoadChildrenRequest>();
    ASSERT_EQ(loads.size(), before + 1);
    EXPECT_EQ(loads.back().path, "");
    f.Answer();
    loads = f.sink.Sent<LoadChildrenRequest>();
    ASSERT_EQ(loads.size(), before + 3);
    EXPECT_EQ(loads[before + 1].path, "boards");
    EXPECT_EQ(loads[before + 2].path, "boards.board0");
    EXPECT_EQ(f.browser.SelectedPath(), "boards.board0.gain");
    EXPECT_EQ(f.browser.SelectedRow(), 8);
}

TEST(Browser, APlotOpensOnASignalAndReopensOnANewConnection) {
    BrowseFixture f(80, 24);
    At(f, "boards.board0.adc").Type("p");
    ASSERT_EQ(f.sink.Sent<PlotOpenRequest>().size(), 1u);
    ASSERT_NE(f.browser.Plot(), nullptr);
    f.browser.Apply(PlotOpenedResult{"boards.board0.adc", {"va", "vb"}, true, ""}, f.now);
    EXPECT_TRUE(f.browser.Plot()->opened);
    EXPECT_EQ(f.browser.NextChange(f.now), f.now + c_plotFrame);
    f.Type("+");
    EXPECT_EQ(f.browser.Plot()->buffer->Window(), c_defaultWindow / 2);
    f.Type("--");
    EXPECT_EQ(f.browser.Plot()->buffer->Window(), c_defaultWindow * 2);
    f.Type(" ");
    EXPECT_TRUE(f.browser.Plot()->paused);
    EXPECT_EQ(f.browser.NextChange(f.now), SteadyTime::max());
    f.browser.Apply(DemoStart(), f.now);
    ASSERT_EQ(f.sink.Sent<PlotOpenRequest>().size(), 2u);
    f.Press(K(KeyCode_e::eEscape));
    EXPECT_EQ(f.browser.Plot(), nullptr);
    EXPECT_EQ(f.sink.Sent<PlotCloseRequest>().size(), 1u);
}

TEST(Browser, ALevelThatCannotBeReadSaysWhy) {
    BrowseFixture f(80, 24);
    f.Press(K(KeyCode_e::eDown));
    f.Press(K(KeyCode_e::eDown));
    f.Press(K(KeyCode_e::eDown));  // tracing
    f.browser.HandleKey(K(KeyCode_e::eEnter), f.now);
    ChildrenResult failed;
    failed.path = "tracing";
    failed.error = "Registry at 127.0.0.1:17520 did not answer in time";
    f.browser.Apply(failed, f.now);
    EXPECT_EQ(f.browser.GetTree().Find("tracing")->load, Load_e::eFailed);
    EXPECT_EQ(f.browser.GetMessage().text, failed.error);
    // Asked again, it is read again.
    f.Press(K(KeyCode_e::eEnter));
    EXPECT_EQ(f.sink.Sent<LoadChildrenRequest>().back().path, "tracing");
    EXPECT_TRUE(f.browser.GetTree().Find("tracing")->expanded);
}

TEST(Browser, AStartNodeThatIsGoneEndsTheBrowser) {
    BrowseFixture f(80, 24);
    f.browser.Apply(StartFailedResult{"Node not found: boards.nosuch"}, f.now);
    EXPECT_TRUE(f.browser.QuitRequested());
    EXPECT_EQ(f.browser.FatalError(), "Node not found: boards.nosuch");
}

TEST(Browser, TheMouseSelectsAndOpensRows) {
    BrowseFixture f(80, 24);
    Key click{KeyCode_e::eMouseClick, 0, 5, 6};  // the row of boards
    f.Press(click);
    EXPECT_EQ(f.browser.SelectedPath(), "boards");
    f.Press(click);  // a second click opens it
    EXPECT_TRUE(f.browser.GetTree().Find("boards")->expanded);
    f.Press(Key{KeyCode_e::eMouseWheelUp, 0, 0, 0});
    EXPECT_EQ(f.browser.SelectedPath(), "version");
}

}  // namespace
}  // namespace browse::test
