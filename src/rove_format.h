#pragma once
// The text of one value element as the access read prints it. Each element
// is formatted on a fresh stream, so no state of standard output (such as
// fixed-point notation) reaches it. And the text of a time.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>

inline std::string FormatElement(bool value) { return value ? "true" : "false"; }

template <class T>
std::string FormatElement(const T& value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

inline std::string FormatElement(double value) {
    std::ostringstream text;
    text.precision(15);
    text << value;
    return text.str();
}

inline std::string FormatElement(float value) {
    std::ostringstream text;
    text.precision(6);
    text << static_cast<double>(value);
    return text.str();
}

inline std::string FormatElement(const std::string& value) { return value; }

// A time as listen --time and the metadata of signal --npy write it: ISO
// 8601, UTC, microseconds ("2026-12-09T02:40:00.123456Z").
inline std::string UtcTimeText(std::chrono::system_clock::time_point when) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06lldZ", static_cast<long long>(micros % 1000000));
    return text;
}
