#pragma once
// --json: one JSON object per line on standard output. Records are built
// with nlohmann-json, so every text is escaped by the library. Values are
// typed: numbers as JSON numbers (64-bit integers beyond 2^53 and NaN or
// infinities as texts, since a JSON reader would change them), arrays as
// JSON arrays, enumerations by name.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "istd/any.h"
#include "mci/mci.h"

namespace rove_json {

// Members keep the order they are added in: path first, as a reader expects.
using Json = nlohmann::ordered_json;

// The value in JSON form: a scalar for a scalar value, an array for an array.
Json ValueJson(const istd::Any& value);

// The node's path as the tool takes it back: the names below the root.
std::string PathOf(const mci::Node& node);
// The type name as info prints it ("int32", "enum", "none").
std::string TypeName(const mci::Node& node);
// The flag words of the node ("readable", "writable", ...), in info's order.
std::vector<std::string> FlagWords(const mci::Node& node);

// Writes one record and a line end on standard output.
void Write(const Json& record);
// The record as one line, without the line end.
std::string Line(const Json& record);
// Writes one record and a line end on standard error (signal's -v and
// --stat lines).
void WriteDiagnostic(const Json& record);
// Writes {"path":..., "error":...}; the run ends with status 1.
void WriteError(const std::string& path, const std::string& message);
// Error records written in this run.
unsigned ErrorCount();

}  // namespace rove_json
