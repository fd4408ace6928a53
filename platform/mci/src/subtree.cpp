// Whole subtrees in one call, and checks of whole values before writing:
// what configuration snapshots are built on.
#include <type_traits>
#include <variant>

#include "connection.h"
#include "library.h"
#include "mci/mci.h"
#include "node_facts.h"
#include "values.h"

namespace mci {

using detail::Remote;

std::vector<SubtreeEntry> ReadSubtree(const Node& start) {
    if (!start.IsValid()) throw istd::Exception("Invalid registry node handle (not connected)", true);
    const std::uint32_t id = start.Facts()->id;
    i_NET::SubtreeNodeSeq_var nodes = Remote(*start.Connection(), [&](i_NET::Registry_ptr r) {
        return r->subtree(id, detail::HiddenExposed());
    });
    std::vector<SubtreeEntry> entries;
    entries.reserve(nodes->length());
    for (CORBA::ULong i = 0; i < nodes->length(); ++i) {
        const i_NET::SubtreeNode& in = nodes[i];
        SubtreeEntry entry;
        entry.node = Node(start.Connection(), detail::FactsFrom(in.info));
        if (in.hasValue) entry.value = detail::ToAny(in.value, (in.info.flags & i_NET::FLAG_ARRAY) != 0);
        for (CORBA::ULong d = 0; d < in.domain.length(); ++d)
            entry.domain.emplace_back(static_cast<const char*>(in.domain[d]));
        entries.push_back(std::move(entry));
    }
    return entries;
}

void VisitSubtree(const Node& start, std::int32_t level, const std::function<void(const SubtreeNodeView&)>& visit) {
    if (!start.IsValid()) throw istd::Exception("Invalid registry node handle (not connected)", true);
    const std::uint32_t id = start.Facts()->id;
    i_NET::SubtreeListing_var listing = Remote(*start.Connection(), [&](i_NET::Registry_ptr r) {
        return r->listSubtree(id, level, detail::HiddenExposed());
    });
    const i_NET::ListedNodeSeq& nodes = listing->nodes;
    const auto* names = reinterpret_cast<const char*>(listing->names.get_buffer());
    const std::size_t nameBytes = listing->names.length();
    std::size_t nameAt = 0;
    CORBA::ULong next = 0;
    for (CORBA::ULong i = 0; i < nodes.length(); ++i) {
        const i_NET::ListedNode& in = nodes[i];
        if (in.nameLength > nameBytes - nameAt)
            throw istd::Exception("Registry at " + start.Connection()->Address() + " sent a malformed listing", true);
        const std::string_view name(names + nameAt, in.nameLength);
        nameAt += in.nameLength;
        const bool hasValue = in.hasValue && next < listing->values.length();
        const istd::Any value =
            hasValue ? detail::ToAny(listing->values[next++], (in.flags & i_NET::FLAG_ARRAY) != 0) : istd::Any();
        visit(SubtreeNodeView{in.depth, name, in.flags, static_cast<enums::NodeValType_e>(in.typeCode), value});
    }
}

std::vector<std::string> CheckValues(const std::vector<Node>& nodes, const std::vector<istd::Any>& values) {
    if (nodes.size() != values.size()) throw istd::Exception("CheckValues: as many values as nodes are needed", true);
    std::vector<std::string> reasons(nodes.size());
    if (nodes.empty()) return reasons;
    // A value that does not fit the node's element type is refused here;
    // the rest go to the registry together.
    i_NET::ValueCheckSeq checks;
    std::vector<std::size_t> sent;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (!nodes[i].IsValid() || values[i].IsEmpty()) {
            reasons[i] = "no value";
            continue;
        }
        const detail::NodeFacts& facts = *nodes[i].Facts();
        try {
            i_NET::Values wire = std::visit(
                [&](const auto& elements) -> i_NET::Values {
                    using V = std::decay_t<decltype(elements)>;
                    if constexpr (std::is_same_v<V, std::monostate>) return i_NET::Values();
                    else return detail::ToValues(elements, facts);
                },
                values[i].Elements());
            const CORBA::ULong n = checks.length();
            checks.length(n + 1);
            checks[n].id = facts.id;
            checks[n].value = wire;
            sent.push_back(i);
        } catch (const istd::Exception& e) {
            reasons[i] = e.what();
        }
    }
    if (checks.length() == 0) return reasons;
    i_NET::StringSeq_var answers =
        Remote(*nodes[sent.front()].Connection(), [&](i_NET::Registry_ptr r) { return r->checkValues(checks); });
    for (CORBA::ULong k = 0; k < answers->length() && k < sent.size(); ++k)
        reasons[sent[k]] = static_cast<const char*>(answers[k]);
    return reasons;
}

}  // namespace mci
