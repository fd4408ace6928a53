#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "fake_stream.h"
#include "isig/stream_client.h"

namespace isig::test {
namespace {

using Fake = FakeStream<Traits16>;
using Client = StreamClient<Traits16>;
using PairPtr = MetaBufferPairPtr<Traits16>;

TEST(Stream, OneBlockIsSharedByAllQueues) {
    auto stream = Fake::Make(4);
    Client first(stream, "first", 16);
    Client second(stream, "second", 16);
    ASSERT_EQ(first.Open(), eSuccess);
    ASSERT_EQ(second.Open(), eSuccess);
    EXPECT_EQ(stream->GetQueueCount(), 2u);
    stream->Release(3);

    for (int block = 0; block < 3; ++block) {
        PairPtr a, b;
        ASSERT_EQ(first.Pop(a), eSuccess);
        ASSERT_EQ(second.Pop(b), eSuccess);
        EXPECT_EQ(a, b) << "block " << block;
        ASSERT_EQ(a->GetArray().GetAtomCount(), 4u);
        EXPECT_EQ(a->GetArray().At(0, 0), block * 40);
        EXPECT_EQ(a->GetArray().At(3, 1), block * 40 + 31);
        EXPECT_EQ(a->GetMeta().at(eMetaPosition), block * 4);
    }
    EXPECT_EQ(stream->GetStatistics()[0].total, 12u);
    EXPECT_EQ(stream->ThreadStarts(), 1);
}

TEST(Stream, SecondClientJoiningWhileTheFirstStartsUsesTheSameThread) {
    auto stream = Fake::Make(2);
    stream->HoldThreadStart();
    Client first(stream, "first", 16);
    Client second(stream, "second", 16);
    SuccessCode_e firstCode = eFailure, secondCode = eFailure;
    std::thread opener([&] { firstCode = first.Open(); });
    ASSERT_TRUE(stream->WaitUntilStarting());
    EXPECT_EQ(stream->GetStreamState(), eStarting);
    std::thread joiner([&] { secondCode = second.Open(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the joiner reach its wait
    stream->OpenStartGate();
    opener.join();
    joiner.join();
    EXPECT_EQ(firstCode, eSuccess);
    EXPECT_EQ(secondCode, eSuccess);
    EXPECT_EQ(stream->ThreadStarts(), 1);
    EXPECT_EQ(stream->GetQueueCount(), 2u);
    stream->Release(1);
    PairPtr a, b;
    ASSERT_EQ(first.Pop(a), eSuccess);
    ASSERT_EQ(second.Pop(b), eSuccess);
    EXPECT_EQ(a, b);
}

TEST(Stream, StatesFollowTheClients) {
    auto stream = Fake::Make(2);
    EXPECT_EQ(stream->GetStreamState(), eIdle);
    {
        Client client(stream, "c", 16);
        ASSERT_EQ(client.Open(), eSuccess);
        EXPECT_EQ(stream->GetStreamState(), eDispatching);
        client.Close();
        // The last client leaving stops and joins the dispatcher.
        EXPECT_EQ(stream->GetStreamState(), eIdle);
        EXPECT_EQ(stream->GetQueueCount(), 0u);
    }
    Client again(stream, "again", 16);
    ASSERT_EQ(again.Open(), eSuccess);
    EXPECT_EQ(stream->GetStreamState(), eDispatching);
    EXPECT_EQ(stream->ThreadStarts(), 2);
    stream->Release(1);
    PairPtr block;
    EXPECT_EQ(again.Pop(block), eSuccess);

    stream->Shutdown();
    EXPECT_EQ(stream->GetStreamState(), eShutdown);
    EXPECT_EQ(again.Pop(block), eQueueClosed);
    Client late(stream, "late", 16);
    EXPECT_EQ(late.Open(), eQueueClosed);
}

TEST(Stream, KindWithoutThreadDispatchesAtOnceAndKindTwoRefusesWhenIdle) {
    auto direct = Fake::Make(2, TwoComponents(), eNoDispatcher);
    Client client(direct, "c", 4);
    ASSERT_EQ(client.Open(), eSuccess);
    EXPECT_EQ(direct->GetStreamState(), eDispatching);
    EXPECT_EQ(direct->ThreadStarts(), 0);
    client.Close();
    EXPECT_EQ(direct->GetStreamState(), eIdle);

    auto refusing = Fake::Make(2, TwoComponents(), eDispatcherOnly);
    Client refused(refusing, "r", 4);
    EXPECT_EQ(refused.Open(), eRemoteFailed);
    EXPECT_FALSE(refused.IsOpen());
}

TEST(Stream, FailuresInsideTheDispatcherCancelEveryClientWithACode) {
    const struct {
        const char* what;
        std::function<SuccessCode_e()> failure;
        SuccessCode_e code;
    } cases[] = {
        {"error code", [] { return eRemoteFailed; }, eRemoteFailed},
        {"closed code", [] { return eClosed; }, eClosed},
        {"standard exception", []() -> SuccessCode_e { throw std::runtime_error("lost"); }, eFailure},
        {"system error",
         []() -> SuccessCode_e { throw std::system_error(std::make_error_code(std::errc::io_error)); }, eFailure},
        {"foreign exception", []() -> SuccessCode_e { throw 42; }, eFailure},
    };
    for (const auto& c : cases) {
        auto stream = Fake::Make(2);
        Client first(stream, "first", 16);
        Client second(stream, "second", 16);
        ASSERT_EQ(first.Open(), eSuccess);
        ASSERT_EQ(second.Open(), eSuccess);
        stream->Release(1);
        PairPtr block;
        ASSERT_EQ(first.Pop(block), eSuccess) << c.what;
        ASSERT_EQ(second.Pop(block), eSuccess) << c.what;
        stream->FailWith(c.failure);
        EXPECT_EQ(first.Pop(block), c.code) << c.what;
        EXPECT_EQ(second.Pop(block), c.code) << c.what;
        EXPECT_TRUE(Eventually([&] { return stream->GetStreamState() == eIdle; })) << c.what;
        EXPECT_EQ(stream->GetQueueCount(), 0u);
        first.Close();
        second.Close();
    }
}

TEST(Stream, InvalidRuntimeAtomEndsTheDispatcherInOrder) {
    auto stream = Fake::Make(2, Traits16(0, {}));
    Client client(stream, "c", 4);
    ASSERT_EQ(client.Open(), eSuccess);
    PairPtr block;
    EXPECT_EQ(client.Pop(block), eFailure);
    EXPECT_TRUE(Eventually([&] { return stream->GetStreamState() == eIdle; }));
}

TEST(Stream, NewClientAfterAFailureStartsAFreshDispatcher) {
    auto stream = Fake::Make(2);
    {
        Client client(stream, "c", 4);
        ASSERT_EQ(client.Open(), eSuccess);
        stream->FailWith([] { return eRemoteFailed; });
        PairPtr block;
        EXPECT_EQ(client.Pop(block), eRemoteFailed);
    }
    stream->FailWith(nullptr);
    Client next(stream, "next", 4);
    ASSERT_EQ(next.Open(), eSuccess);
    stream->Release(1);
    PairPtr block;
    EXPECT_EQ(next.Pop(block), eSuccess);
    EXPECT_EQ(stream->ThreadStarts(), 2);
}

TEST(Stream, FailedThreadStartDetachesTheQueueAndResetsTheState) {
    auto stream = Fake::Make(2);
    stream->RefuseThreadStarts(1);
    Client client(stream, "c", 4);
    EXPECT_EQ(client.Open(), eFailure);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(stream->GetStreamState(), eIdle);
    EXPECT_EQ(stream->GetQueueCount(), 0u);

    Client next(stream, "next", 4);
    ASSERT_EQ(next.Open(), eSuccess);
    stream->Release(1);
    PairPtr block;
    EXPECT_EQ(next.Pop(block), eSuccess);
}

TEST(Stream, SlowReaderLosesBlocksWhileOthersGetAll) {
    auto stream = Fake::Make(3);
    Client slow(stream, "slow", 2);
    Client fast(stream, "fast", 64);
    ASSERT_EQ(slow.Open(), eSuccess);
    ASSERT_EQ(fast.Open(), eSuccess);
    stream->Release(5);
    ASSERT_TRUE(Eventually([&] { return stream->GetStatistics()[0].total == 15; }));
    const SignalStatItem slowStats = slow.GetStatistics()[0];
    EXPECT_EQ(slowStats.total, 6u);
    EXPECT_EQ(slowStats.rejected, 9u);
    EXPECT_EQ(slowStats.atomSize, 4u);
    const SignalStatItem fastStats = fast.GetStatistics()[0];
    EXPECT_EQ(fastStats.total, 15u);
    EXPECT_EQ(fastStats.rejected, 0u);
}

TEST(StreamClient, CloseBeforeOpenIsNotLost) {
    auto stream = Fake::Make(2);
    Client client(stream, "c", 4);
    client.Close();
    EXPECT_EQ(client.Open(), eClosed);
    EXPECT_EQ(stream->GetQueueCount(), 0u);
    EXPECT_EQ(stream->ThreadStarts(), 0);
}

TEST(StreamClient, CloseFromAnotherThreadEndsAWaitingPop) {
    auto stream = Fake::Make(2);
    Client client(stream, "c", 4);
    ASSERT_EQ(client.Open(), eSuccess);
    SuccessCode_e code = eSuccess;
    std::thread reader([&] {
        PairPtr block;
        code = client.Pop(block);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    client.Close();
    reader.join();
    EXPECT_EQ(code, eClosed);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(stream->GetStreamState(), eIdle);
    PairPtr block;
    EXPECT_EQ(client.Pop(block), eClosed);
}

TEST(StreamClient, TimeOutEndsAPopOnAStalledStream) {
    auto stream = Fake::Make(2);
    Client client(stream, "c", 4);
    client.SetTimeout(5);
    ASSERT_EQ(client.Open(), eSuccess);
    PairPtr block;
    EXPECT_EQ(client.Pop(block), eNoData);
    EXPECT_TRUE(client.IsOpen());
}

TEST(StreamClient, ReportsItsQueueStatisticsAndAccessType) {
    auto stream = Fake::Make(4);
    Client client(stream, "velnor-rove", 8);
    EXPECT_EQ(client.SignalAccessType(), eAccessStream);
    EXPECT_EQ(client.GetName(), "velnor-rove");
    ASSERT_EQ(client.Open(), eSuccess);
    EXPECT_EQ(client.Open(), eSuccess);  // already open
    stream->Release(2);
    PairPtr block;
    ASSERT_EQ(client.Pop(block), eSuccess);
    ASSERT_EQ(client.Pop(block), eSuccess);
    const SignalStatistics stats = client.GetStatistics();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].name, "velnor-rove");
    EXPECT_EQ(stats[0].total, 8u);
}

}  // namespace
}  // namespace isig::test
