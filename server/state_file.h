#pragma once
// Values of persistent nodes kept across runs in a small YAML file that is
// replaced atomically on every change.
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "istd/unique_fd.h"
#include "tree.h"

namespace velnor::server {

struct SavedValue {
    NodeId id = 0;
    Elements value;
};

// A state file that is not whole: cut short, changed by hand, or not one
// the server wrote. The text is "PATH: reason" (or "PATH:LINE: reason").
class DamagedStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// CRC-32 as zlib and gzip compute it (reflected polynomial 0xEDB88320).
std::uint32_t Crc32(const std::string& text);

// A state file is YAML followed by one end line,
//   # end of state, entries: N, crc32: XXXXXXXX
// where N counts the saved entries and XXXXXXXX is the CRC-32 of every byte
// before the end line, in lower-case hexadecimal.
std::string EndLine(std::size_t entries, const std::string& body);

class StateFile {
public:
    // Opens the state file's directory for the server's life, so that every
    // save goes to the directory checked here. Refuses (std::runtime_error,
    // "PATH: reason") a path that names a directory, a directory others may
    // write to without the sticky bit (anyone could replace the file), and
    // an existing state file that is no regular file of the server's user.
    explicit StateFile(std::string path);
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    const std::string& Path() const { return m_path; }

    // The saved values that still fit the tree. Entries for nodes that are
    // gone, no longer persistent, or changed type or size are skipped with a
    // warning. A missing file gives nothing; a damaged one (no valid end
    // line, a content that does not match it, YAML that does not parse)
    // throws DamagedStateError, an unreadable one std::runtime_error.
    std::vector<SavedValue> Load(const Tree& tree, std::ostream& warnings) const;
    // The same from the file's text; `path` names it in messages.
    static std::vector<SavedValue> Parse(const std::string& text, const std::string& path, const Tree& tree,
                                         std::ostream& warnings);

    // Writes `values` (all persistent nodes) to a temporary file created
    // fresh beside the state file (never through a name someone else made),
    // syncs it, renames it over the state file and syncs the directory.
    // Throws std::runtime_error; the old file stays intact then.
    void Save(const Tree& tree, const std::vector<SavedValue>& values) const;

    static std::string Render(const Tree& tree, const std::vector<SavedValue>& values);

    // Removes the temporary files a save left behind when the server was
    // killed during it: only names of the save's own pattern (NAME.tmp- and
    // 16 hex digits), regular files of the server's user, in the state
    // file's directory. Gives how many it removed.
    std::size_t RemoveStaleTemporaries() const;

private:
    [[noreturn]] void Refuse(const std::string& reason) const;
    void CheckExisting() const;

    std::string m_path;
    std::string m_directory;
    std::string m_name;  // the file's name inside m_directory
    istd::UniqueFd m_directoryFd;
};

}  // namespace velnor::server
