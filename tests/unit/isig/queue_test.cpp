#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <thread>

#include "fake_stream.h"
#include "isig/stream_queue.h"

namespace isig::test {
namespace {

using Queue = StreamQueue<Traits16>;
using Pair = MetaBufferPair<Traits16>;

MetaBufferPairPtr<Traits16> Block(std::uint32_t atoms, short first) {
    Array<Traits16> array(TwoComponents(), atoms);
    for (std::uint64_t e = 0; e < array.ElementCount(); ++e) array.Data()[e] = static_cast<short>(first + e);
    return std::make_shared<Pair>(std::move(array), SignalMeta{{eMetaLmt, first}});
}

TEST(StreamQueue, PopsBlocksInPushOrderAndHandsOutTheSameBlock) {
    Queue queue(TwoComponents(), "q", 4);
    const auto first = Block(2, 0);
    const auto second = Block(3, 100);
    ASSERT_EQ(queue.Push(first), eSuccess);
    ASSERT_EQ(queue.Push(second), eSuccess);

    MetaBufferPairPtr<Traits16> popped;
    ASSERT_EQ(queue.Pop(popped), eSuccess);
    EXPECT_EQ(popped, first);
    ASSERT_EQ(queue.Pop(popped), eSuccess);
    EXPECT_EQ(popped, second);
    EXPECT_EQ(queue.GetBlockCount(), 0u);
}

TEST(StreamQueue, FullQueueRejectsBlocksAndCountsTheirAtoms) {
    Queue queue(TwoComponents(), "client", 2);
    EXPECT_EQ(queue.Push(Block(4, 0)), eSuccess);
    EXPECT_EQ(queue.Push(Block(5, 0)), eSuccess);
    EXPECT_EQ(queue.Push(Block(6, 0)), eFailure);
    EXPECT_EQ(queue.Push(Block(7, 0)), eFailure);
    EXPECT_EQ(queue.GetBlockCount(), 2u);

    const SignalStatistics stats = queue.GetStatistics();
    ASSERT_EQ(stats.size(), 1u);
    EXPECT_EQ(stats[0].name, "client");
    EXPECT_EQ(stats[0].total, 9u);
    EXPECT_EQ(stats[0].rejected, 13u);
    EXPECT_EQ(stats[0].atomSize, 4u);

    // Room again after a pop.
    MetaBufferPairPtr<Traits16> popped;
    ASSERT_EQ(queue.Pop(popped), eSuccess);
    EXPECT_EQ(queue.Push(Block(1, 0)), eSuccess);
}

TEST(StreamQueue, CapacityZeroStillHoldsOneBlock) {
    Queue queue(TwoComponents(), "q", 0);
    EXPECT_EQ(queue.GetCapacity(), 1u);
    EXPECT_EQ(queue.Push(Block(1, 0)), eSuccess);
    EXPECT_EQ(queue.Push(Block(1, 0)), eFailure);
}

TEST(StreamQueue, CancelWakesAWaitingPopWithItsCode) {
    const struct {
        SuccessCode_e given;
        SuccessCode_e popped;
    } cases[] = {{eSuccess, eQueueClosed}, {eClosed, eClosed}, {eRemoteFailed, eRemoteFailed}, {eFailure, eFailure}};
    for (const auto& c : cases) {
        Queue queue(TwoComponents(), "q", 4);
        SuccessCode_e result = eSuccess;
        std::thread reader([&] {
            MetaBufferPairPtr<Traits16> block;
            result = queue.Pop(block);
        });
        queue.Cancel(c.given);
        reader.join();
        EXPECT_EQ(result, c.popped) << c.given;
        EXPECT_EQ(queue.GetStatus(), c.popped);
    }
}

TEST(StreamQueue, ClosedQueueGivesItsStatusAndRefusesBlocksUncounted) {
    Queue queue(TwoComponents(), "q", 4);
    ASSERT_EQ(queue.Push(Block(3, 0)), eSuccess);
    queue.Close();
    MetaBufferPairPtr<Traits16> popped;
    EXPECT_EQ(queue.Pop(popped), eQueueClosed);
    EXPECT_EQ(popped, nullptr);
    EXPECT_EQ(queue.Push(Block(5, 0)), eQueueClosed);
    const SignalStatistics stats = queue.GetStatistics();
    EXPECT_EQ(stats[0].total, 3u);
    EXPECT_EQ(stats[0].rejected, 0u);
}

TEST(StreamQueue, ResetOpensAgainWithoutOldBlocks) {
    Queue queue(TwoComponents(), "q", 4);
    ASSERT_EQ(queue.Push(Block(3, 0)), eSuccess);
    queue.Cancel(eClosed);
    queue.Reset();
    EXPECT_EQ(queue.GetStatus(), eSuccess);
    EXPECT_EQ(queue.GetBlockCount(), 0u);
    const auto block = Block(1, 7);
    ASSERT_EQ(queue.Push(block), eSuccess);
    MetaBufferPairPtr<Traits16> popped;
    ASSERT_EQ(queue.Pop(popped), eSuccess);
    EXPECT_EQ(popped, block);
}

TEST(StreamQueue, TimeOutEndsAPopWithoutData) {
    Queue queue(TwoComponents(), "q", 4);
    queue.SetTimeout(1);
    MetaBufferPairPtr<Traits16> popped;
    EXPECT_EQ(queue.Pop(popped), eNoData);
    EXPECT_EQ(popped, nullptr);
}

TEST(StreamQueue, HugeTimeOutsStillWaitForData) {
    // A deadline that overflowed would lie in the past and end the pop at once.
    for (const std::uint64_t timeout : {std::uint64_t{4294967295} * 1000, std::numeric_limits<std::uint64_t>::max()}) {
        Queue queue(TwoComponents(), "q", 4);
        queue.SetTimeout(timeout);
        const auto block = Block(1, 0);
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            queue.Push(block);
        });
        MetaBufferPairPtr<Traits16> popped;
        EXPECT_EQ(queue.Pop(popped), eSuccess) << timeout;
        EXPECT_EQ(popped, block);
        writer.join();
    }
}

TEST(StreamQueue, PopIntoArrayCopiesAtomsAndMetadata) {
    Queue queue(TwoComponents(), "q", 4);
    const auto block = Block(3, 40);
    ASSERT_EQ(queue.Push(block), eSuccess);
    Array<Traits16> array(TwoComponents(), 1);
    SignalMeta meta;
    ASSERT_EQ(queue.Pop(array, meta), eSuccess);
    ASSERT_EQ(array.GetAtomCount(), 3u);
    EXPECT_EQ(array.At(0, 0), 40);
    EXPECT_EQ(array.At(2, 1), 45);
    EXPECT_NE(array.Data(), block->GetArray().Data());
    EXPECT_EQ(meta, (SignalMeta{{eMetaLmt, 40}}));
}

}  // namespace
}  // namespace isig::test
