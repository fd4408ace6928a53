#include "convert.h"

#include <cmath>
#include <limits>
#include <type_traits>

namespace velnor::server {

namespace {

template <class T>
constexpr bool IsText = std::is_same_v<T, std::string>;
template <class T>
constexpr bool IsBool = std::is_same_v<T, bool>;
template <class T>
constexpr bool IsInteger = std::is_integral_v<T> && !IsBool<T>;

template <class T, class S>
bool IntegerFits(S v) {
    if constexpr (std::is_signed_v<S>) {
        if (v < 0) {
            if constexpr (!std::is_signed_v<T>) return false;
            else return static_cast<long long>(v) >= static_cast<long long>(std::numeric_limits<T>::min());
        }
    }
    return static_cast<unsigned long long>(v) <= static_cast<unsigned long long>(std::numeric_limits<T>::max());
}

template <class T, class S>
bool FloatingFitsInteger(S v) {
    if (!std::isfinite(v) || std::trunc(v) != v) return false;
    const long double x = v;
    return x >= static_cast<long double>(std::numeric_limits<T>::min()) &&
           x <= static_cast<long double>(std::numeric_limits<T>::max());
}

// One element; nullopt when it does not fit T exactly.
template <class T, class S>
std::optional<T> ConvertOne(const S& v) {
    if constexpr (IsText<T> || IsText<S>) {
        if constexpr (std::is_same_v<T, S>) return v;
        else return std::nullopt;
    } else if constexpr (IsBool<T>) {
        if constexpr (IsBool<S>) return v;
        else if constexpr (IsInteger<S>) {
            if (v == 0 || v == 1) return v == 1;
            return std::nullopt;
        } else {
            return std::nullopt;
        }
    } else if constexpr (IsInteger<T>) {
        if constexpr (IsBool<S>) return static_cast<T>(v ? 1 : 0);
        else if constexpr (IsInteger<S>) {
            if (IntegerFits<T>(v)) return static_cast<T>(v);
            return std::nullopt;
        } else {
            if (FloatingFitsInteger<T>(v)) return static_cast<T>(v);
            return std::nullopt;
        }
    } else if constexpr (std::is_same_v<T, double>) {
        if constexpr (IsInteger<S>) {
            // Exact only while the integer has no more bits than the mantissa.
            const double d = static_cast<double>(v);
            if (static_cast<long double>(d) == static_cast<long double>(v)) return d;
            return std::nullopt;
        } else {
            return static_cast<double>(v);
        }
    } else {  // float
        if constexpr (IsInteger<S>) {
            const float f = static_cast<float>(v);
            if (static_cast<long double>(f) == static_cast<long double>(v)) return f;
            return std::nullopt;
        } else if constexpr (std::is_same_v<S, double>) {
            // Rounding to the nearest float is what a float node means; only
            // finite values beyond the float range are refused.
            if (std::isfinite(v) && std::fabs(v) > static_cast<double>(std::numeric_limits<float>::max()))
                return std::nullopt;
            return static_cast<float>(v);
        } else {
            return static_cast<float>(v);
        }
    }
}

template <class S>
std::string WrittenText(const S& v) {
    if constexpr (IsText<S>) return "'" + v + "'";
    else return istd::FormatElement(v);
}

template <class T, class SVec>
std::variant<Elements, ConversionFailure> ConvertAll(const SVec& in) {
    std::vector<T> out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        using S = typename SVec::value_type;
        const S element = in[i];
        std::optional<T> converted = ConvertOne<T>(element);
        if (!converted) return ConversionFailure{i, WrittenText(element)};
        out.push_back(std::move(*converted));
    }
    return Elements(std::move(out));
}

template <class T>
std::variant<Elements, ConversionFailure> ConvertTo(const Elements& in) {
    return std::visit(
        [](const auto& v) -> std::variant<Elements, ConversionFailure> {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>)
                return ConversionFailure{0, "nothing"};
            else
                return ConvertAll<T>(v);
        },
        in);
}

}  // namespace

std::variant<Elements, ConversionFailure> ConvertElements(const Elements& in, ValueType target) {
    switch (target) {
        case ValueType::Bool: return ConvertTo<bool>(in);
        case ValueType::Int32: return ConvertTo<int>(in);
        case ValueType::UInt32: return ConvertTo<unsigned int>(in);
        case ValueType::Int64: return ConvertTo<long long>(in);
        case ValueType::UInt64: return ConvertTo<unsigned long long>(in);
        case ValueType::Double: return ConvertTo<double>(in);
        case ValueType::Float: return ConvertTo<float>(in);
        case ValueType::String:
        case ValueType::Enum: return ConvertTo<std::string>(in);
        case ValueType::None: break;
    }
    return ConversionFailure{0, "nothing"};
}

}  // namespace velnor::server
