#include "browse/model.h"

#include <algorithm>
#include <cctype>

#include "istd/enum_map.h"
#include "mci/mci.h"

namespace browse {

std::string TypeText(const NodeFacts& facts) {
    if (facts.flags & mci::eSignal) return "signal";
    if (facts.type == mci::enums::eNoValue) return (facts.flags & mci::eExecutable) ? "function" : std::string();
    std::string text;
    try {
        text = istd::EnumMap<mci::enums::NodeValType_e>::items.NameOf(
            static_cast<mci::enums::NodeValType_e>(facts.type));
    } catch (const std::exception&) {
        text = "type " + std::to_string(facts.type);
    }
    if (facts.flags & mci::eArray) text += "[" + std::to_string(facts.size) + "]";
    return text;
}

bool HasChildren(const NodeFacts& facts) { return facts.childCount > 0; }

bool IsValueNode(const NodeFacts& facts) {
    return facts.type != mci::enums::eNoValue && (facts.flags & mci::eReadable) != 0;
}

std::string ParentPath(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? std::string() : path.substr(0, dot);
}

std::string LastName(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? path : path.substr(dot + 1);
}

bool IsWithin(const std::string& path, const std::string& ancestor) {
    if (ancestor.empty()) return true;
    if (path.size() < ancestor.size() || path.compare(0, ancestor.size(), ancestor) != 0) return false;
    return path.size() == ancestor.size() || path[ancestor.size()] == '.';
}

// --- Tree -------------------------------------------------------------------

void Tree::Reset(const NodeFacts& start, const std::string& value, bool hasValue) {
    m_nodes.clear();
    m_startPath = start.path;
    TreeNode& node = Insert(start);
    node.hasValue = hasValue;
    node.value = value;
    Invalidate();
}

TreeNode* Tree::Find(const std::string& path) {
    auto it = m_nodes.find(path);
    return it == m_nodes.end() ? nullptr : &it->second;
}

const TreeNode* Tree::Find(const std::string& path) const {
    auto it = m_nodes.find(path);
    return it == m_nodes.end() ? nullptr : &it->second;
}

TreeNode& Tree::Insert(const NodeFacts& facts) {
    TreeNode& node = m_nodes[facts.path];
    node.facts = facts;
    ApplyDifference(node);
    return node;
}

void Tree::Erase(const std::string& path) {
    auto it = m_nodes.find(path);
    if (it == m_nodes.end()) return;
    const std::vector<std::string> children = std::move(it->second.children);
    m_nodes.erase(it);
    for (const auto& child : children) Erase(child);
}

void Tree::SetChildren(const std::string& path, const std::vector<ChildRow>& rows, SteadyTime issued) {
    TreeNode* parent = Find(path);
    if (!parent) return;
    std::vector<std::string> paths;
    paths.reserve(rows.size());
    for (const auto& row : rows) paths.push_back(row.facts.path);
    // Children that are gone take their levels with them.
    std::vector<std::string> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    for (const auto& old : parent->children)
        if (!std::binary_search(sorted.begin(), sorted.end(), old)) Erase(old);
    for (const auto& row : rows) {
        const bool known = m_nodes.count(row.facts.path) != 0;
        TreeNode& child = Insert(row.facts);
        if (!known || child.notified <= issued) {
            child.hasValue = row.hasValue;
            child.value = row.value;
            child.valueRead = issued;
        }
    }
    parent->children = std::move(paths);
    parent->load = Load_e::eLoaded;
    parent->loadError.clear();
    Invalidate();
}

void Tree::SetLoadFailed(const std::string& path, const std::string& error) {
    if (TreeNode* node = Find(path)) {
        node->load = Load_e::eFailed;
        node->loadError = error;
        Invalidate();
    }
}

void Tree::SetLoading(const std::string& path) {
    if (TreeNode* node = Find(path)) {
        node->load = Load_e::eLoading;
        Invalidate();
    }
}

bool Tree::SetValue(const std::string& path, const std::string& value, SteadyTime issued) {
    TreeNode* node = Find(path);
    if (!node || node->notified > issued) return false;
    node->hasValue = true;
    node->value = value;
    node->valueRead = issued;
    return true;
}

bool Tree::Notify(const std::string& path, const std::string& value, SteadyTime arrived) {
    TreeNode* node = Find(path);
    if (!node) return false;
    node->hasValue = true;
    node->value = value;
    node->notified = arrived;
    node->highlightUntil = arrived + c_highlightTime;
    return true;
}

void Tree::SetExpanded(const std::string& path, bool expanded) {
    if (TreeNode* node = Find(path)) {
        node->expanded = expanded;
        Invalidate();
    }
}

std::vector<std::string> Tree::ExpandedPaths() const {
    std::vector<std::string> paths;
    if (m_nodes.empty()) return paths;
    // Parents before children: a walk from the start node.
    std::vector<std::string> pending{m_startPath};
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        const TreeNode* node = Find(path);
        if (!node || !node->expanded) continue;
        paths.push_back(path);
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) pending.push_back(*it);
    }
    return paths;
}

void Tree::SetFilter(const std::string& filter) {
    m_filter = filter;
    Invalidate();
}

namespace {

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(),
                          [&](char a, char b) { return lower(static_cast<unsigned char>(a)) ==
                                                       lower(static_cast<unsigned char>(b)); });
    return it != text.end();
}

}  // namespace

void Tree::AddRows(const std::string& path, int depth) const {
    const TreeNode* node = Find(path);
    if (!node) return;
    m_rowOf[path] = static_cast<int>(m_rows.size());
    m_rows.push_back({node, depth});
    if (!node->expanded) return;
    for (const auto& child : node->children) AddRows(child, depth + 1);
}

bool Tree::AddFilteredRows(const std::string& path, int depth) const {
    const TreeNode* node = Find(path);
    if (!node) return false;
    const std::size_t at = m_rows.size();
    m_rows.push_back({node, depth});
    bool any = ContainsIgnoringCase(node->facts.name, m_filter);
    for (const auto& child : node->children) any = AddFilteredRows(child, depth + 1) || any;
    if (!any) {
        m_rows.resize(at);
        return false;
    }
    m_rowOf[path] = static_cast<int>(at);
    return true;
}

const std::vector<TreeRow>& Tree::Rows() const {
    if (m_rowsValid) return m_rows;
    m_rows.clear();
    m_rowOf.clear();
    if (!m_nodes.empty()) {
        if (m_filter.empty())
            AddRows(m_startPath, 0);
        else if (!AddFilteredRows(m_startPath, 0))
            m_rowOf.clear();
    }
    // Row indexes of a filtered walk are set after the rows below them.
    if (!m_filter.empty()) {
        m_rowOf.clear();
        for (std::size_t i = 0; i < m_rows.size(); ++i) m_rowOf[m_rows[i].node->facts.path] = static_cast<int>(i);
    }
    m_rowsValid = true;
    return m_rows;
}

int Tree::RowOf(const std::string& path) const {
    Rows();
    auto it = m_rowOf.find(path);
    return it == m_rowOf.end() ? -1 : it->second;
}

void Tree::SetDifferences(const std::vector<DiffEntry>& differences) {
    m_differences = differences;
    m_differenceOf.clear();
    m_differencesBelow.clear();
    for (const auto& d : differences) {
        m_differenceOf[d.path] = d.text;
        for (std::string p = d.path;; p = ParentPath(p)) {
            ++m_differencesBelow[p];
            if (p.empty()) break;
        }
    }
    for (auto& entry : m_nodes) ApplyDifference(entry.second);
    Invalidate();
}

bool Tree::HoldsDifference(const std::string& path) const {
    auto it = m_differencesBelow.find(path);
    return it != m_differencesBelow.end() && it->second > 0;
}

void Tree::ApplyDifference(TreeNode& node) const {
    auto it = m_differenceOf.find(node.facts.path);
    node.difference = it == m_differenceOf.end() ? std::string() : it->second;
}

// --- WatchList ----------------------------------------------------------------

bool WatchList::Contains(const std::string& path) const { return m_index.count(path) != 0; }

bool WatchList::Add(const std::string& path) {
    if (Contains(path)) return false;
    WatchEntry entry;
    entry.path = path;
    m_index[path] = m_entries.size();
    m_entries.push_back(std::move(entry));
    return true;
}

bool WatchList::Remove(const std::string& path) {
    auto it = m_index.find(path);
    if (it == m_index.end()) return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(it->second));
    Reindex();
    return true;
}

WatchEntry* WatchList::Find(const std::string& path) {
    auto it = m_index.find(path);
    return it == m_index.end() ? nullptr : &m_entries[it->second];
}

void WatchList::Reindex() {
    m_index.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i) m_index[m_entries[i].path] = i;
}

void WatchList::SetValue(const std::string& path, const std::string& value, SteadyTime issued) {
    WatchEntry* e = Find(path);
    if (!e || e->notified > issued) return;
    e->hasValue = true;
    e->value = value;
    e->valueRead = issued;
}

bool WatchList::Notify(const std::string& path, const std::string& value, SteadyTime arrived, WallTime wall) {
    WatchEntry* e = Find(path);
    if (!e) return false;
    e->hasValue = true;
    e->value = value;
    e->notified = arrived;
    e->lastChange = wall;
    e->changedSinceAdded = true;
    ++e->changes;
    e->highlightUntil = arrived + c_highlightTime;
    return true;
}

std::vector<std::string> WatchList::Paths() const {
    std::vector<std::string> paths;
    paths.reserve(m_entries.size());
    for (const auto& e : m_entries) paths.push_back(e.path);
    return paths;
}

}  // namespace browse
