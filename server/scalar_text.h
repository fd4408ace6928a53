#pragma once
// Scalar texts as tree and state files write them.
#include <cstdint>
#include <optional>
#include <string>

#include "value.h"

namespace velnor::server {

// Parses one scalar text into `type`: integers decimal or 0x-hexadecimal
// with an optional sign, floating values as istd/yaml_text.h reads them
// (and what strtold takes besides), rounded to the type, refused when too
// large or when a number other than 0 would become 0; bools as true/false
// (three capitalisations); nullopt when it does not fit. A quoted scalar is
// only a text.
std::optional<Elements> ParseScalarText(const std::string& text, ValueType type, bool quoted);

// One scalar of a YAML file by its tag and text as the YAML reader gives
// them: a !!binary scalar is the text its base64 holds; it and a quoted
// scalar are only texts; nullopt when it does not fit `type`.
std::optional<Elements> ParseYamlScalar(const std::string& tag, const std::string& text, ValueType type);

// One scalar of a setting: a floating value (YAML's infinities and NaN
// included), a bool, an unsigned 64-bit whole number.
std::optional<long double> ParseFloatingText(const std::string& text);
std::optional<bool> ParseBoolText(const std::string& text);
std::optional<std::uint64_t> ParseCountText(const std::string& text);

// A name a node may carry: not empty, no dots, blanks or path syntax.
bool IsValidNodeName(const std::string& name);

}  // namespace velnor::server
