#pragma once
// Where the panes of the browser go on a screen of a given size.
namespace browse {

// Below this size the screen holds one line saying so.
constexpr int c_minCols = 40;
constexpr int c_minRows = 12;

struct Rect {
    int col = 0;
    int row = 0;
    int cols = 0;
    int rows = 0;
};

struct Layout {
    bool tooSmall = false;
    int cols = 0;
    int rows = 0;
    Rect tree;       // title row, then the rows of the tree
    Rect details;    // title row, then the details or the plot
    Rect watch;      // title row, then one row per entry
    int messageRow = 0;
    int statusRow = 0;
    int separatorCol = 0;

    // Tree rows shown at once (the pane less its title).
    int TreeRows() const { return tree.rows > 1 ? tree.rows - 1 : 0; }
    int WatchRows() const { return watch.rows > 1 ? watch.rows - 1 : 0; }
};

inline Layout ComputeLayout(int cols, int rows) {
    Layout l;
    l.cols = cols;
    l.rows = rows;
    if (cols < c_minCols || rows < c_minRows) {
        l.tooSmall = true;
        return l;
    }
    l.statusRow = rows - 1;
    l.messageRow = rows - 2;
    int watchRows = rows / 4;
    if (watchRows < 4) watchRows = 4;
    if (watchRows > 12) watchRows = 12;
    const int top = rows - 2 - watchRows;
    const int treeCols = cols * 11 / 20;
    l.tree = Rect{0, 0, treeCols, top};
    l.separatorCol = treeCols;
    l.details = Rect{treeCols + 1, 0, cols - treeCols - 1, top};
    l.watch = Rect{0, top, cols, watchRows};
    return l;
}

}  // namespace browse
