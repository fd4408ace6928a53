#pragma once
// When one value element converts to another element type: only when
// nothing of the value is lost. The registry server applies these rules to
// written elements, the client library to the elements it reads and
// writes for its callers, so a value that one side refuses the other
// refuses too.
//
//   to bool      from an integer 0 or 1 (true and false stay themselves);
//                never from a floating value
//   to integer   from false/true as 0/1; from an integer in the target's
//                range; from a finite floating value without fraction in
//                that range
//   to floating  from false/true as 0/1; from an integer the target holds
//                exactly; from a floating value within the target's range
//                (rounded to the nearest, so 0.1 makes a float; NaN and
//                the infinities pass)
//
// Texts are no part of these rules: the server stores a text only into a
// text, and the client library parses texts into numbers itself before it
// applies them.
#include <cmath>
#include <limits>
#include <type_traits>

namespace istd {

namespace detail {

template <class T>
constexpr bool IsBoolElement = std::is_same_v<T, bool>;
template <class T>
constexpr bool IsIntegerElement = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <class To, class From>
bool IntegerFits(From from) {
    if constexpr (std::is_signed_v<From> && !std::is_signed_v<To>) {
        if (from < 0) return false;
        return static_cast<std::make_unsigned_t<From>>(from) <= std::numeric_limits<To>::max();
    } else if constexpr (!std::is_signed_v<From> && std::is_signed_v<To>) {
        return from <= static_cast<std::make_unsigned_t<To>>(std::numeric_limits<To>::max());
    } else {
        return from >= std::numeric_limits<To>::min() && from <= std::numeric_limits<To>::max();
    }
}

template <class To, class From>
bool FloatingFitsInteger(From from) {
    if (!std::isfinite(from) || std::trunc(from) != from) return false;
    const long double wide = from;
    return wide >= static_cast<long double>(std::numeric_limits<To>::min()) &&
           wide <= static_cast<long double>(std::numeric_limits<To>::max());
}

}  // namespace detail

// Converts `from` into `to` when the rules above allow it; false (and `to`
// unchanged) when they do not. Both types are bool, integers or floating.
template <class To, class From>
bool ConvertExactly(From from, To& to) {
    static_assert(std::is_arithmetic_v<To> && std::is_arithmetic_v<From>, "texts are converted elsewhere");
    using namespace detail;
    if constexpr (std::is_same_v<To, From>) {
        to = from;
        return true;
    } else if constexpr (IsBoolElement<From>) {
        to = static_cast<To>(from ? 1 : 0);
        return true;
    } else if constexpr (IsBoolElement<To>) {
        if constexpr (IsIntegerElement<From>) {
            if (from != 0 && from != 1) return false;
            to = from == 1;
            return true;
        } else {
            return false;
        }
    } else if constexpr (IsIntegerElement<To>) {
        if constexpr (IsIntegerElement<From>) {
            if (!IntegerFits<To>(from)) return false;
        } else {
            if (!FloatingFitsInteger<To>(from)) return false;
        }
        to = static_cast<To>(from);
        return true;
    } else if constexpr (IsIntegerElement<From>) {
        // Exact only while the integer has no more bits than the mantissa.
        const To converted = static_cast<To>(from);
        if (static_cast<long double>(converted) != static_cast<long double>(from)) return false;
        to = converted;
        return true;
    } else {
        if (std::isfinite(from) && std::fabs(from) > static_cast<From>(std::numeric_limits<To>::max())) return false;
        to = static_cast<To>(from);
        return true;
    }
}

}  // namespace istd
