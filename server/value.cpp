#include "value.h"

#include <array>
#include <cmath>
#include <type_traits>
#include <utility>

namespace velnor::server {

namespace {

struct TypeName {
    ValueType type;
    const char* name;
};

constexpr std::array<TypeName, 10> c_typeNames = {{
    {ValueType::None, "none"},
    {ValueType::Bool, "bool"},
    {ValueType::Int32, "int32"},
    {ValueType::UInt32, "uint32"},
    {ValueType::Int64, "int64"},
    {ValueType::UInt64, "uint64"},
    {ValueType::Double, "double"},
    {ValueType::Float, "float"},
    {ValueType::String, "string"},
    {ValueType::Enum, "enum"},
}};

template <class V>
using ElementOf = typename std::decay_t<V>::value_type;

template <class V>
constexpr bool IsEmptyAlt = std::is_same_v<std::decay_t<V>, std::monostate>;

}  // namespace

std::optional<ValueType> ValueTypeFromName(const std::string& name) {
    for (const auto& entry : c_typeNames)
        if (entry.type != ValueType::None && name == entry.name) return entry.type;
    return std::nullopt;
}

const char* ValueTypeName(ValueType type) {
    for (const auto& entry : c_typeNames)
        if (entry.type == type) return entry.name;
    return "unknown";
}

bool IsIntegral(ValueType type) {
    return type == ValueType::Int32 || type == ValueType::UInt32 || type == ValueType::Int64 ||
           type == ValueType::UInt64;
}

bool IsNumeric(ValueType type) {
    return IsIntegral(type) || type == ValueType::Double || type == ValueType::Float;
}

std::size_t StorageIndex(ValueType type) {
    switch (type) {
        case ValueType::Bool: return 1;
        case ValueType::Int32: return 2;
        case ValueType::UInt32: return 3;
        case ValueType::Int64: return 4;
        case ValueType::UInt64: return 5;
        case ValueType::Double: return 6;
        case ValueType::Float: return 7;
        case ValueType::String:
        case ValueType::Enum: return 8;
        case ValueType::None: break;
    }
    return 0;
}

Elements MakeElements(ValueType type, std::size_t count) {
    switch (type) {
        case ValueType::Bool: return std::vector<bool>(count);
        case ValueType::Int32: return std::vector<int>(count);
        case ValueType::UInt32: return std::vector<unsigned int>(count);
        case ValueType::Int64: return std::vector<long long>(count);
        case ValueType::UInt64: return std::vector<unsigned long long>(count);
        case ValueType::Double: return std::vector<double>(count);
        case ValueType::Float: return std::vector<float>(count);
        case ValueType::String:
        case ValueType::Enum: return std::vector<std::string>(count);
        case ValueType::None: break;
    }
    return std::monostate{};
}

std::size_t ElementCount(const Elements& elements) {
    return std::visit(
        [](const auto& v) -> std::size_t {
            if constexpr (IsEmptyAlt<decltype(v)>) return 0;
            else return v.size();
        },
        elements);
}

std::string ElementText(const Elements& elements, std::size_t i) {
    return std::visit(
        [i](const auto& v) -> std::string {
            if constexpr (IsEmptyAlt<decltype(v)>) {
                return std::string();
            } else {
                using T = ElementOf<decltype(v)>;
                return istd::FormatElement(static_cast<T>(v.at(i)));
            }
        },
        elements);
}

std::string ValueText(const Elements& elements, bool isArray, std::size_t stopAfter) {
    const std::size_t n = ElementCount(elements);
    if (!isArray) return n == 0 ? std::string() : ElementText(elements, 0);
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ',';
        text += ElementText(elements, i);
        if (stopAfter != 0 && text.size() > stopAfter) return text;
    }
    text += ']';
    return text;
}

std::string Truncate(const std::string& text, std::uint32_t maxLength) {
    if (maxLength == 0) return text;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (continuation) continue;
        if (chars == maxLength) return text.substr(0, i) + "...";
        ++chars;
    }
    return text;
}

std::optional<long double> NumericElement(const Elements& elements, std::size_t i) {
    return std::visit(
        [i](const auto& v) -> std::optional<long double> {
            if constexpr (IsEmptyAlt<decltype(v)>) {
                return std::nullopt;
            } else {
                using T = ElementOf<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>) return std::nullopt;
                else return static_cast<long double>(static_cast<T>(v.at(i)));
            }
        },
        elements);
}

bool InRange(long double v, const std::optional<long double>& min, const std::optional<long double>& max) {
    if (!min && !max) return true;
    if (std::isnan(v)) return false;
    return (!min || v >= *min) && (!max || v <= *max);
}

std::string BoundText(long double bound) {
    if (std::isfinite(bound) && std::trunc(bound) == bound && std::fabs(bound) < 1e18L)
        return std::to_string(static_cast<long long>(bound));
    return istd::FormatElement(static_cast<double>(bound));
}

std::string RangeText(const std::optional<long double>& min, const std::optional<long double>& max) {
    return "[" + (min ? BoundText(*min) : std::string("-inf")) + ", " + (max ? BoundText(*max) : std::string("inf")) + "]";
}

Elements Slice(const Elements& elements, std::size_t pos, std::size_t count) {
    return std::visit(
        [pos, count](const auto& v) -> Elements {
            if constexpr (IsEmptyAlt<decltype(v)>) {
                return std::monostate{};
            } else {
                using Vec = std::decay_t<decltype(v)>;
                return Vec(v.begin() + static_cast<std::ptrdiff_t>(pos),
                           v.begin() + static_cast<std::ptrdiff_t>(pos + count));
            }
        },
        elements);
}

void Splice(Elements& target, std::size_t pos, const Elements& source) {
    std::visit(
        [pos, &source](auto& v) {
            if constexpr (!IsEmptyAlt<decltype(v)>) {
                using Vec = std::decay_t<decltype(v)>;
                const Vec& from = std::get<Vec>(source);
                for (std::size_t i = 0; i < from.size(); ++i) v[pos + i] = from[i];
            }
        },
        target);
}

}  // namespace velnor::server
