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
// Sets record[key] to the value in JSON form. A text that is not valid
// UTF-8 cannot travel in JSON unchanged: a value holding one is given as
// record[key + "_base64"] instead, each text as the base64 of its bytes (a
// list for an array).
void SetValue(Json& record, const std::string& key, const istd::Any& value);
// Appends the same member as text, `"key":...` or `"key_base64":...`, to
// a record written piece by piece.
void AppendValueMember(std::string& out, const std::string& key, const istd::Any& value);
// Appends a text as a JSON string, quotes included.
void AppendString(std::string& out, const std::string& text);

// The node's path as the tool takes it back: the names below the root.
std::string PathOf(const mci::Node& node);
// The type name as info prints it ("int32", "enum", "none").
std::string TypeName(const mci::Node& node);
std::string TypeName(mci::enums::NodeValType_e type);
// The flag words of the node ("readable", "writable", ...), in info's order.
std::vector<std::string> FlagWords(const mci::Node& node);
std::vector<std::string> FlagWords(std::uint32_t flags);

// Writes one record and a line end on standard output.
void Write(const Json& record);
// The record as one line, without the line end.
std::string Line(const Json& record);
// Writes one record and a line end on standard error (signal's -v and
// --stat lines).
void WriteDiagnostic(const Json& record);
// Writes {"path":..., "error":...}; the run ends with status 1.
void WriteError(const std::string& path, const std::string& message);
// The text of an error record: the plain mode's message without the
// "Error: " in front of it, which says nothing a record does not.
std::string ErrorText(const std::string& message);
// Error records written in this run.
unsigned ErrorCount();

// Records of one command, written in large pieces rather than one write
// per record: whole records only, all of them by the time it is destroyed.
class RecordBuffer {
public:
    RecordBuffer() = default;
    ~RecordBuffer();
    RecordBuffer(const RecordBuffer&) = delete;
    RecordBuffer& operator=(const RecordBuffer&) = delete;

    void Add(const Json& record);
    // For a record written piece by piece: the text to append it to, then
    // EndLine once the record is whole.
    std::string& Text() { return m_text; }
    void EndLine();
    // Writes and flushes what was added.
    void Flush();

private:
    std::string m_text;
};

}  // namespace rove_json
