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

std::vector<SnapshotDifference> SnapshotDifferences(const Snapshot& snapshot, const LiveTree& live,
                                                    const std::vector<std::string>& limits) {
    std::vector<SnapshotDifference> differences;
    for (const auto& entry : snapshot.entries) {
        if (!IsUnder(entry.path, limits)) continue;
        const mci::SubtreeEntry* node = live.Find(entry.path);
        std::string mismatch = LiveMismatch(entry, node);
        if (!mismatch.empty())
            differences.push_back({&entry, nullptr, std::move(mismatch)});
        else if (!SameValue(entry.value, node->value))
            differences.push_back({&entry, node, std::string()});
    }
    return differences;
}

int DiffSnapshot(const mci::Node& root) {
    SnapshotRun run;
    if (const int status = run.Load("diff", root, c_statusBadSnapshot)) return status;
    const LiveTree live = ReadLiveTree(root, run.limits, false);
    const std::vector<SnapshotDifference> differences = SnapshotDifferences(run.snapshot, live, run.limits);
    for (const auto& d : differences) {
        if (d.live)
            PrintChange(d.saved->path, d.saved->value, d.live->value);
        else
            PrintMismatch(d.saved->path, d.mismatch);
    }
    std::cout.flush();
    return differences.empty() ? 0 : 1;
}
