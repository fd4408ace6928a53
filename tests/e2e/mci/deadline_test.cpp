// Call deadlines: a registry that stops answering ends the call with
// "did not answer in time", over the local socket and over TCP, and only
// the sockets to that registry are closed; other registries of the same
// process keep working throughout.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "call_deadline.h"
#include "mci/mci.h"
#include "support/registry_server.h"

namespace {

using velnor::test::RegistryServer;

// --- ShutDownSocketsTo against plain sockets ---

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

struct TcpListener {
    Fd fd;
    int port = 0;
};

TcpListener ListenTcp() {
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd.Get(), 4) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on TCP");
    return {std::move(fd), ntohs(address.sin_port)};
}

Fd ConnectTcp(int port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect over TCP");
    return fd;
}

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

Fd ListenUnix(const std::string& path) {
    ::unlink(path.c_str());
    Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    const sockaddr_un address = UnixAddress(path);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd.Get(), 4) != 0)
        throw std::runtime_error("cannot listen on " + path);
    return fd;
}

Fd ConnectUnix(const std::string& path) {
    Fd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    const sockaddr_un address = UnixAddress(path);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to " + path);
    return fd;
}

// A shut-down socket reads end of file at once; an open one has nothing
// to read yet.
bool IsShutDown(const Fd& fd) {
    char byte = 0;
    return ::recv(fd.Get(), &byte, 1, MSG_DONTWAIT) == 0;
}

struct SocketCase {
    const char* name;
    const char* host;
    int which;             // 0: the first TCP listener's port, 1: the second's
    bool withUnix;         // the target names the first Unix socket
    std::vector<bool> shut;  // tcp1, tcp2, unix1, unix2 clients
};

class ShutDownSocketsTest : public ::testing::TestWithParam<SocketCase> {};

TEST_P(ShutDownSocketsTest, OnlyTheTargetsClientSocketsAreShutDown) {
    const SocketCase& c = GetParam();
    const std::string dir = ::testing::TempDir();
    const std::string unix1 = dir + "deadline-" + std::to_string(::getpid()) + "-1.sock";
    const std::string unix2 = dir + "deadline-" + std::to_string(::getpid()) + "-2.sock";
    TcpListener tcp1 = ListenTcp();
    TcpListener tcp2 = ListenTcp();
    Fd unixListener1 = ListenUnix(unix1);
    Fd unixListener2 = ListenUnix(unix2);
    std::vector<Fd> clients;
    clients.push_back(ConnectTcp(tcp1.port));
    clients.push_back(ConnectTcp(tcp2.port));
    clients.push_back(ConnectUnix(unix1));
    clients.push_back(ConnectUnix(unix2));

    const mci::detail::CallTarget target{c.host, c.which == 0 ? tcp1.port : tcp2.port, c.withUnix ? unix1 : ""};
    const int expected = static_cast<int>(std::count(c.shut.begin(), c.shut.end(), true));
    EXPECT_EQ(mci::detail::ShutDownSocketsTo(target), expected);
    for (std::size_t i = 0; i < clients.size(); ++i) EXPECT_EQ(IsShutDown(clients[i]), c.shut[i]) << "client " << i;
    ::unlink(unix1.c_str());
    ::unlink(unix2.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ShutDownSocketsTest,
    ::testing::Values(SocketCase{"TcpByAddress", "127.0.0.1", 0, false, {true, false, false, false}},
                      SocketCase{"OtherPort", "127.0.0.1", 1, false, {false, true, false, false}},
                      SocketCase{"TcpByName", "localhost", 0, false, {true, false, false, false}},
                      SocketCase{"TcpAndUnix", "127.0.0.1", 0, true, {true, false, true, false}},
                      SocketCase{"OtherHostSamePort", "127.0.0.2", 0, false, {false, false, false, false}}),
    [](const ::testing::TestParamInfo<SocketCase>& info) { return std::string(info.param.name); });

// --- deadlines of real registry calls ---

// SIGSTOP takes effect asynchronously; waits until the process is stopped.
bool WaitUntilStopped(int pid) {
    for (int i = 0; i < 200; ++i) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("State:", 0) == 0 && line.find('T') != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// Hides the registries' local sockets from Connect for the TCP case.
class RuntimeDir {
public:
    explicit RuntimeDir(bool hide) {
        const char* old = std::getenv("VELNOR_RUNTIME_DIR");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        if (hide) ::setenv("VELNOR_RUNTIME_DIR", "/nonexistent-velnor-runtime", 1);
    }
    ~RuntimeDir() {
        if (m_had)
            ::setenv("VELNOR_RUNTIME_DIR", m_old.c_str(), 1);
        else
            ::unsetenv("VELNOR_RUNTIME_DIR");
    }

private:
    bool m_had = false;
    std::string m_old;
};

class CallDeadlineTest : public ::testing::TestWithParam<bool> {};

TEST_P(CallDeadlineTest, AStoppedRegistryTimesOutWhileAnotherKeepsAnswering) {
    RegistryServer stopped(velnor::test::FixturePath("mci-values.yaml"));
    RegistryServer other(velnor::test::FixturePath("mci-values.yaml"));
    const RuntimeDir runtime(GetParam());
    const mci::Node stoppedRoot = mci::Connect("", mci::eApplicationRoot, stopped.Port(), true);
    const mci::Node otherRoot = mci::Connect("", mci::eApplicationRoot, other.Port(), true);
    ASSERT_TRUE(stoppedRoot.IsValid());
    ASSERT_TRUE(otherRoot.IsValid());
    const mci::Node target = stoppedRoot.GetNode(mci::Tokenize("actions.target"));
    const mci::Node otherTarget = otherRoot.GetNode(mci::Tokenize("actions.target"));

    stopped.Process().Signal(SIGSTOP);
    ASSERT_TRUE(WaitUntilStopped(stopped.Process().Pid()));
    auto write = std::async(std::launch::async, [&] { return ErrorOf([&] { target.Set(std::vector<int>{7}, 0); }); });
    // The other registry answers while the write waits and after it ended.
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        otherTarget.Set(std::vector<int>{i}, 0);
        otherTarget.Get(value, 0);
        EXPECT_EQ(value, i);
    }
    const std::string message = write.get();
    stopped.Process().Signal(SIGCONT);
    EXPECT_EQ(message, "Registry at 127.0.0.1:" + std::to_string(stopped.Port()) + " did not answer in time");
    otherTarget.Set(std::vector<int>{11}, 0);
    otherTarget.Get(value, 0);
    EXPECT_EQ(value, 11);
    // The write that timed out had reached the stopped registry, which
    // carries it out when it resumes; wait for it, or it could land after
    // the next one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        target.Get(value, 0);
    } while (value != 7 && std::chrono::steady_clock::now() < deadline);
    // The resumed registry is reached again, on a new connection.
    target.Set(std::vector<int>{12}, 0);
    target.Get(value, 0);
    EXPECT_EQ(value, 12);
}

INSTANTIATE_TEST_SUITE_P(Transports, CallDeadlineTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Tcp" : "LocalSocket");
                         });

}  // namespace
