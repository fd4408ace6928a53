// Call deadlines: a registry that stops answering ends the call with
// "did not answer in time", over the local socket and over TCP, after the
// deadline in force (this process shortens it through the variable meant
// for tests); other registries of the same process keep working throughout.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "deadlines.h"
#include "mci/mci.h"
#include "support/registry_server.h"
#include "velnor/wire.h"

namespace {

using namespace std::chrono_literals;
using velnor::test::RegistryServer;

// --- the deadline a process asks for ---

struct SettingCase {
    const char* name;
    const char* text;  // null: not set
    std::optional<std::chrono::milliseconds> deadline;
};

class DeadlineSettingTest : public ::testing::TestWithParam<SettingCase> {};

TEST_P(DeadlineSettingTest, IsReadWithinItsBounds) {
    EXPECT_EQ(mci::detail::CallDeadlineFrom(GetParam().text), GetParam().deadline);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeadlineSettingTest,
    ::testing::Values(SettingCase{"Unset", nullptr, std::nullopt}, SettingCase{"Empty", "", std::nullopt},
                      SettingCase{"Plain", "1500", 1500ms}, SettingCase{"BelowTheShortest", "3", 100ms},
                      SettingCase{"Zero", "0", 100ms}, SettingCase{"AboveTheContract", "60000", 10000ms},
                      SettingCase{"PastALong", "99999999999999999999999", 10000ms},
                      SettingCase{"Negative", "-5", std::nullopt}, SettingCase{"Exponent", "1e3", std::nullopt},
                      SettingCase{"Unit", "2s", std::nullopt}, SettingCase{"Blank", " 200", std::nullopt}),
    [](const ::testing::TestParamInfo<SettingCase>& info) { return std::string(info.param.name); });

TEST(DeadlineSetting, AShorterCallDeadlineShortensTheOthers) {
    const mci::detail::Deadlines& in = mci::detail::ClientDeadlines();
    EXPECT_EQ(in.call, 1500ms);
    EXPECT_EQ(in.quick, 1500ms);
    EXPECT_EQ(in.connect, 1500ms);
}

// --- deadlines of real registry calls ---

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

struct TimedError {
    std::string message;
    std::chrono::steady_clock::duration took{};
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
    ASSERT_TRUE(velnor::test::WaitUntilStopped(stopped.Process().Pid()));
    auto write = std::async(std::launch::async, [&] {
        const auto start = std::chrono::steady_clock::now();
        const std::string message = ErrorOf([&] { target.Set(std::vector<int>{7}, 0); });
        return TimedError{message, std::chrono::steady_clock::now() - start};
    });
    // The other registry answers while the write waits and after it ended.
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        otherTarget.Set(std::vector<int>{i}, 0);
        otherTarget.Get(value, 0);
        EXPECT_EQ(value, i);
    }
    const TimedError error = write.get();
    stopped.Process().Signal(SIGCONT);
    EXPECT_EQ(error.message, "Registry at 127.0.0.1:" + std::to_string(stopped.Port()) + " did not answer in time");
    // Not before the deadline in force, and long before the contract's.
    EXPECT_GE(error.took, mci::detail::ClientDeadlines().call);
    EXPECT_LT(error.took, velnor::wire::c_callDeadline);
    otherTarget.Set(std::vector<int>{11}, 0);
    otherTarget.Get(value, 0);
    EXPECT_EQ(value, 11);
    // The write that timed out had reached the stopped registry, which
    // carries it out when it resumes; wait for it, or it could land after
    // the next one.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
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
