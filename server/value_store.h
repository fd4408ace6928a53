#pragma once
// The live values of the tree and every operation on them: reads, checked
// writes, functions, texts and dumps. Writes to persistent nodes are saved
// before they return; every accepted write is reported to the change sink.
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "dump.h"
#include "errors.h"
#include "state_file.h"
#include "tree.h"

namespace velnor::server {

struct Change {
    NodeId id = 0;
    std::uint32_t first = 0;  // index of the first written element
    std::shared_ptr<const Elements> values;
};

// Told about every accepted write, in the order the writes were applied. It
// is called with the value lock held and must not block.
class ChangeSink {
public:
    virtual ~ChangeSink() = default;
    virtual void OnChange(const Node& node, const Change& change) = 0;
    // False when no change of the node can reach anyone now: the store
    // then makes no shared copy of the value for OnChange.
    virtual bool Listening(const Node& /*node*/) const { return true; }
};

class ValueStore {
public:
    explicit ValueStore(Tree tree);

    const Tree& GetTree() const { return m_tree; }
    // Both are set before serving starts and stay for the store's life.
    void SetChangeSink(ChangeSink* sink) { m_sink = sink; }
    void SetStateFile(std::unique_ptr<StateFile> state) { m_state = std::move(state); }

    // The node `id` of `root`; NotFoundError when there is none, or when it
    // is hidden (or below a hidden node) and hidden nodes are not exposed.
    const Node& Visible(Root root, NodeId id, bool exposeHidden) const;
    const Node& Visible(Root root, const std::vector<std::string>& relPath, bool exposeHidden) const;

    Elements Get(const Node& node, std::uint32_t pos, std::uint32_t count) const;
    // A client's write: flags, bounds, type, domain and range are checked for
    // every element before anything changes.
    void Set(const Node& node, std::uint32_t pos, const Elements& written);
    // The checks of Set without the write: throws RegistryError as Set would.
    void CheckSet(const Node& node, std::uint32_t pos, const Elements& written) const;
    // Applies the function's sets and gives its result.
    bool Execute(const Node& node);
    // The server's own write (functions, generators): `value` has the node's
    // type and fits; flags are not checked.
    void WriteInternal(const Node& node, std::uint32_t pos, Elements value);

    Elements Current(const Node& node) const;
    std::string Text(const Node& node, std::uint32_t maxLength) const;
    std::string Dump(const DumpRequest& request) const;
    // The nodes of the subtree at `start` visible under `exposeHidden`, down
    // to `level` levels below it (-1: all), depth-first with children in tree
    // order, each with its depth below `start` and its whole value (empty for
    // nodes that have none or are not readable), all read under one lock.
    struct SubtreeNode {
        const Node* node;
        std::uint32_t depth;
        Elements value;
    };
    std::vector<SubtreeNode> Subtree(const Node& start, std::int32_t level, bool exposeHidden) const;

    // Puts saved values in place at start (no notifications, no saving).
    void Restore(const std::vector<SavedValue>& saved);

private:
    void CheckRange(const Node& node, std::uint64_t pos, std::uint64_t count) const;
    Elements Converted(const Node& node, const Elements& written) const;
    void CheckValues(const Node& node, const Elements& value) const;
    // Set's checks; gives the value converted to the node's type.
    Elements Checked(const Node& node, std::uint32_t pos, const Elements& written) const;
    void Commit(const Node& node, std::uint32_t pos, Elements value);
    void SaveWith(const Node& node, std::uint32_t pos, const Elements& value);
    std::string PathOf(const Node& node) const { return m_tree.DottedPath(node); }

    const Tree m_tree;
    ChangeSink* m_sink = nullptr;
    std::unique_ptr<StateFile> m_state;
    // Guards m_values. Taken after m_persistLock when both are needed.
    mutable std::shared_mutex m_valueLock;
    std::vector<Elements> m_values;  // indexed by NodeId
    // Serialises writes to persistent nodes from the snapshot to the apply,
    // so that the state file always holds the latest acknowledged values.
    std::mutex m_persistLock;
};

}  // namespace velnor::server
