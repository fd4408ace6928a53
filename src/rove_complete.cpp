// --complete: the completion candidates of a partial node path, for the
// bash completion script.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "rove_handlers.h"
#include "rove_params.h"

std::optional<std::vector<std::string>> CompletionCandidates(const mci::Node& root, const std::string& partial,
                                                            const std::string& text, bool longFlag) {
    mci::Path components = mci::Tokenize(partial);
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
        return std::vector<std::string>{(longFlag ? joined : name) + (node.IsLeaf() ? " " : ". ")};
    const std::string prefix = (longFlag && !joined.empty()) ? joined + "." : std::string();
    std::vector<std::string> candidates;
    for (const auto& child : node.GetNodes()) candidates.push_back(prefix + child.GetName() + (child.IsLeaf() ? "" : "."));
    return candidates;
}

void AutoComplete(const std::string& text, bool longFlag) {
    const mci::Node root = mci::Connect(g_params.host, g_params.root, g_params.port, false);
    const std::string partial = g_params.paths.empty() ? std::string() : g_params.paths.back();
    const auto candidates = CompletionCandidates(root, partial, text, longFlag);
    if (!candidates) return;  // not even the root: nothing at all is printed
    // The exact match (the only candidate that ends in a blank) stands alone,
    // without a blank after its quote; children are each followed by one.
    if (candidates->size() == 1 && !candidates->front().empty() && candidates->front().back() == ' ') {
        std::cout << '"' << candidates->front() << '"' << std::endl;
        return;
    }
    std::string line;
    for (const auto& candidate : *candidates) line += '"' + candidate + "\" ";
    std::cout << line << std::endl;
}

void CompleteEnumValue(const std::string& path) {
    const mci::Node root = mci::Connect(g_params.host, g_params.root, g_params.port, false);
    std::vector<std::string> domain;
    std::string line;
    try {
        const mci::Node node = root.GetNode(mci::Tokenize(path));
        if (node.GetValueType() == mci::enums::eEnum && node.GetDomainValues(domain))
            for (const auto& name : domain) line += '"' + name + "\" ";
    } catch (const istd::Exception&) {
        // An unknown path has no values to offer.
    }
    std::cout << line << std::endl;
}
