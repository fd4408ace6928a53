#pragma once
// The one-line text field of the browser's prompts (go to, filter, edit,
// file names). The text is kept as bytes, so that a value that is not
// UTF-8 can be edited without being changed; the cursor moves over whole
// UTF-8 characters and over single bytes that are not part of one.
#include <cstddef>
#include <string>

#include "browse/display_text.h"
#include "browse/keys.h"

namespace browse {

class LineEditor {
public:
    explicit LineEditor(std::string text = std::string()) : m_text(std::move(text)), m_cursor(m_text.size()) {}

    const std::string& Text() const { return m_text; }
    std::size_t Cursor() const { return m_cursor; }
    void SetText(std::string text);

    // Applies an editing key; false when the key is not one (Enter, Escape,
    // Tab and arrows up and down are the prompt's).
    bool Handle(const Key& key);

    // What the field shows in `columns` columns (escaped, scrolled so that
    // the cursor is inside), and the cursor's column in it.
    struct Shown {
        std::string text;
        std::size_t cursorColumn = 0;
    };
    Shown Show(std::size_t columns, Charset_e charset) const;

private:
    std::size_t Previous(std::size_t pos) const;
    std::size_t Next(std::size_t pos) const;
    void Insert(char32_t ch);

    std::string m_text;
    std::size_t m_cursor = 0;  // byte offset
};

}  // namespace browse
