// access: reads, writes and executions of node values.
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/trace_statement.h"
#include "rove_format.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_node_value.h"
#include "rove_params.h"
#include "rove_values.h"
#include "velnor/wire.h"

namespace {

// Writes the value, or the selected elements, without a line end. `wrote`
// tells the caller whether part of the line was written before a failure.
template <class T>
bool GetNodeValue(const mci::Node& node, const std::string& index, bool& wrote) {
    if (!node.IsArray()) {
        T value{};
        node.Get(value, 0);
        wrote = true;
        std::cout << FormatElement(value);
        return true;
    }
    const std::uint32_t size = node.GetSize();
    std::vector<idx_t> ranges = ParseIndexes(index);
    if (ranges.empty()) ranges.push_back(idx_t{0, size});
    for (const auto& range : ranges) {
        std::vector<T> values;
        node.Get(values, range.start, range.count);
        std::string text = size > 1 ? "[" : "";
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i > 0) text += ',';
            text += FormatElement(static_cast<T>(values[i]));
        }
        if (size > 1) text += ']';
        wrote = true;
        std::cout << text;
    }
    return true;
}

std::string ValueText(const std::string& value) {
    if (!value.empty() && value[0] == '@') return ReadFile(value.substr(1));
    return value;
}

// Every range must lie inside the node, so that a write either reaches all
// selected elements or none: no range is written before a later one fails.
void CheckRanges(const std::vector<idx_t>& ranges, std::uint32_t size) {
    for (const auto& range : ranges)
        if (static_cast<std::uint64_t>(range.start) + range.count > size)
            throw istd::Exception("Array index out of range", true);
}

// The items of a value text: for an array the list, which ends at a NUL
// byte as a C string would; for a scalar the whole text.
std::vector<std::string> ValueItems(std::string text, bool isArray) {
    if (!isArray) {
        std::vector<std::string> whole;
        whole.push_back(std::move(text));  // a list initialiser would copy it
        return whole;
    }
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return istd::TokenizeString(text, c_arrayIdxDelimiter);
}

// A text travels as a CORBA string, which ends at its first NUL byte: a text
// holding one would be stored cut short, so it is refused.
void CheckTextItems(const std::vector<std::string>& items, const std::string& path) {
    for (const auto& item : items)
        if (item.find('\0') != std::string::npos)
            throw istd::Exception("Value of " + path + " contains a NUL byte (a text cannot hold one)", true);
}

// The bytes of the elements as they travel: the texts' lengths, or the
// element count times the element's width.
template <class T>
std::uint64_t ElementBytes(const std::vector<T>& values, std::size_t first, std::size_t count) {
    if constexpr (std::is_same_v<T, std::string>) {
        std::uint64_t bytes = 0;
        for (std::size_t i = first; i < first + count; ++i) bytes += values[i].size();
        return bytes;
    } else {
        return static_cast<std::uint64_t>(count) * sizeof(T);
    }
}

// Besides its elements a message carries its own headers (well under
// 1 KiB) and, for each text, its length word, its end and its alignment.
constexpr std::uint64_t c_messageHeaderBytes = 1024;
constexpr std::uint64_t c_textFramingBytes = 8;

// Each range is written with one message, which neither side takes past
// the message limit: a value that cannot fit is refused here, in plain
// words, before anything is sent.
template <class T>
void CheckMessageSize(const std::string& path, const std::vector<T>& values, const std::vector<idx_t>& ranges) {
    const std::uint64_t whole = ElementBytes(values, 0, values.size());
    const std::uint64_t one = values.empty() ? 0 : ElementBytes(values, 0, 1);
    const std::uint64_t framing = std::is_same_v<T, std::string> ? c_textFramingBytes : 0;
    for (const auto& range : ranges) {
        // A single value fills every element of a longer range.
        const std::uint64_t bytes = range.count == values.size() ? whole : one * range.count;
        if (bytes + framing * range.count + c_messageHeaderBytes > velnor::wire::c_maxMessageBytes)
            throw istd::Exception("Value of " + path + " too large: " + std::to_string(bytes) + " bytes (the limit is " +
                                      std::to_string(velnor::wire::c_maxMessageBytes) + ")",
                                  true);
    }
}

template <class T>
std::vector<T> ConvertedItems(std::vector<std::string> items) {
    if constexpr (std::is_same_v<T, std::string>)
        return items;  // no copy of a large text
    else
        return ConvertValues<T>(items);
}

// With `send` false every check runs and nothing is written: a write
// through a pattern is checked on all its matches first.
template <class T>
void SetNodeValue(const mci::Node& node, const std::string& path, const std::string& value, const std::string& index,
                  bool send = true) {
    const std::uint32_t size = node.GetSize();
    std::vector<std::string> items = ValueItems(ValueText(value), node.IsArray());
    if constexpr (std::is_same_v<T, std::string>) CheckTextItems(items, path);
    const std::vector<T> values = ConvertedItems<T>(std::move(items));
    const std::size_t n = values.size();

    std::vector<idx_t> ranges = ParseIndexes(index);
    if (ranges.empty()) {
        if (n != 1 && n != size) throw istd::Exception("Wrong number of values", true);
        ranges.push_back(idx_t{0, size});
    } else {
        for (const auto& range : ranges)
            if (range.count != n && n != 1) throw istd::Exception("Wrong number of values", true);
    }
    CheckRanges(ranges, size);
    CheckMessageSize(path, values, ranges);
    if (!send) return;
    for (const auto& range : ranges) {
        if (range.count == n)
            node.Set(values, range.start);
        else
            node.Set(std::vector<T>(range.count, values[0]), range.start);
    }
}

// The value and index texts of one access, with the node's path as given.
struct AccessTexts {
    const std::string& path;
    const std::string& value;
    const std::string& index;
    bool send = true;  // false: check a write without sending it
};

template <class T>
void ReadOrWrite(const mci::Node& node, const AccessTexts& texts, bool& wrote) {
    if (texts.value.empty())
        GetNodeValue<T>(node, texts.index, wrote);
    else
        SetNodeValue<T>(node, texts.path, texts.value, texts.index, texts.send);
}

// False for a value type this tool does not know.
bool AccessByType(const mci::Node& node, mci::enums::NodeValType_e type, const AccessTexts& texts, bool& wrote) {
    using namespace mci::enums;
    switch (type) {
        case eBool: ReadOrWrite<bool>(node, texts, wrote); return true;
        case eInt32: ReadOrWrite<int>(node, texts, wrote); return true;
        case eUInt32: ReadOrWrite<unsigned int>(node, texts, wrote); return true;
        case eInt64: ReadOrWrite<long long>(node, texts, wrote); return true;
        case eUInt64: ReadOrWrite<unsigned long long>(node, texts, wrote); return true;
        case eDouble: ReadOrWrite<double>(node, texts, wrote); return true;
        case eFloat: ReadOrWrite<float>(node, texts, wrote); return true;
        case eString:
        case eEnum: ReadOrWrite<std::string>(node, texts, wrote); return true;
        default: return false;
    }
}

void AccessValue(const mci::Node& node, const AccessTexts& texts, bool& wrote) {
    const std::string& value = texts.value;
    const auto type = node.GetValueType();
    if (type == mci::enums::eNoValue) {
        if (!value.empty()) throw istd::Exception("Unable to set value for valueless node!", true);
        return;
    }
    if (!AccessByType(node, type, texts, wrote) && !value.empty()) {
        std::ostringstream message;
        message << "Unable to set value for node of unknown value type " << static_cast<int>(type) << "!";
        throw istd::Exception(message.str(), true);
    }
}

}  // namespace

void ValueAccess(const mci::Node& node, const std::string& path, const std::string& value, const std::string& index) {
    ISTD_TRACE_FNC("void ValueAccess(const mci::Node&, const std::string&, const std::string&, const std::string&)",
                   c_traceFile);
    ISTD_TRACE(3, "void ValueAccess(const mci::Node&, const std::string&, const std::string&, const std::string&)",
               c_traceFile,
               "path: '" << path << "' index: '" << index << "' value size: " << value.size());
    bool wrote = false;
    if (value.empty() && !g_params.quiet) {
        std::cout << path << index << ": ";
        wrote = true;
    }
    try {
        if (IsExec(index))
            std::cout << (node.Execute() ? "done" : "failed") << std::endl;
        else
            AccessValue(node, AccessTexts{path, value, index}, wrote);
    } catch (...) {
        // The next node's line must not run into this one.
        if (wrote) std::cout << std::endl;
        throw;
    }
    if (value.empty()) std::cout << std::endl;
}

namespace {

// The elements of several reads of one node, in order, as one array value.
istd::Any Joined(const std::vector<istd::Any>& parts) {
    if (parts.empty()) return istd::Any();
    return std::visit(
        [&parts](const auto& first) -> istd::Any {
            using Elements = std::decay_t<decltype(first)>;
            if constexpr (std::is_same_v<Elements, std::monostate>) {
                return istd::Any();
            } else {
                Elements all;
                for (const auto& part : parts)
                    if (const auto* elements = std::get_if<Elements>(&part.Elements()))
                        all.insert(all.end(), elements->begin(), elements->end());
                return istd::Any(std::move(all), true);
            }
        },
        parts.front().Elements());
}

// The selected elements of an array read: their values and their indexes.
void AddSelectedElements(const mci::Node& node, const std::string& index, rove_json::Json& record) {
    rove_json::Json indexes = rove_json::Json::array();
    std::vector<istd::Any> parts;
    for (const auto& range : ParseIndexes(index)) {
        parts.push_back(ReadNodeElements(node, range.start, range.count));
        for (std::uint32_t i = 0; i < range.count; ++i) indexes.push_back(range.start + i);
    }
    record["index"] = indexes;
    rove_json::SetValue(record, "value", Joined(parts));
}

}  // namespace

void ValueAccessJson(const mci::Node& node, const std::string& path, const std::string& value,
                     const std::string& index) {
    rove_json::Json record;
    record["path"] = path;
    if (IsExec(index)) {
        record["result"] = node.Execute();
    } else if (!value.empty()) {
        bool wrote = false;
        AccessValue(node, AccessTexts{path, value, index}, wrote);
        record["written"] = true;
    } else {
        record["type"] = rove_json::TypeName(node);
        if (node.IsArray() && !ParseIndexes(index).empty())
            AddSelectedElements(node, index, record);
        else
            rove_json::SetValue(record, "value", ReadNodeValue(node));
    }
    rove_json::Write(record);
}

void CheckValueWrite(const mci::Node& node, const std::string& path, const std::string& value,
                     const std::string& index) {
    if (!node.IsWritable()) throw istd::Exception("Node " + path + " is not writable", true);
    bool wrote = false;
    AccessValue(node, AccessTexts{path, value, index, false}, wrote);
}
