#include "rove_json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <type_traits>

#include "istd/enum_map.h"

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

std::string PathOf(const mci::Node& node) { return mci::ToString(node.GetRelPath()); }

std::string TypeName(const mci::Node& node) {
    return istd::EnumMap<mci::enums::NodeValType_e>::items.NameOf(node.GetValueType());
}

std::vector<std::string> FlagWords(const mci::Node& node) {
    std::vector<std::string> words;
    if (node.IsReadable()) words.emplace_back("readable");
    if (node.IsWritable()) words.emplace_back("writable");
    if (node.IsConstant()) words.emplace_back("constant");
    if (node.IsExecutable()) words.emplace_back("executable");
    if (node.IsArray()) words.emplace_back("array");
    if (node.IsPersistent()) words.emplace_back("persistent");
    if (node.IsSignal()) words.emplace_back("signal");
    if (node.GetFlags() & mci::eHidden) words.emplace_back("hidden");
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

}  // namespace rove_json
