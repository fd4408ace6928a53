#pragma once
// Reads a tree file (YAML) into a Tree, refusing anything it does not
// understand with the file, the line and what is wrong.
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

// `fallbackHost` names the registry roots when the file has no `host` key.
Tree LoadTreeFile(const std::string& path, const std::string& fallbackHost);
// The same from text in memory; `fileName` is used in messages.
Tree LoadTreeText(const std::string& text, const std::string& fileName, const std::string& fallbackHost);

// Parses one scalar text as written in tree and state files into `type`;
// nullopt when it does not fit. Exposed for the state file.
std::optional<Elements> ParseScalarText(const std::string& text, ValueType type, bool quoted);

// A name a node may carry: not empty, no dots, blanks or path syntax.
bool IsValidNodeName(const std::string& name);

}  // namespace velnor::server
