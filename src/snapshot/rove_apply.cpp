// apply: sets the registry to a snapshot. Every entry is checked against
// the live tree first and nothing is written unless all pass; then only the
// differing nodes are written, in file order, each read back.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <type_traits>
#include <variant>

#include "rove_handlers.h"
#include "rove_params.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_command.h"
#include "snapshot/rove_snapshot_tree.h"
#include "velnor-rove-signal-handler.h"

namespace {

struct Planned {
    const SnapshotEntry* saved;
    const mci::SubtreeEntry* live;
};

std::string RootText(mci::Root root) {
    std::ostringstream text;
    text << root;
    return text.str();
}

// A snapshot of another instrument or registry is applied only on request.
bool CheckOrigin(const SnapshotRun& run, const mci::Node& root) {
    const SnapshotHeader& h = run.snapshot.header;
    std::vector<std::string> mismatches;
    if (h.host != root.GetName())
        mismatches.push_back(run.file + ":" + std::to_string(h.hostLine) + ": snapshot of host " + QuotedText(h.host) +
                             ", the registry is host " + QuotedText(root.GetName()));
    if (h.root != RootText(g_params.root))
        mismatches.push_back(run.file + ":" + std::to_string(h.rootLine) + ": snapshot of the " + h.root +
                             " registry, this is the " + RootText(g_params.root) + " registry");
    for (const auto& m : mismatches)
        std::cerr << (g_params.force ? "Warning: " : "Error: ") << m << (g_params.force ? " (--force)" : "") << "\n";
    if (!mismatches.empty() && !g_params.force) {
        std::cerr << "Nothing was written; use --force to apply the snapshot anyway." << std::endl;
        return false;
    }
    std::cerr.flush();
    return true;
}

// Every entry against the live tree and the registry's own rules for the
// value (exact conversion, domain, bounds), in one call; false after
// listing every failing entry.
bool CheckAll(const SnapshotRun& run, const LiveTree& live, std::vector<Planned>& plan) {
    std::vector<std::pair<int, std::string>> failures;  // line, text
    std::vector<mci::Node> nodes;
    std::vector<istd::Any> values;
    std::size_t checked = 0;
    for (const auto& entry : run.snapshot.entries) {
        if (!IsUnder(entry.path, run.limits)) continue;
        ++checked;
        const mci::SubtreeEntry* node = live.Find(entry.path);
        const std::string mismatch = LiveMismatch(entry, node);
        if (!mismatch.empty()) {
            failures.emplace_back(entry.line, entry.path + " (line " + std::to_string(entry.line) + "): " + mismatch);
            continue;
        }
        plan.push_back({&entry, node});
        nodes.push_back(node->node);
        values.push_back(entry.value);
    }
    const std::vector<std::string> reasons = mci::CheckValues(nodes, values);
    for (std::size_t i = 0; i < reasons.size(); ++i)
        if (!reasons[i].empty())
            failures.emplace_back(plan[i].saved->line, plan[i].saved->path + " (line " +
                                                           std::to_string(plan[i].saved->line) + "): " + reasons[i]);
    if (failures.empty()) return true;
    // In file order, whichever check found them.
    std::stable_sort(failures.begin(), failures.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::cout.flush();
    std::cerr << "Error: " << failures.size() << " of " << checked
              << " entries fail the check; nothing was written:" << "\n";
    for (const auto& f : failures) std::cerr << "  " << f.second << "\n";
    std::cerr.flush();
    return false;
}

void SetWhole(const mci::Node& node, const istd::Any& value) {
    std::visit(
        [&](const auto& elements) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(elements)>, std::monostate>) node.Set(elements, 0);
        },
        value.Elements());
}

istd::Any GetWhole(const mci::Node& node, const istd::Any& like) {
    return std::visit(
        [&](const auto& elements) -> istd::Any {
            using V = std::decay_t<decltype(elements)>;
            if constexpr (std::is_same_v<V, std::monostate>) {
                return istd::Any();
            } else {
                V read;
                node.Get(read, 0, node.GetSize());
                return istd::Any(std::move(read), like.IsArray());
            }
        },
        like.Elements());
}

// Writes one node and reads it back; the reason it failed, or "".
std::string WriteConfirmed(const Planned& p) {
    try {
        SetWhole(p.live->node, p.saved->value);
        const istd::Any back = GetWhole(p.live->node, p.saved->value);
        if (!SameValue(back, p.saved->value)) return "read back " + ValueText(back) + " after the write";
    } catch (const istd::Exception& e) {
        return e.what();
    }
    return std::string();
}

std::string Change(const Planned& p) {
    return p.saved->path + ": " + ValueText(p.live->value) + " -> " + ValueText(p.saved->value);
}

// Tells the operator the exact state after a failed write (`reason` set)
// or an interrupt before the write of writes[stop].
void ReportStop(const std::vector<Planned>& writes, std::size_t stop, const std::string& reason) {
    std::cout.flush();
    std::cerr << "Error: apply " << (reason.empty() ? "interrupted" : "stopped") << "; " << stop << " of "
              << writes.size() << " nodes were written:\n";
    for (std::size_t i = 0; i < stop; ++i) std::cerr << "  written: " << writes[i].saved->path << "\n";
    if (!reason.empty()) std::cerr << "  failed: " << writes[stop].saved->path << ": " << reason << "\n";
    for (std::size_t i = stop + (reason.empty() ? 0 : 1); i < writes.size(); ++i)
        std::cerr << "  not reached: " << writes[i].saved->path << "\n";
    std::cerr.flush();
}

}  // namespace

int ApplySnapshot(const mci::Node& root) {
    SnapshotRun run;
    if (!run.Load("apply")) return c_statusBadSnapshot;
    if (!CheckOrigin(run, root)) return 1;
    const LiveTree live = ReadLiveTree(root, run.limits, false);
    std::vector<Planned> plan;
    if (!CheckAll(run, live, plan)) return 1;

    std::vector<Planned> writes;
    for (const auto& p : plan)
        if (!SameValue(p.saved->value, p.live->value)) writes.push_back(p);

    if (g_params.dryRun) {
        for (const auto& p : writes) std::cout << "would set " << Change(p) << "\n";
        std::cout << writes.size() << " of " << plan.size() << " nodes would be written (dry run: nothing written)"
                  << std::endl;
        return 0;
    }
    StartSignalThread();  // a signal stops the run between two writes
    for (std::size_t i = 0; i < writes.size(); ++i) {
        // Ctrl-C (or another caught signal) stops between two writes, so the
        // report can say exactly which nodes hold the snapshot's values.
        if (sigHandler.Signal() != 0) {
            ReportStop(writes, i, std::string());
            return 1;
        }
        const std::string failure = WriteConfirmed(writes[i]);
        if (!failure.empty()) {
            ReportStop(writes, i, failure);
            return 1;
        }
        // Flushed: an operator watching a long run sees each node as it is set.
        std::cout << "set " << Change(writes[i]) << std::endl;
    }
    std::cout << writes.size() << " of " << plan.size() << " nodes written" << std::endl;
    return 0;
}
