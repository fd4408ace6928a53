#pragma once
// The browser's state, without a terminal and without the registry: the
// loaded part of the tree, the rows it shows, the watch list. The UI
// thread alone reads and changes it; the worker's results reach it as
// messages (messages.h).
#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "browse/messages.h"

namespace browse {

// How long a changed value stays highlighted.
constexpr std::chrono::milliseconds c_highlightTime{1000};
// Values are kept (and read) cut to this many characters; no pane is wider.
constexpr std::uint32_t c_valueChars = 240;

enum class Load_e { eNotLoaded, eLoading, eLoaded, eFailed };

struct TreeNode {
    NodeFacts facts;
    std::vector<std::string> children;  // paths, in the registry's order
    Load_e load = Load_e::eNotLoaded;
    bool expanded = false;
    std::string loadError;
    bool hasValue = false;
    std::string value;                  // the registry's text, cut to c_valueChars
    SteadyTime valueRead{};             // when the value shown was read
    SteadyTime notified{};              // the last notification's arrival
    SteadyTime highlightUntil{};
    std::string difference;             // set by a loaded snapshot: how the node differs
};

// One line of the tree pane.
struct TreeRow {
    const TreeNode* node = nullptr;
    int depth = 0;
};

// The type as a level dump writes it: "double", "int32[4]", "function",
// "signal", or nothing for a plain node.
std::string TypeText(const NodeFacts& facts);
bool HasChildren(const NodeFacts& facts);
bool IsValueNode(const NodeFacts& facts);
// The parent of a dotted path ("" for a top-level node and for the root).
std::string ParentPath(const std::string& path);
// The last name of a dotted path.
std::string LastName(const std::string& path);
// True when `path` is `ancestor` or lies below it.
bool IsWithin(const std::string& path, const std::string& ancestor);

class Tree {
public:
    // Starts again from the start node (a new connection): the expanded
    // paths are kept, to be loaded again.
    void Reset(const NodeFacts& start, const std::string& value, bool hasValue);
    bool Empty() const { return m_nodes.empty(); }
    const std::string& StartPath() const { return m_startPath; }

    TreeNode* Find(const std::string& path);
    const TreeNode* Find(const std::string& path) const;

    // A level was read: the children replace the ones known, those still
    // there keep their own levels and state. Values older than a
    // notification already shown are not taken.
    void SetChildren(const std::string& path, const std::vector<ChildRow>& rows, SteadyTime issued);
    void SetLoadFailed(const std::string& path, const std::string& error);
    void SetLoading(const std::string& path);
    // A value read at `issued`: taken unless a later notification is shown.
    bool SetValue(const std::string& path, const std::string& value, SteadyTime issued);
    // A notified value, shown at once and highlighted.
    bool Notify(const std::string& path, const std::string& value, SteadyTime arrived);

    void SetExpanded(const std::string& path, bool expanded);
    // The paths of expanded nodes, parents before children.
    std::vector<std::string> ExpandedPaths() const;

    // The rows shown: the start node and the levels below expanded nodes;
    // with a filter, every loaded node whose name holds it (any case) and
    // the nodes above it.
    const std::vector<TreeRow>& Rows() const;
    void SetFilter(const std::string& filter);
    const std::string& Filter() const { return m_filter; }
    // Index of the row of `path`, or -1.
    int RowOf(const std::string& path) const;

    // Snapshot differences: marks the nodes (those loaded and those loaded
    // later) and gives the paths in tree order of the snapshot.
    void SetDifferences(const std::vector<DiffEntry>& differences);
    const std::vector<DiffEntry>& Differences() const { return m_differences; }
    // True when `path` or a node below it differs.
    bool HoldsDifference(const std::string& path) const;

    std::size_t NodeCount() const { return m_nodes.size(); }

private:
    TreeNode& Insert(const NodeFacts& facts);
    void Erase(const std::string& path);
    void Invalidate() { m_rowsValid = false; }
    void AddRows(const std::string& path, int depth) const;
    bool AddFilteredRows(const std::string& path, int depth) const;
    void ApplyDifference(TreeNode& node) const;

    std::string m_startPath;
    std::unordered_map<std::string, TreeNode> m_nodes;
    std::string m_filter;
    std::vector<DiffEntry> m_differences;
    std::unordered_map<std::string, std::string> m_differenceOf;
    std::unordered_map<std::string, int> m_differencesBelow;  // path -> count at or below it
    mutable std::vector<TreeRow> m_rows;
    mutable std::unordered_map<std::string, int> m_rowOf;
    mutable bool m_rowsValid = false;
};

struct WatchEntry {
    std::string path;
    bool hasValue = false;
    std::string value;
    WallTime lastChange{};
    bool changedSinceAdded = false;
    std::uint64_t changes = 0;
    SteadyTime valueRead{};
    SteadyTime notified{};
    SteadyTime highlightUntil{};
};

class WatchList {
public:
    bool Contains(const std::string& path) const;
    // Adds the path (at the end) unless it is there; true when added.
    bool Add(const std::string& path);
    bool Remove(const std::string& path);
    void SetValue(const std::string& path, const std::string& value, SteadyTime issued);
    bool Notify(const std::string& path, const std::string& value, SteadyTime arrived, WallTime wall);
    const std::vector<WatchEntry>& Entries() const { return m_entries; }
    std::vector<std::string> Paths() const;

private:
    WatchEntry* Find(const std::string& path);
    void Reindex();
    std::vector<WatchEntry> m_entries;
    std::unordered_map<std::string, std::size_t> m_index;  // path -> entry
};

}  // namespace browse
