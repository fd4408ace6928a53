// Screens of the browser drawn into a grid of cells and compared as text,
// with the demo registry's levels as the worker would read them.
#include <gtest/gtest.h>

#include <cmath>

#include "browse/plot_pane.h"
#include "browse_fixture.h"

namespace browse::test {
namespace {

Key K(KeyCode_e code) { return Key::Of(code); }

void Down(BrowseFixture& f, int n) {
    for (int i = 0; i < n; ++i) f.Press(K(KeyCode_e::eDown));
}

NotificationResult Changed(const std::string& path, istd::Any value, SteadyTime at, int wallMillis) {
    NotificationResult n;
    n.path = path;
    n.value = std::move(value);
    n.nodeSize = static_cast<std::uint32_t>(n.value.Size());
    n.arrived = at;
    n.wallArrived = WallTime{} + std::chrono::hours(24 * 365 * 50) + std::chrono::milliseconds(wallMillis);
    return n;
}

// The text of one pane of a grid, rows without their trailing blanks.
std::string Pane(const plot::CellGrid& grid, const Rect& r) {
    std::string text;
    for (int y = r.row; y < r.row + r.rows; ++y) {
        std::string line;
        for (int x = r.col; x < r.col + r.cols; ++x) plot::appendUtf8(line, grid.at(x, y).ch);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    return text;
}

// A text without the empty lines at its end (the rest of a pane).
std::string WithoutEmptyEnd(std::string text) {
    while (text.size() >= 2 && text[text.size() - 1] == '\n' && text[text.size() - 2] == '\n') text.pop_back();
    return text;
}

// The column of the first occurrence of `text` in row `row`.
int ColumnOf(const plot::CellGrid& grid, int row, const std::string& text) {
    const std::string line = grid.rowText(row);
    const std::size_t at = line.find(text);
    if (at == std::string::npos) return -1;
    int columns = 0;
    for (std::size_t i = 0; i < at; ++i) columns += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
    return columns;
}

// The demo at 80x24: boards.board0 open, three nodes watched, the gain
// changed by another writer.
BrowseFixture& WatchingDemo(BrowseFixture& f) {
    Down(f, 5);
    f.Press(K(KeyCode_e::eEnter));  // boards
    f.Press(K(KeyCode_e::eDown));
    f.Press(K(KeyCode_e::eEnter));  // board0
    Down(f, 2);                     // gain
    f.Type("w");
    Down(f, 2);  // mode
    f.Type("w");
    Down(f, 6);  // temperature
    f.Type("w");
    f.browser.Apply(Changed("boards.board0.gain", istd::Any::Scalar(2.5), f.now, 1250), f.now);
    return f;
}

TEST(Renderer, DemoTreeAt80x24WithAWatchList) {
    BrowseFixture f(80, 24);
    WatchingDemo(f);
    EXPECT_EQ(f.Text(), R"( demo-host                            17/23 │ boards.board0.temperature
     version [string] = 2.8.167             │ Type      double
   ▸ tracing                                │ Flags     readable
   ▸ acquisition                            │ Size      1
   ▾ boards                                 │ Parent    board0
     ▾ board0                               │ Children  0
         serial [string] = VB-2041-0017     │ Value     41.6698913807202
         gain [double] = 2.5                │
         offset [float] = -0.25             │
         mode [enum] = slow                 │
         coeffs [int32[4]] = [0,1,2,3]      │
         weights [double[4]] = [0.5,0.25,...│
         channel-enabled [bool[4]] = [tru...│
         sample-clock [uint32] = 100000000  │
         lmt-offset [int64] = -4200000000   │
         temperature [double] = 41.669891...│
─ Watch (3) ────────────────────────────────────────────────────────────────────
 boards.board0.gain        2.5                              00:00:01.250       1
 boards.board0.mode        slow                             -                  0
 boards.board0.temperature 41.6698913807202                 -                  0


watched: boards.board0.temperature
 127.0.0.1:17520/application  connected                          ? help  q quit
)");
}

TEST(Renderer, AChangedValueIsHighlightedForAMoment) {
    BrowseFixture f(80, 24);
    WatchingDemo(f);
    const Theme theme = Theme::Coloured(256);
    const auto valueStyle = [&](int row, const std::string& text) {
        const Screen screen = f.Draw(theme);
        return screen.grid.at(ColumnOf(screen.grid, row, text), row).style;
    };
    EXPECT_EQ(valueStyle(7, "2.5"), theme.changed);   // the tree
    EXPECT_EQ(valueStyle(17, "2.5"), theme.changed);  // the watch list
    EXPECT_EQ(f.browser.NextChange(f.now), f.now + c_highlightTime);
    f.now += c_highlightTime;
    EXPECT_EQ(valueStyle(7, "2.5"), plot::Style{});
    EXPECT_EQ(valueStyle(17, "2.5"), plot::Style{});
    // Nothing more to change by itself: the UI thread sleeps.
    EXPECT_EQ(f.browser.NextChange(f.now), SteadyTime::max());
}

TEST(Renderer, DemoSubtreeAt120x40WithAHiddenLevel) {
    BrowserOptions options;
    options.startPath = "boards.board0";
    BrowseFixture f(120, 40, options);
    f.Press(K(KeyCode_e::eEnd));
    f.Press(K(KeyCode_e::eEnter));  // calibration, hidden
    f.Press(K(KeyCode_e::eHome));
    Down(f, 4);  // mode
    EXPECT_EQ(f.Text(), R"( boards.board0                                                    │ boards.board0.mode
 ▾ board0                                                         │ Type      enum (off,slow,fast)
     serial [string] = VB-2041-0017                               │ Flags     readable writable persistent
     gain [double] = 1.5                                          │ Size      1
     offset [float] = -0.25                                       │ Parent    board0
     mode [enum] = slow                                           │ Children  0
     coeffs [int32[4]] = [0,1,2,3]                                │ Value     slow
     weights [double[4]] = [0.5,0.25,0.125,0.0625]                │
     channel-enabled [bool[4]] = [true,true,false,true]           │
     sample-clock [uint32] = 100000000                            │
     lmt-offset [int64] = -4200000000                             │
     temperature [double] = 41.6698913807202                      │
     heartbeat [bool] = false                                     │
     adc [signal]                                                 │
     reset [function]                                             │
   ▾ calibration                                                  │
       gain-trim [double] = 0.9987                                │
       dac-codes [uint32[4]] = [2048,2047,2049,2050]              │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
                                                                  │
─ Watch (0) ────────────────────────────────────────────────────────────────────────────────────────────────────────────
 w on a node watches it: its value, the time of its last change and a count.









 127.0.0.1:17520/application  connected                                                                  ? help  q quit
)");
    // A hidden node's name is dim.
    const Screen screen = f.Draw(Theme::Coloured(256));
    EXPECT_EQ(screen.grid.at(ColumnOf(screen.grid, 15, "calibration"), 15).style, Theme::Coloured(256).dim);
}

// The details pane of a selected node of each kind.
struct DetailsCase {
    const char* name;
    const char* path;
    const char* pane;
};

class DetailsOfEachKind : public ::testing::TestWithParam<DetailsCase> {};

TEST_P(DetailsOfEachKind, ShowWhatInfoReports) {
    BrowseFixture f(90, 20);
    const std::string path = GetParam().path;
    // The levels from the root down to the node.
    std::vector<ChildrenResult> levels;
    for (std::string p = ParentPath(path);; p = ParentPath(p)) {
        levels.insert(levels.begin(), DemoLevel(p));
        if (p.empty()) break;
    }
    f.browser.Apply(RevealResult{path, levels, ""}, f.now);
    f.Answer();
    EXPECT_EQ(WithoutEmptyEnd(Pane(f.Draw().grid, f.browser.GetLayout().details)), GetParam().pane);
}

INSTANTIATE_TEST_SUITE_P(
    Renderer, DetailsOfEachKind,
    ::testing::Values(
        DetailsCase{"Text", "boards.board0.serial",
                    " boards.board0.serial\n Type      string\n Flags     readable constant\n Size      1\n"
                    " Parent    board0\n Children  0\n Value     VB-2041-0017\n"},
        DetailsCase{"DoubleWithBounds", "boards.board0.gain",
                    " boards.board0.gain\n Type      double\n Flags     readable writable persistent\n Size      1\n"
                    " Parent    board0\n Children  0\n Bounds    [0, 10]\n Value     1.5\n"},
        DetailsCase{"Float", "boards.board0.offset",
                    " boards.board0.offset\n Type      float\n Flags     readable writable\n Size      1\n"
                    " Parent    board0\n Children  0\n Value     -0.25\n"},
        DetailsCase{"Enumeration", "boards.board0.mode",
                    " boards.board0.mode\n Type      enum (off,slow,fast)\n Flags     readable writable persistent\n"
                    " Size      1\n Parent    board0\n Children  0\n Value     slow\n"},
        DetailsCase{"IntegerArray", "boards.board0.coeffs",
                    " boards.board0.coeffs\n Type      int32[4]\n Flags     readable writable array\n Size      4\n"
                    " Parent    board0\n Children  0\n Value     [0,1,2,3]\n"},
        DetailsCase{"BoolArray", "boards.board0.channel-enabled",
                    " boards.board0.channel-enabled\n Type      bool[4]\n Flags     readable writable array\n"
                    " Size      4\n Parent    board0\n Children  0\n Value     [true,true,false,true]\n"},
        DetailsCase{"Validator", "boards.board0.sample-clock",
                    " boards.board0.sample-clock\n Type      uint32\n Flags     readable\n Size      1\n"
                    " Parent    board0\n Children  0\n Validator value % 1000 == 0\n Value     100000000\n"},
        DetailsCase{"Int64", "boards.board0.lmt-offset",
                    " boards.board0.lmt-offset\n Type      int64\n Flags     readable\n Size      1\n"
                    " Parent    board0\n Children  0\n Value     -4200000000\n"},
        DetailsCase{"Uint64", "acquisition.events",
                    " acquisition.events\n Type      uint64\n Flags     readable\n Size      1\n"
                    " Parent    acquisition\n Children  0\n Value     42\n"},
        DetailsCase{"Bool", "acquisition.running",
                    " acquisition.running\n Type      bool\n Flags     readable writable\n Size      1\n"
                    " Parent    acquisition\n Children  0\n Value     false\n"},
        DetailsCase{"Function", "boards.board0.reset",
                    " boards.board0.reset\n Type      function\n Flags     executable\n Parent    board0\n"
                    " Children  0\n"},
        DetailsCase{"Signal", "boards.board0.adc",
                    " boards.board0.adc\n Type      signal\n Flags     signal\n Parent    board0\n"
                    " Children  0\n"},
        DetailsCase{"HiddenSubtree", "boards.board0.calibration",
                    " boards.board0.calibration\n Type      none\n Flags     hidden\n Parent    board0\n"
                    " Children  2: gain-trim, dac-codes\n"},
        DetailsCase{"TopLevel", "trigger",
                    " trigger\n Type      none\n Flags     none\n Parent    demo-host (the registry root)\n"
                    " Children  5: level, source, ramp,\n           history, fire\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Renderer, ALongValueWrapsAndItsEndIsMarked) {
    BrowseFixture f(80, 24);
    Details d = DemoDetails("app-name");
    d.hasValue = true;
    d.value = istd::Any::Scalar(std::string(2000, 'x') + "\x1b[2J");
    f.browser.Apply(RevealResult{"app-name", {DemoLevel("")}, ""}, f.now);
    f.Answer();
    f.browser.Apply(DetailsResult{"app-name", d}, f.now);
    const std::string pane = Pane(f.Draw().grid, f.browser.GetLayout().details);
    // Rows of 24 x to the pane's end, which tells how long the value is.
    EXPECT_NE(pane.find(" Value     xxxxxxxxxxxxxxxxxxxxxxxx\n           xxxxxxxxxxxxxxxxxxxxxxxx\n"), std::string::npos)
        << pane;
    EXPECT_NE(pane.find("xxxxx... (2004 bytes)\n"), std::string::npos) << pane;
}

TEST(Renderer, HelpScreen) {
    BrowseFixture f(80, 24);
    f.Type("?");
    EXPECT_EQ(f.Text(), R"( demo-host                                  │ demo-host
 ▾ ┌─ Keys (any key closes this) ───────────────────────────────────────────┐
   │ Up Down j k         move the selection                                 │
   │ PgUp PgDn Home End  move by a page, to the first or last node          │ot)
   │ Right l Enter       expand the node, or go to its first child          │
   │ Left h              collapse the node, or go to its parent             │
   │ g /                 go to a path (Tab completes it)                    │
   │ f                   filter the loaded names                            │
   │ r                   read the selected subtree again                    │
   │ w                   watch the node (on a subtree: its values), or stop │
   │ Tab                 move between the tree and the watch list           │
   │ e                   edit the value as access takes it ([1:2]=7,8)      │
   │ Space               toggle a boolean; pause or resume the plot         │
   │ x                   run a function node (after y)                      │
   │ p                   plot a signal node, or close the plot              │
   │ + -                 zoom the plot's time axis in or out                │
─ W│ s                   save the selected subtree to a snapshot file       │───
 w │ d                   compare with a snapshot and mark the differences   │
   │ ] [                 go to the next or previous difference              │
   │ Esc                 close the plot, clear the filter or the message    │
   │ Ctrl-L Ctrl-Z       draw the screen again; suspend (fg resumes)        │
   │ q Ctrl-C            quit                                               │
   └────────────────────────────────────────────────────────────────────────┘
 127.0.0.1:17520/application  connected                          ? help  q quit
)");
    // Any key closes it, and does nothing else.
    f.Type("q");
    EXPECT_FALSE(f.browser.HelpShown());
    EXPECT_FALSE(f.browser.QuitRequested());
}

TEST(Renderer, ATerminalOf30x10SaysItIsTooSmall) {
    BrowseFixture f(30, 10);
    EXPECT_EQ(f.Text(), "Terminal too small: need 40x12\n\n\n\n\n\n\n\n\n\n");
    BrowseFixture narrow(39, 30);
    EXPECT_EQ(narrow.Draw().grid.rowText(0), "Terminal too small: need 40x12");
    BrowseFixture smallest(40, 12);
    EXPECT_EQ(smallest.Draw().grid.rowText(0), " demo-host        1/7 │ demo-host");
}

TEST(Renderer, AsciiWhereTheLocaleIsNotUtf8) {
    BrowserOptions options;
    options.charset = Charset_e::eAscii;
    options.address = "127.0.0.1:17520/application";
    BrowseFixture f(60, 14, options);
    Down(f, 4);
    f.Press(K(KeyCode_e::eEnter));
    EXPECT_EQ(f.Text(), R"( demo-host                  5/12 | acquisition
 - demo-host                     | Type      none
     app-name [string] = Velno...| Flags     none
     version [string] = 2.8.167  | Parent    demo-host (the
   + tracing                     |           registry root)
   - acquisition                 | Children  5: running,
       running [bool] = false    |           run-number,
       run-number [uint32] = 1   |           events, star...
- Watch (0) ------------------------------------------------
 w on a node watches it: its value, the time of its last cha



 127.0.0.1:17520/application  connected      ? help  q quit
)");
}

TEST(Renderer, PromptsShowTheFieldAndTheCursor) {
    BrowseFixture f(80, 24);
    f.Type("g");
    f.Type("boards.b");
    Screen screen = f.Draw();
    EXPECT_EQ(screen.grid.rowText(22), "Go to: boards.b");
    EXPECT_EQ(screen.cursorRow, 22);
    EXPECT_EQ(screen.cursorCol, 15);
    const std::string status = screen.grid.rowText(23);
    EXPECT_EQ(status.substr(status.size() - 22), "Enter: ok  Esc: cancel");
    // Tab's candidates stand above the prompt.
    f.browser.Apply(CompleteResult{"boards.b", {"boards.board0.", "boards.board1."}}, f.now);
    screen = f.Draw();
    EXPECT_EQ(screen.grid.rowText(22), "Go to: boards.board");
    EXPECT_EQ(screen.grid.rowText(21), "board0.  board1.");
    f.Press(K(KeyCode_e::eEscape));
    EXPECT_EQ(f.Draw().cursorRow, -1);
}

TEST(Renderer, NoCellHoldsAControlCharacter) {
    BrowseFixture f(80, 24);
    ChildrenResult level = DemoLevel("");
    level.children[0].value = std::string("\x1b[2J\x07\x9b\xff\0x", 8);
    level.children[0].facts.name = "a\tb\x1b";
    f.browser.Apply(level, f.now);
    const Screen screen = f.Draw();
    for (int y = 0; y < screen.grid.rows(); ++y)
        for (int x = 0; x < screen.grid.cols(); ++x) {
            const char32_t ch = screen.grid.at(x, y).ch;
            EXPECT_FALSE(ch < 0x20 || (ch >= 0x7F && ch < 0xA0)) << "at " << x << "," << y;
        }
    EXPECT_EQ(screen.grid.rowText(2).substr(0, 44), "     a\\tb\\x1b [string] = \\x1b[2J\\x07\\x9b\\...");
}

// The plot of a known signal: a counter read on demand, a sine stream.
PlotView PlotOf(const std::string& path, std::vector<std::string> components, bool stream, std::uint64_t window) {
    PlotView view;
    view.path = path;
    view.components = std::move(components);
    view.opened = true;
    view.stream = stream;
    view.buffer = std::make_shared<PlotBuffer>(view.components.size(), window);
    return view;
}

TEST(Renderer, PlotOfACounter) {
    PlotView view = PlotOf("signals.count", {"n"}, false, 64);
    std::vector<int> counter(64);
    for (int i = 0; i < 64; ++i) counter[static_cast<std::size_t>(i)] = i;
    view.buffer->Replace(counter.data(), counter.size(), T0());
    plot::CellGrid grid(44, 14);
    DrawPlotPane(view, Charset_e::eUtf8, false, Theme::Monochrome(), Rect{0, 0, 44, 14}, grid);
    EXPECT_EQ(grid.text(), R"( signals.count  newest 64 atoms, read eve...
       63│                               ⣀⠔⠊
         │                            ⡠⠒⠊
         │                         ⡠⠔⠉
         │                      ⡠⠔⠉
         │                  ⢀⠤⠊⠉
         │               ⢀⡠⠊⠁
         │            ⣀⡠⠒⠁
         │         ⣀⠔⠊
         │      ⣀⠔⠊
         │   ⡠⠤⠊
        0│⡠⠔⠉
         └0                         63 atoms
⣿ n  min 0 max 63 mean 31.5
)");
}

TEST(Renderer, PlotOfASineStreamInBrailleAndInAscii) {
    PlotView view = PlotOf("signals.wave", {"a", "b"}, true, 200);
    std::vector<short> wave(400);
    for (int i = 0; i < 200; ++i) {
        wave[static_cast<std::size_t>(2 * i)] = static_cast<short>(std::lround(1000 * std::sin(2 * M_PI * i / 100.0)));
        wave[static_cast<std::size_t>(2 * i + 1)] = static_cast<short>(std::lround(500 * std::cos(2 * M_PI * i / 100.0)));
    }
    view.buffer->Add(wave.data(), 200, T0());
    plot::CellGrid grid(50, 16);
    DrawPlotPane(view, Charset_e::eUtf8, false, Theme::Monochrome(), Rect{0, 0, 50, 16}, grid);
    EXPECT_EQ(grid.text(), R"( signals.wave  rate 0 atoms/s  window 200 atoms
     1000│   ⡠⠋⠙⢆                ⡠⠋⠙⢆
         │  ⡰⠁  ⠈⢇              ⡰⠁  ⠈⢇
         │ ⢀⠇    ⠘⡄            ⢀⠇    ⠘⡄
         │⠉⡿⣄     ⢱        ⣠⠖⠉⠉⡿⣄     ⢱        ⣠⠖⠉
         │⢠⠃⠈⢦     ⡇      ⡴⠃  ⢠⠃⠈⢦     ⡇      ⡴⠃
         │⡎   ⢣    ⠸⡀    ⡔⠁   ⡎   ⢣    ⠸⡀    ⡔⠁
         │⠁    ⠣⡀   ⢇   ⡜⠁   ⢰⠁    ⠣⡀   ⢇   ⡜⠁   ⢰
         │      ⠳⡄  ⠘⡄⢀⠞     ⡇      ⠳⡄  ⠘⡄⢀⠞     ⡇
         │       ⠙⠦⣀⣀⣷⠋     ⡸        ⠙⠦⣀⣀⣷⠋     ⡸
         │           ⠈⡆    ⢠⠃            ⠈⡆    ⢠⠃
         │            ⠱⡀  ⢀⡎              ⠱⡀  ⢀⡎
    -1000│             ⠑⣄⣠⠎                ⠑⣄⣠⠎
         └0                              199 atoms
⣿ a  min -1000     max 1000      mean 0
⣿ b  min -500      max 500       mean 0
)");
    DrawPlotPane(view, Charset_e::eAscii, false, Theme::Monochrome(), Rect{0, 0, 50, 16}, grid);
    EXPECT_EQ(grid.text(), R"( signals.wave  rate 0 atoms/s  window 200 atoms
     1000|   .:'.                .:'.
         |  .'  ':              .'  ':
         | .:    '.            .:    '.
         |':.     :        .:'':.     :        .:'
         |.'':     :      :'  .'':     :      :'
         |:   :    :     :'   :   :    :     :'
         |'    :.   :   :'   :'    :.   :   :'   :
         |      :.  '..:     :      :.  '..:     :
         |       ':..:'     :        ':..:'     :
         |           ':    .'            ':    .'
         |            '.  .:              '.  .:
    -1000|             ':.'                ':.'
         +0                              199 atoms
# a  min -1000     max 1000      mean 0
# b  min -500      max 500       mean 0
)");
}

TEST(Renderer, PlotOfAFailedAcquisitionSaysWhy) {
    PlotView view = PlotOf("signals.wave", {"a"}, true, 16);
    view.buffer->SetError("Interrupted read from signals.wave signal. Error: -4 (closed or interrupted)");
    plot::CellGrid grid(50, 6);
    DrawPlotPane(view, Charset_e::eUtf8, false, Theme::Monochrome(), Rect{0, 0, 50, 6}, grid);
    EXPECT_EQ(grid.rowText(1), " Interrupted read from signals.wave signal. Err...");
}

}  // namespace
}  // namespace browse::test
