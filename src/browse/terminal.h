#pragma once
// The terminal under the browser, through ncursesw: copies a screen grid
// to the terminal (only the cells that changed), turns input into keys,
// follows size changes, and gives the terminal back as it found it, however
// the browser ends (destruction, also while an exception unwinds).
#include <memory>
#include <vector>

#include <termios.h>

#include "browse/display_text.h"
#include "browse/keys.h"
#include "browse/renderer.h"

namespace browse {

class Terminal {
public:
    struct Options {
        bool mouse = false;
        bool colours = true;   // false with NO_COLOR
        Charset_e charset = Charset_e::eUtf8;  // the locale's
    };
    // Takes the terminal of standard input and output. Throws
    // istd::Exception when the terminal cannot be used (no terminfo entry).
    explicit Terminal(Options options);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    int Cols() const;
    int Rows() const;
    Charset_e Charset() const { return m_charset; }
    // The colours the screen may use: 0 (none, or NO_COLOR), 8, 256.
    int Colours() const { return m_colours; }

    // The terminal's size changed: ncurses is told the new one.
    void Resize();
    void Present(const Screen& screen);
    // The next Present draws every cell again (Ctrl-L, after a suspension).
    void Invalidate();
    // The keys waiting now; never blocks.
    std::vector<Key> ReadKeys();
    // Gives the terminal back, stops the process (job control), and takes
    // the terminal again when it continues.
    void Suspend();
    // Gives the terminal back now (also done by the destructor).
    void Restore();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    Charset_e m_charset = Charset_e::eAscii;
    int m_colours = 0;
    bool m_restored = false;
    termios m_saved{};
    bool m_haveSaved = false;
};

}  // namespace browse
