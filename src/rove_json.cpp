#include "rove_json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <type_traits>

#include <yaml-cpp/binary.h>

#include "istd/enum_map.h"
#include "istd/strings.h"

namespace rove_json {

namespace {

unsigned g_errorRecords = 0;

// Integers a double holds exactly; beyond them a JSON reader may round.
constexpr long long c_exactIntegerLimit = 1LL << 53;

Json Element(bool value) { return value; }
Json Element(int value) { return value; }
Json Element(unsigned int value) { return value; }
Json Element(const std::string& value) { return value; }

Json Element(long long value) {
    if (value >= -c_exactIntegerLimit && value <= c_exactIntegerLimit) return value;
    return std::to_string(value);
}

Json Element(unsigned long long value) {
    if (value <= static_cast<unsigned long long>(c_exactIntegerLimit)) return value;
    return std::to_string(value);
}

Json NonFinite(double value) {
    if (std::isnan(value)) return "nan";
    return value > 0 ? "inf" : "-inf";
}

Json Element(double value) {
    if (!std::isfinite(value)) return NonFinite(value);
    return value;
}

// The shortest decimal that reads back as the same float (std::to_chars),
// as a double: 0.1f is written 0.1 and not as the double next to it, the
// smallest subnormal 1e-45.
Json Element(float value) {
    if (!std::isfinite(value)) return NonFinite(value);
    char text[32];
    const char* end = std::to_chars(text, text + sizeof text, value).ptr;
    double shortest = 0;
    std::from_chars(text, end, shortest);
    return shortest;
}

template <class T>
Json Elements(const std::vector<T>& values, bool isArray) {
    if (!isArray) return values.empty() ? Json() : Element(static_cast<T>(values[0]));
    Json list = Json::array();
    for (std::size_t i = 0; i < values.size(); ++i) list.push_back(Element(static_cast<T>(values[i])));
    return list;
}

}  // namespace

Json ValueJson(const istd::Any& value) {
    return std::visit(
        [&value](const auto& elements) -> Json {
            using Storage = std::decay_t<decltype(elements)>;
            if constexpr (std::is_same_v<Storage, std::monostate>)
                return nullptr;
            else
                return Elements(elements, value.IsArray());
        },
        value.Elements());
}

namespace {

const std::vector<std::string>* Texts(const istd::Any& value) { return value.As<std::string>(); }

bool AllUtf8(const std::vector<std::string>& texts) {
    return std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return istd::IsUtf8(t); });
}

std::string Base64(const std::string& bytes) {
    return YAML::EncodeBase64(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

Json Base64Json(const std::vector<std::string>& texts, bool isArray) {
    if (!isArray) return texts.empty() ? Json() : Json(Base64(texts[0]));
    Json list = Json::array();
    for (const auto& text : texts) list.push_back(Base64(text));
    return list;
}

}  // namespace

namespace {

// The member that carries the value: its key and its JSON form.
std::pair<std::string, Json> ValueMember(const std::string& key, const istd::Any& value) {
    const std::vector<std::string>* texts = Texts(value);
    if (texts && !AllUtf8(*texts)) return {key + "_base64", Base64Json(*texts, value.IsArray())};
    return {key, ValueJson(value)};
}

}  // namespace

void SetValue(Json& record, const std::string& key, const istd::Any& value) {
    auto [member, json] = ValueMember(key, value);
    record[member] = std::move(json);
}

void AppendValueMember(std::string& out, const std::string& key, const istd::Any& value) {
    if (value.IsEmpty()) {
        AppendString(out, key);
        out += ":null";
        return;
    }
    const auto [member, json] = ValueMember(key, value);
    AppendString(out, member);
    out += ':';
    out += Line(json);
}

void AppendString(std::string& out, const std::string& text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\';
    });
    if (!plain) {
        out += Line(Json(text));
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

std::string PathOf(const mci::Node& node) { return mci::ToString(node.GetRelPath()); }

std::string TypeName(const mci::Node& node) { return TypeName(node.GetValueType()); }

std::string TypeName(mci::enums::NodeValType_e type) {
    return istd::EnumMap<mci::enums::NodeValType_e>::items.NameOf(type);
}

std::vector<std::string> FlagWords(const mci::Node& node) { return FlagWords(node.GetFlags()); }

std::vector<std::string> FlagWords(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> c_words[] = {
        {mci::eReadable, "readable"}, {mci::eWritable, "writable"},     {mci::eConstant, "constant"},
        {mci::eExecutable, "executable"}, {mci::eArray, "array"},       {mci::ePersistent, "persistent"},
        {mci::eSignal, "signal"},     {mci::eHidden, "hidden"}};
    std::vector<std::string> words;
    for (const auto& [bit, word] : c_words)
        if (flags & bit) words.emplace_back(word);
    return words;
}

std::string Line(const Json& record) {
    // Invalid UTF-8 in a registry text is replaced rather than ending the run.
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Write(const Json& record) { std::cout << Line(record) << std::endl; }

void WriteDiagnostic(const Json& record) {
    std::cout.flush();
    std::cerr << Line(record) << std::endl;
}

void WriteError(const std::string& path, const std::string& message) {
    ++g_errorRecords;
    Write(Json{{"path", path}, {"error", message}});
}

unsigned ErrorCount() { return g_errorRecords; }

std::string ErrorText(const std::string& message) {
    const std::string prefix = "Error: ";
    return message.compare(0, prefix.size(), prefix) == 0 ? message.substr(prefix.size()) : message;
}

namespace {

// Enough to make the writes few, small enough to let records out while
// a long command is still making more.
constexpr std::size_t c_recordBufferBytes = 64 * 1024;

}  // namespace

RecordBuffer::~RecordBuffer() { Flush(); }

void RecordBuffer::Add(const Json& record) {
    m_text += Line(record);
    EndLine();
}

void RecordBuffer::EndLine() {
    m_text += '\n';
    if (m_text.size() >= c_recordBufferBytes) Flush();
}

void RecordBuffer::Flush() {
    if (!m_text.empty()) std::cout.write(m_text.data(), static_cast<std::streamsize>(m_text.size()));
    std::cout.flush();
    m_text.clear();
}

}  // namespace rove_json
