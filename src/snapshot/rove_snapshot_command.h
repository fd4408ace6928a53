#pragma once
// What diff and apply share: the snapshot file named by the first word and
// the subtrees named by the rest.
#include <iostream>
#include <string>
#include <vector>

#include "istd/exception.h"
#include "rove_handlers.h"
#include "rove_params.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_tree.h"

struct SnapshotRun {
    std::string file;
    Snapshot snapshot;
    std::vector<std::string> limits;

    // Reads the file and the subtree words. Gives 0, or the exit status
    // after reporting on standard error what is wrong: c_statusBadSnapshot
    // for a file that is missing, unreadable or malformed,
    // `subtreeNotFound` for a subtree word that names no node of the
    // registry and no entry of the snapshot (or a pattern without a match).
    int Load(const char* command, const mci::Node& root, int subtreeNotFound) {
        if (g_params.paths.empty()) {
            std::cerr << "Error: " << command << " needs a snapshot FILE (velnor-rove help " << command << ")"
                      << std::endl;
            return c_statusBadSnapshot;
        }
        file = g_params.paths.front();
        try {
            snapshot = ReadSnapshotFile(file);
        } catch (const SnapshotFileError& e) {
            std::cout.flush();
            std::cerr << e.what() << std::endl;
            return c_statusBadSnapshot;
        }
        try {
            limits = SubtreeWords(root, std::vector<std::string>(g_params.paths.begin() + 1, g_params.paths.end()));
            for (const auto& limit : limits)
                if (!HoldsEntryUnder(limit)) root.GetNode(mci::Tokenize(limit));  // "Node not found: ..."
        } catch (const mci::NoAnswer&) {
            throw;  // the registry's failure, not the command line's
        } catch (const istd::Exception& e) {
            std::cout.flush();
            std::cerr << e.what() << std::endl;
            return subtreeNotFound;
        }
        return 0;
    }

private:
    bool HoldsEntryUnder(const std::string& limit) const {
        for (const auto& entry : snapshot.entries)
            if (IsUnder(entry.path, {limit})) return true;
        return false;
    }
};
