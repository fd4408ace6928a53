#include "endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "istd/unique_fd.h"
#include "velnor/wire.h"

namespace velnor::server {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

}  // namespace

std::uint16_t PickFreePort(const std::string& address) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
    } else {
        throw std::runtime_error("cannot listen on '" + address + "': not a numeric IPv4 or IPv6 address");
    }
    const istd::UniqueFd socket(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.IsValid()) Fail("cannot create a socket");
    if (::bind(socket.Get(), reinterpret_cast<sockaddr*>(&storage), length) != 0) Fail("cannot bind to " + address);
    if (::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0) Fail("cannot read the bound port");
    return ntohs(storage.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
}

std::string UnixSocketPath(std::uint16_t port) {
    const std::string dir = wire::RuntimeDirectory();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) Fail("cannot create the runtime directory " + dir);
    // The default lives in the shared temporary directory under a name
    // anyone can guess: it must be this user's alone, or another user could
    // have made it first and control what appears in it.
    if (wire::RuntimeDirectoryIsDefault()) {
        struct stat info {};
        if (::lstat(dir.c_str(), &info) != 0) Fail("cannot examine the runtime directory " + dir);
        if (!S_ISDIR(info.st_mode)) throw std::runtime_error("the runtime directory " + dir + " is not a directory");
        if (info.st_uid != ::geteuid())
            throw std::runtime_error("the runtime directory " + dir + " belongs to another user (uid " +
                                     std::to_string(info.st_uid) + ")");
        if ((info.st_mode & 077) != 0) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
            throw std::runtime_error("the runtime directory " + dir + " has mode " + mode +
                                     "; only its user may have access (0700)");
        }
    }
    return wire::LocalSocketPath(port);
}

void RemoveStaleSocket(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return;
    if (!S_ISSOCK(info.st_mode)) throw std::runtime_error(path + " exists and is no socket; remove it or choose another port");
    // In a shared directory another user's socket is no stale one of ours.
    if (info.st_uid != ::geteuid())
        throw std::runtime_error(path + " is a socket of another user (uid " + std::to_string(info.st_uid) +
                                 "); remove it or choose another port");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const istd::UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe.IsValid()) Fail("cannot create a socket");
    if (::connect(probe.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        throw std::runtime_error("another server listens on " + path);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail("cannot remove the stale socket " + path);
}

std::string TcpEndpoint(const std::string& address, std::uint16_t port) {
    const bool v6 = address.find(':') != std::string::npos;
    return "giop:tcp:" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::uint64_t NewRunId() {
    std::uint64_t random = 0;
    const istd::UniqueFd source(::open("/dev/urandom", O_RDONLY | O_CLOEXEC));
    if (source.IsValid() && ::read(source.Get(), &random, sizeof random) != static_cast<ssize_t>(sizeof random))
        random = 0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto nanos = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    return random ^ nanos ^ (static_cast<std::uint64_t>(::getpid()) << 48);
}

std::string MachineHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    std::string host = name;
    // Dots would split the name into several path components.
    const auto dot = host.find('.');
    return dot == std::string::npos ? host : host.substr(0, dot);
}

}  // namespace velnor::server
