#include "browse/line_editor.h"

#include <algorithm>

#include "plot/cell_grid.h"

namespace browse {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The length of the UTF-8 sequence that starts at `pos`, or 1 for a byte
// that starts none.
std::size_t SequenceLength(const std::string& text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 1;
    if ((lead & 0xE0) == 0xC0) length = 2;
    else if ((lead & 0xF0) == 0xE0) length = 3;
    else if ((lead & 0xF8) == 0xF0) length = 4;
    if (pos + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if (!IsContinuation(text[pos + i])) return 1;
    return length;
}

}  // namespace

void LineEditor::SetText(std::string text) {
    m_text = std::move(text);
    m_cursor = m_text.size();
}

std::size_t LineEditor::Next(std::size_t pos) const {
    return pos >= m_text.size() ? m_text.size() : pos + SequenceLength(m_text, pos);
}

std::size_t LineEditor::Previous(std::size_t pos) const {
    if (pos == 0) return 0;
    // The start of the character that ends at pos: back over continuation
    // bytes to a lead byte whose sequence ends there, else a lone byte.
    std::size_t start = pos - 1;
    for (int back = 1; back < 4 && start > 0 && IsContinuation(m_text[start]); ++back) --start;
    return Next(start) == pos ? start : pos - 1;
}

void LineEditor::Insert(char32_t ch) {
    std::string bytes;
    plot::appendUtf8(bytes, ch);
    m_text.insert(m_cursor, bytes);
    m_cursor += bytes.size();
}

bool LineEditor::Handle(const Key& key) {
    switch (key.code) {
        case KeyCode_e::eLeft: m_cursor = Previous(m_cursor); return true;
        case KeyCode_e::eRight: m_cursor = Next(m_cursor); return true;
        case KeyCode_e::eHome: m_cursor = 0; return true;
        case KeyCode_e::eEnd: m_cursor = m_text.size(); return true;
        case KeyCode_e::eBackspace:
            if (m_cursor > 0) {
                const std::size_t start = Previous(m_cursor);
                m_text.erase(start, m_cursor - start);
                m_cursor = start;
            }
            return true;
        case KeyCode_e::eDelete:
            if (m_cursor < m_text.size()) m_text.erase(m_cursor, Next(m_cursor) - m_cursor);
            return true;
        case KeyCode_e::eChar: break;
        default: return false;
    }
    switch (key.ch) {
        case c_ctrlA: m_cursor = 0; return true;
        case c_ctrlE: m_cursor = m_text.size(); return true;
        case c_ctrlK: m_text.erase(m_cursor); return true;
        case c_ctrlU:
            m_text.erase(0, m_cursor);
            m_cursor = 0;
            return true;
        default: break;
    }
    if (key.ch < 0x20 || key.ch == 0x7F || key.ch > 0x10FFFF) return false;
    Insert(key.ch);
    return true;
}

LineEditor::Shown LineEditor::Show(std::size_t columns, Charset_e charset) const {
    Shown shown;
    if (columns == 0) return shown;
    // Only the text around the cursor is escaped: a byte takes at least one
    // column, so the `columns` bytes before the cursor fill the field's left
    // part however long the text is (a value of a megabyte is edited too).
    std::size_t from = m_cursor > columns ? m_cursor - columns : 0;
    while (from < m_cursor && IsContinuation(m_text[from])) ++from;
    const std::string before = DisplayText(std::string_view(m_text).substr(from, m_cursor - from), charset);
    const std::size_t beforeColumns = Columns(before);
    // The cursor stays inside: the text before it scrolls left by whole characters.
    const std::size_t keep = std::min(beforeColumns, columns - 1);
    std::string_view left = before;
    left.remove_prefix(ColumnPrefix(left, beforeColumns - keep).size());
    const std::string right = DisplayText(std::string_view(m_text).substr(m_cursor), charset, columns - keep);
    shown.text = std::string(left) + right;
    shown.cursorColumn = keep;
    return shown;
}

}  // namespace browse
