#pragma once
// The registry side of a snapshot: the live nodes under the selected
// subtrees, read with one subtree call per subtree (not one per node).
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "mci/mci.h"

// The subtrees a save, diff or apply is limited to, as dotted paths ("" is
// the whole registry), each once.
std::vector<std::string> SubtreeLimits(const std::vector<std::string>& paths);
// The same from the subtree words of the command line: with --glob a word
// that holds a pattern stands for every node of the registry it matches
// (istd::Exception "Node not found: PATTERN" when there is none).
std::vector<std::string> SubtreeWords(const mci::Node& root, const std::vector<std::string>& words);
// True when `path` is one of the limits or lies below one.
bool IsUnder(const std::string& path, const std::vector<std::string>& limits);

// What a snapshot holds: a node with a value that may be written and read,
// and no function or signal.
bool IsSaved(const mci::SubtreeEntry& entry);

struct LiveTree {
    std::vector<mci::SubtreeEntry> nodes;  // walk order, each node once
    std::map<std::string, std::size_t> byPath;

    const mci::SubtreeEntry* Find(const std::string& path) const;
};

// The nodes under `limits` (every registry node for {""}). With
// `mustExist`, a limit that names no node fails (istd::Exception);
// otherwise its nodes are simply absent.
LiveTree ReadLiveTree(const mci::Node& root, const std::vector<std::string>& limits, bool mustExist);

// A node's path as access takes it: dotted, below the root.
std::string PathOf(const mci::Node& node);

struct SnapshotEntry;
// Why the live node cannot take the saved entry as it stands, or "" when
// it can (the value itself is not compared): "missing in registry", "not
// writable now", "type changed (saved T1, live T2)".
std::string LiveMismatch(const SnapshotEntry& saved, const mci::SubtreeEntry* live);

struct Snapshot;
// One difference diff reports: a node the registry cannot take as saved
// (`mismatch`), or a value that differs (`live` the node as it is now).
struct SnapshotDifference {
    const SnapshotEntry* saved = nullptr;
    const mci::SubtreeEntry* live = nullptr;
    std::string mismatch;
};
// The differences of the entries under `limits`, in the snapshot's order.
// They point into `snapshot` and `live`.
std::vector<SnapshotDifference> SnapshotDifferences(const Snapshot& snapshot, const LiveTree& live,
                                                    const std::vector<std::string>& limits);

// A snapshot of the nodes save writes below the subtree `limits` (from
// SubtreeLimits or SubtreeWords), with its header; a limit that names no
// node throws istd::Exception.
Snapshot SnapshotOf(const mci::Node& root, const std::vector<std::string>& limits);
