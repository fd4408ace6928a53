#pragma once
// Reads a tree file (YAML) into a Tree, refusing anything it does not
// understand with the file, the line and what is wrong.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tree.h"

namespace velnor::server {

class LoadError : public std::runtime_error {
public:
    LoadError(const std::string& file, int line, const std::string& message);
    int Line() const { return m_line; }
    const std::string& Message() const { return m_message; }

private:
    int m_line;
    std::string m_message;
};

// What a tree file may hold, so that neither a huge file nor a small one
// that expands (nested aliases) can exhaust the server's memory or stack.
struct TreeLimits {
    std::size_t fileBytes = std::size_t{128} << 20;
    // Registry nodes, the two roots included, counted as often as aliases
    // repeat them. A node costs some 500 bytes and its value.
    std::uint64_t nodes = 2000000;
    // YAML nodes (maps, lists and scalars, keys included) that aliases
    // repeat, counted each time: what a file that expands may cost beyond
    // its size.
    std::uint64_t aliasYamlNodes = 1000000;
    // YAML nodes held whole at once: a node's own keys and values (a list
    // value of that many elements), anchored nodes, function sets.
    std::uint64_t heldYamlNodes = 1000000;
    // Maps and lists inside each other; the document's top map is level 1.
    int depth = 128;
};

// `fallbackHost` names the registry roots when the file has no `host` key.
Tree LoadTreeFile(const std::string& path, const std::string& fallbackHost, const TreeLimits& limits = {});
// The same from text in memory; `fileName` is used in messages.
Tree LoadTreeText(const std::string& text, const std::string& fileName, const std::string& fallbackHost,
                  const TreeLimits& limits = {});

}  // namespace velnor::server
