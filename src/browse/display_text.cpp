#include "browse/display_text.h"

#include <cwchar>

#include "plot/cell_grid.h"

namespace browse {
namespace {

constexpr char c_hex[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char byte) {
    out += "\\x";
    out += c_hex[byte >> 4];
    out += c_hex[byte & 0x0F];
}

void AppendCodePointEscape(std::string& out, char32_t cp) {
    const bool wide = cp > 0xFFFF;
    out += wide ? "\\U" : "\\u";
    for (int shift = wide ? 28 : 12; shift >= 0; shift -= 4) out += c_hex[(cp >> shift) & 0x0F];
}

// A character beyond ASCII that takes one column and does nothing else.
bool ShownAsItIs(char32_t cp) {
    if (cp < 0xA0) return false;
    return wcwidth(static_cast<wchar_t>(cp)) == 1;
}

// Appends the display form of the character at raw[pos]; gives the bytes read.
std::size_t AppendOne(std::string& out, std::string_view raw, std::size_t pos, Charset_e charset) {
    const auto byte = static_cast<unsigned char>(raw[pos]);
    if (byte >= 0x20 && byte < 0x7F) {
        out += static_cast<char>(byte);
        return 1;
    }
    if (byte < 0x80) {
        switch (byte) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: AppendHexByte(out, byte); break;
        }
        return 1;
    }
    char32_t cp = 0;
    const std::size_t length = plot::decodeUtf8(raw, pos, cp);
    if (length == 0) {
        AppendHexByte(out, byte);
        return 1;
    }
    if (charset == Charset_e::eUtf8 && ShownAsItIs(cp))
        plot::appendUtf8(out, cp);
    else
        AppendCodePointEscape(out, cp);
    return length;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string DisplayText(std::string_view raw, Charset_e charset, std::size_t maxColumns, std::size_t* consumed) {
    std::string out;
    std::size_t pos = 0;
    std::size_t columns = 0;
    std::string piece;
    while (pos < raw.size()) {
        piece.clear();
        const std::size_t length = AppendOne(piece, raw, pos, charset);
        const std::size_t width = Columns(piece);
        // An escape is never split: it ends the text when it does not fit.
        if (maxColumns != 0 && columns + width > maxColumns) break;
        out += piece;
        columns += width;
        pos += length;
    }
    if (consumed) *consumed = pos;
    return out;
}

std::size_t Columns(std::string_view display) {
    std::size_t columns = 0;
    for (char c : display)
        if (!IsContinuation(c)) ++columns;
    return columns;
}

std::string_view ColumnPrefix(std::string_view display, std::size_t columns) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < display.size(); ++i) {
        if (IsContinuation(display[i])) continue;
        if (seen == columns) return display.substr(0, i);
        ++seen;
    }
    return display;
}

std::string CutToColumns(const std::string& display, std::size_t columns) {
    if (Columns(display) <= columns) return display;
    if (columns <= 3) return std::string(ColumnPrefix(display, columns));
    return std::string(ColumnPrefix(display, columns - 3)) + "...";
}

}  // namespace browse
