#pragma once
// The one owner of a file descriptor: closed when the owner goes, unless it
// was released first. Movable, not copyable. And the one loop that reads a
// descriptor to its end.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace istd {

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes `fd`; a negative value (a failed open) owns nothing.
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }

    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }

    // Gives up ownership: the caller closes the descriptor (and can see
    // whether that close fails, which matters after writes).
    int Release() { return std::exchange(m_fd, -1); }

    // Closes the owned descriptor, if any, and takes `fd`.
    void Reset(int fd = -1) {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0) ::close(old);
    }

private:
    int m_fd = -1;
};

// Appends everything `fd` gives until its end to `text`; false (errno set)
// when a read fails (EISDIR for a directory).
inline bool ReadToEnd(int fd, std::string& text) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace istd
