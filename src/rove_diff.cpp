// diff: a snapshot against the live registry, one line per difference.
#include <iostream>

#include "rove_handlers.h"
#include "rove_params.h"
#include "rove_snapshot.h"
#include "rove_snapshot_tree.h"
#include "rove_snapshot_command.h"

int DiffSnapshot(const mci::Node& root) {
    SnapshotRun run;
    if (!run.Load("diff")) return c_statusBadSnapshot;
    const LiveTree live = ReadLiveTree(root, run.limits, false);
    bool differs = false;
    for (const auto& entry : run.snapshot.entries) {
        if (!IsUnder(entry.path, run.limits)) continue;
        const mci::SubtreeEntry* node = live.Find(entry.path);
        const std::string mismatch = LiveMismatch(entry, node);
        if (!mismatch.empty()) {
            std::cout << entry.path << ": " << mismatch << "\n";
            differs = true;
        } else if (!SameValue(entry.value, node->value)) {
            std::cout << entry.path << ": " << ValueText(entry.value) << " -> " << ValueText(node->value) << "\n";
            differs = true;
        }
    }
    std::cout.flush();
    return differs ? 1 : 0;
}
