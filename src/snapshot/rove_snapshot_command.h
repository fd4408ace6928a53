#pragma once
// What diff and apply share: the snapshot file named by the first word and
// the subtrees named by the rest.
#include <iostream>
#include <string>
#include <vector>

#include "rove_params.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_tree.h"

struct SnapshotRun {
    std::string file;
    Snapshot snapshot;
    std::vector<std::string> limits;

    // Reads the file; false after reporting on standard error what is wrong
    // with it (the run then ends with c_statusBadSnapshot).
    bool Load(const char* command) {
        if (g_params.paths.empty()) {
            std::cerr << "Error: " << command << " needs a snapshot FILE (velnor-rove help " << command << ")"
                      << std::endl;
            return false;
        }
        file = g_params.paths.front();
        limits = SubtreeLimits(std::vector<std::string>(g_params.paths.begin() + 1, g_params.paths.end()));
        try {
            snapshot = ReadSnapshotFile(file);
        } catch (const SnapshotFileError& e) {
            std::cout.flush();
            std::cerr << e.what() << std::endl;
            return false;
        }
        return true;
    }
};
