#include "rove_glob.h"

#include <sstream>

#include "istd/exception.h"
#include "rove_params.h"

namespace {

const std::string c_anyNames = "**";

bool IsPatternName(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

[[noreturn]] void ThrowNoMatch(const std::string& pattern) {
    throw istd::Exception("Node not found: " + pattern, true);
}

// The names below `base` of every node of a full-path dump that starts at
// `base`: each line begins with the node's full path, up to the first blank.
std::vector<std::vector<std::string>> DumpedRelativePaths(const std::string& dump) {
    std::vector<std::vector<std::string>> paths;
    std::istringstream lines(dump);
    std::string line;
    std::string basePath;
    while (std::getline(lines, line)) {
        const std::string full = line.substr(0, line.find(' '));
        if (paths.empty()) {
            basePath = full;
            paths.emplace_back();
            continue;
        }
        if (full.size() <= basePath.size() + 1 || full.compare(0, basePath.size(), basePath) != 0) continue;
        paths.push_back(mci::Tokenize(full.substr(basePath.size() + 1)));
    }
    return paths;
}

}  // namespace

bool IsPattern(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

bool MatchName(const std::string& pattern, const std::string& name) {
    // Greedy matching with one back-tracking point: the last "*".
    std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool MatchPath(const std::vector<std::string>& pattern, const std::vector<std::string>& names) {
    // matches[i][j]: pattern names from i match names from j.
    const std::size_t P = pattern.size(), N = names.size();
    std::vector<std::vector<char>> matches(P + 1, std::vector<char>(N + 1, 0));
    matches[P][N] = 1;
    for (std::size_t i = P; i-- > 0;) {
        for (std::size_t j = N + 1; j-- > 0;) {
            if (pattern[i] == c_anyNames)
                matches[i][j] = matches[i + 1][j] || (j < N && matches[i][j + 1]);
            else
                matches[i][j] = j < N && MatchName(pattern[i], names[j]) && matches[i + 1][j + 1];
        }
    }
    return matches[0][0] != 0;
}

std::vector<mci::Path> ExpandPattern(const mci::Node& root, const std::string& pattern) {
    const mci::Path names = mci::Tokenize(pattern);
    mci::Path prefix;
    std::size_t first = 0;
    while (first < names.size() && !IsPatternName(names[first]) && names[first] != c_anyNames)
        prefix.push_back(names[first++]);
    const std::vector<std::string> rest(names.begin() + static_cast<std::ptrdiff_t>(first), names.end());

    mci::Node base;
    try {
        base = root.GetNode(prefix);
    } catch (const istd::Exception&) {
        ThrowNoMatch(pattern);
    }
    bool anyDepth = false;
    for (const auto& name : rest) anyDepth = anyDepth || name == c_anyNames;
    const auto level = anyDepth ? -1 : static_cast<std::int32_t>(rest.size());
    // Values are cut to one character: only the paths are read.
    const std::string dump = base.DumpSubTree(level, eDumpFullPath, 1);

    std::vector<mci::Path> matches;
    for (const auto& relative : DumpedRelativePaths(dump)) {
        if (!MatchPath(rest, relative)) continue;
        mci::Path path = prefix;
        path.insert(path.end(), relative.begin(), relative.end());
        matches.push_back(std::move(path));
    }
    if (matches.empty()) ThrowNoMatch(pattern);
    return matches;
}
