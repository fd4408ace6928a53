#include "istd/any.h"

#include <cstdio>

namespace istd {

std::string FormatElement(bool v) { return v ? "true" : "false"; }
std::string FormatElement(int v) { return std::to_string(v); }
std::string FormatElement(unsigned int v) { return std::to_string(v); }
std::string FormatElement(long long v) { return std::to_string(v); }
std::string FormatElement(unsigned long long v) { return std::to_string(v); }

// The same texts as a default text stream with precision 15 (double) or 6
// (float, widened): general notation, trailing zeros dropped.
std::string FormatElement(double v) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%.15g", v);
    return std::string(buffer, static_cast<std::size_t>(n));
}
std::string FormatElement(float v) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%.6g", static_cast<double>(v));
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::size_t Any::Size() const {
    return std::visit(
        [](const auto& elements) -> std::size_t {
            if constexpr (std::is_same_v<std::decay_t<decltype(elements)>, std::monostate>)
                return 0;
            else
                return elements.size();
        },
        m_storage);
}

std::string Any::ElementText(std::size_t i) const {
    return std::visit(
        [i](const auto& elements) -> std::string {
            if constexpr (std::is_same_v<std::decay_t<decltype(elements)>, std::monostate>) {
                return std::string();
            } else {
                using T = typename std::decay_t<decltype(elements)>::value_type;
                if (i >= elements.size()) return std::string();
                return FormatElement(static_cast<T>(elements[i]));
            }
        },
        m_storage);
}

std::string Any::Text() const {
    const std::size_t n = Size();
    if (!m_isArray) return n == 0 ? std::string() : ElementText(0);
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ',';
        text += ElementText(i);
    }
    text += ']';
    return text;
}

std::ostream& operator<<(std::ostream& os, const Any& value) { return os << value.Text(); }

}  // namespace istd
