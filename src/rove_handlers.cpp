#include "rove_handlers.h"

#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/time.h"
#include "istd/trace_statement.h"
#include "rove_format.h"
#include "rove_params.h"
#include "rove_values.h"
#include "velnor-rove-signal-handler.h"
#include "velnor/wire.h"

// ---------------------------------------------------------------- info

namespace {

struct NodeReport {
    std::string hostName;
    std::string nodeName;
    std::string value;
    std::string typeName;
    std::string domain;
    std::string validator;
    std::uint32_t size = 0;
    mci::Path relPath;
    std::uint32_t childCount = 0;
    std::string flags;
    bool root = false;
    std::string parent;
};

std::string FlagsText(const mci::Node& node) {
    std::string flags;
    if (node.IsReadable()) flags += " readable";
    if (node.IsWritable()) flags += " writable";
    if (node.IsConstant()) flags += " constant";
    if (node.IsExecutable()) flags += " executable";
    if (node.IsArray()) flags += " array";
    if (node.IsPersistent()) flags += " persistent";
    if (node.IsSignal()) flags += " signal";
    if (node.GetFlags() & mci::eHidden) flags += " hidden";
    return flags.empty() ? std::string(" none") : istd::TrimString(flags);
}

std::string DomainText(const mci::Node& node) {
    std::vector<std::string> domain;
    if (!node.GetDomainValues(domain)) return std::string();
    return " (" + istd::StringVecIntoString(domain, ",") + ")";
}

NodeReport GatherReport(const mci::Node& node) {
    NodeReport r;
    const std::string name = node.GetName();
    const mci::Path full = node.GetFullPath(false);
    r.relPath = node.GetRelPath();
    r.root = node.IsRoot();
    r.childCount = node.GetNodeCount();
    r.hostName = full.empty() ? std::string() : full[0];
    const std::string parentName = r.root ? std::string() : node.GetParent().GetName();
    const auto type = node.GetValueType();
    if (type != mci::enums::eNoValue) r.value = node.ToString(g_params.maxLength);
    r.domain = DomainText(node);
    if (!node.GetValidatorExpression(r.validator)) r.validator.clear();
    r.flags = FlagsText(node);
    r.parent = (parentName.empty() || parentName == r.hostName) ? "No parent for this node" : parentName;
    r.typeName = istd::EnumMap<mci::enums::NodeValType_e>::items.NameOf(type);
    if (r.value.empty()) r.value = "No value for this node";
    r.nodeName = r.relPath.empty() ? std::string() : name;
    r.size = node.GetSize();
    return r;
}

const char* const c_ruler = "---------------------------------------------------";

}  // namespace

void PrintNodeInfo(const mci::Node& node) {
    const NodeReport r = GatherReport(node);
    const std::vector<mci::Node> children = node.GetNodes();
    std::cout << c_ruler << std::endl
              << "   Registry hostname    : " << r.hostName << std::endl
              << "   Node name            : " << r.nodeName << std::endl
              << "   Value                : " << r.value << std::endl
              << "   Value type           : " << r.typeName << r.domain << std::endl
              << "   Validator expression : " << r.validator << std::endl
              << "   Num of values        : " << r.size << std::endl
              << "   Full path            : " << r.relPath << std::endl
              << "   Num of children      : " << r.childCount << std::endl
              << "   Flags                : " << r.flags << std::endl
              << "   Root                 : " << (r.root ? "true" : "false") << std::endl
              << "   Parent node name     : " << r.parent << std::endl
              << "   Children             : ";
    if (children.empty()) std::cout << "No children for this node";
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (i > 0) std::cout << ", ";
        std::cout << children[i].GetName();
    }
    std::cout << std::endl << c_ruler << std::endl;
}

void GetInfo(const mci::Node& node) { PrintNodeInfo(node); }

// ---------------------------------------------------------------- dump

void Dump(const mci::Node& node) {
    ISTD_TRACE_FNC("void Dump(const mci::Node&)", c_traceFile);
    const std::string text = node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags),
                                              g_params.maxLength);
    std::cout << text;
}

// ---------------------------------------------------------------- access

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

template <class T>
void SetNodeValue(const mci::Node& node, const std::string& path, const std::string& value, const std::string& index) {
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
};

template <class T>
void ReadOrWrite(const mci::Node& node, const AccessTexts& texts, bool& wrote) {
    if (texts.value.empty())
        GetNodeValue<T>(node, texts.index, wrote);
    else
        SetNodeValue<T>(node, texts.path, texts.value, texts.index);
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

// ---------------------------------------------------------------- bench

namespace {

// A caught signal (Ctrl-C) ends the benchmark before its next call.
void CheckInterrupt() {
    if (sigHandler.Signal() != 0) throw istd::Exception("Caught signal during the benchmark", true);
}

}  // namespace

// A call that fails ends the run with its error (a registry that stops
// answering: "did not answer in time"), instead of being timed like one
// that succeeded.
void Benchmark(mci::Node& node) {
    ISTD_TRACE_FNC("void Benchmark(mci::Node&)", c_traceFile);
    const int c_reads = 20000;
    const int c_writes = 20000;
    const int c_dumps = 200;

    mci::Node subject = node["app-name"];
    std::string text;
    istd::StopWatch watch;
    watch.Start();
    for (int i = 0; i < c_reads; ++i) {
        CheckInterrupt();
        subject.Get(text, 0);
    }
    watch.Stop();
    double seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "GetValue(std::string)/s: " << 20000.0 / seconds << std::endl;

    subject = node["tracing"]["level"];
    watch.Start();
    const std::vector<int> zero{0};
    for (int i = 0; i < c_writes; ++i) {
        CheckInterrupt();
        subject.Set(zero, 0);
    }
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "SetValue(int32_t)/s: " << 20000.0 / seconds << std::endl;

    watch.Start();
    for (int i = 0; i < c_dumps; ++i) {
        CheckInterrupt();
        node.DumpSubTree(g_params.level, static_cast<unsigned long>(g_params.dumpFlags), g_params.maxLength);
    }
    watch.Stop();
    seconds = istd::Time(watch.GetElapsed()).ToSeconds();
    std::cout << "DumpSubTree * 200: " << seconds << std::endl;
}

// ---------------------------------------------------------------- completion

namespace {

mci::Path CompletionPath() {
    if (g_params.paths.empty()) return mci::Path();
    return mci::Tokenize(g_params.paths.back());
}

}  // namespace

void AutoComplete(const std::string& text, bool longFlag) {
    mci::Path components = CompletionPath();
    const mci::Node root = mci::Connect(g_params.host, g_params.root, g_params.port, false);
    mci::Node node;
    try {
        node = root.GetNode(components);
    } catch (const istd::Exception&) {
        if (components.empty()) return;
        // The last component is the one being typed: list its parent's children.
        components.pop_back();
        node = root.GetNode(components);
    }
    const std::string name = node.GetName();
    const std::string joined = mci::ToString(components);

    if (!components.empty() && (longFlag ? joined == text : name == text)) {
        std::cout << '"' << (longFlag ? joined : name) << (node.IsLeaf() ? " " : ". ") << '"' << std::endl;
        return;
    }
    const std::string prefix = (longFlag && !joined.empty()) ? joined + "." : std::string();
    std::string line;
    for (const auto& child : node.GetNodes())
        line += '"' + prefix + child.GetName() + (child.IsLeaf() ? "\" " : ".\" ");
    std::cout << line << std::endl;
}
