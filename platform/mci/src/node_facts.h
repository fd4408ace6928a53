#pragma once
// What a node handle caches: everything about a node that cannot change
// while the server runs, so that names, flags and sizes cost no round trip.
#include <cstdint>
#include <string>

#include "mci/mci.h"

namespace mci::detail {

struct NodeFacts {
    std::uint32_t id = 0;
    std::uint32_t parent = 0;
    std::string name;
    Path relPath;  // names below the registry root
    std::uint32_t flags = 0;
    enums::NodeValType_e valueType = enums::eNoValue;
    std::uint32_t size = 0;
    std::uint32_t childCount = 0;

    std::string DottedPath() const { return ToString(relPath); }
};

}  // namespace mci::detail

#include <memory>

#include "idl/registry.hh"

namespace mci::detail {

std::shared_ptr<const NodeFacts> FactsFrom(const i_NET::NodeInfo& info);
i_NET::StringSeq ToWirePath(const Path& path);

}  // namespace mci::detail
