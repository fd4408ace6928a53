// Real signals sent to `velnor-rove listen`: while it listens (the run ends
// normally), while it or a one-shot command connects (the run fails with its
// message); and a listener killed outright, which the server drops.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "listen_session.h"

namespace listen_test {
namespace {

using velnor::test::Child;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

struct SignalCase {
    std::string name;
    int signal;
    std::vector<std::string> options;
};

std::ostream& operator<<(std::ostream& os, const SignalCase& c) { return os << c.name; }

class SignalDuringListen : public ::testing::TestWithParam<SignalCase> {};

// Every case would listen far longer than the test waits: only the signal
// can end it, and it must end as a normal run.
TEST_P(SignalDuringListen, EndsTheRunNormally) {
    const SignalCase& c = GetParam();
    RegistryServer server(FixturePath("listen-values.yaml"));
    std::vector<std::string> args = c.options;
    args.push_back("scalars.count");
    ListenSession listener(server, args, 1);
    Write(server, {"scalars.count=9"});
    ASSERT_EQ(listener.NextLine(), "listen-host.scalars.count=9");
    EXPECT_EQ(listener.StopWith(c.signal), 0);
    EXPECT_EQ(listener.Process().Out(), Announcement({"count"}) + "listen-host.scalars.count=9\n");
    EXPECT_EQ(listener.Process().Err(), "");
    // The server goes on serving.
    Write(server, {"scalars.count=10"});
}

const SignalCase c_signalCases[] = {
    {"SIGINT", SIGINT, {}},
    {"SIGTERM", SIGTERM, {}},
    {"SIGHUP", SIGHUP, {}},
    {"SIGQUIT", SIGQUIT, {}},
    {"SIGINT_long_wait", SIGINT, {"--wait", "3600"}},
    {"SIGINT_during_ping_period", SIGINT, {"--ping", "3600"}},
    {"SIGTERM_during_ping_period", SIGTERM, {"--ping", "3600", "--wait", "7200"}},
};

INSTANTIATE_TEST_SUITE_P(Listen, SignalDuringListen, ::testing::ValuesIn(c_signalCases),
                         [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

// The listener withdraws its subscriptions at the server before it exits
// (seen in the CORBA runtime's trace of outgoing calls).
TEST(SignalledListener, UnsubscribesBeforeItExits) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    velnor::test::RunOptions options;
    options.env["ORBtraceInvocations"] = "1";
    ListenSession listener(server, {"scalars.count"}, 1, options);
    ASSERT_EQ(listener.StopWith(SIGINT), 0);
    const std::string& err = listener.Process().Err();
    const auto subscribed = err.find("Invoke 'subscribe'");
    ASSERT_NE(subscribed, std::string::npos) << err;
    EXPECT_NE(err.find("Invoke 'unsubscribe'", subscribed), std::string::npos) << err;
}

// A TCP port that accepts connections and never answers: a registry that
// hangs, so that connecting to it waits for the library's deadline.
class SilentPort {
public:
    SilentPort() {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(m_fd, 4) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot open a silent port");
        m_port = ntohs(address.sin_port);
    }
    ~SilentPort() {
        for (int fd : m_accepted) close(fd);
        if (m_fd >= 0) close(m_fd);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    int Port() const { return m_port; }
    // True once a client has connected (and is now waiting for an answer).
    bool AwaitClient() {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(c_patience.count())) != 1) return false;
        const int fd = accept(m_fd, nullptr, nullptr);
        if (fd < 0) return false;
        m_accepted.push_back(fd);
        return true;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::vector<int> m_accepted;
};

struct ConnectCase {
    std::string name;
    std::vector<std::string> command;
    std::vector<std::string> hostOptions;
    int signal;
    std::string err;
};

std::ostream& operator<<(std::ostream& os, const ConnectCase& c) { return os << c.name; }

class SignalDuringConnect : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(SignalDuringConnect, FailsWithTheHost) {
    const ConnectCase& c = GetParam();
    SilentPort silent;
    std::vector<std::string> argv = {velnor::test::BinPath("velnor-rove")};
    argv.insert(argv.end(), c.command.begin(), c.command.end());
    argv.insert(argv.end(), {"--port", std::to_string(silent.Port())});
    argv.insert(argv.end(), c.hostOptions.begin(), c.hostOptions.end());
    Child rove(argv);
    ASSERT_TRUE(silent.AwaitClient());
    rove.Signal(c.signal);
    EXPECT_EQ(rove.Wait(c_patience), 1);
    EXPECT_EQ(rove.Out(), "");
    EXPECT_EQ(rove.Err(), c.err);
}

// The one-shot commands start no signal thread of their own: the signal
// waits, pending, until the check after connecting.
const ConnectCase c_connectCases[] = {
    {"host_given", {"listen", "scalars.count"}, {"--host", "127.0.0.1"}, SIGINT,
     "Caught signal while connecting to 127.0.0.1\n"},
    {"default_host", {"listen", "scalars.count"}, {}, SIGTERM, "Caught signal while connecting to \n"},
    {"access_read", {"access", "-q", "scalars.count"}, {"--host", "127.0.0.1"}, SIGINT,
     "Caught signal while connecting to 127.0.0.1\n"},
    {"access_write", {"scalars.count=3"}, {}, SIGHUP, "Caught signal while connecting to \n"},
    {"info", {"info"}, {}, SIGQUIT, "Caught signal while connecting to \n"},
};

INSTANTIATE_TEST_SUITE_P(Listen, SignalDuringConnect, ::testing::ValuesIn(c_connectCases),
                         [](const ::testing::TestParamInfo<ConnectCase>& info) { return info.param.name; });

// Without a signal the same hanging registry is a broken connection.
TEST(SilentRegistry, WithoutASignalTheConnectionIsBroken) {
    SilentPort silent;
    const velnor::test::RunResult r = velnor::test::Run(
        {velnor::test::BinPath("velnor-rove"), "listen", "scalars.count", "--port", std::to_string(silent.Port())});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Connection to :" + std::to_string(silent.Port()) + "/application is broken.\n");
    EXPECT_EQ(r.status, 1);
}

// A listener killed outright cannot unsubscribe: the server drops it at its
// first failed delivery and goes on serving the other listener and writers.
TEST(KilledListener, IsDroppedAndOthersAreServed) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession killed(server, {"scalars.count"}, 1);
    ListenSession witness(server, {"scalars.count"}, 1);
    Write(server, {"scalars.count=1"});
    ASSERT_EQ(killed.NextLine(), "listen-host.scalars.count=1");
    ASSERT_EQ(witness.NextLine(), "listen-host.scalars.count=1");
    EXPECT_EQ(killed.StopWith(SIGKILL), 128 + SIGKILL);
    for (int value = 2; value <= 20; ++value) Write(server, {"scalars.count=" + std::to_string(value)});
    std::vector<std::string> expected;
    for (int value = 2; value <= 20; ++value) expected.push_back("listen-host.scalars.count=" + std::to_string(value));
    EXPECT_EQ(witness.NextLines(expected.size()), expected);
    const velnor::test::RunResult read = velnor::test::Rove(server, {"scalars.count"});
    EXPECT_EQ(read.out, "scalars.count: 20\n");
    EXPECT_EQ(witness.StopWith(SIGINT), 0);
}

}  // namespace
}  // namespace listen_test
