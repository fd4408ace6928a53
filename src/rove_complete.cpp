// --complete: the completion candidates of a partial node path, for the
// bash completion script.
#include <iostream>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "rove_handlers.h"
#include "rove_params.h"

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
