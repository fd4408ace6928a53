// save: a snapshot of every writable, non-function node under the selected
// subtrees, read with one subtree call per subtree.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "istd/verinfo.h"
#include "rove_handlers.h"
#include "rove_params.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_tree.h"

namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string RootText(mci::Root root) {
    std::ostringstream text;
    text << root;
    return text.str();
}

// The registry's version node, when it has one with a readable value.
std::optional<std::string> RegistryVersion(const mci::Node& root, const LiveTree& tree) {
    if (const mci::SubtreeEntry* walked = tree.Find("version")) {
        if (const auto* text = walked->value.As<std::string>(); text && text->size() == 1) return text->front();
    }
    try {
        const mci::Node node = root.GetNode(mci::Path{"version"});
        std::string value;
        if (node.IsReadable() && node.GetValueType() == mci::enums::eString && node.GetValue(value)) return value;
    } catch (const istd::Exception&) {
        // No version node: the header goes without it.
    }
    return std::nullopt;
}

bool WriteOut(const std::string& text) {
    if (g_params.outputFile.empty() || g_params.outputFile == "-") {
        std::cout << text;
        std::cout.flush();
        return true;
    }
    std::ofstream out(g_params.outputFile, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    if (out) out.close();
    if (!out) {
        std::cerr << "Error: cannot write the snapshot to " << g_params.outputFile << " (" << std::strerror(errno)
                  << ")" << std::endl;
        return false;
    }
    return true;
}

}  // namespace

Snapshot SnapshotOf(const mci::Node& root, const std::vector<std::string>& limits) {
    const LiveTree tree = ReadLiveTree(root, limits, true);
    Snapshot snapshot;
    SnapshotHeader& h = snapshot.header;
    h.host = root.GetName();
    h.port = g_params.port != 0 ? g_params.port : mci::DefaultPort();
    h.root = RootText(g_params.root);
    h.version = RegistryVersion(root, tree);
    h.time = UtcNow();
    h.tool = "velnor-rove " + istd::VerInfo::VersionText();
    for (const auto& live : tree.nodes) {
        if (!IsSaved(live) || live.node.IsRoot()) continue;
        SnapshotEntry entry;
        entry.path = PathOf(live.node);
        entry.type = live.node.GetValueType();
        entry.value = live.value;
        snapshot.entries.push_back(std::move(entry));
    }
    return snapshot;
}

int SaveSnapshot(const mci::Node& root) {
    if (g_params.json) {
        std::cerr << "Error: save writes a YAML snapshot; --json does not apply to it" << std::endl;
        return 1;
    }
    return WriteOut(SnapshotText(SnapshotOf(root, SubtreeWords(root, g_params.paths)))) ? 0 : 1;
}
