// A listener that falls behind is dropped by the server, which never waits
// for it; with a managed connection its next ping subscribes it again.
#include <gtest/gtest.h>

#include <csignal>

#include "listen_session.h"
#include "mci/mci.h"

namespace listen_test {
namespace {

using velnor::test::FixturePath;
using velnor::test::RegistryServer;

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
    EXPECT_EQ(listener.Process().Err(), "Reconnected managed connection.\n");
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
