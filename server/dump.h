#pragma once
// Text rendering of a subtree, one line per node:
//   INDENT NAME [" [" TYPE "]"] [" {" FLAGS "}"] [" = " VALUE] "\n"
// INDENT is two blanks per level below the dumped node (none with full paths),
// NAME the node name or, with wire::c_dumpFullPath, the dotted path from the host.
#include <cstdint>
#include <string>
#include <vector>

#include "tree.h"
#include "velnor/wire.h"

namespace velnor::server {

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
