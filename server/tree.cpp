#include "tree.h"

#include "istd/strings.h"

namespace velnor::server {

const std::vector<FlagName>& FlagNames() {
    static const std::vector<FlagName> names = {
        {flags::Readable, "readable"},     {flags::Writable, "writable"}, {flags::Constant, "constant"},
        {flags::Executable, "executable"}, {flags::Array, "array"},       {flags::Persistent, "persistent"},
        {flags::Signal, "signal"},         {flags::Hidden, "hidden"},
    };
    return names;
}

std::string FlagsText(std::uint32_t flagBits, const char* separator) {
    std::vector<std::string> words;
    for (const auto& flag : FlagNames())
        if (flagBits & flag.bit) words.emplace_back(flag.name);
    return istd::StringVecIntoString(words, separator);
}

NodeId Tree::Child(NodeId parent, const std::string& name) const {
    const Node* node = Find(parent);
    if (!node) return 0;
    for (NodeId child : node->children)
        if (nodes[child].name == name) return child;
    return 0;
}

NodeId Tree::Resolve(NodeId start, const std::vector<std::string>& names) const {
    NodeId current = start;
    for (const auto& name : names) {
        current = Child(current, name);
        if (current == 0) return 0;
    }
    return current;
}

std::vector<std::string> Tree::RelPath(const Node& node) const {
    std::vector<std::string> names;
    for (const Node* at = &node; at->parent != at->id; at = &nodes[at->parent]) names.push_back(at->name);
    return std::vector<std::string>(names.rbegin(), names.rend());
}

std::string Tree::DottedPath(const Node& node) const {
    if (node.parent == node.id) return host;
    return istd::StringVecIntoString(RelPath(node), ".");
}

}  // namespace velnor::server
