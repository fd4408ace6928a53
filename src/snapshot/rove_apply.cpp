// apply: sets the registry to a snapshot. Every entry is checked against
// the live tree first and nothing is written unless all pass; then only the
// differing nodes are written, in file order, each read back.
#include <algorithm>
#include <iostream>
#include <optional>
#include <sstream>
#include <type_traits>
#include <variant>

#include "istd/yaml_text.h"
#include "rove_handlers.h"
#include "rove_json.h"
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
        mismatches.push_back(run.file + ":" + std::to_string(h.hostLine) + ": snapshot of host " + istd::YamlText(h.host) +
                             ", the registry is host " + istd::YamlText(root.GetName()));
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

// An entry that fails the check.
struct Failure {
    int line;
    std::string path;
    std::string reason;
};

void ReportFailures(std::vector<Failure>& failures, std::size_t checked) {
    // In file order, whichever check found them.
    std::stable_sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
    if (g_params.json) {
        for (const auto& f : failures)
            rove_json::Write(rove_json::Json{{"path", f.path}, {"written", false}, {"line", f.line}, {"error", f.reason}});
        return;
    }
    std::cout.flush();
    std::cerr << "Error: " << failures.size() << " of " << checked << " entries fail the check; nothing was written:\n";
    for (const auto& f : failures) std::cerr << "  " << f.path << " (line " << f.line << "): " << f.reason << "\n";
    std::cerr.flush();
}

// Every entry against the live tree and the registry's own rules for the
// value (exact conversion, domain, bounds), in one call; false after
// reporting every failing entry.
bool CheckAll(const SnapshotRun& run, const LiveTree& live, std::vector<Planned>& plan) {
    std::vector<Failure> failures;
    std::vector<mci::Node> nodes;
    std::vector<istd::Any> values;
    std::size_t checked = 0;
    for (const auto& entry : run.snapshot.entries) {
        if (!IsUnder(entry.path, run.limits)) continue;
        ++checked;
        const mci::SubtreeEntry* node = live.Find(entry.path);
        const std::string mismatch = LiveMismatch(entry, node);
        if (!mismatch.empty()) {
            failures.push_back({entry.line, entry.path, mismatch});
            continue;
        }
        plan.push_back({&entry, node});
        nodes.push_back(node->node);
        values.push_back(entry.value);
    }
    const std::vector<std::string> reasons = mci::CheckValues(nodes, values);
    for (std::size_t i = 0; i < reasons.size(); ++i)
        if (!reasons[i].empty()) failures.push_back({plan[i].saved->line, plan[i].saved->path, reasons[i]});
    if (failures.empty()) return true;
    ReportFailures(failures, checked);
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

// How the write of one node ended.
enum class Outcome_e {
    eWritten,   // set and read back (`reason` set when the read-back failed)
    eFailed,    // refused, or read back with another value
    eNoAnswer,  // the set got no answer: it may or may not have been done
};

struct WriteResult {
    Outcome_e outcome = Outcome_e::eWritten;
    std::string reason;
};

// Writes one node and reads it back.
WriteResult WriteConfirmed(const Planned& p) {
    try {
        SetWhole(p.live->node, p.saved->value);
    } catch (const mci::NoAnswer& e) {
        return {Outcome_e::eNoAnswer, e.what()};
    } catch (const istd::Exception& e) {
        return {Outcome_e::eFailed, e.what()};
    }
    try {
        const istd::Any back = GetWhole(p.live->node, p.saved->value);
        if (!SameValue(back, p.saved->value)) return {Outcome_e::eFailed, "read back " + ValueText(back) + " after the write"};
    } catch (const istd::Exception& e) {
        return {Outcome_e::eWritten, std::string("not read back: ") + e.what()};
    }
    return {};
}

std::string Change(const Planned& p) {
    return p.saved->path + ": " + ValueText(p.live->value) + " -> " + ValueText(p.saved->value);
}

const char* const c_mayHaveBeenWritten = "no answer: may have been written";

// --json: one record per entry the run meant to write; `written` is null
// when the registry did not answer.
void WriteRecord(const Planned& p, std::optional<bool> written, const std::string& error) {
    rove_json::Json record;
    record["path"] = p.saved->path;
    record["written"] = written ? rove_json::Json(*written) : rove_json::Json(nullptr);
    record["value"] = rove_json::ValueJson(p.saved->value);
    if (!error.empty()) record["error"] = error;
    rove_json::Write(record);
}

void RecordResult(const Planned& p, const WriteResult& result) {
    switch (result.outcome) {
        case Outcome_e::eWritten: WriteRecord(p, true, result.reason); break;
        case Outcome_e::eFailed: WriteRecord(p, false, result.reason); break;
        case Outcome_e::eNoAnswer:
            WriteRecord(p, std::nullopt, std::string(c_mayHaveBeenWritten) + " (" + result.reason + ")");
            break;
    }
}

// Tells the operator the exact state once the run stopped before the
// write of writes[stop] (an interrupt) or after it (`last` says how it
// ended).
void ReportStop(const SnapshotRun& run, const std::vector<Planned>& writes, std::size_t stop,
                const WriteResult* last) {
    std::cout.flush();
    const bool interrupted = last == nullptr;
    const bool maybe = !interrupted && last->outcome == Outcome_e::eNoAnswer;
    const bool lastWritten = !interrupted && last->outcome == Outcome_e::eWritten;
    const std::size_t reached = interrupted ? stop : stop + 1;
    if (g_params.json) {
        for (std::size_t i = reached; i < writes.size(); ++i) WriteRecord(writes[i], false, "not reached");
        return;
    }
    std::cerr << "Error: apply " << (interrupted ? "interrupted" : "stopped") << "; " << stop + lastWritten << " of "
              << writes.size() << " nodes were written" << (maybe ? ", 1 may have been" : "") << ":\n";
    for (std::size_t i = 0; i < stop; ++i) std::cerr << "  written: " << writes[i].saved->path << "\n";
    if (lastWritten) std::cerr << "  written: " << writes[stop].saved->path << " (" << last->reason << ")\n";
    if (maybe)
        std::cerr << "  " << c_mayHaveBeenWritten << ": " << writes[stop].saved->path << " (" << last->reason << ")\n";
    if (!interrupted && last->outcome == Outcome_e::eFailed)
        std::cerr << "  failed: " << writes[stop].saved->path << ": " << last->reason << "\n";
    for (std::size_t i = reached; i < writes.size(); ++i) std::cerr << "  not reached: " << writes[i].saved->path << "\n";
    if (maybe || lastWritten)
        std::cerr << "Once the registry answers, compare it with the snapshot: velnor-rove diff " << run.file << "\n";
    std::cerr.flush();
}

void ReportDryRun(const std::vector<Planned>& writes, std::size_t planned) {
    for (const auto& p : writes) {
        if (!g_params.json) {
            std::cout << "would set " << Change(p) << "\n";
            continue;
        }
        rove_json::Json record;
        record["path"] = p.saved->path;
        record["written"] = false;
        record["value"] = rove_json::ValueJson(p.saved->value);
        record["dry_run"] = true;
        rove_json::Write(record);
    }
    if (!g_params.json)
        std::cout << writes.size() << " of " << planned << " nodes would be written (dry run: nothing written)\n";
    std::cout.flush();
}

}  // namespace

int ApplySnapshot(const mci::Node& root) {
    SnapshotRun run;
    if (const int status = run.Load("apply", root, 1)) return status;
    if (!CheckOrigin(run, root)) return 1;
    const LiveTree live = ReadLiveTree(root, run.limits, false);
    std::vector<Planned> plan;
    if (!CheckAll(run, live, plan)) return 1;

    std::vector<Planned> writes;
    for (const auto& p : plan)
        if (!SameValue(p.saved->value, p.live->value)) writes.push_back(p);

    if (g_params.dryRun) {
        ReportDryRun(writes, plan.size());
        return 0;
    }
    StartSignalThread();  // a signal stops the run between two writes
    for (std::size_t i = 0; i < writes.size(); ++i) {
        // Ctrl-C (or another caught signal) stops between two writes, so the
        // report can say exactly which nodes hold the snapshot's values.
        if (sigHandler.Signal() != 0) {
            ReportStop(run, writes, i, nullptr);
            return 1;
        }
        const WriteResult result = WriteConfirmed(writes[i]);
        if (g_params.json) RecordResult(writes[i], result);
        if (result.outcome != Outcome_e::eWritten || !result.reason.empty()) {
            ReportStop(run, writes, i, &result);
            return 1;
        }
        // Flushed: an operator watching a long run sees each node as it is set.
        if (!g_params.json) std::cout << "set " << Change(writes[i]) << std::endl;
    }
    if (!g_params.json) std::cout << writes.size() << " of " << plan.size() << " nodes written" << std::endl;
    return 0;
}
