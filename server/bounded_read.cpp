#include "bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "istd/unique_fd.h"

namespace velnor::server {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
    throw BoundedReadError("cannot read " + what + ": " + std::strerror(error));
}

}  // namespace

std::string SizeText(std::size_t bytes) {
    constexpr std::size_t mebibyte = std::size_t{1} << 20;
    if (bytes >= mebibyte && bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string ReadBoundedFile(const std::string& path, std::size_t limit, const std::string& what) {
    const istd::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) Fail(what, errno);
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) Fail(what, errno);
    if (S_ISDIR(info.st_mode)) Fail(what, EISDIR);
    const std::string tooLarge = what + " is larger than " + SizeText(limit);
    const bool regular = S_ISREG(info.st_mode);
    if (regular && static_cast<std::uint64_t>(info.st_size) > limit) throw BoundedReadError(tooLarge);
    std::string text;
    text.reserve(regular ? static_cast<std::size_t>(info.st_size) : 0);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(what, errno);
        if (n == 0) return text;
        if (static_cast<std::size_t>(n) > limit - text.size()) throw BoundedReadError(tooLarge);
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace velnor::server
