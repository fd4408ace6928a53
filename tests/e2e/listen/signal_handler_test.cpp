// The interrupt handler in-process: what Handle does to a registered client,
// the wait that a signal cuts short, and the race between a reader
// withdrawing its client and a signal closing it.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "isig/client_base.h"
#include "velnor-rove-signal-handler.h"

namespace listen_test {
namespace {

class CountingClient : public isig::SignalClientBase {
public:
    explicit CountingClient(bool failing = false) : m_failing(failing) {}
    void Close() override {
        ++m_closes;
        if (m_failing) throw std::runtime_error("close failed");
    }
    int Closes() const { return m_closes.load(); }

private:
    const bool m_failing;
    std::atomic<int> m_closes{0};
};

struct HandleCase {
    const char* name;
    bool registered;
    bool withdrawn;
    bool failing;
    std::vector<int> signals;
    int closes;
};

TEST(SigHandler, HandleClosesTheRegisteredClientOnceAndRecordsTheLastSignal) {
    const HandleCase cases[] = {
        {"no client: only the number", false, false, false, {SIGINT}, 0},
        {"registered client is closed", true, false, false, {SIGTERM}, 1},
        {"second signal only overwrites the number", true, false, false, {SIGINT, SIGHUP}, 1},
        {"withdrawn client is left alone", true, true, false, {SIGQUIT}, 0},
        {"failing close does not escape", true, false, true, {SIGINT, SIGTERM}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VelnorRoveSigHandler handler;
        CountingClient client(c.failing);
        if (c.registered) handler.RegisterClient(&client);
        if (c.withdrawn) handler.WithdrawClient();
        for (int signal : c.signals) EXPECT_NO_THROW(handler.Handle(signal));
        EXPECT_EQ(client.Closes(), c.closes);
        EXPECT_EQ(handler.Signal(), c.signals.back());
    }
}

TEST(SigHandler, NoSignalMeansZeroAndAWaitThatTimesOut) {
    VelnorRoveSigHandler handler;
    EXPECT_EQ(handler.Signal(), 0);
    EXPECT_FALSE(handler.WaitForSignal(std::chrono::seconds(0)));
}

TEST(SigHandler, SignalBeforeTheWaitIsNotMissed) {
    VelnorRoveSigHandler handler;
    handler.Handle(SIGINT);
    EXPECT_TRUE(handler.WaitForSignal(std::chrono::seconds(4294967295u)));
}

// The longest wait the listening phase asks for ends when a signal comes.
TEST(SigHandler, SignalEndsTheLongestWait) {
    VelnorRoveSigHandler handler;
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        handler.Handle(SIGTERM);
    });
    EXPECT_TRUE(handler.WaitForSignal(std::chrono::seconds(4294967295u)));
    signaller.join();
    EXPECT_EQ(handler.Signal(), SIGTERM);
}

// A reader registers a client, withdraws it and destroys it, over and over,
// while signals keep arriving: Handle must never reach a destroyed client
// (AddressSanitizer and ThreadSanitizer watch this one).
TEST(SigHandler, WithdrawnClientIsNeverClosedAfterItsEnd) {
    VelnorRoveSigHandler handler;
    std::atomic<bool> done{false};
    std::atomic<int> closes{0};
    std::thread signals([&] {
        while (!done.load()) handler.Handle(SIGINT);
    });
    for (int i = 0; i < 20000; ++i) {
        auto client = std::make_unique<CountingClient>();
        handler.RegisterClient(client.get());
        std::this_thread::yield();
        handler.WithdrawClient();
        closes += client->Closes();
        EXPECT_LE(client->Closes(), 1);
    }
    done.store(true);
    signals.join();
    EXPECT_EQ(handler.Signal(), SIGINT);
}

// The installed handler (installed by main) receives a real signal sent to
// the process on its own thread, and the wait of the main thread ends.
TEST(SigHandler, InstalledHandlerReceivesARealSignal) {
    const auto thread = sigThread;
    ASSERT_NE(thread, nullptr);
    InstallSignalHandler();  // a second call changes nothing
    EXPECT_EQ(sigThread, thread);
    ASSERT_EQ(kill(getpid(), SIGHUP), 0);
    EXPECT_TRUE(sigHandler.WaitForSignal(std::chrono::seconds(30)));
    EXPECT_EQ(sigHandler.Signal(), SIGHUP);
}

}  // namespace
}  // namespace listen_test
