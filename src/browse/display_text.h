#pragma once
// Registry texts on the screen. A value may hold any bytes: control
// characters, escape sequences, bytes that are not UTF-8, characters wider
// than one column. On the screen every one of them is written out as an
// escape (\n, \t, \x1b, \u0085) so that the user sees what the value holds
// and nothing of it can act on the terminal; everything else is shown as
// it is. Each character of the result takes exactly one column.
#include <cstddef>
#include <string>
#include <string_view>

namespace browse {

enum class Charset_e {
    eUtf8,   // printable one-column characters beyond ASCII are shown
    eAscii,  // the locale is not UTF-8: everything beyond ASCII is escaped
};

// The escaped text, stopping once it holds `maxColumns` characters (0: the
// whole text). `consumed`, when given, receives the number of input bytes
// the result shows.
std::string DisplayText(std::string_view raw, Charset_e charset, std::size_t maxColumns = 0,
                        std::size_t* consumed = nullptr);

// The number of characters (columns) of a text DisplayText produced.
std::size_t Columns(std::string_view display);

// A display text cut to `columns` columns; a cut text ends in "..." (within
// the columns), as the registry cuts values.
std::string CutToColumns(const std::string& display, std::size_t columns);

// The first `columns` columns of a display text and the rest.
std::string_view ColumnPrefix(std::string_view display, std::size_t columns);

}  // namespace browse
