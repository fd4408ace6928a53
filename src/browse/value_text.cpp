#include "browse/value_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace browse {
namespace {

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts after maxChars characters (UTF-8 lead bytes and single bytes count
// one each) and adds "...", as the registry does.
std::string Truncate(const std::string& text, std::uint32_t maxChars) {
    if (maxChars == 0) return text;
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsContinuation(text[i])) continue;
        if (chars == maxChars) return text.substr(0, i) + "...";
        ++chars;
    }
    return text;
}

}  // namespace

std::string ValueText(const istd::Any& value, std::uint32_t maxChars) {
    const std::size_t n = value.Size();
    if (!value.IsArray()) return n == 0 ? std::string() : Truncate(value.ElementText(0), maxChars);
    // A character takes at most four bytes: formatting stops once the text
    // surely holds more than maxChars characters.
    const std::size_t stopAfter = maxChars == 0 ? 0 : static_cast<std::size_t>(maxChars) * 4 + 4;
    std::string text = "[";
    for (std::size_t i = 0; i < n; ++i) {
        if (i) text += ',';
        text += value.ElementText(i);
        if (stopAfter != 0 && text.size() > stopAfter) return Truncate(text, maxChars);
    }
    text += ']';
    return Truncate(text, maxChars);
}

std::string EditText(const istd::Any& value) {
    std::string text;
    for (std::size_t i = 0; i < value.Size(); ++i) {
        if (i) text += ',';
        text += value.ElementText(i);
    }
    return text;
}

std::string ClockText(std::chrono::system_clock::time_point time) {
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(millis / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis % 1000));
    return text;
}

}  // namespace browse
