#pragma once
// A YAML document's size as its parser sees it, before yaml-cpp builds it.
#include <cstdint>
#include <string>

namespace velnor::server {

// Refuses a YAML document whose node graph, aliases expanded, passes the
// limits' node count or depth, before yaml-cpp builds it: LoadError with
// the line where the limit was passed. Only the first document counts.
void CheckYamlLimits(const std::string& text, const std::string& fileName, std::uint64_t maxNodes, int maxDepth);

}  // namespace velnor::server
