#include "browse/browser.h"

#include <algorithm>

#include "browse/value_text.h"
#include "mci/mci.h"

namespace browse {


Browser::Browser(BrowserOptions options, RequestSink& sink)
    : m_options(std::move(options)), m_sink(sink), m_selectedPath(m_options.startPath) {
    m_layout = ComputeLayout(80, 24);
}

void Browser::Start() { m_sink.Send(StartRequest{{}}); }

void Browser::Resize(int cols, int rows) {
    m_layout = ComputeLayout(cols, rows);
    EnsureVisible();
    UpdateFollow();
}

// --- selection -----------------------------------------------------------------

int Browser::SelectedRow() const {
    const std::vector<TreeRow>& rows = m_tree.Rows();
    if (rows.empty()) return -1;
    // The selected node, or the nearest node above it that is shown (the
    // selection's level is not read yet, or has gone).
    for (std::string path = m_selectedPath;; path = ParentPath(path)) {
        const int row = m_tree.RowOf(path);
        if (row >= 0) return row;
        if (path.empty()) break;
    }
    return 0;
}

const TreeNode* Browser::SelectedNode() const {
    const int row = SelectedRow();
    return row < 0 ? nullptr : m_tree.Rows()[static_cast<std::size_t>(row)].node;
}

const Details* Browser::SelectedDetails() const {
    const TreeNode* node = SelectedNode();
    if (!node || !m_detailsValid || m_details.facts.path != node->facts.path) return nullptr;
    return &m_details;
}

void Browser::Select(const std::string& path) {
    const bool changed = path != m_selectedPath || !m_detailsValid || m_details.facts.path != path;
    m_selectedPath = path;
    EnsureVisible();
    if (changed) {
        m_detailsValid = false;
        if (m_tree.Find(path)) m_sink.Send(DetailsRequest{path});
    }
    UpdateFollow();
}

void Browser::SelectRow(int row) {
    const std::vector<TreeRow>& rows = m_tree.Rows();
    if (rows.empty()) return;
    row = std::clamp(row, 0, static_cast<int>(rows.size()) - 1);
    Select(rows[static_cast<std::size_t>(row)].node->facts.path);
}

void Browser::MoveSelection(int delta) { SelectRow(SelectedRow() + delta); }

void Browser::EnsureVisible() {
    const int rows = static_cast<int>(m_tree.Rows().size());
    const int height = std::max(m_layout.TreeRows(), 1);
    const int selected = std::max(SelectedRow(), 0);
    if (selected < m_treeTop) m_treeTop = selected;
    if (selected >= m_treeTop + height) m_treeTop = selected - height + 1;
    m_treeTop = std::clamp(m_treeTop, 0, std::max(rows - height, 0));
    const int watchRows = std::max(m_layout.WatchRows(), 1);
    const int entries = static_cast<int>(m_watch.Entries().size());
    m_watchSelected = std::clamp(m_watchSelected, 0, std::max(entries - 1, 0));
    if (m_watchSelected < m_watchTop) m_watchTop = m_watchSelected;
    if (m_watchSelected >= m_watchTop + watchRows) m_watchTop = m_watchSelected - watchRows + 1;
    m_watchTop = std::clamp(m_watchTop, 0, std::max(entries - watchRows, 0));
}

void Browser::AfterRowsChanged() {
    EnsureVisible();
    UpdateFollow();
}

// The values on screen and the watched ones follow the registry; the
// worker subscribes the paths it has not subscribed yet.
void Browser::UpdateFollow() {
    if (!m_started) return;
    std::vector<std::string> paths = m_watch.Paths();
    const std::vector<TreeRow>& rows = m_tree.Rows();
    const int end = std::min(static_cast<int>(rows.size()), m_treeTop + m_layout.TreeRows());
    for (int i = m_treeTop; i < end; ++i) {
        const TreeNode* node = rows[static_cast<std::size_t>(i)].node;
        if (IsValueNode(node->facts)) paths.push_back(node->facts.path);
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    if (paths == m_followed) return;
    m_followed = paths;
    m_sink.Send(FollowRequest{std::move(paths)});
}

void Browser::Expand(const std::string& path) {
    TreeNode* node = m_tree.Find(path);
    if (!node || !HasChildren(node->facts)) return;
    if (node->load == Load_e::eLoaded) {
        m_tree.SetExpanded(path, true);
        AfterRowsChanged();
        return;
    }
    m_wantExpanded.insert(path);
    if (node->load == Load_e::eLoading) return;
    m_tree.SetLoading(path);
    m_sink.Send(LoadChildrenRequest{path});
}

void Browser::Collapse(const std::string& path) {
    m_wantExpanded.erase(path);
    m_tree.SetExpanded(path, false);
    AfterRowsChanged();
}

// --- keys ----------------------------------------------------------------------

void Browser::HandleKey(const Key& key, SteadyTime now) {
    if (key.Is(c_ctrlC)) {
        m_quit = true;
        return;
    }
    if (m_help) {
        m_help = false;
        return;
    }
    if (m_prompt != Prompt_e::eNone) {
        HandlePromptKey(key);
        return;
    }
    if (key.code == KeyCode_e::eMouseClick || key.code == KeyCode_e::eMouseWheelUp ||
        key.code == KeyCode_e::eMouseWheelDown) {
        HandleMouse(key);
        return;
    }
    if (HandleCommonKey(key, now)) return;
    if (m_focus == Focus_e::eWatch)
        HandleWatchKey(key);
    else
        HandleTreeKey(key);
}

bool Browser::HandleCommonKey(const Key& key, SteadyTime) {
    if (key.code == KeyCode_e::eEscape) {
        if (m_plot) ClosePlot();
        else if (!m_tree.Filter().empty()) {
            m_tree.SetFilter(std::string());
            AfterRowsChanged();
        } else {
            m_message = Message{};
        }
        return true;
    }
    if (key.code == KeyCode_e::eTab || key.code == KeyCode_e::eBackTab) {
        m_focus = m_focus == Focus_e::eTree && !m_watch.Entries().empty() ? Focus_e::eWatch : Focus_e::eTree;
        return true;
    }
    if (key.code != KeyCode_e::eChar) return false;
    switch (key.ch) {
        case U'q': m_quit = true; return true;
        case U'?': m_help = true; return true;
        case U'g':
        case U'/': OpenPrompt(Prompt_e::eGoTo, m_selectedPath); return true;
        case U'f': OpenPrompt(Prompt_e::eFilter, m_tree.Filter()); return true;
        case U'r': Reload(); return true;
        case U'e': BeginEdit(); return true;
        case U' ':
            if (m_plot) {
                m_plot->paused = !m_plot->paused;
                if (m_plot->buffer) m_plot->buffer->SetPaused(m_plot->paused);
            } else {
                ToggleBool();
            }
            return true;
        case U'x': BeginRun(); return true;
        case U'p':
            if (m_plot) ClosePlot();
            else OpenPlot();
            return true;
        case U'+':
        case U'-':
            if (m_plot && m_plot->buffer) {
                // + zooms in (fewer atoms across), - out.
                const std::uint64_t window = m_plot->buffer->Window();
                const std::uint64_t next = key.ch == U'+' ? std::max(window / 2, c_minWindow)
                                                          : std::min(window * 2, c_maxWindow);
                if (next != window) m_plot->buffer->SetWindow(next);
            }
            return true;
        case U's': {
            const TreeNode* node = SelectedNode();
            if (!node) return true;
            const std::string base = node->facts.path.empty() ? std::string("registry") : node->facts.path;
            OpenPrompt(Prompt_e::eSave, base + ".yaml");
            m_promptPath = node->facts.path;
            return true;
        }
        case U'd': OpenPrompt(Prompt_e::eLoadSnapshot); return true;
        case U']': JumpToDifference(1); return true;
        case U'[': JumpToDifference(-1); return true;
        default: return false;
    }
}

void Browser::HandleTreeKey(const Key& key) {
    const int page = std::max(m_layout.TreeRows() - 1, 1);
    switch (key.code) {
        case KeyCode_e::eUp: MoveSelection(-1); return;
        case KeyCode_e::eDown: MoveSelection(1); return;
        case KeyCode_e::ePageUp: MoveSelection(-page); return;
        case KeyCode_e::ePageDown: MoveSelection(page); return;
        case KeyCode_e::eHome: SelectRow(0); return;
        case KeyCode_e::eEnd: SelectRow(static_cast<int>(m_tree.Rows().size()) - 1); return;
        default: break;
    }
    const TreeNode* node = SelectedNode();
    if (!node) return;
    const bool right = key.code == KeyCode_e::eRight || key.code == KeyCode_e::eEnter || key.Is(U'l');
    const bool left = key.code == KeyCode_e::eLeft || key.Is(U'h');
    if (key.Is(U'k')) MoveSelection(-1);
    else if (key.Is(U'j')) MoveSelection(1);
    else if (key.Is(U'w')) ToggleWatch();
    else if (right && node->expanded && !node->children.empty()) MoveSelection(1);
    else if (right) Expand(node->facts.path);
    else if (left && node->expanded) Collapse(node->facts.path);
    else if (left && node->facts.path != m_tree.StartPath()) Select(ParentPath(node->facts.path));
}

void Browser::HandleWatchKey(const Key& key) {
    const auto& entries = m_watch.Entries();
    const int page = std::max(m_layout.WatchRows() - 1, 1);
    int& sel = m_watchSelected;
    switch (key.code) {
        case KeyCode_e::eUp: --sel; break;
        case KeyCode_e::eDown: ++sel; break;
        case KeyCode_e::ePageUp: sel -= page; break;
        case KeyCode_e::ePageDown: sel += page; break;
        case KeyCode_e::eHome: sel = 0; break;
        case KeyCode_e::eEnd: sel = static_cast<int>(entries.size()) - 1; break;
        case KeyCode_e::eDelete:
        case KeyCode_e::eEnter:
        case KeyCode_e::eChar: {
            if (entries.empty()) break;
            const std::string path = entries[static_cast<std::size_t>(std::clamp(sel, 0, static_cast<int>(entries.size()) - 1))].path;
            if (key.code == KeyCode_e::eEnter) {
                m_focus = Focus_e::eTree;
                Reveal(path);
            } else if (key.code == KeyCode_e::eDelete || key.Is(U'w')) {
                m_watch.Remove(path);
                if (m_watch.Entries().empty()) m_focus = Focus_e::eTree;
            } else if (key.Is(U'k')) {
                --sel;
            } else if (key.Is(U'j')) {
                ++sel;
            }
            break;
        }
        default: break;
    }
    EnsureVisible();
    UpdateFollow();
}

void Browser::HandleMouse(const Key& key) {
    if (key.code == KeyCode_e::eMouseWheelUp || key.code == KeyCode_e::eMouseWheelDown) {
        MoveSelection(key.code == KeyCode_e::eMouseWheelUp ? -3 : 3);
        return;
    }
    const Rect& tree = m_layout.tree;
    if (key.col >= tree.col && key.col < tree.col + tree.cols && key.row > tree.row && key.row < tree.row + tree.rows) {
        const int row = m_treeTop + key.row - tree.row - 1;
        if (row >= static_cast<int>(m_tree.Rows().size())) return;
        const bool again = row == SelectedRow();
        m_focus = Focus_e::eTree;
        SelectRow(row);
        // A second click on the selected row opens or closes it.
        if (again) {
            const TreeNode* node = SelectedNode();
            if (node && node->expanded) Collapse(node->facts.path);
            else if (node) Expand(node->facts.path);
        }
        return;
    }
    const Rect& watch = m_layout.watch;
    if (key.row > watch.row && key.row < watch.row + watch.rows) {
        const int entry = m_watchTop + key.row - watch.row - 1;
        if (entry < static_cast<int>(m_watch.Entries().size())) {
            m_focus = Focus_e::eWatch;
            m_watchSelected = entry;
            EnsureVisible();
        }
    }
}

// --- prompts -------------------------------------------------------------------

std::string Browser::PromptLabel() const {
    switch (m_prompt) {
        case Prompt_e::eGoTo: return "Go to: ";
        case Prompt_e::eFilter: return "Filter: ";
        case Prompt_e::eEdit: return "Set " + m_promptPath + "=";
        case Prompt_e::eEnumPick: return "Set " + m_promptPath + " to: ";
        case Prompt_e::eConfirmRun: return "Run " + m_promptPath + "? (y/n) ";
        case Prompt_e::eSave: return "Save " + (m_promptPath.empty() ? std::string("the registry") : m_promptPath) + " to: ";
        case Prompt_e::eLoadSnapshot: return "Compare with snapshot (empty: clear the marks): ";
        case Prompt_e::eNone: break;
    }
    return std::string();
}

void Browser::OpenPrompt(Prompt_e prompt, std::string text) {
    m_prompt = prompt;
    m_editor.SetText(std::move(text));
    m_message = Message{};
}

void Browser::ClosePrompt() {
    m_prompt = Prompt_e::eNone;
    m_choices.clear();
    m_candidates.clear();
    m_editAwaitsValue = false;
}

void Browser::HandlePromptKey(const Key& key) {
    if (m_prompt == Prompt_e::eConfirmRun) {
        const std::string path = m_promptPath;
        ClosePrompt();
        if (key.Is(U'y') || key.Is(U'Y')) {
            m_sink.Send(ExecuteRequest{path});
            Say("running " + path + " ...");
        } else {
            Say("not run: " + path);
        }
        return;
    }
    if (key.code == KeyCode_e::eEscape) {
        if (m_prompt == Prompt_e::eFilter) {
            m_tree.SetFilter(std::string());
            AfterRowsChanged();
        }
        ClosePrompt();
        return;
    }
    if (key.code == KeyCode_e::eEnter) {
        CommitPrompt();
        return;
    }
    if (m_prompt == Prompt_e::eEnumPick) {
        const int last = static_cast<int>(m_choices.size()) - 1;
        // The names stand in a row: Left and Right, or Up and Down.
        const bool back = key.code == KeyCode_e::eUp || key.code == KeyCode_e::eLeft || key.Is(U'k') || key.Is(U'h');
        const bool on = key.code == KeyCode_e::eDown || key.code == KeyCode_e::eRight || key.Is(U'j') || key.Is(U'l');
        if (back) m_choice = std::max(m_choice - 1, 0);
        else if (on) m_choice = std::min(m_choice + 1, last);
        else if (key.code == KeyCode_e::eHome) m_choice = 0;
        else if (key.code == KeyCode_e::eEnd) m_choice = last;
        return;
    }
    if (m_prompt == Prompt_e::eGoTo && key.code == KeyCode_e::eTab) {
        m_sink.Send(CompleteRequest{m_editor.Text()});
        return;
    }
    if (m_editor.Handle(key)) {
        m_candidates.clear();
        m_editAwaitsValue = false;
    }
    if (m_prompt == Prompt_e::eFilter) {
        m_tree.SetFilter(m_editor.Text());
        AfterRowsChanged();
    }
}

namespace {

// A path as typed or completed: completion ends a node with "." or " ".
std::string TypedPath(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    return text;
}

}  // namespace

void Browser::CommitPrompt() {
    const Prompt_e prompt = m_prompt;
    const std::string text = m_editor.Text();
    const std::string path = m_promptPath;
    const std::vector<std::string> choices = m_choices;
    ClosePrompt();
    switch (prompt) {
        case Prompt_e::eGoTo: Reveal(TypedPath(text)); return;
        case Prompt_e::eFilter: return;  // the filter is already applied
        case Prompt_e::eEdit:
            m_sink.Send(WriteRequest{path, text});
            Say("writing " + path + " ...");
            return;
        case Prompt_e::eEnumPick:
            if (m_choice >= 0 && m_choice < static_cast<int>(choices.size())) {
                m_sink.Send(WriteRequest{path, choices[static_cast<std::size_t>(m_choice)]});
                Say("writing " + path + " ...");
            }
            return;
        case Prompt_e::eSave:
            if (text.empty()) return;
            m_sink.Send(SaveRequest{path, text});
            Say("saving to " + text + " ...");
            return;
        case Prompt_e::eLoadSnapshot:
            if (text.empty()) {
                m_tree.SetDifferences({});
                m_difference = 0;
                Say("snapshot marks cleared");
                return;
            }
            m_sink.Send(DiffRequest{m_tree.StartPath(), text});
            Say("comparing with " + text + " ...");
            return;
        default: return;
    }
}

// --- commands ------------------------------------------------------------------

void Browser::Say(std::string text, bool error) { m_message = Message{std::move(text), error}; }

bool Browser::RefuseWrite() {
    if (!m_options.readOnly) return false;
    Say("Read-only (--read-only): writes and function runs are refused", true);
    return true;
}

void Browser::BeginEdit() {
    const TreeNode* node = SelectedNode();
    if (!node || RefuseWrite()) return;
    const NodeFacts& f = node->facts;
    if (f.type == mci::enums::eNoValue) {
        Say("Unable to set value for valueless node!", true);
        return;
    }
    if (!(f.flags & mci::eWritable)) {
        Say("Node " + f.path + " is not writable", true);
        return;
    }
    m_promptPath = f.path;
    const Details* details = SelectedDetails();
    if (f.type == mci::enums::eEnum && !(f.flags & mci::eArray) && details && details->hasDomain &&
        !details->domain.empty()) {
        m_choices = details->domain;
        const std::string current = details->value.Size() == 1 ? details->value.ElementText(0) : std::string();
        auto it = std::find(m_choices.begin(), m_choices.end(), current);
        m_choice = it == m_choices.end() ? 0 : static_cast<int>(it - m_choices.begin());
        m_prompt = Prompt_e::eEnumPick;
        m_message = Message{};
        return;
    }
    // The whole value, as it is written back; an array read only in part
    // starts empty rather than with a value that would cut it short. Until
    // the details are read the field waits for them.
    std::string text;
    if (details && details->hasValue && details->elementsShown >= f.size) text = EditText(details->value);
    OpenPrompt(Prompt_e::eEdit, text);
    m_editAwaitsValue = !details;
}

void Browser::ToggleBool() {
    const TreeNode* node = SelectedNode();
    if (!node) return;
    const NodeFacts& f = node->facts;
    if (f.type != mci::enums::eBool || (f.flags & mci::eArray)) return;
    if (RefuseWrite()) return;
    if (!(f.flags & mci::eWritable)) {
        Say("Node " + f.path + " is not writable", true);
        return;
    }
    if (!node->hasValue) return;
    m_sink.Send(WriteRequest{f.path, node->value == "true" ? "false" : "true"});
    Say("writing " + f.path + " ...");
}

void Browser::BeginRun() {
    const TreeNode* node = SelectedNode();
    if (!node || RefuseWrite()) return;
    if (!(node->facts.flags & mci::eExecutable)) {
        Say("Node " + node->facts.path + " is not executable", true);
        return;
    }
    m_promptPath = node->facts.path;
    m_prompt = Prompt_e::eConfirmRun;
    m_message = Message{};
}

void Browser::Reload() {
    const TreeNode* node = SelectedNode();
    if (!node) return;
    const std::string path = node->facts.path;
    // The selected level and every expanded one below it, parents first.
    for (const auto& expanded : m_tree.ExpandedPaths()) {
        if (!IsWithin(expanded, path)) continue;
        m_wantExpanded.insert(expanded);
        m_tree.SetLoading(expanded);
        m_sink.Send(LoadChildrenRequest{expanded});
    }
    m_detailsValid = false;
    m_sink.Send(DetailsRequest{path});
    Say("reading " + (path.empty() ? std::string("the registry") : path) + " again");
}

void Browser::ToggleWatch() {
    const TreeNode* node = SelectedNode();
    if (!node) return;
    const std::string& path = node->facts.path;
    if (HasChildren(node->facts)) {
        m_sink.Send(WatchSubtreeRequest{path});
        return;
    }
    if (m_watch.Remove(path)) {
        Say("no longer watched: " + path);
    } else if (IsValueNode(node->facts)) {
        m_watch.Add(path);
        if (node->hasValue) m_watch.SetValue(path, node->value, node->notified > node->valueRead ? node->notified : node->valueRead);
        Say("watched: " + path);
    } else {
        Say(path + " has no value to watch", true);
    }
    EnsureVisible();
    UpdateFollow();
}

void Browser::OpenPlot() {
    const TreeNode* node = SelectedNode();
    if (!node) return;
    if (!(node->facts.flags & mci::eSignal)) {
        Say("signal: not a signal node: " + node->facts.path, true);
        return;
    }
    m_plot = std::make_unique<PlotView>();
    m_plot->path = node->facts.path;
    m_plot->buffer = std::make_shared<PlotBuffer>(1, c_defaultWindow);
    m_sink.Send(PlotOpenRequest{m_plot->path, m_plot->buffer});
}

void Browser::ClosePlot() {
    if (!m_plot) return;
    m_plot.reset();
    m_sink.Send(PlotCloseRequest{});
}

void Browser::Reveal(const std::string& path) {
    if (!IsWithin(path, m_tree.StartPath())) {
        Say(path + " lies outside " + m_tree.StartPath() + ", the subtree browsed", true);
        return;
    }
    if (m_tree.RowOf(path) >= 0) {
        Select(path);
        return;
    }
    m_revealing = path;
    m_sink.Send(RevealRequest{path});
}

void Browser::JumpToDifference(int direction) {
    const auto& differences = m_tree.Differences();
    if (differences.empty()) {
        Say("no snapshot differences (d compares with a snapshot)", true);
        return;
    }
    const std::size_t n = differences.size();
    // m_difference is one past the last jumped to; 0 before the first jump.
    std::size_t next;
    if (m_difference == 0) next = direction > 0 ? 0 : n - 1;
    else next = direction > 0 ? m_difference % n : (m_difference + n - 2) % n;
    m_difference = next + 1;
    const DiffEntry& d = differences[next];
    Say("difference " + std::to_string(next + 1) + " of " + std::to_string(n) + ": " + d.path + ": " + d.text);
    Reveal(d.path);
}

// --- results -------------------------------------------------------------------

void Browser::Apply(const Result& result, SteadyTime now) {
    std::visit(
        [&](const auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, StateResult>) {
                OnState(r);
            } else if constexpr (std::is_same_v<R, BusyResult>) {
                m_busyJob = r.job;
                m_busySince = now;
            } else if constexpr (std::is_same_v<R, StartedResult>) {
                OnStarted(r, now);
            } else if constexpr (std::is_same_v<R, StartFailedResult>) {
                m_fatal = r.error;
                m_quit = true;
            } else if constexpr (std::is_same_v<R, ChildrenResult>) {
                OnChildren(r);
            } else if constexpr (std::is_same_v<R, DetailsResult>) {
                if (r.path == m_selectedPath || (SelectedNode() && SelectedNode()->facts.path == r.path)) {
                    m_details = r.details;
                    m_detailsValid = true;
                }
                if (m_editAwaitsValue && m_prompt == Prompt_e::eEdit && r.path == m_promptPath) {
                    m_editAwaitsValue = false;
                    const Details& d = r.details;
                    if (d.hasValue && d.elementsShown >= d.facts.size) m_editor.SetText(EditText(d.value));
                }
            } else if constexpr (std::is_same_v<R, ValueResult>) {
                m_tree.SetValue(r.path, r.value, r.issued);
                m_watch.SetValue(r.path, r.value, r.issued);
            } else if constexpr (std::is_same_v<R, NotificationResult>) {
                OnNotification(r);
            } else if constexpr (std::is_same_v<R, WriteResult>) {
                OnWrite(r, now);
            } else if constexpr (std::is_same_v<R, ExecuteResult>) {
                if (!r.error.empty()) Say(r.error, true);
                else Say(r.path + ": " + (r.done ? "done" : "failed"), !r.done);
            } else if constexpr (std::is_same_v<R, CompleteResult>) {
                OnComplete(r);
            } else if constexpr (std::is_same_v<R, RevealResult>) {
                OnReveal(r);
            } else if constexpr (std::is_same_v<R, SaveResult>) {
                if (!r.error.empty()) Say(r.error, true);
                else Say("saved " + std::to_string(r.count) + " nodes to " + r.file);
            } else if constexpr (std::is_same_v<R, DiffResult>) {
                OnDiff(r);
            } else if constexpr (std::is_same_v<R, WatchSubtreeResult>) {
                OnWatchSubtree(r);
            } else if constexpr (std::is_same_v<R, PlotOpenedResult>) {
                OnPlotOpened(r, now);
            }
        },
        result);
}

void Browser::OnState(const StateResult& r) {
    m_state = r.state;
    m_stateDetail = r.detail;
}

void Browser::OnStarted(const StartedResult& r, SteadyTime now) {
    // A new connection: the tree is read again from the start node, with
    // the levels that were open (parents first) and the selection kept.
    const bool first = !m_started;
    std::vector<std::string> expanded = first ? std::vector<std::string>{r.start.path} : m_tree.ExpandedPaths();
    for (const auto& path : m_wantExpanded) expanded.push_back(path);
    m_started = true;
    m_options.address = r.address.empty() ? m_options.address : r.address;
    m_tree.Reset(r.start, r.startValue, r.startHasValue);
    if (TreeNode* start = m_tree.Find(r.start.path)) start->valueRead = now;
    m_followed.clear();
    m_detailsValid = false;
    if (first) m_selectedPath = r.start.path;
    // A plot that was open reads its signal again on the new connection.
    if (m_plot && !first) {
        const std::string path = m_plot->path;
        m_plot.reset();
        Select(path);
        m_plot = std::make_unique<PlotView>();
        m_plot->path = path;
        m_plot->buffer = std::make_shared<PlotBuffer>(1, c_defaultWindow);
        m_sink.Send(PlotOpenRequest{path, m_plot->buffer});
    }
    // The start node's level first; the levels below follow as their
    // parents' levels arrive (OnChildren).
    m_wantExpanded = std::set<std::string>(expanded.begin(), expanded.end());
    if (m_wantExpanded.count(r.start.path)) {
        m_wantExpanded.erase(r.start.path);
        Expand(r.start.path);
    }
    m_sink.Send(DetailsRequest{SelectedNode() ? SelectedNode()->facts.path : r.start.path});
    AfterRowsChanged();
}

void Browser::OnChildren(const ChildrenResult& r) {
    if (!r.error.empty()) {
        m_tree.SetLoadFailed(r.path, r.error);
        m_wantExpanded.erase(r.path);
        Say(r.error, true);
        AfterRowsChanged();
        return;
    }
    m_tree.SetChildren(r.path, r.children, r.issued);
    if (m_wantExpanded.erase(r.path) != 0) {
        m_tree.SetExpanded(r.path, true);
        // Levels below that were open before are read again too.
        for (const auto& child : r.children) {
            const std::string& p = child.facts.path;
            if (m_wantExpanded.count(p) && m_tree.Find(p) && m_tree.Find(p)->load != Load_e::eLoading) {
                m_tree.SetLoading(p);
                m_sink.Send(LoadChildrenRequest{p});
            }
        }
    }
    // A selected node that appears with this level gets its details.
    if (m_tree.RowOf(m_selectedPath) >= 0 && (!m_detailsValid || m_details.facts.path != m_selectedPath) &&
        IsWithin(m_selectedPath, r.path) && m_selectedPath != r.path)
        m_sink.Send(DetailsRequest{m_selectedPath});
    AfterRowsChanged();
}

void Browser::OnNotification(const NotificationResult& r) {
    const std::string text = ValueText(r.value, c_valueChars);
    m_tree.Notify(r.path, text, r.arrived);
    m_watch.Notify(r.path, text, r.arrived, r.wallArrived);
    if (m_detailsValid && m_details.facts.path == r.path && r.first == 0 &&
        r.value.Size() == m_details.facts.size) {
        m_details.value = r.value;
        m_details.elementsShown = static_cast<std::uint32_t>(r.value.Size());
    }
}

void Browser::OnWrite(const WriteResult& r, SteadyTime now) {
    if (!r.error.empty()) {
        Say(r.error, true);
        return;
    }
    m_tree.SetValue(r.path, r.readBack, now);
    m_watch.SetValue(r.path, r.readBack, now);
    Say(r.path + " = " + r.readBack);
    if (r.path == m_selectedPath) {
        m_detailsValid = false;
        m_sink.Send(DetailsRequest{r.path});
    }
}

void Browser::OnComplete(const CompleteResult& r) {
    if (m_prompt != Prompt_e::eGoTo || r.text != m_editor.Text()) return;
    std::vector<std::string> matches;
    for (const auto& c : r.candidates)
        if (c.compare(0, r.text.size(), r.text) == 0) matches.push_back(c);
    if (matches.empty()) {
        Say("no node starts with " + r.text, true);
        return;
    }
    std::string common = matches.front();
    for (const auto& m : matches) {
        std::size_t i = 0;
        while (i < common.size() && i < m.size() && common[i] == m[i]) ++i;
        common.resize(i);
    }
    // A leaf ends with " ": completed, it is the path itself.
    if (matches.size() == 1 && !common.empty() && common.back() == ' ') common.pop_back();
    if (common.size() > r.text.size()) m_editor.SetText(common);
    m_candidates.clear();
    if (matches.size() > 1)
        for (const auto& m : matches) m_candidates.push_back(LastName(TypedPath(m)) + (m.back() == '.' ? "." : ""));
}

void Browser::OnReveal(const RevealResult& r) {
    for (const auto& level : r.levels) {
        if (!level.error.empty()) continue;
        m_tree.SetChildren(level.path, level.children, level.issued);
        m_tree.SetExpanded(level.path, true);
        m_wantExpanded.erase(level.path);
    }
    if (r.path == m_revealing) m_revealing.clear();
    if (!r.error.empty()) {
        Say(r.error, true);
        AfterRowsChanged();
        return;
    }
    if (m_tree.RowOf(r.path) >= 0) Select(r.path);
    AfterRowsChanged();
}

void Browser::OnDiff(const DiffResult& r) {
    if (!r.error.empty()) {
        Say(r.error, true);
        return;
    }
    m_tree.SetDifferences(r.differences);
    m_difference = 0;
    if (r.differences.empty())
        Say("no differences from " + r.file + " (" + std::to_string(r.compared) + " nodes compared)");
    else
        Say(std::to_string(r.differences.size()) + " differences from " + r.file + ": ] next, [ previous");
    AfterRowsChanged();
}

void Browser::OnWatchSubtree(const WatchSubtreeResult& r) {
    if (!r.error.empty()) {
        Say(r.error, true);
        return;
    }
    const bool allWatched = !r.paths.empty() && std::all_of(r.paths.begin(), r.paths.end(), [&](const std::string& p) {
        return m_watch.Contains(p);
    });
    if (allWatched) {
        for (const auto& p : r.paths) m_watch.Remove(p);
        Say("no longer watched: " + std::to_string(r.paths.size()) + " nodes below " + r.path);
    } else if (r.paths.empty()) {
        Say("no value nodes below " + r.path, true);
    } else {
        const SteadyTime issued{};
        for (std::size_t i = 0; i < r.paths.size(); ++i) {
            m_watch.Add(r.paths[i]);
            if (i < r.values.size()) m_watch.SetValue(r.paths[i], r.values[i], issued);
        }
        Say("watched: " + std::to_string(r.paths.size()) + " nodes below " + r.path);
    }
    EnsureVisible();
    UpdateFollow();
}

void Browser::OnPlotOpened(const PlotOpenedResult& r, SteadyTime) {
    if (!m_plot || m_plot->path != r.path) return;
    if (!r.error.empty()) {
        m_plot->error = r.error;
        Say(r.error, true);
        return;
    }
    m_plot->components = r.components;
    m_plot->stream = r.stream;
    m_plot->opened = true;
}

// --- timers --------------------------------------------------------------------

SteadyTime Browser::NextChange(SteadyTime now) const {
    SteadyTime next = SteadyTime::max();
    auto consider = [&](SteadyTime t) {
        if (t > now && t < next) next = t;
    };
    const std::vector<TreeRow>& rows = m_tree.Rows();
    const int end = std::min(static_cast<int>(rows.size()), m_treeTop + m_layout.TreeRows());
    for (int i = m_treeTop; i < end; ++i) consider(rows[static_cast<std::size_t>(i)].node->highlightUntil);
    const auto& entries = m_watch.Entries();
    const int watchEnd = std::min(static_cast<int>(entries.size()), m_watchTop + m_layout.WatchRows());
    for (int i = m_watchTop; i < watchEnd; ++i) consider(entries[static_cast<std::size_t>(i)].highlightUntil);
    // A job that takes long shows its seconds.
    if (!m_busyJob.empty()) {
        const auto elapsed = now - m_busySince;
        consider(m_busySince + std::chrono::duration_cast<std::chrono::seconds>(elapsed) + std::chrono::seconds(1));
    }
    if (m_plot && m_plot->opened && !m_plot->paused) consider(now + c_plotFrame);
    return next;
}

}  // namespace browse
