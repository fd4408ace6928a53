#pragma once
// Text rendering of a subtree, one line per node:
//   INDENT NAME [" [" TYPE "]"] [" {" FLAGS "}"] [" = " VALUE] "\n"
// INDENT is two blanks per level below the dumped node (none with full paths),
// NAME the node name or, with DumpFullPath, the dotted path from the host.
#include <cstdint>
#include <string>
#include <vector>

#include "tree.h"

namespace velnor::server {

constexpr std::uint32_t DumpFullPath = 0x1;
constexpr std::uint32_t DumpFlags = 0x2;
constexpr std::uint32_t DumpCompact = 0x4;

struct DumpRequest {
    NodeId start = 0;
    std::int32_t level = -1;  // levels below start; negative: all
    std::uint32_t flags = 0;
    std::uint32_t maxLength = 0;  // value text limit; 0: none
    bool exposeHidden = false;
};

// `values` is indexed by NodeId; the caller holds whatever lock guards it.
std::string RenderDump(const Tree& tree, const std::vector<Elements>& values, const DumpRequest& request);

// A value text as shown by toText and the dump: cut to maxLength.
std::string LimitedValueText(const Node& node, const Elements& value, std::uint32_t maxLength);

}  // namespace velnor::server
