// What reaches the screen of a registry text, and the prompts' field.
#include <gtest/gtest.h>

#include "browse/display_text.h"
#include "browse/line_editor.h"

namespace browse {
namespace {

struct EscapeCase {
    const char* name;
    std::string raw;
    Charset_e charset;
    std::string shown;
};

TEST(DisplayText, EveryByteIsShownAndNoneActsOnTheTerminal) {
    const EscapeCase cases[] = {
        {"plain", "gain 1.5", Charset_e::eUtf8, "gain 1.5"},
        {"line ends and tabs", "a\nb\rc\td", Charset_e::eUtf8, "a\\nb\\rc\\td"},
        {"escape sequences", "\x1b[2J\x1b]0;x\x07", Charset_e::eUtf8, "\\x1b[2J\\x1b]0;x\\x07"},
        {"NUL and DEL", std::string("a\0b\x7f", 4), Charset_e::eUtf8, "a\\x00b\\x7f"},
        {"C1 control", "a\xC2\x9B" "b\xC2\x85", Charset_e::eUtf8, "a\\u009bb\\u0085"},
        {"not UTF-8", "a\xff\xfe" "b", Charset_e::eUtf8, "a\\xff\\xfeb"},
        {"cut sequence", "a\xE2\x82", Charset_e::eUtf8, "a\\xe2\\x82"},
        {"overlong", "\xC0\xAF", Charset_e::eUtf8, "\\xc0\\xaf"},
        {"surrogate", "\xED\xA0\x80", Charset_e::eUtf8, "\\xed\\xa0\\x80"},
        {"one-column letters", "\xC3\xA9t\xC3\xA9", Charset_e::eUtf8, "\xC3\xA9t\xC3\xA9"},
        {"wide characters", "\xE6\xBC\xA2", Charset_e::eUtf8, "\\u6f22"},
        {"beyond the BMP", "\xF0\x9F\x98\x80", Charset_e::eUtf8, "\\U0001f600"},
        {"combining mark", "e\xCC\x81", Charset_e::eUtf8, "e\\u0301"},
        {"ASCII terminal", "\xC3\xA9t\xC3\xA9", Charset_e::eAscii, "\\u00e9t\\u00e9"},
    };
    for (const auto& c : cases) {
        const std::string shown = DisplayText(c.raw, c.charset);
        EXPECT_EQ(shown, c.shown) << c.name;
        for (unsigned char byte : shown) EXPECT_FALSE(byte < 0x20 || byte == 0x7f) << c.name;
    }
}

TEST(DisplayText, AMillionBytesStopAtTheColumnsAsked) {
    const std::string big(1 << 20, '\x01');
    std::size_t consumed = 0;
    const std::string shown = DisplayText(big, Charset_e::eUtf8, 10, &consumed);
    // Escapes are never split: two of four columns each.
    EXPECT_EQ(shown, "\\x01\\x01");
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(Columns("a\xC3\xA9\\x01"), 6u);
}

TEST(DisplayText, CutToColumnsEndsWithDots) {
    EXPECT_EQ(CutToColumns("0123456789", 10), "0123456789");
    EXPECT_EQ(CutToColumns("0123456789", 9), "012345...");
    EXPECT_EQ(CutToColumns("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 4), "\xC3\xA9...");
    EXPECT_EQ(CutToColumns("0123456789", 2), "01");
}

TEST(LineEditor, MovesOverWholeCharactersAndKeepsOtherBytes) {
    LineEditor e(std::string("a\xC3\xA9\xff" "b"));
    EXPECT_EQ(e.Cursor(), 5u);
    e.Handle(Key::Of(KeyCode_e::eLeft));   // before b
    e.Handle(Key::Of(KeyCode_e::eLeft));   // before the lone byte
    EXPECT_EQ(e.Cursor(), 3u);
    e.Handle(Key::Of(KeyCode_e::eLeft));   // before the two-byte letter
    EXPECT_EQ(e.Cursor(), 1u);
    e.Handle(Key::Of(KeyCode_e::eDelete));
    EXPECT_EQ(e.Text(), "a\xff" "b");
    e.Handle(Key::Char(U'\u00e8'));
    EXPECT_EQ(e.Text(), "a\xC3\xA8\xff" "b");
    e.Handle(Key::Of(KeyCode_e::eEnd));
    e.Handle(Key::Of(KeyCode_e::eBackspace));
    e.Handle(Key::Of(KeyCode_e::eBackspace));
    EXPECT_EQ(e.Text(), "a\xC3\xA8");
    // Control characters are not text; Enter and Escape belong to the prompt.
    EXPECT_FALSE(e.Handle(Key::Char(0x1b)));
    EXPECT_FALSE(e.Handle(Key::Of(KeyCode_e::eEnter)));
    e.Handle(Key::Char(c_ctrlA));
    e.Handle(Key::Char(c_ctrlK));
    EXPECT_EQ(e.Text(), "");
}

TEST(LineEditor, ShowsAWindowAroundTheCursor) {
    LineEditor e("0123456789abcdef");
    const LineEditor::Shown end = e.Show(8, Charset_e::eUtf8);
    EXPECT_EQ(end.text, "9abcdef");
    EXPECT_EQ(end.cursorColumn, 7u);
    e.Handle(Key::Of(KeyCode_e::eHome));
    const LineEditor::Shown start = e.Show(8, Charset_e::eUtf8);
    EXPECT_EQ(start.text, "01234567");
    EXPECT_EQ(start.cursorColumn, 0u);
    // A value of a megabyte: the field shows its ends as the cursor moves.
    LineEditor big(std::string(1 << 20, 'x') + "\x01" "end");
    EXPECT_EQ(big.Show(10, Charset_e::eUtf8).text, "xx\\x01end");
    big.Handle(Key::Of(KeyCode_e::eHome));
    EXPECT_EQ(big.Show(10, Charset_e::eUtf8).text, "xxxxxxxxxx");
    LineEditor control(std::string("a\x1b") + "b");
    EXPECT_EQ(control.Show(20, Charset_e::eUtf8).text, "a\\x1bb");
    EXPECT_EQ(control.Show(20, Charset_e::eUtf8).cursorColumn, 6u);
}

}  // namespace
}  // namespace browse
