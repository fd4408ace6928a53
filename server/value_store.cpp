#include "value_store.h"

#include <algorithm>

#include "convert.h"
#include "istd/strings.h"

namespace velnor::server {

ValueStore::ValueStore(Tree tree) : m_tree(std::move(tree)) {
    m_values.reserve(m_tree.nodes.size());
    for (const auto& node : m_tree.nodes) m_values.push_back(node.initial);
}

const Node& ValueStore::Visible(Root root, NodeId id, bool exposeHidden) const {
    const Node* node = m_tree.Find(id);
    if (!node || node->root != root || (node->hiddenPath && !exposeHidden))
        throw NotFoundError("#" + std::to_string(id));
    return *node;
}

const Node& ValueStore::Visible(Root root, const std::vector<std::string>& relPath, bool exposeHidden) const {
    const NodeId id = m_tree.Resolve(m_tree.RootOf(root), relPath);
    const Node* node = m_tree.Find(id);
    if (!node || (node->hiddenPath && !exposeHidden)) throw NotFoundError(istd::StringVecIntoString(relPath, "."));
    return *node;
}

void ValueStore::CheckRange(const Node& node, std::uint64_t pos, std::uint64_t count) const {
    if (pos + count > node.size)
        throw RegistryError("Position " + std::to_string(pos) + " and count " + std::to_string(count) +
                            " exceed the size " + std::to_string(node.size) + " of node " + PathOf(node));
}

Elements ValueStore::Get(const Node& node, std::uint32_t pos, std::uint32_t count) const {
    if (!node.HasValue()) throw RegistryError("Node " + PathOf(node) + " has no value");
    if (!node.Has(flags::Readable)) throw RegistryError("Node " + PathOf(node) + " is not readable");
    CheckRange(node, pos, count);
    std::shared_lock lock(m_valueLock);
    return Slice(m_values[node.id], pos, count);
}

Elements ValueStore::Converted(const Node& node, const Elements& written) const {
    auto converted = ConvertElements(written, node.type);
    if (auto* failure = std::get_if<ConversionFailure>(&converted))
        throw RegistryError("Value " + failure->text + " does not fit the type " + ValueTypeName(node.type) +
                            " of node " + PathOf(node));
    return std::get<Elements>(std::move(converted));
}

void ValueStore::CheckValues(const Node& node, const Elements& value) const {
    const std::size_t n = ElementCount(value);
    for (std::size_t i = 0; i < n; ++i) {
        if (node.type == ValueType::Enum) {
            const std::string& name = std::get<std::vector<std::string>>(value)[i];
            if (std::find(node.domain->begin(), node.domain->end(), name) == node.domain->end())
                throw RegistryError("Value '" + name + "' is not in the domain of node " + PathOf(node));
        }
        if (!node.min && !node.max) continue;
        const auto v = NumericElement(value, i);
        if (v && !InRange(*v, node.min, node.max))
            throw RegistryError("Value " + ElementText(value, i) + " is out of range " + RangeText(node.min, node.max) +
                                " for node " + PathOf(node));
    }
}

Elements ValueStore::Checked(const Node& node, std::uint32_t pos, const Elements& written) const {
    if (node.Has(flags::Constant)) throw RegistryError("Node " + PathOf(node) + " is constant");
    if (!node.HasValue() || !node.Has(flags::Writable)) throw RegistryError("Node " + PathOf(node) + " is not writable");
    CheckRange(node, pos, ElementCount(written));
    Elements value = Converted(node, written);
    CheckValues(node, value);
    return value;
}

void ValueStore::CheckSet(const Node& node, std::uint32_t pos, const Elements& written) const {
    Checked(node, pos, written);
}

void ValueStore::Set(const Node& node, std::uint32_t pos, const Elements& written) {
    Elements value = Checked(node, pos, written);
    if (ElementCount(value) == 0) return;
    WriteInternal(node, pos, std::move(value));
}

void ValueStore::WriteInternal(const Node& node, std::uint32_t pos, Elements value) {
    if (!node.Has(flags::Persistent) || !m_state) {
        Commit(node, pos, std::move(value));
        return;
    }
    std::lock_guard persist(m_persistLock);
    SaveWith(node, pos, value);
    Commit(node, pos, std::move(value));
}

void ValueStore::SaveWith(const Node& node, std::uint32_t pos, const Elements& value) {
    std::vector<SavedValue> snapshot;
    {
        std::shared_lock lock(m_valueLock);
        for (const auto& candidate : m_tree.nodes)
            if (candidate.id != 0 && candidate.Has(flags::Persistent))
                snapshot.push_back({candidate.id, m_values[candidate.id]});
    }
    for (auto& saved : snapshot)
        if (saved.id == node.id) Splice(saved.value, pos, value);
    try {
        m_state->Save(m_tree, snapshot);
    } catch (const std::exception& e) {
        throw RegistryError("Node " + PathOf(node) + " was not changed: its value could not be saved (" + e.what() + ")");
    }
}

void ValueStore::Commit(const Node& node, std::uint32_t pos, Elements value) {
    if (!m_sink || !m_sink->Listening(node)) {
        std::unique_lock lock(m_valueLock);
        Splice(m_values[node.id], pos, value);
        return;
    }
    auto shared = std::make_shared<const Elements>(std::move(value));
    std::unique_lock lock(m_valueLock);
    Splice(m_values[node.id], pos, *shared);
    if (m_sink) m_sink->OnChange(node, Change{node.id, pos, std::move(shared)});
}

bool ValueStore::Execute(const Node& node) {
    if (!node.function) throw RegistryError("Node " + PathOf(node) + " is not executable");
    for (const auto& set : node.function->sets) WriteInternal(m_tree.nodes[set.target], 0, set.value);
    return node.function->result;
}

Elements ValueStore::Current(const Node& node) const {
    std::shared_lock lock(m_valueLock);
    return m_values[node.id];
}

std::string ValueStore::Text(const Node& node, std::uint32_t maxLength) const {
    if (!node.HasValue() || !node.Has(flags::Readable)) return std::string();
    std::shared_lock lock(m_valueLock);
    return LimitedValueText(node, m_values[node.id], maxLength);
}

std::string ValueStore::Dump(const DumpRequest& request) const {
    std::shared_lock lock(m_valueLock);
    return RenderDump(m_tree, m_values, request);
}

std::vector<ValueStore::SubtreeNode> ValueStore::Subtree(const Node& start, std::int32_t level,
                                                          bool exposeHidden) const {
    std::vector<SubtreeNode> out;
    std::vector<std::pair<const Node*, std::uint32_t>> pending{{&start, 0}};
    std::shared_lock lock(m_valueLock);
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        const bool readable = node->HasValue() && node->Has(flags::Readable);
        out.push_back(SubtreeNode{node, depth, readable ? m_values[node->id] : Elements{}});
        if (level >= 0 && depth >= static_cast<std::uint32_t>(level)) continue;
        // Reversed onto the stack, so that children come out in tree order.
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
            const Node& child = m_tree.nodes[*it];
            if (exposeHidden || !child.Has(flags::Hidden)) pending.emplace_back(&child, depth + 1);
        }
    }
    return out;
}

void ValueStore::Restore(const std::vector<SavedValue>& saved) {
    std::unique_lock lock(m_valueLock);
    for (const auto& entry : saved) m_values[entry.id] = entry.value;
}

}  // namespace velnor::server
