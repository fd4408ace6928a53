#include "browse/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "browse/plot_pane.h"
#include "browse/value_text.h"
#include "mci/mci.h"

namespace browse {

Theme Theme::Coloured(int colours) {
    Theme t = Monochrome();
    const bool rich = colours >= 256;
    t.title = {rich ? std::int16_t(75) : std::int16_t(6), plot::kDefaultColour, plot::kBold};
    t.changed = {rich ? std::int16_t(16) : std::int16_t(0), rich ? std::int16_t(220) : std::int16_t(3), plot::kBold};
    t.error = {1, plot::kDefaultColour, plot::kBold};
    t.dim = {rich ? std::int16_t(245) : std::int16_t(plot::kDefaultColour), plot::kDefaultColour,
             rich ? plot::kPlain : plot::kDim};
    t.difference = {rich ? std::int16_t(203) : std::int16_t(1), plot::kDefaultColour, plot::kBold};
    t.connected = {rich ? std::int16_t(28) : std::int16_t(2), plot::kDefaultColour,
                   static_cast<std::uint8_t>(plot::kReverse | plot::kBold)};
    t.troubled = {rich ? std::int16_t(172) : std::int16_t(3), plot::kDefaultColour,
                  static_cast<std::uint8_t>(plot::kReverse | plot::kBold)};
    t.lost = {1, plot::kDefaultColour, static_cast<std::uint8_t>(plot::kReverse | plot::kBold)};
    t.colour = true;
    return t;
}

Theme Theme::Monochrome() {
    Theme t;
    t.title = {plot::kDefaultColour, plot::kDefaultColour, plot::kBold};
    t.selected = {plot::kDefaultColour, plot::kDefaultColour, plot::kReverse};
    t.selectedElsewhere = {plot::kDefaultColour, plot::kDefaultColour, plot::kUnderline};
    t.changed = {plot::kDefaultColour, plot::kDefaultColour, static_cast<std::uint8_t>(plot::kBold | plot::kUnderline)};
    t.error = {plot::kDefaultColour, plot::kDefaultColour, plot::kBold};
    t.dim = {plot::kDefaultColour, plot::kDefaultColour, plot::kDim};
    t.difference = {plot::kDefaultColour, plot::kDefaultColour, plot::kBold};
    t.status = {plot::kDefaultColour, plot::kDefaultColour, plot::kReverse};
    t.connected = {plot::kDefaultColour, plot::kDefaultColour, static_cast<std::uint8_t>(plot::kReverse | plot::kBold)};
    t.troubled = t.connected;
    t.lost = t.connected;
    return t;
}

namespace {

// Writes a display text (escaped, one column a character) and gives the
// columns written.
int Put(plot::CellGrid& grid, int col, int row, const std::string& display, plot::Style style, int maxCols) {
    if (maxCols <= 0) return 0;
    return grid.put(col, row, display, style, maxCols);
}

std::string Shown(const std::string& raw, Charset_e charset, std::size_t columns = 0) {
    return DisplayText(raw, charset, columns);
}

const char* Expander(const TreeNode& node, Charset_e charset) {
    const bool utf8 = charset == Charset_e::eUtf8;
    if (!HasChildren(node.facts)) return " ";
    if (node.expanded) return utf8 ? "\xE2\x96\xBE" : "-";  // ▾
    return utf8 ? "\xE2\x96\xB8" : "+";                      // ▸
}

std::string RootName(const Browser& b) {
    const TreeNode* start = b.GetTree().Find(b.GetTree().StartPath());
    if (!start) return b.Options().startPath;
    return start->facts.path.empty() ? start->facts.name : start->facts.path;
}

// --- the tree pane -------------------------------------------------------------------

void DrawTree(const Browser& b, const Theme& theme, SteadyTime now, plot::CellGrid& grid) {
    const Layout& l = b.GetLayout();
    const Rect& r = l.tree;
    const Charset_e cs = b.Options().charset;
    std::string title = " " + Shown(RootName(b), cs);
    if (!b.GetTree().Filter().empty()) title += "  filter: " + Shown(b.GetTree().Filter(), cs);
    if (b.Options().readOnly) title += "  (read-only)";
    grid.fill(r.col, r.row, r.cols, 1, U' ', theme.title);
    Put(grid, r.col, r.row, CutToColumns(title, static_cast<std::size_t>(r.cols)), theme.title, r.cols);
    if (!b.Started()) {
        Put(grid, r.col + 1, r.row + 1, "connecting to " + Shown(b.Options().address, cs) + " ...", theme.dim,
            r.cols - 1);
        return;
    }
    const std::vector<TreeRow>& rows = b.GetTree().Rows();
    const int selected = b.SelectedRow();
    for (int i = 0; i < l.TreeRows(); ++i) {
        const int index = b.TreeTop() + i;
        if (index >= static_cast<int>(rows.size())) break;
        const TreeRow& row = rows[static_cast<std::size_t>(index)];
        const TreeNode& node = *row.node;
        const int y = r.row + 1 + i;
        const bool isSelected = index == selected;
        plot::Style base;
        if (isSelected) base = b.Focus() == Focus_e::eTree ? theme.selected : theme.selectedElsewhere;
        if (isSelected) grid.fill(r.col, y, r.cols, 1, U' ', base);
        int x = r.col;
        const bool marked = !node.difference.empty() || (!node.expanded && b.GetTree().HoldsDifference(node.facts.path));
        x += Put(grid, x, y, marked ? "*" : " ", marked ? theme.difference : base, 1);
        x += Put(grid, x, y, std::string(static_cast<std::size_t>(row.depth) * 2, ' '), base, r.col + r.cols - x);
        x += Put(grid, x, y, std::string(Expander(node, cs)) + " ", base, r.col + r.cols - x);
        plot::Style nameStyle = base;
        if ((node.facts.flags & mci::eHidden) && !isSelected) nameStyle = theme.dim;
        const int room = r.col + r.cols - x;
        std::string head = Shown(node.facts.name, cs);
        const std::string type = TypeText(node.facts);
        if (!type.empty()) head += " [" + type + "]";
        std::string value;
        if (node.hasValue) value = " = " + Shown(node.value, cs);
        std::string tail;
        if (node.load == Load_e::eLoading) tail = " (reading...)";
        if (node.load == Load_e::eFailed) tail = " (" + Shown(node.loadError, cs) + ")";
        const std::string whole = CutToColumns(head + value + tail, static_cast<std::size_t>(std::max(room, 0)));
        // The value part keeps its own style when it just changed.
        const std::size_t headCols = std::min(Columns(head), Columns(whole));
        x += Put(grid, x, y, std::string(ColumnPrefix(whole, headCols)), nameStyle, room);
        std::string rest = whole.substr(ColumnPrefix(whole, headCols).size());
        plot::Style valueStyle = base;
        if (node.highlightUntil > now && !isSelected) valueStyle = theme.changed;
        if (node.load == Load_e::eFailed && !isSelected) valueStyle = theme.error;
        Put(grid, x, y, rest, valueStyle, r.col + r.cols - x);
    }
    if (rows.size() > static_cast<std::size_t>(l.TreeRows())) {
        const std::string position = std::to_string(selected + 1) + "/" + std::to_string(rows.size()) + " ";
        const int len = static_cast<int>(position.size());
        if (len < r.cols - 10) Put(grid, r.col + r.cols - len, r.row, position, theme.title, len);
    }
}

// --- the details pane ----------------------------------------------------------------

struct DetailLine {
    std::string label;
    std::string text;  // display text
    plot::Style style;
};

std::string FlagWords(std::uint32_t flags) {
    std::string words;
    auto add = [&](std::uint32_t bit, const char* word) {
        if (flags & bit) words += (words.empty() ? "" : " ") + std::string(word);
    };
    add(mci::eReadable, "readable");
    add(mci::eWritable, "writable");
    add(mci::eConstant, "constant");
    add(mci::eExecutable, "executable");
    add(mci::eArray, "array");
    add(mci::ePersistent, "persistent");
    add(mci::eSignal, "signal");
    add(mci::eHidden, "hidden");
    return words.empty() ? "none" : words;
}

std::string Joined(const std::vector<std::string>& items, const std::string& separator) {
    std::string text;
    for (const auto& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

constexpr int c_labelCols = 10;
constexpr int c_detailLineRows = 3;

void DrawDetails(const Browser& b, const Theme& theme, plot::CellGrid& grid) {
    const Rect& r = b.GetLayout().details;
    const Charset_e cs = b.Options().charset;
    const int selectedRow = b.SelectedRow();
    grid.fill(r.col, r.row, r.cols, 1, U' ', theme.title);
    if (selectedRow < 0) {
        Put(grid, r.col, r.row, " Details", theme.title, r.cols);
        return;
    }
    const TreeNode& node = *b.GetTree().Rows()[static_cast<std::size_t>(selectedRow)].node;
    const NodeFacts& f = node.facts;
    const Details* d = b.SelectedDetails();
    const std::string title = " " + Shown(f.path.empty() ? f.name : f.path, cs);
    Put(grid, r.col, r.row, CutToColumns(title, static_cast<std::size_t>(r.cols)), theme.title, r.cols);

    std::vector<DetailLine> lines;
    const std::string type = TypeText(f);
    std::string typeLine = type.empty() ? std::string("none") : type;
    if (d && d->hasDomain) typeLine += " (" + Shown(Joined(d->domain, ","), cs) + ")";
    lines.push_back({"Type", typeLine, {}});
    lines.push_back({"Flags", FlagWords(f.flags), {}});
    if (f.type != mci::enums::eNoValue) lines.push_back({"Size", std::to_string(f.size), {}});
    if (d) {
        lines.push_back({"Parent", Shown(d->parentName, cs), {}});
        std::string children = std::to_string(f.childCount);
        if (!d->children.empty()) children += ": " + Shown(Joined(d->children, ", "), cs);
        lines.push_back({"Children", children, {}});
        if (d->hasValidator) lines.push_back({"Validator", Shown(d->validator, cs), {}});
        if (!d->bounds.empty()) lines.push_back({"Bounds", Shown(d->bounds, cs), {}});
        if (!d->error.empty()) lines.push_back({"Error", Shown(d->error, cs), theme.error});
    } else {
        lines.push_back({"Children", std::to_string(f.childCount), {}});
    }
    if (!node.difference.empty()) lines.push_back({"Snapshot", Shown(node.difference, cs), theme.difference});

    const int width = r.cols - 1;
    int y = r.row + 1;
    const int bottom = r.row + r.rows;
    // A line longer than the pane goes on over up to c_detailLineRows rows,
    // broken after a blank where there is one; the rest is cut.
    auto putLine = [&](const std::string& label, const std::string& text, plot::Style style) {
        if (y >= bottom) return;
        std::string labelText = label;
        labelText.resize(static_cast<std::size_t>(c_labelCols), ' ');
        Put(grid, r.col + 1, y, labelText, theme.dim, width);
        const std::size_t cols = static_cast<std::size_t>(std::max(width - c_labelCols, 1));
        std::string_view rest = text;
        for (int n = 0; n < c_detailLineRows && !rest.empty() && y < bottom; ++n, ++y) {
            std::string_view piece = ColumnPrefix(rest, cols);
            const bool last = n + 1 == c_detailLineRows || y + 1 == bottom;
            if (piece.size() < rest.size() && !last) {
                const std::size_t blank = piece.rfind(' ');
                if (blank != std::string_view::npos && blank > 0) piece = piece.substr(0, blank + 1);
            }
            const std::string shown = last ? CutToColumns(std::string(rest), cols) : std::string(piece);
            Put(grid, r.col + 1 + c_labelCols, y, shown, style, static_cast<int>(cols));
            rest.remove_prefix(last ? rest.size() : piece.size());
        }
    };
    for (const auto& line : lines) putLine(line.label, line.text, line.style);

    // The value last: it takes the rows left, wrapped.
    if (y >= bottom || f.type == mci::enums::eNoValue || !(f.flags & mci::eReadable)) return;
    const int valueCols = std::max(width - c_labelCols, 1);
    const std::size_t room = static_cast<std::size_t>(bottom - y) * static_cast<std::size_t>(valueCols);
    std::string raw;
    bool partial = false;  // an array read in part
    if (d && d->hasValue) {
        raw = ValueText(d->value, 0);
        partial = d->value.IsArray() && d->elementsShown < f.size;
    } else {
        raw = node.value + (d ? std::string() : std::string(" (reading...)"));
    }
    std::size_t consumed = 0;
    std::string shown = DisplayText(raw, cs, room, &consumed);
    if (consumed < raw.size() || partial) {
        // The end of what is shown says how much there is.
        const std::string end = (f.flags & mci::eArray) ? "... (" + std::to_string(f.size) + " elements)"
                                                        : "... (" + std::to_string(raw.size()) + " bytes)";
        const std::size_t keep = room > Columns(end) ? room - Columns(end) : 0;
        shown = std::string(ColumnPrefix(shown, keep)) + end;
    }
    bool first = true;
    std::string_view rest = shown;
    while (y < bottom) {
        const std::string_view piece = ColumnPrefix(rest, static_cast<std::size_t>(valueCols));
        if (first) Put(grid, r.col + 1, y, "Value", theme.dim, width);
        Put(grid, r.col + 1 + c_labelCols, y, std::string(piece), plot::Style{}, valueCols);
        first = false;
        ++y;
        rest.remove_prefix(piece.size());
        if (rest.empty()) break;
    }
}

// --- the watch list -------------------------------------------------------------------

void DrawWatch(const Browser& b, const Theme& theme, SteadyTime now, plot::CellGrid& grid) {
    const Rect& r = b.GetLayout().watch;
    const Charset_e cs = b.Options().charset;
    const auto& entries = b.Watch().Entries();
    const bool focused = b.Focus() == Focus_e::eWatch;
    const std::string rule = cs == Charset_e::eUtf8 ? "\xE2\x94\x80" : "-";  // ─
    std::string title = rule + " Watch (" + std::to_string(entries.size()) + ")";
    if (focused) title += "  w/Del: remove  Enter: show in tree";
    title += " ";
    grid.fill(r.col, r.row, r.cols, 1, U' ', theme.title);
    int x = Put(grid, r.col, r.row, CutToColumns(title, static_cast<std::size_t>(r.cols)), theme.title, r.cols);
    for (; x < r.col + r.cols; ++x) Put(grid, x, r.row, rule, theme.title, 1);
    if (entries.empty()) {
        Put(grid, r.col + 1, r.row + 1, "w on a node watches it: its value, the time of its last change and a count.",
            theme.dim, r.cols - 1);
        return;
    }
    std::size_t longest = 0;
    for (const auto& e : entries) longest = std::max(longest, Columns(Shown(e.path, cs)));
    const int timeCols = 12;
    const int countCols = 7;
    const int pathCols = std::min(static_cast<int>(longest), r.cols / 3);
    const int valueCols = std::max(r.cols - pathCols - timeCols - countCols - 4, 1);
    for (int i = 0; i < b.GetLayout().WatchRows(); ++i) {
        const int index = b.WatchTop() + i;
        if (index >= static_cast<int>(entries.size())) break;
        const WatchEntry& e = entries[static_cast<std::size_t>(index)];
        const int y = r.row + 1 + i;
        plot::Style base;
        const bool isSelected = index == b.WatchSelected() && focused;
        if (isSelected) {
            base = theme.selected;
            grid.fill(r.col, y, r.cols, 1, U' ', base);
        }
        int x0 = r.col + 1;
        Put(grid, x0, y, CutToColumns(Shown(e.path, cs), static_cast<std::size_t>(pathCols)), base, pathCols);
        x0 += pathCols + 1;
        const plot::Style valueStyle = e.highlightUntil > now && !isSelected ? theme.changed : base;
        const std::string value = e.hasValue ? Shown(e.value, cs) : std::string("(reading...)");
        Put(grid, x0, y, CutToColumns(value, static_cast<std::size_t>(valueCols)), valueStyle, valueCols);
        x0 += valueCols + 1;
        const std::string time = e.changedSinceAdded ? ClockText(e.lastChange) : std::string("-");
        Put(grid, x0, y, time, isSelected ? base : theme.dim, timeCols);
        x0 += timeCols + 1;
        std::string count = std::to_string(e.changes);
        if (static_cast<int>(count.size()) < countCols) count.insert(0, static_cast<std::size_t>(countCols) - count.size(), ' ');
        Put(grid, x0, y, count, base, countCols);
    }
}

// --- message, status, help ------------------------------------------------------------

void DrawMessage(const Browser& b, const Theme& theme, Screen& screen) {
    const Layout& l = b.GetLayout();
    const Charset_e cs = b.Options().charset;
    plot::CellGrid& grid = screen.grid;
    const int y = l.messageRow;
    if (b.Prompt() == Prompt_e::eEnumPick) {
        std::string line = Shown(b.PromptLabel(), cs);
        int x = Put(grid, 0, y, line, theme.title, l.cols);
        for (std::size_t i = 0; i < b.Choices().size(); ++i) {
            const std::string choice = " " + Shown(b.Choices()[i], cs) + " ";
            x += Put(grid, x, y, choice, static_cast<int>(i) == b.Choice() ? theme.selected : plot::Style{}, l.cols - x);
        }
        return;
    }
    if (b.Prompt() != Prompt_e::eNone) {
        const std::string label = CutToColumns(Shown(b.PromptLabel(), cs), static_cast<std::size_t>(l.cols / 2));
        const int x = Put(grid, 0, y, label, theme.title, l.cols);
        if (b.Prompt() == Prompt_e::eConfirmRun) {
            screen.cursorCol = x;
            screen.cursorRow = y;
            return;
        }
        const int room = l.cols - x - 1;
        const LineEditor::Shown field = b.Editor().Show(static_cast<std::size_t>(std::max(room, 1)), cs);
        Put(grid, x, y, field.text, plot::Style{}, room);
        screen.cursorCol = x + static_cast<int>(field.cursorColumn);
        screen.cursorRow = y;
        return;
    }
    const Message& m = b.GetMessage();
    if (!m.text.empty())
        Put(grid, 0, y, CutToColumns(Shown(m.text, cs), static_cast<std::size_t>(l.cols)),
            m.error ? theme.error : plot::Style{}, l.cols);
}

// Tab's candidates, over the watch list above the prompt, in columns.
void DrawCandidates(const Browser& b, const Theme& theme, plot::CellGrid& grid) {
    const Layout& l = b.GetLayout();
    const auto& candidates = b.Candidates();
    if (b.Prompt() != Prompt_e::eGoTo || candidates.empty()) return;
    const Charset_e cs = b.Options().charset;
    std::size_t width = 0;
    for (const auto& c : candidates) width = std::max(width, Columns(Shown(c, cs)));
    const int columnCols = static_cast<int>(std::min<std::size_t>(width + 2, static_cast<std::size_t>(l.cols)));
    const int perRow = std::max(l.cols / std::max(columnCols, 1), 1);
    const int rowsNeeded = (static_cast<int>(candidates.size()) + perRow - 1) / perRow;
    const int rows = std::min(rowsNeeded, l.watch.rows);
    const int top = l.messageRow - rows;
    grid.fill(0, top, l.cols, rows, U' ', plot::Style{});
    for (int i = 0; i < static_cast<int>(candidates.size()); ++i) {
        const int row = i / perRow;
        if (row >= rows) {
            Put(grid, l.cols - 4, l.messageRow - 1, " ...", theme.dim, 4);
            break;
        }
        Put(grid, (i % perRow) * columnCols, top + row, CutToColumns(Shown(candidates[static_cast<std::size_t>(i)], cs),
                                                                    static_cast<std::size_t>(columnCols - 1)),
            plot::Style{}, columnCols - 1);
    }
}

void DrawStatus(const Browser& b, const Theme& theme, SteadyTime now, plot::CellGrid& grid) {
    const Layout& l = b.GetLayout();
    const Charset_e cs = b.Options().charset;
    const int y = l.statusRow;
    grid.fill(0, y, l.cols, 1, U' ', theme.status);
    int x = Put(grid, 0, y, " " + Shown(b.Options().address, cs) + " ", theme.status, l.cols);
    const Connection_e state = b.State();
    const plot::Style stateStyle = state == Connection_e::eConnected ? theme.connected
                                   : state == Connection_e::eLost    ? theme.lost
                                                                     : theme.troubled;
    x += Put(grid, x, y, " " + StateText(state) + " ", stateStyle, l.cols - x);
    if (!b.BusyJob().empty()) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - b.BusySince()).count();
        std::string busy = "  " + Shown(b.BusyJob(), cs) + " ...";
        if (seconds >= 1) busy += " " + std::to_string(seconds) + "s";
        x += Put(grid, x, y, busy, theme.status, l.cols - x);
    }
    const std::string hints = b.Prompt() == Prompt_e::eNone ? "? help  q quit " : "Enter: ok  Esc: cancel ";
    const int hintCols = static_cast<int>(hints.size());
    if (x + hintCols + 2 <= l.cols) Put(grid, l.cols - hintCols, y, hints, theme.status, hintCols);
}

void DrawHelp(const Browser& b, const Theme& theme, plot::CellGrid& grid) {
    const Layout& l = b.GetLayout();
    const int keyCols = 20;
    int textCols = 0;
    for (const auto& k : c_keyHelp) textCols = std::max(textCols, static_cast<int>(std::string(k.what).size()));
    const int width = std::min(keyCols + textCols + 4, l.cols);
    const int keys = static_cast<int>(std::size(c_keyHelp));
    const int height = std::min(keys + 2, l.rows);
    const int left = (l.cols - width) / 2;
    const int top = (l.rows - height) / 2;
    const int right = left + width - 1;
    const int bottom = top + height - 1;
    grid.fill(left, top, width, height, U' ', plot::Style{});
    const bool utf8 = b.Options().charset == Charset_e::eUtf8;
    for (int x = left + 1; x < right; ++x) {
        grid.set(x, top, utf8 ? U'\u2500' : U'-', theme.title);
        grid.set(x, bottom, utf8 ? U'\u2500' : U'-', theme.title);
    }
    for (int y = top + 1; y < bottom; ++y) {
        grid.set(left, y, utf8 ? U'\u2502' : U'|', theme.title);
        grid.set(right, y, utf8 ? U'\u2502' : U'|', theme.title);
    }
    grid.set(left, top, utf8 ? U'\u250c' : U'+', theme.title);
    grid.set(right, top, utf8 ? U'\u2510' : U'+', theme.title);
    grid.set(left, bottom, utf8 ? U'\u2514' : U'+', theme.title);
    grid.set(right, bottom, utf8 ? U'\u2518' : U'+', theme.title);
    Put(grid, left + 2, top, " Keys (any key closes this) ", theme.title, width - 4);
    for (int i = 0; i < keys && i + 1 < height - 1; ++i) {
        const int y = top + 1 + i;
        Put(grid, left + 2, y, c_keyHelp[i].keys, theme.title, keyCols);
        Put(grid, left + 2 + keyCols, y, c_keyHelp[i].what, plot::Style{}, width - keyCols - 4);
    }
}

}  // namespace

std::string StateText(Connection_e state) {
    switch (state) {
        case Connection_e::eConnecting: return "connecting";
        case Connection_e::eConnected: return "connected";
        case Connection_e::eNotAnswering: return "not answering";
        case Connection_e::eLost: return "lost";
        case Connection_e::eReconnecting: return "reconnecting";
    }
    return std::string();
}

std::string TreeRowText(const TreeRow& row, Charset_e charset) {
    const TreeNode& node = *row.node;
    std::string text = std::string(static_cast<std::size_t>(row.depth) * 2, ' ') + Expander(node, charset) + " " +
                       DisplayText(node.facts.name, charset);
    const std::string type = TypeText(node.facts);
    if (!type.empty()) text += " [" + type + "]";
    if (node.hasValue) text += " = " + DisplayText(node.value, charset);
    return text;
}

void Render(const Browser& b, const Theme& theme, SteadyTime now, Screen& screen) {
    const Layout& l = b.GetLayout();
    screen.grid = plot::CellGrid(l.cols, l.rows);
    screen.cursorCol = screen.cursorRow = -1;
    plot::CellGrid& grid = screen.grid;
    if (l.tooSmall) {
        grid.put(0, 0, "Terminal too small: need 40x12");
        return;
    }
    DrawTree(b, theme, now, grid);
    const char32_t bar = b.Options().charset == Charset_e::eUtf8 ? U'\u2502' : U'|';
    for (int y = l.tree.row; y < l.tree.row + l.tree.rows; ++y) grid.set(l.separatorCol, y, bar, theme.dim);
    if (b.Plot())
        DrawPlotPane(*b.Plot(), b.Options().charset, theme.colour, theme, l.details, grid);
    else
        DrawDetails(b, theme, grid);
    DrawWatch(b, theme, now, grid);
    DrawCandidates(b, theme, grid);
    DrawMessage(b, theme, screen);
    DrawStatus(b, theme, now, grid);
    if (b.HelpShown()) DrawHelp(b, theme, grid);
}

}  // namespace browse
