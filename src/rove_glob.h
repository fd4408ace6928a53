#pragma once
// --glob: path words with patterns. "*" is any run of characters inside one
// name, "?" one character, and a name "**" any number of whole names
// (none included). Registry names hold no blanks, dots, brackets, braces or
// "=", so these marks cannot clash with the dot that joins names; without
// --glob "*" and "?" stay ordinary name characters.
#include <string>
#include <vector>

#include "mci/mci.h"

// True when the path holds a pattern mark.
bool IsPattern(const std::string& path);

// Does one name match one pattern name ("*" and "?")?
bool MatchName(const std::string& pattern, const std::string& name);
// Do the names match the pattern names ("**" included)?
bool MatchPath(const std::vector<std::string>& pattern, const std::vector<std::string>& names);

// The paths below `root` that match, in tree order. The subtree below the
// pattern's literal beginning is asked for once, as one dump of full paths,
// not node by node; the caller resolves the paths it uses. Throws
// istd::Exception "Node not found: <pattern>" when nothing matches.
std::vector<mci::Path> ExpandPattern(const mci::Node& root, const std::string& pattern);
