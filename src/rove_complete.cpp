// --complete and --complete-value: the completion candidates of a partial
// node path or of an enumeration value, for the bash completion script.
#include "rove_complete.h"

#include <iostream>

#include "istd/exception.h"
#include "rove_handlers.h"
#include "rove_params.h"

namespace {

mci::Path CompletionPath() {
    if (g_params.paths.empty()) return mci::Path();
    return mci::Tokenize(g_params.paths.back());
}

std::string ChildWord(const std::string& prefix, const mci::Node& child) {
    return prefix + child.GetName() + (child.IsLeaf() ? "" : ".");
}

mci::Node RootOfParams() { return mci::Connect(g_params.host, g_params.root, g_params.port, false); }

}  // namespace

std::optional<PathCompletion> CompletePath(const mci::Node& root, mci::Path components, const std::string& text,
                                           bool longFlag) {
    mci::Node node;
    try {
        node = root.GetNode(components);
    } catch (const istd::Exception&) {
        if (components.empty()) return std::nullopt;
        // The last component is the one being typed: list its parent's children.
        components.pop_back();
        node = root.GetNode(components);
    }
    const std::string name = node.GetName();
    const std::string joined = mci::ToString(components);

    if (!components.empty() && (longFlag ? joined == text : name == text))
        return PathCompletion{{(longFlag ? joined : name) + (node.IsLeaf() ? " " : ". ")}, true};
    const std::string prefix = (longFlag && !joined.empty()) ? joined + "." : std::string();
    PathCompletion completion;
    for (const auto& child : node.GetNodes()) completion.words.push_back(ChildWord(prefix, child));
    return completion;
}

std::vector<std::string> PathsContinuing(const mci::Node& root, const std::string& partial) {
    // The children of everything before the last dot, kept when they start
    // with what was typed: a name typed in full still offers its longer
    // siblings.
    const std::size_t dot = partial.rfind('.');
    const std::string parent = dot == std::string::npos ? std::string() : partial.substr(0, dot);
    mci::Node node;
    try {
        node = root.GetNode(mci::Tokenize(parent));
    } catch (const istd::Exception&) {
        return {};
    }
    const std::string prefix = parent.empty() ? std::string() : parent + ".";
    std::vector<std::string> paths;
    for (const auto& child : node.GetNodes()) {
        std::string word = ChildWord(prefix, child);
        if (word.compare(0, partial.size(), partial) == 0) paths.push_back(std::move(word));
    }
    return paths;
}

std::vector<std::string> EnumValueWords(const mci::Node& root, const std::string& path) {
    std::vector<std::string> domain;
    try {
        const mci::Node node = root.GetNode(mci::Tokenize(path));
        if (node.GetValueType() == mci::enums::eEnum && node.GetDomainValues(domain)) return domain;
    } catch (const istd::Exception&) {
        // An unknown path has no values to offer.
    }
    return {};
}

std::string QuotedWord(const std::string& word) {
    std::string quoted = "\"";
    for (const char c : word) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::string QuotedWords(const std::vector<std::string>& words) {
    std::string line;
    for (const auto& word : words) line += QuotedWord(word) + ' ';
    return line;
}

void AutoComplete(const std::string& text, bool longFlag) {
    const std::optional<PathCompletion> completion = CompletePath(RootOfParams(), CompletionPath(), text, longFlag);
    if (!completion) return;  // not even an end of line
    if (completion->exact)
        std::cout << QuotedWord(completion->words.front()) << std::endl;
    else
        std::cout << QuotedWords(completion->words) << std::endl;
}

void CompleteEnumValue(const std::string& path) {
    std::cout << QuotedWords(EnumValueWords(RootOfParams(), path)) << std::endl;
}
