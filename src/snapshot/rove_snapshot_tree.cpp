#include "snapshot/rove_snapshot_tree.h"

#include <algorithm>

#include "rove_glob.h"
#include "rove_params.h"

std::vector<std::string> SubtreeLimits(const std::vector<std::string>& paths) {
    std::vector<std::string> limits;
    for (const auto& p : paths) {
        const std::string limit = mci::ToString(mci::Tokenize(p));
        if (std::find(limits.begin(), limits.end(), limit) == limits.end()) limits.push_back(limit);
    }
    if (limits.empty()) limits.emplace_back();
    return limits;
}

std::vector<std::string> SubtreeWords(const mci::Node& root, const std::vector<std::string>& words) {
    std::vector<std::string> paths;
    for (const auto& word : words) {
        if (!g_params.glob || !IsPattern(word)) {
            paths.push_back(word);
            continue;
        }
        for (const auto& match : ExpandPattern(root, word)) paths.push_back(mci::ToString(match));
    }
    return SubtreeLimits(paths);
}

bool IsUnder(const std::string& path, const std::vector<std::string>& limits) {
    for (const auto& limit : limits) {
        if (limit.empty() || path == limit) return true;
        if (path.size() > limit.size() && path.compare(0, limit.size(), limit) == 0 && path[limit.size()] == '.')
            return true;
    }
    return false;
}

bool IsSaved(const mci::SubtreeEntry& entry) {
    const std::uint32_t flags = entry.node.GetFlags();
    return entry.node.GetValueType() != mci::enums::eNoValue && !entry.value.IsEmpty() &&
           (flags & mci::eWritable) && !(flags & (mci::eConstant | mci::eExecutable | mci::eSignal));
}

const mci::SubtreeEntry* LiveTree::Find(const std::string& path) const {
    auto it = byPath.find(path);
    return it == byPath.end() ? nullptr : &nodes[it->second];
}

std::string PathOf(const mci::Node& node) { return mci::ToString(node.GetRelPath()); }

namespace {

void Add(LiveTree& tree, std::vector<mci::SubtreeEntry> entries, const std::vector<std::string>& limits) {
    for (auto& entry : entries) {
        std::string path = PathOf(entry.node);
        if (!IsUnder(path, limits) || tree.byPath.count(path)) continue;
        tree.byPath.emplace(std::move(path), tree.nodes.size());
        tree.nodes.push_back(std::move(entry));
    }
}

}  // namespace

LiveTree ReadLiveTree(const mci::Node& root, const std::vector<std::string>& limits, bool mustExist) {
    LiveTree tree;
    for (const auto& limit : limits) {
        mci::Node start;
        try {
            start = root.GetNode(mci::Tokenize(limit));
        } catch (const istd::Exception&) {
            if (mustExist) throw;
            // The limit names no node (or the registry stopped answering,
            // which the walk from the root then reports): its nodes are
            // whatever of them the whole registry holds.
            Add(tree, mci::ReadSubtree(root), {limit});
            continue;
        }
        Add(tree, mci::ReadSubtree(start), limits);
    }
    return tree;
}

#include "snapshot/rove_snapshot.h"

std::string LiveMismatch(const SnapshotEntry& saved, const mci::SubtreeEntry* live) {
    if (!live) return "missing in registry";
    if (!IsSaved(*live)) return "not writable now";
    const mci::Node& node = live->node;
    const std::size_t savedSize = saved.value.Size();
    if (node.GetValueType() != saved.type || node.IsArray() != saved.value.IsArray() ||
        (node.IsArray() && node.GetSize() != savedSize))
        return "type changed (saved " + TypeText(saved.type, saved.value.IsArray(), savedSize) + ", live " +
               TypeText(node.GetValueType(), node.IsArray(), node.GetSize()) + ")";
    return std::string();
}
