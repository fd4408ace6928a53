#pragma once
// Draws the browser into a grid of cells: the tree, the details or the
// plot, the watch list, the message line and the status line. Nothing here
// knows the terminal; tests compare the grid as text.
#include "browse/browser.h"
#include "plot/cell_grid.h"

namespace browse {

// The styles of the screen's parts.
struct Theme {
    plot::Style title;
    plot::Style selected;          // the selected row where the focus is
    plot::Style selectedElsewhere; // the selected row of the other pane
    plot::Style changed;           // a value that just changed
    plot::Style error;
    plot::Style dim;               // hidden nodes, stale values, hints
    plot::Style difference;        // snapshot marks
    plot::Style status;
    plot::Style connected, troubled, lost;  // the state word
    bool colour = false;                    // plot traces in the components' colours

    // With colours (256 when `colours` >= 256), or with attributes only
    // (NO_COLOR, a terminal without colours).
    static Theme Coloured(int colours);
    static Theme Monochrome();
};

struct Screen {
    plot::CellGrid grid;
    int cursorCol = -1;  // where the terminal's cursor goes (a prompt); -1: hidden
    int cursorRow = -1;
};

void Render(const Browser& browser, const Theme& theme, SteadyTime now, Screen& screen);

// Parts, for tests and the plot pane.
std::string TreeRowText(const TreeRow& row, Charset_e charset);
std::string StateText(Connection_e state);

}  // namespace browse
