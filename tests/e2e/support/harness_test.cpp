// The harness keeps tests away from the machine: what the environment
// names is dropped before main, and a server keeps its port to itself.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/registry_server.h"

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

namespace {

const char* const c_dropped[] = {"VELNOR_APP_PORT", "XDG_RUNTIME_DIR", "VELNOR_CALL_DEADLINE_MS"};

// True when a plain bind to 127.0.0.1:port succeeds (no one holds it).
bool PortIsFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Checked in this program, and again in a copy of it started with every
// variable set to what a developer's shell or a demo registry would give.
TEST(HermeticEnvironment, OwnVariables) {
    for (const char* name : c_dropped) EXPECT_EQ(std::getenv(name), nullptr) << name;
    const char* runtime = std::getenv("VELNOR_RUNTIME_DIR");
    ASSERT_NE(runtime, nullptr);
    const std::string prefix = (std::filesystem::temp_directory_path() / "velnor-test-run-").string();
    EXPECT_EQ(std::string(runtime).rfind(prefix, 0), 0u) << runtime;
    EXPECT_TRUE(std::filesystem::is_directory(runtime)) << runtime;
}

TEST(HermeticEnvironment, InheritedVariablesAreDropped) {
    velnor::test::RunOptions options;
    options.env = {{"VELNOR_APP_PORT", "17520"},
                   {"VELNOR_RUNTIME_DIR", "/nonexistent-velnor-runtime"},
                   {"XDG_RUNTIME_DIR", "/nonexistent-xdg-runtime"},
                   {"VELNOR_CALL_DEADLINE_MS", "1"}};
    const auto r = velnor::test::Run({"/proc/self/exe", "--gtest_filter=HermeticEnvironment.OwnVariables"}, options);
    EXPECT_EQ(r.status, 0) << r.out;
}

// The servers of a test put their sockets in its own runtime directory.
TEST(HermeticEnvironment, ServerSocketInOwnRuntimeDirectory) {
    const RegistryServer server(FixturePath("rove-info.yaml"));
    struct stat info {};
    ASSERT_EQ(::stat(velnor::test::SocketPathIn(std::getenv("VELNOR_RUNTIME_DIR"), server.Port()).c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
}

// Between the stop and the start of a restart no one else can bind the
// port, and the server comes back on it.
TEST(RegistryServerPort, HeldAcrossRestart) {
    RegistryServer server(FixturePath("rove-info.yaml"));
    const int port = server.Port();
    EXPECT_FALSE(PortIsFree(port));
    ASSERT_EQ(server.Stop(), 0);
    EXPECT_FALSE(PortIsFree(port));
    server.Restart();
    EXPECT_EQ(server.Port(), port);
    const auto r = velnor::test::Rove(server, {"leaf"});
    EXPECT_EQ(r.out, "leaf: 7\n");
    EXPECT_EQ(r.status, 0);
}

TEST(RegistryServerPort, FreedWithTheServer) {
    int port = 0;
    {
        const RegistryServer server(FixturePath("rove-info.yaml"));
        port = server.Port();
    }
    EXPECT_TRUE(PortIsFree(port));
}

}  // namespace
