#pragma once
// Values of persistent nodes kept across runs in a small YAML file that is
// replaced atomically on every change.
#include <ostream>
#include <string>
#include <vector>

#include "tree.h"

namespace velnor::server {

struct SavedValue {
    NodeId id = 0;
    Elements value;
};

class StateFile {
public:
    explicit StateFile(std::string path) : m_path(std::move(path)) {}
    const std::string& Path() const { return m_path; }

    // The saved values that still fit the tree. Entries for nodes that are
    // gone, no longer persistent, or changed type or size are skipped with a
    // warning. A missing file gives nothing; an unreadable one throws
    // std::runtime_error.
    std::vector<SavedValue> Load(const Tree& tree, std::ostream& warnings) const;

    // Writes `values` (all persistent nodes) to a temporary file beside the
    // state file, syncs it, renames it over the state file and syncs the
    // directory. Throws std::runtime_error; the old file stays intact then.
    void Save(const Tree& tree, const std::vector<SavedValue>& values) const;

    static std::string Render(const Tree& tree, const std::vector<SavedValue>& values);

private:
    std::string m_path;
};

}  // namespace velnor::server
