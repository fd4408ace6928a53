// Listeners killed outright on a node that never changes: nothing tells the
// server, which finds them gone when it checks an idle listener and releases
// each one's delivery thread and subscriptions.
#include <dirent.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

#include "listen_session.h"

namespace listen_test {
namespace {

using velnor::test::Child;
using velnor::test::FixturePath;
using velnor::test::RegistryServer;

std::size_t ThreadCount(int pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    std::size_t count = 0;
    if (DIR* tasks = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(tasks);
    }
    return count;
}

// Waits until the server runs at most `limit` threads; false when it does
// not within `bound`.
bool AwaitThreadsAtMost(int pid, std::size_t limit, std::chrono::seconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (ThreadCount(pid) > limit) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

constexpr int c_batches = 10;
constexpr int c_perBatch = 20;
// An idle listener is checked after 10 s and the check waits 5 s at most;
// the rest is room for a loaded machine.
constexpr std::chrono::seconds c_releaseBound{90};

TEST(KilledListeners, ReleaseTheirThreadsWithoutAWrite) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    const int pid = server.Process().Pid();
    {
        // The ORB's own threads, once a listener has come and gone.
        ListenSession warmUp(server, {"scalars.label"}, 1);
        ASSERT_EQ(warmUp.StopWith(SIGINT), 0);
    }
    ASSERT_TRUE(AwaitThreadsAtMost(pid, ThreadCount(pid), c_releaseBound));
    const std::size_t baseline = ThreadCount(pid);

    for (int batch = 0; batch < c_batches; ++batch) {
        std::vector<std::unique_ptr<Child>> listeners;
        std::vector<std::string> traces;
        for (int i = 0; i < c_perBatch; ++i) {
            traces.push_back(velnor::test::TempDir() + "/listen.trace");
            listeners.push_back(std::make_unique<Child>(std::vector<std::string>{
                velnor::test::BinPath("velnor-rove"), "listen", "scalars.label", "--port", server.PortText(),
                "--debug", traces.back(), "4"}));
        }
        for (const auto& trace : traces) ASSERT_TRUE(AwaitSubscriptions(trace, 1, 60s)) << "batch " << batch;
        for (auto& listener : listeners) {
            listener->Signal(SIGKILL);
            EXPECT_EQ(listener->Wait(30s), 128 + SIGKILL);
        }
    }
    // Every one was subscribed when it was killed: each is dropped once.
    EXPECT_TRUE(server.Process().WaitForError("dropped listener", c_batches * c_perBatch, c_releaseBound))
        << server.Process().Err();
    EXPECT_TRUE(AwaitThreadsAtMost(pid, baseline, c_releaseBound))
        << ThreadCount(pid) << " threads, " << baseline << " before the listeners";
    // The node was never written, and the server still serves.
    const velnor::test::RunResult read = velnor::test::Rove(server, {"scalars.label"});
    EXPECT_EQ(read.out, "scalars.label: idle\n");
    EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace listen_test
