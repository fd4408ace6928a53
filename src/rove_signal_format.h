#pragma once
// The digits of the signal printers. Each element's text is written
// backwards from its right end with a table of digit pairs, so that text
// fields need no moving: the field is filled with spaces, the digits land
// at its right edge. Values these fast paths cannot format exactly (wide
// 64-bit integers in a text field, doubles that are large, not finite, or
// close to a rounding tie) go through std::to_chars, so every byte equals
// the iostream formatting (decimal integers; fixed notation with 6
// decimals, ties to even).
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace signal_output::format {

inline constexpr char c_digitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of `value` so that they end just before `end`;
// gives where they start.
template <class U>
char* DigitsBackward(char* end, U value) {
    while (value >= 100) {
        const auto pair = static_cast<unsigned>(value % 100);
        value /= 100;
        end -= 2;
        std::memcpy(end, c_digitPairs + 2 * pair, 2);
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, c_digitPairs + 2 * static_cast<unsigned>(value), 2);
    } else {
        *--end = static_cast<char>('0' + static_cast<unsigned>(value));
    }
    return end;
}

// An integer split into sign and magnitude, in the narrowest fast type.
template <class T>
struct Integer {
    using Magnitude = std::conditional_t<(sizeof(T) <= 4), std::uint32_t, std::uint64_t>;
    bool negative;
    Magnitude magnitude;

    explicit Integer(T value) : negative(IsNegative(value)), magnitude(static_cast<Magnitude>(value)) {
        if (negative) magnitude = Magnitude{0} - magnitude;  // also right for the most negative value
    }

    static bool IsNegative(T value) {
        if constexpr (std::is_signed_v<T>)
            return value < 0;
        else
            return false;
    }

    // The text is at most `width` characters.
    bool Fits(unsigned width) const {
        if constexpr (sizeof(T) <= 2) {
            return width >= 6;  // "-32768"
        } else {
            unsigned digits = 1;
            for (Magnitude rest = magnitude / 10; rest != 0; rest /= 10) ++digits;
            return digits + (negative ? 1 : 0) <= width;
        }
    }

    char* Backward(char* end) const {
        end = DigitsBackward(end, magnitude);
        if (negative) *--end = '-';
        return end;
    }
};

// A double rounded to 6 decimals, when that rounding is certain: value * 1e6
// below 2^44 in magnitude is off by at most 2^-9 from the exact product, so
// a fraction more than 2^-7 away from one half rounds as the exact value
// would. Other values (ties among them) are left to std::to_chars.
class Fixed6 {
public:
    explicit Fixed6(double value) {
        constexpr double c_limit = 17592186044416.0;  // 2^44
        constexpr double c_margin = 1.0 / 128;
        const double scaled = value * 1e6;
        if (!(std::fabs(scaled) < c_limit)) return;  // also nan and inf
        const double whole = std::floor(scaled);
        const double fraction = scaled - whole;
        if (std::fabs(fraction - 0.5) <= c_margin) return;
        const auto rounded = static_cast<std::int64_t>(whole) + (fraction > 0.5 ? 1 : 0);
        m_negative = std::signbit(value);  // -0.000000 for small negative values, as printf
        const std::uint64_t micros = static_cast<std::uint64_t>(rounded < 0 ? -rounded : rounded);
        m_integer = micros / 1000000;
        m_micros = static_cast<std::uint32_t>(micros % 1000000);
        m_exact = true;
    }

    bool Exact() const { return m_exact; }

    // The text is at most `width` characters.
    bool Fits(unsigned width) const {
        unsigned digits = 1;
        for (std::uint64_t rest = m_integer / 10; rest != 0; rest /= 10) ++digits;
        return digits + 7 + (m_negative ? 1 : 0) <= width;
    }

    char* Backward(char* end) const {
        const std::uint32_t high = m_micros / 10000;
        const std::uint32_t middle = m_micros / 100 % 100;
        const std::uint32_t low = m_micros % 100;
        end -= 7;
        end[0] = '.';
        std::memcpy(end + 1, c_digitPairs + 2 * high, 2);
        std::memcpy(end + 3, c_digitPairs + 2 * middle, 2);
        std::memcpy(end + 5, c_digitPairs + 2 * low, 2);
        end = DigitsBackward(end, m_integer);
        if (m_negative) *--end = '-';
        return end;
    }

private:
    bool m_exact = false;
    bool m_negative = false;
    std::uint64_t m_integer = 0;
    std::uint32_t m_micros = 0;
};

// Room the longest element needs: a double in fixed notation has up to
// 309 integer digits, a sign, a point and 6 decimals.
inline constexpr std::size_t c_elementRoom = 330;
inline constexpr unsigned c_textWidth = 11;
// A text element: the field and the two spaces after it.
inline constexpr std::size_t c_textElement = c_textWidth + 2;
inline constexpr char c_spaces[17] = "                ";

// The general path: the element's text at `p` (room: c_elementRoom); gives its end.
template <class T>
char* ToChars(char* p, T value) {
    char* const end = p + c_elementRoom;
    if constexpr (std::is_floating_point_v<T>) {
        return std::to_chars(p, end, static_cast<double>(value), std::chars_format::fixed, 6).ptr;
    } else if constexpr (sizeof(T) == 1) {
        return std::to_chars(p, end, static_cast<int>(value)).ptr;  // a number, not a raw byte
    } else {
        return std::to_chars(p, end, value).ptr;
    }
}

// The value right-aligned in 11 characters (wider values keep all their
// characters), then two spaces, at `p` (room: c_elementRoom + 16). Gives the end.
template <class T>
char* TextElement(char* p, T value) {
    if constexpr (std::is_floating_point_v<T>) {
        const Fixed6 fixed(static_cast<double>(value));
        if (fixed.Exact() && fixed.Fits(c_textWidth)) {
            std::memcpy(p, c_spaces, 16);
            fixed.Backward(p + c_textWidth);
            return p + c_textElement;
        }
    } else {
        const Integer<T> integer(value);
        if (integer.Fits(c_textWidth)) {
            std::memcpy(p, c_spaces, 16);
            integer.Backward(p + c_textWidth);
            return p + c_textElement;
        }
    }
    char* end = ToChars(p, value);
    std::size_t length = static_cast<std::size_t>(end - p);
    if (length < c_textWidth) {
        const std::size_t pad = c_textWidth - length;
        std::memmove(p + pad, p, length);
        std::memset(p, ' ', pad);
        length = c_textWidth;
    }
    p[length] = ' ';
    p[length + 1] = ' ';
    return p + length + 2;
}

// The value's text alone at `p` (room: c_elementRoom). Gives the end.
template <class T>
char* CsvElement(char* p, T value) {
    char digits[32];
    char* const end = digits + sizeof digits;
    const char* start = nullptr;
    if constexpr (std::is_floating_point_v<T>) {
        const Fixed6 fixed(static_cast<double>(value));
        if (!fixed.Exact()) return ToChars(p, value);
        start = fixed.Backward(end);
    } else {
        start = Integer<T>(value).Backward(end);
    }
    const auto length = static_cast<std::size_t>(end - start);
    std::memcpy(p, start, length);
    return p + length;
}

}  // namespace signal_output::format
