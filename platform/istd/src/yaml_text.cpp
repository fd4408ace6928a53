#include "istd/yaml_text.h"

#include "istd/strings.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

namespace istd {

const char* const c_yamlBinaryTag = "tag:yaml.org,2002:binary";

namespace {

// --- texts ---

// The escape a YAML reader needs to give `code` back as it was, or "".
std::string Escape(std::uint32_t code) {
    switch (code) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\n': return "\\n";
        case '\t': return "\\t";
        case '\r': return "\\r";
        default: break;
    }
    char escape[16];
    if (code < 0x20 || code == 0x7F) {
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(code));
        return escape;
    }
    // C1 controls (U+0085 among them, a line break to YAML), the line and
    // paragraph separators and the byte order mark.
    if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029 || code == 0xFEFF) {
        std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code));
        return escape;
    }
    return std::string();
}

// `text` (valid UTF-8) double quoted.
std::string DoubleQuoted(const std::string& text) {
    std::string out = "\"";
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i, code);
        const std::string escape = Escape(code);
        if (escape.empty()) out.append(text, i, length);
        else out += escape;
        i += length;
    }
    return out + "\"";
}

const char c_base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? c_base64Digits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

int Base64Value(char c) {
    const char* at = c == '\0' ? nullptr : std::strchr(c_base64Digits, c);
    return at ? static_cast<int>(at - c_base64Digits) : -1;
}

std::optional<std::string> FromBase64(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') digits += c;
    if (digits.size() % 4 != 0) return std::nullopt;
    const std::size_t padding = digits.size() - std::min(digits.find('='), digits.size());
    if (padding > 2 || digits.find_first_not_of('=', digits.size() - padding) != std::string::npos)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < digits.size(); i += 4) {
        std::uint32_t group = 0;
        std::size_t valid = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int v = digits[i + k] == '=' ? 0 : Base64Value(digits[i + k]);
            if (v < 0) return std::nullopt;
            valid += digits[i + k] != '=';
            group = (group << 6) | static_cast<std::uint32_t>(v);
        }
        for (std::size_t k = 0; k + 1 < valid; ++k) bytes += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
    }
    return bytes;
}

// --- floating values ---

template <class F>
using BitsOf = std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>;

template <class F>
BitsOf<F> Bits(F value) {
    BitsOf<F> bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template <class F>
std::string FloatingText(F value) {
    if (std::isinf(value)) return value > 0 ? ".inf" : "-.inf";
    if (std::isnan(value)) {
        const auto bits = Bits(value);
        if (bits == Bits(std::numeric_limits<F>::quiet_NaN())) return ".nan";
        char text[32];
        std::snprintf(text, sizeof text, ".nan(0x%0*" PRIx64 ")", static_cast<int>(sizeof(F) * 2),
                      static_cast<std::uint64_t>(bits));
        return text;
    }
    char text[64];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Skips a run of digits from `i`; false when there is none.
bool Digits(const std::string& text, std::size_t& i) {
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    return i > start;
}

// [-+] (digits [. digits] | . digits) [e [-+] digits], the whole text.
bool IsDecimal(const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const bool whole = Digits(text, i);
    bool fraction = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        fraction = Digits(text, i);
    }
    if (!whole && !fraction) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
        if (!Digits(text, i)) return false;
    }
    return i == text.size();
}

// The decimal order of magnitude of a decimal text that is not 0 (the
// exponent of its first significant digit), for telling an overflow from
// an underflow; clamped far beyond every floating range.
long long OrderOfMagnitude(const std::string& text) {
    const std::size_t e = text.find_first_of("eE");
    const std::string mantissa = text.substr(0, e);
    long long exponent = 0;
    if (e != std::string::npos) {
        std::size_t i = e + 1;
        const bool negative = text[i] == '-';
        if (text[i] == '-' || text[i] == '+') ++i;
        for (; i < text.size() && exponent < 1000000; ++i) exponent = exponent * 10 + (text[i] - '0');
        if (negative) exponent = -exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    const long long position = static_cast<long long>(point) - static_cast<long long>(first);
    return exponent + (position > 0 ? position - 1 : position);
}

template <class F>
std::optional<F> SpecialValue(const std::string& text) {
    for (const char* spelling : {".inf", ".Inf", ".INF"}) {
        if (text == spelling || text == std::string("+") + spelling) return std::numeric_limits<F>::infinity();
        if (text == std::string("-") + spelling) return -std::numeric_limits<F>::infinity();
    }
    for (const char* spelling : {".nan", ".NaN", ".NAN"})
        if (text == spelling) return std::numeric_limits<F>::quiet_NaN();
    return std::nullopt;
}

// .nan(0x<bits>): at most as many hexadecimal digits as the type has nibbles.
template <class F>
std::optional<F> NanWithBits(const std::string& text) {
    const std::string prefix = ".nan(0x";
    if (text.size() <= prefix.size() + 1 || text.compare(0, prefix.size(), prefix) != 0 || text.back() != ')')
        return std::nullopt;
    const std::size_t digits = text.size() - prefix.size() - 1;
    if (digits > sizeof(F) * 2) return std::nullopt;
    BitsOf<F> bits = 0;
    const char* first = text.data() + prefix.size();
    const auto [end, error] = std::from_chars(first, first + digits, bits, 16);
    if (error != std::errc() || end != first + digits) return std::nullopt;
    F value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isnan(value)) return std::nullopt;
    return value;
}

template <class F>
FloatingText_e ReadFloating(const std::string& text, F& value) {
    if (auto special = SpecialValue<F>(text)) {
        value = *special;
        return FloatingText_e::eNumber;
    }
    if (auto nan = NanWithBits<F>(text)) {
        value = *nan;
        return FloatingText_e::eNumber;
    }
    if (!IsDecimal(text)) return FloatingText_e::eNoNumber;
    // std::from_chars takes no plus sign, and no locale.
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    F read{};
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), read);
    if (error == std::errc::result_out_of_range)
        return OrderOfMagnitude(text) >= 0 ? FloatingText_e::eTooLarge : FloatingText_e::eTooSmall;
    if (error != std::errc() || end != text.data() + text.size()) return FloatingText_e::eNoNumber;
    value = read;
    return FloatingText_e::eNumber;
}

}  // namespace

std::string YamlText(const std::string& bytes) {
    if (!IsUtf8(bytes)) return "!!binary \"" + Base64(bytes) + "\"";
    return DoubleQuoted(bytes);
}

std::optional<std::string> YamlTextBytes(const std::string& tag, const std::string& scalar) {
    if (tag == c_yamlBinaryTag) return FromBase64(scalar);
    return scalar;
}

std::string YamlFloating(double value) { return FloatingText(value); }
std::string YamlFloating(float value) { return FloatingText(value); }

FloatingText_e ReadYamlFloating(const std::string& text, double& value) { return ReadFloating(text, value); }
FloatingText_e ReadYamlFloating(const std::string& text, float& value) { return ReadFloating(text, value); }

}  // namespace istd
