#pragma once
// The browser's behaviour, apart from any terminal and any registry: keys
// and the worker's results change the state (model.h) and send requests
// to the worker. The renderer draws what this class holds; the UI thread
// alone calls it.
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "browse/display_text.h"
#include "browse/keys.h"
#include "browse/layout.h"
#include "browse/line_editor.h"
#include "browse/messages.h"
#include "browse/model.h"
#include "browse/plot_view.h"

namespace browse {

class RequestSink {
public:
    virtual ~RequestSink() = default;
    virtual void Send(Request request) = 0;
};

enum class Focus_e { eTree, eWatch };

enum class Prompt_e {
    eNone,
    eGoTo,          // a path, with Tab completion
    eFilter,        // names of the loaded nodes
    eEdit,          // a value, as access takes it
    eEnumPick,      // one name of an enumeration's domain
    eConfirmRun,    // y/n before a function runs
    eSave,          // the file a subtree is saved to
    eLoadSnapshot,  // the snapshot file to compare with
};

struct BrowserOptions {
    std::string address;    // HOST:PORT/ROOT, as the status line shows it
    std::string startPath;  // dotted, "" for the root
    bool readOnly = false;
    Charset_e charset = Charset_e::eUtf8;
};

// One key of the help screen.
struct KeyHelp {
    const char* keys;
    const char* what;
};
// The keys, as the help screen lists them (no code runs at start-up for
// them: a one-shot run of the tool pays nothing for the browser).
inline constexpr KeyHelp c_keyHelp[] = {
    {"Up Down j k", "move the selection"},
    {"PgUp PgDn Home End", "move by a page, to the first or last node"},
    {"Right l Enter", "expand the node, or go to its first child"},
    {"Left h", "collapse the node, or go to its parent"},
    {"g /", "go to a path (Tab completes it)"},
    {"f", "filter the loaded names"},
    {"r", "read the selected subtree again"},
    {"w", "watch the node (on a subtree: its values), or stop"},
    {"Tab", "move between the tree and the watch list"},
    {"e", "edit the value as access takes it ([1:2]=7,8)"},
    {"Space", "toggle a boolean; pause or resume the plot"},
    {"x", "run a function node (after y)"},
    {"p", "plot a signal node, or close the plot"},
    {"+ -", "zoom the plot's time axis in or out"},
    {"s", "save the selected subtree to a snapshot file"},
    {"d", "compare with a snapshot and mark the differences"},
    {"] [", "go to the next or previous difference"},
    {"Esc", "close the plot, clear the filter or the message"},
    {"Ctrl-L Ctrl-Z", "draw the screen again; suspend (fg resumes)"},
    {"q Ctrl-C", "quit"},
};

struct Message {
    std::string text;
    bool error = false;
};

class Browser {
public:
    Browser(BrowserOptions options, RequestSink& sink);

    // Asks the worker to connect and read the start node.
    void Start();
    void Resize(int cols, int rows);
    void HandleKey(const Key& key, SteadyTime now);
    void Apply(const Result& result, SteadyTime now);
    // When the screen next changes by itself (a highlight ends, a busy
    // job's seconds, a plot frame); time_point::max() when nothing will.
    SteadyTime NextChange(SteadyTime now) const;

    bool QuitRequested() const { return m_quit; }
    // Why the browser cannot go on (the start node does not exist); the
    // program ends with this error after the terminal is restored.
    const std::string& FatalError() const { return m_fatal; }

    // --- what the renderer shows ---
    const BrowserOptions& Options() const { return m_options; }
    const Layout& GetLayout() const { return m_layout; }
    const Tree& GetTree() const { return m_tree; }
    const WatchList& Watch() const { return m_watch; }
    int SelectedRow() const;
    int TreeTop() const { return m_treeTop; }
    Focus_e Focus() const { return m_focus; }
    int WatchSelected() const { return m_watchSelected; }
    int WatchTop() const { return m_watchTop; }
    const std::string& SelectedPath() const { return m_selectedPath; }
    // The details of the selected node once read; null until then.
    const Details* SelectedDetails() const;
    Connection_e State() const { return m_state; }
    const std::string& StateDetail() const { return m_stateDetail; }
    const std::string& BusyJob() const { return m_busyJob; }
    SteadyTime BusySince() const { return m_busySince; }
    const Message& GetMessage() const { return m_message; }
    Prompt_e Prompt() const { return m_prompt; }
    std::string PromptLabel() const;
    const LineEditor& Editor() const { return m_editor; }
    const std::vector<std::string>& Choices() const { return m_choices; }
    // The names Tab offered for the path typed (go to).
    const std::vector<std::string>& Candidates() const { return m_candidates; }
    int Choice() const { return m_choice; }
    bool HelpShown() const { return m_help; }
    const PlotView* Plot() const { return m_plot.get(); }
    // The start node was found: the tree has something to show.
    bool Started() const { return m_started; }

    // For the plot pane: the acquisition's data.
    PlotView* MutablePlot() { return m_plot.get(); }

private:
    // Keys by what has the focus.
    void HandlePromptKey(const Key& key);
    bool HandleCommonKey(const Key& key, SteadyTime now);
    void HandleTreeKey(const Key& key);
    void HandleWatchKey(const Key& key);
    void HandleMouse(const Key& key);

    // Tree navigation.
    const TreeNode* SelectedNode() const;
    void Select(const std::string& path);
    void SelectRow(int row);
    void MoveSelection(int delta);
    void Expand(const std::string& path);
    void Collapse(const std::string& path);
    void EnsureVisible();
    void AfterRowsChanged();
    void UpdateFollow();

    // Commands.
    void BeginEdit();
    void ToggleBool();
    void BeginRun();
    void Reload();
    void ToggleWatch();
    void OpenPlot();
    void ClosePlot();
    void JumpToDifference(int direction);
    void Reveal(const std::string& path);
    void CommitPrompt();
    void OpenPrompt(Prompt_e prompt, std::string text = std::string());
    void ClosePrompt();
    bool RefuseWrite();
    void Say(std::string text, bool error = false);

    // Results.
    void OnState(const StateResult& r);
    void OnStarted(const StartedResult& r, SteadyTime now);
    void OnChildren(const ChildrenResult& r);
    void OnNotification(const NotificationResult& r);
    void OnWrite(const WriteResult& r, SteadyTime now);
    void OnComplete(const CompleteResult& r);
    void OnReveal(const RevealResult& r);
    void OnDiff(const DiffResult& r);
    void OnWatchSubtree(const WatchSubtreeResult& r);
    void OnPlotOpened(const PlotOpenedResult& r, SteadyTime now);

    BrowserOptions m_options;
    RequestSink& m_sink;
    Layout m_layout;
    Tree m_tree;
    WatchList m_watch;
    bool m_started = false;
    bool m_quit = false;
    std::string m_fatal;

    std::string m_selectedPath;
    int m_treeTop = 0;
    Focus_e m_focus = Focus_e::eTree;
    int m_watchSelected = 0;
    int m_watchTop = 0;
    std::set<std::string> m_wantExpanded;   // expand once their level is read
    std::string m_revealing;                // a go-to in progress
    std::vector<std::string> m_followed;    // as last sent, sorted

    Details m_details;
    bool m_detailsValid = false;

    Connection_e m_state = Connection_e::eConnecting;
    std::string m_stateDetail;
    std::string m_busyJob;
    SteadyTime m_busySince{};
    Message m_message;

    Prompt_e m_prompt = Prompt_e::eNone;
    std::string m_promptPath;               // the node the prompt acts on
    LineEditor m_editor;
    std::vector<std::string> m_choices;
    int m_choice = 0;
    std::vector<std::string> m_candidates;
    bool m_editAwaitsValue = false;         // the edit field is filled when the details arrive
    bool m_help = false;
    std::size_t m_difference = 0;           // the last difference jumped to, +1

    std::unique_ptr<PlotView> m_plot;
};

}  // namespace browse
