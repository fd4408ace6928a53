#pragma once
// Text-to-number conversions of value items, and number-to-text.
//
// An item with a hexadecimal prefix ("0x", lower-case, followed by at least
// one more character) is read as hexadecimal; every character after the
// prefix must be a hexadecimal digit and the number must fit the type.
// Anything else is read as a whole decimal number. A typo never turns into
// a different number.
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>

#include <boost/lexical_cast.hpp>

#include "istd/exception.h"
#include "istd/strings.h"

namespace istd {

inline bool HasHexPrefix(const std::string& text) {
    return text.size() > 2 && text[0] == '0' && text[1] == 'x';
}

namespace detail {

inline int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The item as a message shows it: a NUL byte would end the message text, so
// it is written as \0.
inline std::string MessageText(const std::string& text) {
    std::string shown;
    for (char c : text) {
        if (c == '\0')
            shown += "\\0";
        else
            shown += c;
    }
    return shown;
}

template <class T>
[[noreturn]] void ThrowBadCast(const char* kind, const std::string& text) {
    std::ostringstream message;
    message << kind << MessageText(text) << " to " << CppName<T>();
    throw Exception(message.str(), true);
}

// The digits after "0x", all of them, as a number of at most `maxValue`.
inline bool ReadHexDigits(const std::string& text, std::uint64_t maxValue, std::uint64_t& result) {
    if (!HasHexPrefix(text)) return false;
    std::uint64_t value = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || value > (maxValue >> 4)) return false;
        value = (value << 4) | static_cast<std::uint64_t>(digit);
        if (value > maxValue) return false;
    }
    result = value;
    return true;
}

}  // namespace detail

// Hexadecimal read of a whole item "0x<digits>" into an unsigned type, or
// into bool (0 false, 1 true). Fails with "Bad hex cast from <item> to <type>".
template <class T>
T HexTo(const std::string& text) {
    static_assert(std::is_unsigned<T>::value, "HexTo reads unsigned types and bool");
    std::uint64_t value = 0;
    const std::uint64_t maxValue = std::is_same<T, bool>::value ? 1 : std::numeric_limits<T>::max();
    if (!detail::ReadHexDigits(text, maxValue, value)) detail::ThrowBadCast<T>("Bad hex cast from ", text);
    return static_cast<T>(value);
}

// A digit other than 0 before the exponent: the text is no zero.
inline bool HasNonZeroMantissa(const std::string& text) {
    const std::size_t exponent = text.find_first_of("eE");
    return text.find_first_of("123456789") < exponent;
}

// Whole-text decimal read; fails with "Bad cast from <item> to <type>". A
// floating number that the type could only hold as 0 (1e-50 for a float)
// is none of its numbers either.
template <class T>
T DecimalTo(const std::string& text) {
    T value{};
    if (!boost::conversion::try_lexical_convert(text, value)) detail::ThrowBadCast<T>("Bad cast from ", text);
    if constexpr (std::is_floating_point<T>::value) {
        if (value == 0 && HasNonZeroMantissa(text)) detail::ThrowBadCast<T>("Bad cast from ", text);
    }
    return value;
}

// The item conversion of the access command for integral types and bool.
template <class T>
T FromString(const std::string& text) {
    static_assert(std::is_integral<T>::value, "FromString converts integral types");
    using Unsigned = typename std::make_unsigned<T>::type;
    if (HasHexPrefix(text)) return static_cast<T>(HexTo<Unsigned>(text));
    if (std::is_unsigned<T>::value && !text.empty() && text[0] == '-')
        detail::ThrowBadCast<T>("Bad cast from ", text);
    return DecimalTo<T>(text);
}

template <>
inline bool FromString<bool>(const std::string& text) {
    if (HasHexPrefix(text)) return HexTo<bool>(text);
    // The message shows a NUL byte as \0 instead of ending there.
    if (text.find('\0') != std::string::npos) detail::ThrowBadCast<bool>("Bad cast from ", text);
    return ToBool(text);
}

inline std::string ToString(const int& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

}  // namespace istd
