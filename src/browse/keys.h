#pragma once
// Keys as the browser sees them, whatever terminal they come from.
#include <cstdint>

namespace browse {

enum class KeyCode_e {
    eChar,       // a character (control characters too: Ctrl-C is 0x03)
    eUp,
    eDown,
    eLeft,
    eRight,
    ePageUp,
    ePageDown,
    eHome,
    eEnd,
    eEnter,
    eEscape,
    eBackspace,
    eDelete,
    eTab,
    eBackTab,
    eMouseClick,     // `col`, `row`: the cell clicked
    eMouseWheelUp,
    eMouseWheelDown,
};

struct Key {
    KeyCode_e code = KeyCode_e::eChar;
    char32_t ch = 0;
    int col = 0;
    int row = 0;

    static Key Char(char32_t c) { return Key{KeyCode_e::eChar, c, 0, 0}; }
    static Key Of(KeyCode_e code) { return Key{code, 0, 0, 0}; }
    bool Is(char32_t c) const { return code == KeyCode_e::eChar && ch == c; }
};

constexpr char32_t c_ctrlA = 0x01;
constexpr char32_t c_ctrlC = 0x03;
constexpr char32_t c_ctrlE = 0x05;
constexpr char32_t c_ctrlK = 0x0B;
constexpr char32_t c_ctrlL = 0x0C;
constexpr char32_t c_ctrlU = 0x15;
constexpr char32_t c_ctrlZ = 0x1A;

}  // namespace browse
