#pragma once
// Value texts of the browser, as the tool prints values: the access read's
// element texts, arrays in brackets.
#include <chrono>
#include <cstdint>
#include <string>

#include "istd/any.h"

namespace browse {

// The value as access prints it, cut after `maxChars` characters with "..."
// as the registry cuts values (0: whole). Only what is shown is formatted.
std::string ValueText(const istd::Any& value, std::uint32_t maxChars);

// The value as `path=TEXT` writes it back: one element, or an array's
// elements joined by ",".
std::string EditText(const istd::Any& value);

// The time of day of a change, HH:MM:SS.mmm in local time.
std::string ClockText(std::chrono::system_clock::time_point time);

}  // namespace browse
