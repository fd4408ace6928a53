#pragma once
// The pieces of an access argument (path, value, element selection) and the
// conversions of value texts into elements.
#include <cstdint>
#include <string>
#include <vector>

#include "istd/convert.h"

// One selected range of array elements.
struct idx_t {
    std::uint32_t start;
    std::uint32_t count;
    bool operator==(const idx_t& other) const { return start == other.start && count == other.count; }
};

extern const std::string c_arrayIdxDelimiter;
extern const std::string c_arrayIdxPartDelimiter;

// An index part that selects elements: "[...]".
bool IsArray(const std::string& index);
// An index part that marks a function execution: "{...}".
bool IsExec(const std::string& index);

// "[1,3:5]" gives {1,1} {3,3}. Throws istd::Exception "Wrong format of array
// index" on a malformed list; a part that is no decimal number gives
// boost::bad_lexical_cast.
std::vector<idx_t> ParseIndexes(const std::string& indexes);

// One path argument of the command line, split.
struct AccessArgument {
    std::string path;
    std::string value;
    std::string index;
    bool hasValue = false;  // an "=" was given, even with nothing after it
};

enum class ArgumentUse { eUse, eValueNotAllowed, eFunctionWithValue };

// Splits at the first "=", then cuts a trailing "{...}" and then a trailing
// "[...]" from the path. Tells whether the argument may be used by a command
// that does (or does not) set values.
ArgumentUse SplitArgument(const std::string& argument, bool setsValues, AccessArgument& result);

// The whole content of a file, or of standard input for "-". Throws
// istd::Exception when the file cannot be opened or read to its end.
std::string ReadFile(const std::string& name);

// The item conversion of one element type.
template <class T>
T ConvertItem(const std::string& item) {
    return istd::FromString<T>(item);
}
template <>
inline double ConvertItem<double>(const std::string& item) {
    return istd::DecimalTo<double>(item);
}
template <>
inline float ConvertItem<float>(const std::string& item) {
    return istd::DecimalTo<float>(item);
}
template <>
inline std::string ConvertItem<std::string>(const std::string& item) {
    return item;
}

// Converts every item in order; the first failure ends the conversion.
template <class T>
std::vector<T> ConvertValues(const std::vector<std::string>& items) {
    std::vector<T> values;
    values.reserve(items.size());
    for (const auto& item : items) values.push_back(ConvertItem<T>(item));
    return values;
}
