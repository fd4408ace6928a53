#include "support/faults.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <stdexcept>
#include <thread>

namespace velnor::test {
namespace {

using Clock = std::chrono::steady_clock;

bool IsStopped(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("State:", 0) == 0) return line.find('T') != std::string::npos;
    return false;
}

}  // namespace

std::map<std::string, std::string> FaultEnvironment(std::map<std::string, std::string> more) {
    more.emplace("VELNOR_CALL_DEADLINE_MS", c_faultDeadlineMs);
    return more;
}

PausedServer::PausedServer(RegistryServer& server) : m_server(server) {
    m_server.Process().Signal(SIGSTOP);
    // SIGSTOP takes effect asynchronously.
    const auto deadline = Clock::now() + c_faultBound;
    while (!IsStopped(m_server.Process().Pid())) {
        if (Clock::now() > deadline) throw std::runtime_error("the server did not stop");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

PausedServer::~PausedServer() { m_server.Process().Signal(SIGCONT); }

ReservedPort::ReservedPort() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_fd >= 0) ::close(m_fd);
        throw std::runtime_error("cannot reserve a port");
    }
    m_port = ntohs(address.sin_port);
}

ReservedPort::~ReservedPort() {
    if (m_fd >= 0) ::close(m_fd);
}

ScopedEnvironment::ScopedEnvironment(const std::string& name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name.c_str())) {
        m_had = true;
        m_old = old;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_had)
        ::setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::ifstream file(path);
        const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (content.find(text) != std::string::npos) return true;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ValuePipe::ValuePipe(const std::string& path) : m_path(path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make the pipe " + path);
}

ValuePipe::~ValuePipe() {
    if (m_fd >= 0) ::close(m_fd);
    ::unlink(m_path.c_str());
}

bool ValuePipe::WaitForReader(std::chrono::milliseconds timeout) {
    // A writer's non-blocking open fails with ENXIO while no reader has it open.
    const auto deadline = Clock::now() + timeout;
    while (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0) break;
        if (errno != ENXIO || Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ValuePipe::WriteAndClose(const std::string& text) {
    if (m_fd < 0) return;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(m_fd, text.data() + written, text.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace velnor::test
