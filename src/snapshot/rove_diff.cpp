// diff: a snapshot against the live registry, one line per difference.
#include <iostream>

#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_params.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_tree.h"
#include "snapshot/rove_snapshot_command.h"

namespace {

// A node the snapshot holds that the registry cannot take as saved; with
// --json the kind is the same text, in a record of its own.
void PrintMismatch(const std::string& path, const std::string& mismatch) {
    if (!g_params.json) {
        std::cout << path << ": " << mismatch << "\n";
        return;
    }
    rove_json::Json record;
    record["path"] = path;
    record["difference"] = mismatch;
    rove_json::Write(record);
}

void PrintChange(const std::string& path, const istd::Any& saved, const istd::Any& live) {
    if (!g_params.json) {
        std::cout << path << ": " << ValueText(saved) << " -> " << ValueText(live) << "\n";
        return;
    }
    rove_json::Json record;
    record["path"] = path;
    record["difference"] = "value";
    rove_json::SetValue(record, "saved", saved);
    rove_json::SetValue(record, "live", live);
    rove_json::Write(record);
}

}  // namespace

int DiffSnapshot(const mci::Node& root) {
    SnapshotRun run;
    if (const int status = run.Load("diff", root, c_statusBadSnapshot)) return status;
    const LiveTree live = ReadLiveTree(root, run.limits, false);
    bool differs = false;
    for (const auto& entry : run.snapshot.entries) {
        if (!IsUnder(entry.path, run.limits)) continue;
        const mci::SubtreeEntry* node = live.Find(entry.path);
        const std::string mismatch = LiveMismatch(entry, node);
        if (!mismatch.empty()) {
            PrintMismatch(entry.path, mismatch);
            differs = true;
        } else if (!SameValue(entry.value, node->value)) {
            PrintChange(entry.path, entry.value, node->value);
            differs = true;
        }
    }
    std::cout.flush();
    return differs ? 1 : 0;
}
