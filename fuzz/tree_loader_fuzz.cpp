// Feeds arbitrary texts to the tree loader. A text is refused with a
// LoadError or becomes a tree whose parts hold together: parents and
// children agree, values have their node's size and type and lie in its
// bounds, and the dump and the state file of the loaded values work.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "dump.h"
#include "loader.h"
#include "scalar_text.h"
#include "yaml_limits.h"
#include "state_file.h"

namespace {

using namespace velnor::server;

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckNode(const Tree& tree, const Node& node) {
    Check(node.parent < tree.nodes.size());
    const bool root = node.id == tree.applicationRoot || node.id == tree.platformRoot;
    Check(root == (node.parent == node.id));
    for (NodeId child : node.children) {
        Check(child < tree.nodes.size() && child > node.id);
        Check(tree.nodes[child].parent == node.id && tree.nodes[child].root == node.root);
    }
    if (!root) Check(IsValidNodeName(node.name));
    if (!node.HasValue()) {
        Check(ElementCount(node.initial) == 0);
        return;
    }
    Check(node.initial.index() == StorageIndex(node.type));
    Check(ElementCount(node.initial) == node.size);
    Check(node.IsArray() || node.size == 1);
    for (std::size_t i = 0; i < node.size; ++i)
        if (auto v = NumericElement(node.initial, i)) Check(InRange(*v, node.min, node.max));
    Check(tree.Resolve(tree.RootOf(node.root), tree.RelPath(node)) == node.id);
}

// The loaded values saved and read back are the same values.
void CheckStateRoundTrip(const Tree& tree) {
    std::vector<SavedValue> saved;
    for (const Node& node : tree.nodes)
        if (node.id != 0 && node.Has(flags::Persistent)) saved.push_back({node.id, node.initial});
    std::ostringstream warnings;
    const std::vector<SavedValue> back = StateFile::Parse(StateFile::Render(tree, saved), "s", tree, warnings);
    Check(back.size() == saved.size() && warnings.str().empty());
    for (std::size_t i = 0; i < back.size(); ++i) {
        Check(back[i].id == saved[i].id);
        Check(ValueText(back[i].value, true, 0) == ValueText(saved[i].value, true, 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Smaller than the server's node limit, so that one input stays quick.
    TreeLimits limits;
    limits.nodes = 20000;
    limits.aliasYamlNodes = 20000;
    limits.heldYamlNodes = 20000;
    Tree tree;
    try {
        tree = LoadTreeText(text, "fuzz.yaml", "fallback", limits);
    } catch (const LoadError& e) {
        Check(e.Line() >= 0 && !e.Message().empty());
        return 0;
    }
    Check(tree.nodes.size() >= 3 && tree.applicationRoot != 0 && tree.platformRoot != 0);
    for (std::size_t id = 1; id < tree.nodes.size(); ++id) {
        Check(tree.nodes[id].id == id);
        CheckNode(tree, tree.nodes[id]);
    }
    std::vector<Elements> values;
    for (const Node& node : tree.nodes) values.push_back(node.initial);
    DumpRequest request;
    request.start = tree.applicationRoot;
    request.flags = velnor::wire::c_dumpFullPath | velnor::wire::c_dumpShowFlags;
    request.exposeHidden = true;
    Check(!RenderDump(tree, values, request).empty());
    CheckStateRoundTrip(tree);
    return 0;
}
