// The only file of the browser that includes ncurses.
#define NCURSES_WIDECHAR 1
#include "browse/terminal.h"

#include <ncursesw/curses.h>
#include <ncursesw/term.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "istd/exception.h"

namespace browse {

struct Terminal::Impl {
    SCREEN* screen = nullptr;
    plot::CellGrid shown;     // what the terminal shows now
    bool invalid = true;
    std::map<std::pair<int, int>, short> pairs;  // (fg, bg) -> pair number
    bool mouse = false;

    short PairOf(const plot::Style& style, int colours) {
        if (colours == 0 || (style.fg == plot::kDefaultColour && style.bg == plot::kDefaultColour)) return 0;
        const std::pair<int, int> key{style.fg, style.bg};
        auto it = pairs.find(key);
        if (it != pairs.end()) return it->second;
        const int next = static_cast<int>(pairs.size()) + 1;
        if (next >= COLOR_PAIRS || next > 32767 || style.fg >= colours || style.bg >= colours) return 0;
        init_pair(static_cast<short>(next), style.fg, style.bg);
        pairs.emplace(key, static_cast<short>(next));
        return static_cast<short>(next);
    }
};

namespace {

attr_t AttributesOf(std::uint8_t attributes) {
    attr_t a = A_NORMAL;
    if (attributes & plot::kBold) a |= A_BOLD;
    if (attributes & plot::kDim) a |= A_DIM;
    if (attributes & plot::kReverse) a |= A_REVERSE;
    if (attributes & plot::kUnderline) a |= A_UNDERLINE;
    return a;
}

bool SameCell(const plot::Cell& a, const plot::Cell& b) { return a.ch == b.ch && a.style == b.style; }

Key FromFunctionKey(wint_t code, bool& known) {
    known = true;
    switch (code) {
        case KEY_UP: return Key::Of(KeyCode_e::eUp);
        case KEY_DOWN: return Key::Of(KeyCode_e::eDown);
        case KEY_LEFT: return Key::Of(KeyCode_e::eLeft);
        case KEY_RIGHT: return Key::Of(KeyCode_e::eRight);
        case KEY_PPAGE: return Key::Of(KeyCode_e::ePageUp);
        case KEY_NPAGE: return Key::Of(KeyCode_e::ePageDown);
        case KEY_HOME: return Key::Of(KeyCode_e::eHome);
        case KEY_END: return Key::Of(KeyCode_e::eEnd);
        case KEY_ENTER: return Key::Of(KeyCode_e::eEnter);
        case KEY_BACKSPACE: return Key::Of(KeyCode_e::eBackspace);
        case KEY_DC: return Key::Of(KeyCode_e::eDelete);
        case KEY_BTAB: return Key::Of(KeyCode_e::eBackTab);
        default: known = false; return Key{};
    }
}

Key FromCharacter(wint_t ch) {
    switch (ch) {
        case L'\r':
        case L'\n': return Key::Of(KeyCode_e::eEnter);
        case L'\t': return Key::Of(KeyCode_e::eTab);
        case 0x1B: return Key::Of(KeyCode_e::eEscape);
        case 0x7F:
        case 0x08: return Key::Of(KeyCode_e::eBackspace);
        default: return Key::Char(static_cast<char32_t>(ch));
    }
}

// True when terminfo describes $TERM: the entry is read and let go again.
bool TerminalKnown() {
    TERMINAL* const current = cur_term;
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) return false;
    del_curterm(cur_term);
    set_curterm(current);
    return true;
}

istd::Exception UnknownTerminal() {
    const char* term = std::getenv("TERM");
    return istd::Exception(std::string("browse cannot use the terminal (TERM=") + (term ? term : "") + ")", true);
}

}  // namespace

Terminal::Terminal(Options options) : m_impl(std::make_unique<Impl>()), m_charset(options.charset) {
    m_haveSaved = tcgetattr(STDIN_FILENO, &m_saved) == 0;
    // Refused before newterm, which keeps memory it took for a terminal it
    // does not know.
    if (!TerminalKnown()) throw UnknownTerminal();
    // Escape alone is a key: a short wait tells it from a key's sequence.
    set_escdelay(25);
    m_impl->screen = newterm(nullptr, stdout, stdin);
    if (!m_impl->screen) throw UnknownTerminal();
    set_term(m_impl->screen);
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    leaveok(stdscr, FALSE);
    curs_set(0);
    if (options.colours && has_colors() && start_color() == OK) {
        use_default_colors();
        m_colours = COLORS >= 256 ? 256 : (COLORS >= 8 ? 8 : 0);
    }
    if (options.mouse) {
        mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
        mouseinterval(0);
        m_impl->mouse = true;
    }
}

Terminal::~Terminal() { Restore(); }

void Terminal::Restore() {
    if (m_restored) return;
    m_restored = true;
    if (m_impl->mouse) mousemask(0, nullptr);
    curs_set(1);
    endwin();
    delscreen(m_impl->screen);
    m_impl->screen = nullptr;
    // The modes exactly as they were, whatever endwin left.
    if (m_haveSaved) tcsetattr(STDIN_FILENO, TCSADRAIN, &m_saved);
}

int Terminal::Cols() const { return COLS; }
int Terminal::Rows() const { return LINES; }

void Terminal::Resize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
        resizeterm(size.ws_row, size.ws_col);
    m_impl->invalid = true;
}

void Terminal::Invalidate() {
    m_impl->invalid = true;
    clearok(curscr, TRUE);
}

void Terminal::Present(const Screen& screen) {
    const plot::CellGrid& grid = screen.grid;
    Impl& impl = *m_impl;
    const bool all = impl.invalid || impl.shown.cols() != grid.cols() || impl.shown.rows() != grid.rows();
    if (all) erase();
    for (int y = 0; y < grid.rows() && y < LINES; ++y) {
        for (int x = 0; x < grid.cols() && x < COLS; ++x) {
            const plot::Cell& cell = grid.at(x, y);
            if (!all && SameCell(cell, impl.shown.at(x, y))) continue;
            wchar_t text[2] = {static_cast<wchar_t>(cell.ch), 0};
            if (m_charset == Charset_e::eAscii && cell.ch > 0x7E) text[0] = L'?';
            cchar_t c;
            setcchar(&c, text, AttributesOf(cell.style.attributes), impl.PairOf(cell.style, m_colours), nullptr);
            // The bottom right cell cannot take the cursor past it: ERR there is expected.
            mvadd_wch(y, x, &c);
        }
    }
    impl.shown = grid;
    impl.invalid = false;
    if (screen.cursorCol >= 0 && screen.cursorRow >= 0) {
        move(screen.cursorRow, screen.cursorCol);
        curs_set(1);
    } else {
        curs_set(0);
    }
    refresh();
}

std::vector<Key> Terminal::ReadKeys() {
    std::vector<Key> keys;
    wint_t ch = 0;
    for (;;) {
        const int kind = get_wch(&ch);
        if (kind == ERR) break;
        if (kind == KEY_CODE_YES) {
            if (ch == KEY_MOUSE) {
                MEVENT event{};
                if (getmouse(&event) != OK) continue;
                Key key;
                if (event.bstate & BUTTON4_PRESSED) key.code = KeyCode_e::eMouseWheelUp;
                else if (event.bstate & BUTTON5_PRESSED) key.code = KeyCode_e::eMouseWheelDown;
                else if (event.bstate & BUTTON1_PRESSED) key.code = KeyCode_e::eMouseClick;
                else continue;
                key.col = event.x;
                key.row = event.y;
                keys.push_back(key);
                continue;
            }
            if (ch == KEY_RESIZE) continue;  // the size comes through SIGWINCH
            bool known = false;
            const Key key = FromFunctionKey(ch, known);
            if (known) keys.push_back(key);
            continue;
        }
        keys.push_back(FromCharacter(ch));
    }
    return keys;
}

void Terminal::Suspend() {
    endwin();
    if (m_haveSaved) tcsetattr(STDIN_FILENO, TCSADRAIN, &m_saved);
    raise(SIGSTOP);
    // Continued: the program's modes again, and the whole screen.
    reset_prog_mode();
    Invalidate();
}

}  // namespace browse
