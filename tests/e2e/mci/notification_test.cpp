// Notifications pushed by the server for writes of other clients, and the
// connection check across a server restart.
#include <signal.h>

#include <atomic>
#include <thread>

#include "registry_fixture.h"
#include "support/process.h"

namespace mcitest {
namespace {

using NotificationTest = RegistryTest;
using RestartTest = RegistryTest;

// A second client of the same server writes.
mci::Node OtherClient(const std::string& path) {
    return mci::Connect("", mci::eApplicationRoot, RegistryTest::Port(), true).GetNode(mci::Tokenize(path));
}

TEST_F(NotificationTest, WriteOfAnotherClientArrives) {
    NotificationLog log;
    mci::NotificationClient client(log.MakeCallback());
    mci::Node node = At("scalars.count");
    client.Register(node);
    OtherClient("scalars.count").Set(std::vector<int>{5}, 0);
    const auto got = log.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].path, "scalars.count");
    EXPECT_EQ(got[0].value, "5");
    EXPECT_FALSE(got[0].isArray);
    EXPECT_EQ(got[0].first, 0u);
}

TEST_F(NotificationTest, ArraySliceCarriesItsFirstIndex) {
    NotificationLog log;
    mci::NotificationClient client(log.MakeCallback());
    mci::Node node = At("arrays.ints");
    client.Register(node);
    OtherClient("arrays.ints").Set(std::vector<int>{7, 8}, 1);
    OtherClient("arrays.ints").Set(std::vector<int>{0, 0, 0, 0}, 0);
    const auto got = log.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].path, "arrays.ints");
    EXPECT_EQ(got[0].value, "[7,8]");
    EXPECT_TRUE(got[0].isArray);
    EXPECT_EQ(got[0].first, 1u);
    EXPECT_EQ(got[1].value, "[0,0,0,0]");
    EXPECT_EQ(got[1].first, 0u);
}

TEST_F(NotificationTest, FunctionWritesNotifyAndDoubleRegistrationDeliversTwice) {
    NotificationLog log;
    mci::NotificationClient client(log.MakeCallback());
    mci::Node node = At("actions.target");
    client.Register(node);
    client.Register(node);
    EXPECT_TRUE(OtherClient("actions.bump").Execute());
    const auto got = log.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& r : got) {
        EXPECT_EQ(r.path, "actions.target");
        EXPECT_EQ(r.value, "42");
    }
}

TEST_F(NotificationTest, AFailingCallbackKeepsTheSubscription) {
    std::atomic<int> calls{0};
    mci::Callback callback;
    callback.function = [&](const mci::NotificationData&) {
        if (++calls == 1) throw std::runtime_error("printing failed");
    };
    mci::NotificationClient client(callback);
    mci::Node node = At("scalars.ucount");
    client.Register(node);
    OtherClient("scalars.ucount").Set(std::vector<unsigned int>{1}, 0);
    for (int i = 0; i < 100 && calls < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    OtherClient("scalars.ucount").Set(std::vector<unsigned int>{2}, 0);
    for (int i = 0; i < 100 && calls < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), 2);
}

// Destroying a client waits for a delivery in progress: its callback may
// use what the caller frees right after.
TEST_F(NotificationTest, DestructionWaitsForADeliveryInProgress) {
    std::atomic<bool> inside{false};
    std::atomic<bool> done{false};
    mci::Callback callback;
    callback.function = [&](const mci::NotificationData&) {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        done = true;
    };
    auto client = std::make_unique<mci::NotificationClient>(callback);
    mci::Node node = At("scalars.big");
    client->Register(node);
    OtherClient("scalars.big").Set(std::vector<long long>{1}, 0);
    for (int i = 0; i < 200 && !inside; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(inside);
    client.reset();
    EXPECT_TRUE(done);
}

TEST_F(NotificationTest, InvalidNodesAreRefused) {
    NotificationLog log;
    mci::NotificationClient client(log.MakeCallback());
    mci::Node none;
    EXPECT_FALSE(ErrorOf([&] { client.Register(none); }).empty());
}

TEST_F(RestartTest, PingSeesTheRestartAndSubscriptionsResume) {
    NotificationLog log;
    mci::NotificationClient client(log.MakeCallback());
    const mci::Node root = Root();
    mci::Node node = root.GetNode(mci::Tokenize("scalars.label"));
    client.Register(node);
    EXPECT_EQ(mci::Ping(root), 0);
    EXPECT_EQ(mci::Ping(root), 0);

    s_server->Restart();
    EXPECT_EQ(mci::Ping(root), 3);
    EXPECT_EQ(mci::Ping(root), 0);
    OtherClient("scalars.label").Set(std::vector<std::string>{"after restart"}, 0);
    const auto got = log.WaitFor(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].value, "after restart");
    // The old handles reach the new server run.
    std::string value;
    node.Get(value, 0);
    EXPECT_EQ(value, "after restart");
}

TEST_F(RestartTest, PingOfAStoppedServerIsOne) {
    const mci::Node root = Root();
    EXPECT_EQ(mci::Ping(root), 0);
    s_server->Stop();
    EXPECT_EQ(mci::Ping(root), 1);
    EXPECT_FALSE(ErrorOf([&] { root.GetNodes(); }).empty());
    std::string message = ErrorOf([&] { root.GetNodes(); });
    EXPECT_EQ(message, "Registry at 127.0.0.1:" + std::to_string(Port()) + " is not reachable");
}

// A server that takes the connection but never answers: calls end at
// their deadline instead of hanging.
TEST_F(RestartTest, AStoppedServerProcessTimesOut) {
    s_server->Restart();  // an earlier test may have ended it
    const mci::Node root = Root(mci::eApplicationRoot, true);
    EXPECT_EQ(mci::Ping(root), 0);
    s_server->Process().Signal(SIGSTOP);
    ASSERT_TRUE(velnor::test::WaitUntilStopped(s_server->Process().Pid()));
    EXPECT_EQ(mci::Ping(root), 1);
    // Connect gives up within its own short deadline.
    EXPECT_FALSE(mci::Connect("", mci::eApplicationRoot, Port(), true).IsValid());
    const std::string message = ErrorOf([&] { root.GetNodes(); });
    s_server->Process().Signal(SIGCONT);
    EXPECT_EQ(message, "Registry at 127.0.0.1:" + std::to_string(Port()) + " did not answer in time");
    EXPECT_EQ(mci::Ping(root), 0);
}

// A notification client that is destroyed at exit, after Shutdown, as the
// tool's listener is.
TEST_F(NotificationTest, ClientOutlivingShutdownEndsCleanly) {
    const auto result =
        velnor::test::Run({velnor::test::BinPath("mci_late_client"), std::to_string(Port()), "scalars.flag"});
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "registered\nnotified\nshut down\n");
    EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace mcitest
