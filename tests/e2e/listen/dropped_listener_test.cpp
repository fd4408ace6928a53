// A listener that falls behind is dropped by the server, which never waits
// for it; with a managed connection its next ping subscribes it again.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>

#include "listen_session.h"
#include "mci/mci.h"

namespace listen_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;
using namespace std::chrono_literals;

TEST(DroppedListener, NextPingSubscribesItAgain) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"--ping", "1", "scalars.count"}, 1);
    const mci::Node root = mci::Connect("", mci::eApplicationRoot, server.Port(), false);
    const mci::Node count = root.GetNode(mci::Tokenize("scalars.count"));

    // More changes than the server queues for one listener, while it reads
    // nothing: the server drops it.
    listener.Process().Signal(SIGSTOP);
    for (int i = 0; i < 70000; ++i) count.Set(std::vector<int>{i % 1000}, 0);
    listener.Process().Signal(SIGCONT);

    // Keep writing a marker until the listener prints it again.
    std::string line;
    const std::string marker = "listen-host.scalars.count=5000";
    for (int i = 0; i < 100 && line != marker; ++i) {
        count.Set(std::vector<int>{5000}, 0);
        while (listener.Process().ReadLine(line, 200ms) && line != marker) {
        }
    }
    EXPECT_EQ(line, marker);
    ASSERT_EQ(listener.StopWith(SIGINT), 0);
    // How many were lost depends on how far the writes got before the drop.
    const std::regex expected(
        "Notifications of scalars\\.count were lost \\(the listener fell behind\\); [1-9][0-9]* missed\\.\n"
        "Reconnected managed connection\\.\n");
    EXPECT_TRUE(std::regex_match(listener.Process().Err(), expected)) << listener.Process().Err();
}

// Without --ping nothing subscribes it again: the listener learns of the
// drop at its next check of the subscriptions, says what was lost and ends
// with status 1. The write that was in flight when the server gave up may
// still be printed; it is counted as missed all the same (not acknowledged).
TEST(DroppedListener, WithoutPingTheRunEndsWithTheLoss) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    ListenSession listener(server, {"scalars.count"}, 1);
    listener.Process().Signal(SIGSTOP);
    ASSERT_TRUE(velnor::test::WaitUntilStopped(listener.Process().Pid()));
    for (const char* write : {"scalars.count=1", "scalars.count=2", "scalars.count=3"}) Write(server, {write});
    // The delivery times out (5 s) and the server drops the listener.
    ASSERT_TRUE(server.Process().WaitForError("dropped listener", 1, 60s)) << server.Process().Err();
    EXPECT_NE(server.Process().Err().find("; 3 notifications lost\n"), std::string::npos) << server.Process().Err();
    listener.Process().Signal(SIGCONT);

    EXPECT_EQ(listener.Process().Wait(60s), 1);
    const std::string heading = Announcement({"count"});
    const std::string out = listener.Process().Out();
    EXPECT_TRUE(out == heading || out == heading + "listen-host.scalars.count=1\n") << out;
    EXPECT_EQ(listener.Process().Err(), "Notifications of scalars.count were lost (the listener fell behind); 3 missed.\n");
}

// The library's side of it: Ping reports the re-made subscriptions once,
// and a client that was not dropped gets 0.
TEST(DroppedListener, PingIsQuietWhileTheSubscriptionLives) {
    RegistryServer server(FixturePath("listen-values.yaml"));
    const mci::Node root = mci::Connect("", mci::eApplicationRoot, server.Port(), false);
    mci::Node count = root.GetNode(mci::Tokenize("scalars.count"));
    mci::Callback callback;
    callback.function = [](const mci::NotificationData&) {};
    mci::NotificationClient client(callback);
    client.Register(count);
    EXPECT_EQ(mci::Ping(root), 0);
    EXPECT_EQ(mci::Ping(root), 0);
}

}  // namespace
}  // namespace listen_test
