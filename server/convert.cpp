#include "convert.h"

#include <type_traits>

#include "istd/exact_conversion.h"

namespace velnor::server {

namespace {

template <class T>
constexpr bool IsText = std::is_same_v<T, std::string>;

// One element; nullopt when it does not fit T exactly. A text goes only
// into a text; everything else follows the rules the client library
// applies too.
template <class T, class S>
std::optional<T> ConvertOne(const S& v) {
    if constexpr (IsText<T> || IsText<S>) {
        if constexpr (std::is_same_v<T, S>) return v;
        else return std::nullopt;
    } else {
        T converted{};
        if (!istd::ConvertExactly(v, converted)) return std::nullopt;
        return converted;
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
