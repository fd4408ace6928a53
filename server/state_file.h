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
    // Opens the state file's directory for the server's life, so that every
    // save goes to the directory checked here. Refuses (std::runtime_error,
    // "PATH: reason") a path that names a directory, a directory others may
    // write to without the sticky bit (anyone could replace the file), and
    // an existing state file that is no regular file of the server's user.
    explicit StateFile(std::string path);
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    const std::string& Path() const { return m_path; }

    // The saved values that still fit the tree. Entries for nodes that are
    // gone, no longer persistent, or changed type or size are skipped with a
    // warning. A missing file gives nothing; an unreadable one throws
    // std::runtime_error.
    std::vector<SavedValue> Load(const Tree& tree, std::ostream& warnings) const;

    // Writes `values` (all persistent nodes) to a temporary file created
    // fresh beside the state file (never through a name someone else made),
    // syncs it, renames it over the state file and syncs the directory.
    // Throws std::runtime_error; the old file stays intact then.
    void Save(const Tree& tree, const std::vector<SavedValue>& values) const;

    static std::string Render(const Tree& tree, const std::vector<SavedValue>& values);

private:
    [[noreturn]] void Refuse(const std::string& reason) const;
    void CheckExisting() const;

    std::string m_path;
    std::string m_directory;
    std::string m_name;  // the file's name inside m_directory
    int m_directoryFd = -1;
};

}  // namespace velnor::server
