#pragma once
// Completion of node paths and enumeration values. The candidates are data
// here, for any prompt of the tool that completes a path; --complete and
// --complete-value print them as double-quoted words for the bash
// completion.
#include <optional>
#include <string>
#include <vector>

#include "mci/mci.h"

// What --complete offers for the path `components` being typed, where
// `text` is the word the shell completes and `longFlag` asks for full paths:
// the node itself when `text` names it exactly (`exact`; followed by " " for
// a leaf, ". " otherwise), else every child (inner nodes followed by "."),
// whatever was typed of the last name. A last component that names no node
// is the one being typed: its parent's children are listed.
struct PathCompletion {
    std::vector<std::string> words;
    bool exact = false;
};
// Throws istd::Exception when the parent does not exist either; nothing for
// an empty path that names no node (no registry).
std::optional<PathCompletion> CompletePath(const mci::Node& root, mci::Path components, const std::string& text,
                                           bool longFlag);

// Every node path that continues `partial` as typed ("", "boards.",
// "boards.ga"): full paths, inner nodes followed by ".", in the registry's
// order. Longer siblings of a node named exactly are included ("wide.l1"
// gives wide.l1 and wide.l10). Nothing when the parent path names no node.
std::vector<std::string> PathsContinuing(const mci::Node& root, const std::string& partial);

// The names the enumeration node at `path` takes; nothing for any other
// node or an unknown path.
std::vector<std::string> EnumValueWords(const mci::Node& root, const std::string& path);

// A word as --complete prints it: in double quotes, '"' and '\' escaped
// with '\'.
std::string QuotedWord(const std::string& word);
// Each word quoted and followed by a blank.
std::string QuotedWords(const std::vector<std::string>& words);
