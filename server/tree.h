#pragma once
// The node tree of both registries. Everything but the values is fixed once
// the tree file is loaded; the values live in ValueStore under its lock.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "value.h"

namespace velnor::server {

using NodeId = std::uint32_t;

// Flag bits, as the protocol defines them.
namespace flags {
constexpr std::uint32_t Readable = 0x01;
constexpr std::uint32_t Writable = 0x02;
constexpr std::uint32_t Constant = 0x04;
constexpr std::uint32_t Executable = 0x08;
constexpr std::uint32_t Array = 0x10;
constexpr std::uint32_t Persistent = 0x20;
constexpr std::uint32_t Hidden = 0x40;
constexpr std::uint32_t Signal = 0x80;
}  // namespace flags

// Flag names in display order, for the tree file and the dump.
struct FlagName {
    std::uint32_t bit;
    const char* name;
};
const std::vector<FlagName>& FlagNames();
std::string FlagsText(std::uint32_t flagBits, const char* separator);

enum class Root : int { Platform = 0, Application = 1 };

struct FunctionSet {
    NodeId target = 0;
    Elements value;  // already of the target's type and size
};

struct FunctionInfo {
    bool result = true;
    std::vector<FunctionSet> sets;
};

enum class Generator { Counter, Ramp, RandomWalk, Toggle };

struct UpdateInfo {
    double period = 1.0;  // seconds
    Generator generator = Generator::Counter;
};

// What a signal node serves; kept so that data serving can build on it.
struct SignalInfo {
    enum class Access { Stream, Dod };
    Access access = Access::Stream;
    std::string atom;
    std::vector<std::string> components;
    std::string generator = "sine";
    double rate = 0;                 // atoms per second, 0: as fast as read
    std::uint32_t block = 0;         // atoms per block (stream)
    std::uint64_t history = 0;       // atoms kept (dod)
    double trigger = 0;              // seconds between trigger events (dod)
    std::uint64_t lmtStep = 1;       // LMT ticks per atom
};

struct Node {
    NodeId id = 0;
    NodeId parent = 0;  // equals id for a root
    Root root = Root::Application;
    std::string name;
    std::uint32_t flags = 0;
    ValueType type = ValueType::None;
    std::uint32_t size = 0;  // element count; fixed for the node's life
    bool hiddenPath = false;  // the node or one of its ancestors is hidden
    std::vector<NodeId> children;
    std::optional<std::vector<std::string>> domain;
    std::optional<std::string> validator;
    std::optional<long double> min;
    std::optional<long double> max;
    std::optional<FunctionInfo> function;
    std::optional<UpdateInfo> update;
    std::optional<SignalInfo> signal;
    Elements initial;  // the value as loaded (ValueStore owns the live one)
    int line = 0;      // where the node is defined in the tree file

    bool HasValue() const { return type != ValueType::None; }
    bool Has(std::uint32_t bit) const { return (flags & bit) != 0; }
    bool IsArray() const { return Has(flags::Array); }
};

class Tree {
public:
    std::string host;
    std::string file;
    // Index = NodeId; entry 0 is unused so that 0 never names a node. A
    // deque: it grows without moving the nodes it holds (a vector would
    // hold twice the tree while it grows).
    std::deque<Node> nodes;
    NodeId applicationRoot = 0;
    NodeId platformRoot = 0;

    NodeId RootOf(Root root) const { return root == Root::Application ? applicationRoot : platformRoot; }
    const Node* Find(NodeId id) const { return id != 0 && id < nodes.size() ? &nodes[id] : nullptr; }
    // The child of `parent` named `name`, or 0.
    NodeId Child(NodeId parent, const std::string& name) const;
    // Follows `names` from `start`; 0 when a name is missing.
    NodeId Resolve(NodeId start, const std::vector<std::string>& names) const;
    // The names from below the registry root down to the node ({} for a
    // root). Computed, not kept: a copy per node would grow with the depth.
    std::vector<std::string> RelPath(const Node& node) const;
    // "boards.gain"; the host name for a root.
    std::string DottedPath(const Node& node) const;
};

}  // namespace velnor::server
