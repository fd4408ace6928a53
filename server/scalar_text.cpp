#include "scalar_text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "istd/yaml_text.h"

namespace velnor::server {

namespace {

// The tag a YAML reader gives a quoted scalar.
const char* const c_quotedTag = "!";

struct ParsedInteger {
    bool negative = false;
    unsigned long long magnitude = 0;
};

// Decimal or 0x-hexadecimal with an optional sign, nothing else.
std::optional<ParsedInteger> ParseInteger(const std::string& text) {
    ParsedInteger result;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        result.negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    const char* begin = text.data() + i;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(begin, end, result.magnitude, base);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return result;
}

template <class T>
std::optional<T> IntegerAs(const ParsedInteger& v) {
    if (v.negative) {
        if constexpr (!std::is_signed_v<T>) {
            if (v.magnitude == 0) return T(0);
            return std::nullopt;
        } else {
            const unsigned long long limit = static_cast<unsigned long long>(std::numeric_limits<T>::max()) + 1ULL;
            if (v.magnitude > limit) return std::nullopt;
            if (v.magnitude == limit) return std::numeric_limits<T>::min();
            return static_cast<T>(-static_cast<long long>(v.magnitude));
        }
    }
    if (v.magnitude > static_cast<unsigned long long>(std::numeric_limits<T>::max())) return std::nullopt;
    return static_cast<T>(v.magnitude);
}

// strtold over the whole text, plus the YAML spellings of infinity and NaN.
std::optional<long double> ParseFloating(const std::string& text) {
    static const std::vector<std::pair<std::string, long double>> specials = {
        {".inf", std::numeric_limits<long double>::infinity()},
        {"+.inf", std::numeric_limits<long double>::infinity()},
        {"-.inf", -std::numeric_limits<long double>::infinity()},
        {".nan", std::numeric_limits<long double>::quiet_NaN()},
    };
    for (const auto& special : specials) {
        std::string lower = text;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        if (lower == special.first) return special.second;
    }
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long double v = std::strtold(text.c_str(), &end);
    if (end != text.c_str() + text.size() || errno == ERANGE) return std::nullopt;
    return v;
}

std::optional<bool> ParseBool(const std::string& text) {
    if (text == "true" || text == "True" || text == "TRUE") return true;
    if (text == "false" || text == "False" || text == "FALSE") return false;
    return std::nullopt;
}

// A floating value rounded to F: a number too large for F, or one other
// than 0 that would become 0, is none.
template <class F>
std::optional<F> ParseFloatingAs(const std::string& text) {
    F value{};
    switch (istd::ReadYamlFloating(text, value)) {
        case istd::FloatingText_e::eNumber: return value;
        case istd::FloatingText_e::eTooLarge:
        case istd::FloatingText_e::eTooSmall: return std::nullopt;
        case istd::FloatingText_e::eNoNumber: break;
    }
    // What strtold takes besides (hexadecimal, nan, inf, the YAML spellings
    // in any case), as tree files have always been read.
    const auto wide = ParseFloating(text);
    if (!wide) return std::nullopt;
    if (std::isfinite(*wide) && std::fabs(*wide) > std::numeric_limits<F>::max()) return std::nullopt;
    value = static_cast<F>(*wide);
    if (value == 0 && *wide != 0) return std::nullopt;
    return value;
}

template <class T>
std::optional<T> ParseIntegerAs(const std::string& text) {
    auto parsed = ParseInteger(text);
    if (!parsed) return std::nullopt;
    return IntegerAs<T>(*parsed);
}

}  // namespace

std::optional<long double> ParseFloatingText(const std::string& text) { return ParseFloating(text); }

std::optional<bool> ParseBoolText(const std::string& text) { return ParseBool(text); }

std::optional<std::uint64_t> ParseCountText(const std::string& text) { return ParseIntegerAs<std::uint64_t>(text); }

std::optional<Elements> ParseScalarText(const std::string& text, ValueType type, bool quoted) {
    if (quoted && type != ValueType::String && type != ValueType::Enum) return std::nullopt;
    switch (type) {
        case ValueType::Bool:
            if (auto b = ParseBool(text)) return Elements(std::vector<bool>{*b});
            return std::nullopt;
        case ValueType::Int32:
            if (auto v = ParseIntegerAs<int>(text)) return Elements(std::vector<int>{*v});
            return std::nullopt;
        case ValueType::UInt32:
            if (auto v = ParseIntegerAs<unsigned int>(text)) return Elements(std::vector<unsigned int>{*v});
            return std::nullopt;
        case ValueType::Int64:
            if (auto v = ParseIntegerAs<long long>(text)) return Elements(std::vector<long long>{*v});
            return std::nullopt;
        case ValueType::UInt64:
            if (auto v = ParseIntegerAs<unsigned long long>(text))
                return Elements(std::vector<unsigned long long>{*v});
            return std::nullopt;
        case ValueType::Double:
            if (auto v = ParseFloatingAs<double>(text)) return Elements(std::vector<double>{*v});
            return std::nullopt;
        case ValueType::Float:
            if (auto v = ParseFloatingAs<float>(text)) return Elements(std::vector<float>{*v});
            return std::nullopt;
        case ValueType::String:
        case ValueType::Enum: return Elements(std::vector<std::string>{text});
        case ValueType::None: break;
    }
    return std::nullopt;
}

std::optional<Elements> ParseYamlScalar(const std::string& tag, const std::string& text, ValueType type) {
    const std::optional<std::string> bytes = istd::YamlTextBytes(tag, text);
    if (!bytes) return std::nullopt;
    return ParseScalarText(*bytes, type, tag == c_quotedTag || tag == istd::c_yamlBinaryTag);
}

bool IsValidNodeName(const std::string& name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == 0x7f) return false;
        if (std::strchr(".[]{}=", c) != nullptr) return false;
    }
    return true;
}

}  // namespace velnor::server
