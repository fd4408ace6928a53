#include "signal_views/npy_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "istd/exception.h"
#include "signal_views/npy_format.h"

namespace signal_views {
namespace {

// Blocks of at least c_directBytes go to the file as they are; smaller ones
// gather in a buffer of c_bufferBytes, allocated when the first comes.
constexpr std::size_t c_directBytes = 64 << 10;
constexpr std::size_t c_bufferBytes = 256 << 10;

std::string Reason(int error) { return std::strerror(error != 0 ? error : EIO); }

// A regular file not opened for appending: the preamble can be rewritten in place.
bool Fixable(int fd, std::int64_t& start) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_APPEND) != 0) return false;
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0) return false;
    start = position;
    return true;
}

}  // namespace

NpyFile::NpyFile(const std::string& path, std::vector<std::string> fields, std::string typeString,
                 std::uint32_t atomBytes, std::optional<std::uint64_t> announced)
    : m_path(path),
      m_shownPath(path == "-" ? "standard output" : path),
      m_fields(std::move(fields)),
      m_typeString(std::move(typeString)),
      m_atomBytes(atomBytes),
      m_announced(announced) {
    if (path == "-") {
        m_fd = STDOUT_FILENO;
    } else {
        m_ownFd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!m_ownFd.IsValid()) throw istd::Exception("signal: Can't open " + path + ": " + Reason(errno), true);
        m_fd = m_ownFd.Get();
    }
    m_fixable = Fixable(m_fd, m_start);
    if (!m_fixable && !m_announced)
        throw istd::Exception("signal: " + m_shownPath +
                                  " cannot be rewritten at the end, so the atom count must be known first: give --loop N",
                              true);
    const std::string preamble = NpyPreamble(m_fields, m_typeString, m_fixable ? 0 : *m_announced);
    m_preambleBytes = preamble.size();
    m_buffer.resize(c_bufferBytes);
    WriteAll(preamble.data(), preamble.size());
    m_writtenBytes = 0;  // WriteAll counted the preamble
}

NpyFile::~NpyFile() {
    try {
        if (!m_closed) Finish();
    } catch (...) {
        // The destructor runs while another failure is being reported.
    }
}

void NpyFile::WriteAll(const char* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t written = ::write(m_fd, data, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Fail("Can't write to " + m_shownPath, written < 0 ? errno : ENOSPC);
        data += written;
        bytes -= static_cast<std::size_t>(written);
        m_writtenBytes += static_cast<std::uint64_t>(written);
    }
}

void NpyFile::Fail(const std::string& what, int error) {
    m_failed = true;
    m_failure = "signal: " + what + ": " + Reason(error);
    throw istd::Exception(m_failure, true);
}

void NpyFile::Flush() {
    const std::size_t bytes = m_buffered;
    m_buffered = 0;  // a failed write is not tried again
    WriteAll(m_buffer.data(), bytes);
}

void NpyFile::Append(const void* data, std::uint64_t atoms) {
    if (m_failed) throw istd::Exception("signal: Can't write to " + m_shownPath, true);
    const std::uint64_t bytes = atoms * m_atomBytes;
    const char* from = static_cast<const char*>(data);
    m_atoms += atoms;
    if (m_buffered > 0 && (bytes >= c_directBytes || m_buffered + bytes > c_bufferBytes)) Flush();
    if (bytes >= c_directBytes) {
        WriteAll(from, bytes);
        return;
    }
    if (m_buffer.empty()) m_buffer.resize(c_bufferBytes);
    std::memcpy(m_buffer.data() + m_buffered, from, bytes);
    m_buffered += bytes;
}

std::uint64_t NpyFile::Finish() {
    m_closed = true;
    std::string failure;
    try {
        if (!m_failed) Flush();
    } catch (const istd::Exception& e) {
        failure = e.what();
    }
    const std::uint64_t atoms = m_atomBytes == 0 ? 0 : m_writtenBytes / m_atomBytes;
    if (m_fixable) {
        const std::string preamble = NpyPreamble(m_fields, m_typeString, atoms);
        const std::uint64_t end = static_cast<std::uint64_t>(m_start) + m_preambleBytes + atoms * m_atomBytes;
        const bool fixed = ::pwrite(m_fd, preamble.data(), preamble.size(), m_start) ==
                               static_cast<ssize_t>(preamble.size()) &&
                           ::ftruncate(m_fd, static_cast<off_t>(end)) == 0;
        if (!fixed && failure.empty()) failure = "signal: Can't fix up the atom count of " + m_shownPath + ": " + Reason(errno);
    } else if (failure.empty() && atoms != *m_announced) {
        failure = "signal: " + std::to_string(atoms) + " of the " + std::to_string(*m_announced) + " atoms announced in " +
                  m_shownPath + " were written: the .npy is incomplete";
    }
    if (m_ownFd.IsValid() && ::close(m_ownFd.Release()) != 0 && failure.empty())
        failure = "signal: Can't close " + m_shownPath + ": " + Reason(errno);
    if (!failure.empty()) throw istd::Exception(failure, true);
    return atoms;
}

std::uint64_t NpyFile::Close() {
    if (m_closed) return m_atomBytes == 0 ? 0 : m_writtenBytes / m_atomBytes;
    return Finish();
}

}  // namespace signal_views
