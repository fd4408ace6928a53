#pragma once
// A .npy file written as the atoms arrive, in bounded memory: the preamble
// first, then the atoms (large blocks as they come, small ones gathered in
// a buffer of 256 KiB), and at the end the atom count fixed up in the
// preamble (its length does not depend on the count).
// A failure half-way still leaves a valid file: Close() writes the count
// of the whole atoms that reached the file and cuts a partly written atom.
//
// Standard output ("-") is fixed up the same way when it is a regular file
// opened without O_APPEND; into a pipe the count must be known before the
// first atom (Close() then reports a shortfall as an error).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "istd/unique_fd.h"

namespace signal_views {

class NpyFile {
public:
    // Throws istd::Exception when the file cannot be opened, or when it is
    // a stream that cannot be fixed up and `announced` is not given.
    NpyFile(const std::string& path, std::vector<std::string> fields, std::string typeString, std::uint32_t atomBytes,
            std::optional<std::uint64_t> announced);
    NpyFile(const NpyFile&) = delete;
    NpyFile& operator=(const NpyFile&) = delete;
    // Closes as Close() does; errors are not reported from here.
    ~NpyFile();

    // Appends whole atoms (`atoms` x the atom size in bytes). Throws
    // istd::Exception when the file cannot take them.
    void Append(const void* data, std::uint64_t atoms);

    // Writes what is buffered and fixes up the count; gives the atoms the
    // file holds. Throws istd::Exception when the data could not all be
    // written (the file stays valid with what it holds) or when a stream's
    // announced count was not met.
    std::uint64_t Close();

    const std::string& Path() const { return m_path; }
    // Atoms handed to Append so far.
    std::uint64_t Atoms() const { return m_atoms; }
    // Why a write failed; empty while none did.
    const std::string& Failure() const { return m_failure; }

private:
    void WriteAll(const char* data, std::size_t bytes);
    void Flush();
    [[noreturn]] void Fail(const std::string& what, int error);
    std::uint64_t Finish();

    std::string m_path;
    std::string m_shownPath;  // in messages: "standard output" for "-"
    std::vector<std::string> m_fields;
    std::string m_typeString;
    std::uint32_t m_atomBytes;
    std::optional<std::uint64_t> m_announced;
    istd::UniqueFd m_ownFd;  // closed by this object; -1 for standard output
    int m_fd = -1;
    bool m_fixable = false;    // the preamble can be rewritten
    std::int64_t m_start = 0;  // offset of the preamble in the file
    std::size_t m_preambleBytes = 0;
    std::uint64_t m_atoms = 0;         // atoms appended
    std::uint64_t m_writtenBytes = 0;  // data bytes that reached the file
    std::vector<char> m_buffer;
    std::size_t m_buffered = 0;
    bool m_failed = false;
    std::string m_failure;
    bool m_closed = false;
};

}  // namespace signal_views
