#pragma once
// The text of one value element as the access read prints it. Each element
// is formatted on a fresh stream, so no state of standard output (such as
// fixed-point notation) reaches it.
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
