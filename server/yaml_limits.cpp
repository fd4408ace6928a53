#include "yaml_limits.h"

#include <yaml-cpp/anchor.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/mark.h>
#include <yaml-cpp/parser.h>

#include <algorithm>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "loader.h"

namespace velnor::server {

namespace {

// Counts the nodes and depth of a document as the events of its parse
// come, aliases expanded: yaml-cpp builds an anchored node once and shares
// it between its aliases, but every walk over the graph visits it once per
// alias, so a kilobyte of nested aliases walks like billions of nodes.
class LimitGuard : public YAML::EventHandler {
public:
    LimitGuard(const std::string& file, std::uint64_t maxNodes, int maxDepth)
        : m_file(file), m_maxNodes(maxNodes), m_maxDepth(maxDepth) {}

    void OnDocumentStart(const YAML::Mark&) override {}
    void OnDocumentEnd() override {}
    void OnNull(const YAML::Mark& mark, YAML::anchor_t anchor) override { Leaf(mark, anchor); }
    void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor, const std::string&) override {
        Leaf(mark, anchor);
    }
    void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                         YAML::EmitterStyle::value) override {
        Open(mark, anchor);
    }
    void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t anchor,
                    YAML::EmitterStyle::value) override {
        Open(mark, anchor);
    }
    void OnSequenceEnd() override { Close(); }
    void OnMapEnd() override { Close(); }

    void OnAlias(const YAML::Mark& mark, YAML::anchor_t anchor) override {
        const auto named = m_anchors.find(anchor);
        // yaml-cpp knows an anchor from its node's start on: an alias inside
        // the node it names would make the graph a cycle.
        if (named == m_anchors.end()) Fail(mark, "an alias stands inside the node it repeats");
        Count(mark, named->second.nodes);
        Reach(mark, named->second.height);
    }

private:
    // What an anchored node brings wherever an alias repeats it.
    struct Extent {
        std::uint64_t nodes = 0;
        int height = 0;  // 0 for a scalar, 1 + the highest child for maps and lists
    };
    struct Frame {
        YAML::anchor_t anchor;
        std::uint64_t firstNode;
        int childHeight;
    };

    [[noreturn]] void Fail(const YAML::Mark& mark, const std::string& message) const {
        throw LoadError(m_file, mark.line >= 0 ? mark.line + 1 : 0, message);
    }

    void Count(const YAML::Mark& mark, std::uint64_t nodes) {
        if (nodes > m_maxNodes - m_nodes)
            Fail(mark, "the tree has more than " + std::to_string(m_maxNodes) + " nodes (aliases counted as often as they repeat)");
        m_nodes += nodes;
    }

    // A node of `height` placed at the current level.
    void Reach(const YAML::Mark& mark, int height) {
        if (static_cast<std::int64_t>(m_open.size()) + height > m_maxDepth)
            Fail(mark, "nesting deeper than " + std::to_string(m_maxDepth) + " levels");
        if (!m_open.empty()) m_open.back().childHeight = std::max(m_open.back().childHeight, height);
    }

    void Leaf(const YAML::Mark& mark, YAML::anchor_t anchor) {
        Count(mark, 1);
        Reach(mark, 0);
        if (anchor != YAML::NullAnchor) m_anchors[anchor] = Extent{1, 0};
    }

    void Open(const YAML::Mark& mark, YAML::anchor_t anchor) {
        Count(mark, 1);
        Reach(mark, 1);
        m_open.push_back(Frame{anchor, m_nodes - 1, 0});
        // A redefined anchor name gets a new number; the old one stays valid
        // for the aliases before, so nothing is erased here.
    }

    void Close() {
        const Frame frame = m_open.back();
        m_open.pop_back();
        const int height = frame.childHeight + 1;
        if (!m_open.empty()) m_open.back().childHeight = std::max(m_open.back().childHeight, height);
        if (frame.anchor != YAML::NullAnchor) m_anchors[frame.anchor] = Extent{m_nodes - frame.firstNode, height};
    }

    const std::string& m_file;
    const std::uint64_t m_maxNodes;
    const int m_maxDepth;
    std::uint64_t m_nodes = 0;
    std::vector<Frame> m_open;
    std::unordered_map<YAML::anchor_t, Extent> m_anchors;
};

}  // namespace

void CheckYamlLimits(const std::string& text, const std::string& fileName, std::uint64_t maxNodes, int maxDepth) {
    std::istringstream in(text);
    LimitGuard guard(fileName, maxNodes, maxDepth);
    try {
        YAML::Parser parser(in);
        parser.HandleNextDocument(guard);
    } catch (const YAML::ParserException& e) {
        throw LoadError(fileName, e.mark.line + 1, e.msg);
    }
}

}  // namespace velnor::server
