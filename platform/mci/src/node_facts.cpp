#include "node_facts.h"

namespace mci::detail {

// GetFlags passes the protocol's flag bits on unchanged: the public enum
// must name them as the IDL defines them.
static_assert(eReadable == i_NET::FLAG_READABLE && eWritable == i_NET::FLAG_WRITABLE &&
                  eConstant == i_NET::FLAG_CONSTANT && eExecutable == i_NET::FLAG_EXECUTABLE &&
                  eArray == i_NET::FLAG_ARRAY && ePersistent == i_NET::FLAG_PERSISTENT &&
                  eHidden == i_NET::FLAG_HIDDEN && eSignal == i_NET::FLAG_SIGNAL,
              "node flag bits differ from the protocol's");

std::shared_ptr<const NodeFacts> FactsFrom(const i_NET::NodeInfo& info) {
    auto facts = std::make_shared<NodeFacts>();
    facts->id = info.id;
    facts->parent = info.parent;
    facts->name = static_cast<const char*>(info.name);
    facts->relPath.reserve(info.relPath.length());
    for (CORBA::ULong i = 0; i < info.relPath.length(); ++i)
        facts->relPath.emplace_back(static_cast<const char*>(info.relPath[i]));
    facts->flags = info.flags;
    facts->valueType = static_cast<enums::NodeValType_e>(info.typeCode);
    facts->size = info.size;
    facts->childCount = info.childCount;
    return facts;
}

i_NET::StringSeq ToWirePath(const Path& path) {
    i_NET::StringSeq seq;
    seq.length(static_cast<CORBA::ULong>(path.size()));
    for (CORBA::ULong i = 0; i < path.size(); ++i) seq[i] = CORBA::string_dup(path[i].c_str());
    return seq;
}

}  // namespace mci::detail
