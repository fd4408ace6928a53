#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "fake_remote.h"
#include "isig/dod_remote_client.h"
#include "isig/pull_ahead.h"
#include "isig/remote.h"
#include "isig/stream_client.h"
#include "scripted_stream.h"
#include "support/activated_servant.h"

namespace isig::test {
namespace {

using TraitsD = SignalTraits<double, RuntimeDefined, 1>;
using DodSource = DataOnDemandRemoteSource<TraitsD>;
using DodClient = DodRemoteClient<TraitsD>;

// The process's ORB, shared by the library's servants and the fakes.
class OrbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        int argc = 0;
        s_orb = CORBA::ORB_init(argc, nullptr);
        CORBA::Object_var object = s_orb->resolve_initial_references("RootPOA");
        s_poa = PortableServer::POA::_narrow(object);
        PortableServer::POAManager_var manager = s_poa->the_POAManager();
        manager->activate();
    }
    void TearDown() override {
        s_poa = PortableServer::POA::_nil();
        s_orb->destroy();
    }
    static CORBA::ORB_var s_orb;
    static PortableServer::POA_var s_poa;
};
CORBA::ORB_var OrbEnvironment::s_orb;
PortableServer::POA_var OrbEnvironment::s_poa;
const auto* const g_orbEnvironment = ::testing::AddGlobalTestEnvironment(new OrbEnvironment);

// One fake remote signal, activated for the test's lifetime.
class RemoteFixture {
public:
    RemoteFixture(CORBA::Short atomType, CORBA::Short accessType, std::vector<std::string> components = {"x", "y"})
        : m_servant(OrbEnvironment::s_poa.in(), new FakeRemoteSignal(atomType, accessType, std::move(components))) {}
    FakeRemoteSignal& Fake() { return m_servant.Get(); }
    i_NET::RemoteSignal_ptr Ref() { return m_servant.Ref(); }
    std::shared_ptr<DodSource> DodSourceOf() {
        return std::dynamic_pointer_cast<DodSource>(CreateRemoteSignalSource(Ref()));
    }

private:
    velnor::test::ActivatedServant<FakeRemoteSignal, i_NET::RemoteSignal> m_servant;
};

TEST(RemoteSource, FactoryBuildsTheSourceTheSignalAsksFor) {
    const struct {
        CORBA::Short atomType;
        CORBA::Short accessType;
        std::int32_t baseType;
        std::int32_t access;
        bool dod;
        bool stream;
    } cases[] = {
        {1, 2, 1, 2, true, false},  {1, 1, 1, 1, false, true},    {10, 1, 10, 1, false, false},
        {42, 2, -1, 2, false, false}, {1, 3, 1, 3, false, false}, {0, 1, 0, 1, false, false},
    };
    for (const auto& c : cases) {
        RemoteFixture remote(c.atomType, c.accessType);
        const SignalSourceSharedPtr source = CreateRemoteSignalSource(remote.Ref());
        ASSERT_TRUE(source);
        EXPECT_EQ(source->BaseEnumType(), c.baseType) << c.atomType;
        EXPECT_EQ(source->SignalAccessType(), c.access) << c.atomType;
        EXPECT_EQ(source->GetName(), "test.signal");
        EXPECT_EQ(source->GetComponentNames(), (std::vector<std::string>{"x", "y"}));
        EXPECT_EQ(std::dynamic_pointer_cast<DodSource>(source) != nullptr, c.dod) << c.atomType;
        EXPECT_EQ(std::dynamic_pointer_cast<RemoteStream<TraitsD>>(source) != nullptr, c.stream) << c.atomType;
    }
}

TEST(DodRemoteClient, ReadsBlocksOnDemand) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    ASSERT_TRUE(source);
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eNow, 5, 7), eSuccess);
    EXPECT_TRUE(client.IsOpen());
    EXPECT_EQ(source->GetOpenClientCount(), 1u);
    EXPECT_EQ(remote.Fake().Depth(), 256u);

    Array<TraitsD> buffer(source->GetTraits(), 5);
    SignalMeta meta;
    ASSERT_EQ(client.Read(buffer, meta, 1000), eSuccess);
    ASSERT_EQ(buffer.GetAtomCount(), 3u);  // the fake gives at most 3
    EXPECT_EQ(buffer.At(0, 0), 1000.0);
    EXPECT_EQ(buffer.At(2, 1), -1002.0);
    EXPECT_EQ(meta.at(eMetaLmt), 1000);
    EXPECT_EQ(meta.at(eMetaAtomCount), 3);

    client.Close();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(remote.Fake().Unregistrations(), 1);
    EXPECT_EQ(source->GetOpenClientCount(), 0u);
    EXPECT_EQ(client.Read(buffer, meta, 0), eClosed);
}

TEST(DodRemoteClient, OpenAnswersForTheModeItIsOpenIn) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eLmt, 4, 0), eSuccess);
    EXPECT_EQ(client.Open(eLmt, 4, 0), eSuccess);
    EXPECT_EQ(client.Open(ePosition, 4, 0), eOtherMode);
    EXPECT_EQ(remote.Fake().Registrations(), 1);
}

TEST(DodRemoteClient, RefusedRegistrationGivesTheRemoteCode) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    EXPECT_EQ(client.Open(eNow, 0, 0), eFailure);
    EXPECT_FALSE(client.IsOpen());
}

TEST(DodRemoteClient, CloseBeforeOpenMakesOpenFail) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    client.Close();  // an interrupt between registration with the handler and Open
    EXPECT_EQ(client.Open(eNow, 4, 0), eClosed);
    EXPECT_EQ(remote.Fake().Registrations(), 0);
}

TEST(DodRemoteClient, NoComponentsGiveAnErrorCode) {
    RemoteFixture remote(1, 2, {});
    auto source = remote.DodSourceOf();
    ASSERT_TRUE(source);
    EXPECT_EQ(source->GetTraits().GetComponents(), 0u);
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    EXPECT_EQ(client.Open(eNow, 4, 0), eFailure);
    EXPECT_EQ(remote.Fake().Registrations(), 0);
}

TEST(DodRemoteClient, EventBlocksArriveThroughTheReceiver) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eEvent, 2, 0), eSuccess);
    remote.Fake().FireEvent(500);
    remote.Fake().FireEvent(600);
    Array<TraitsD> buffer(source->GetTraits(), 2);
    SignalMeta meta;
    ASSERT_EQ(client.Read(buffer, meta, 0), eSuccess);
    EXPECT_EQ(buffer.At(1, 0), 501.0);
    EXPECT_EQ(meta.at(eMetaEvent), 1);
    ASSERT_EQ(client.Read(buffer, meta, 0), eSuccess);
    EXPECT_EQ(buffer.At(0, 1), -600.0);
    EXPECT_EQ(meta.at(eMetaEvent), 2);
}

TEST(DodRemoteClient, CloseEndsAnEventWait) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eEvent, 2, 0), eSuccess);
    SuccessCode_e code = eSuccess;
    std::thread reader([&] {
        Array<TraitsD> buffer(source->GetTraits(), 2);
        SignalMeta meta;
        code = client.Read(buffer, meta, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    client.Close();
    reader.join();
    EXPECT_EQ(code, eClosed);
}

TEST(DodRemoteClient, RemoteCancelEndsAnEventWaitWithItsCode) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eEvent, 2, 0), eSuccess);
    remote.Fake().CancelReceiver(-6);
    Array<TraitsD> buffer(source->GetTraits(), 2);
    SignalMeta meta;
    EXPECT_EQ(client.Read(buffer, meta, 0), eRemoteFailed);
}

TEST(DodRemoteClient, CloseEndsASingleEventReadWaitingOnTheServer) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    DodClient client(source->GetSharedPtr(), "dod_client", source->GetTraits());
    ASSERT_EQ(client.Open(eSingleEvent, 2, 0), eSuccess);
    SuccessCode_e code = eSuccess;
    std::thread reader([&] {
        Array<TraitsD> buffer(source->GetTraits(), 2);
        SignalMeta meta;
        code = client.Read(buffer, meta, 0);
    });
    ASSERT_TRUE(remote.Fake().WaitForReader());
    client.Close();
    reader.join();
    EXPECT_EQ(code, eClosed);
}

TEST(DodRemoteClient, ReadAfterTheSourceIsGoneGivesClosed) {
    RemoteFixture remote(1, 2);
    auto source = remote.DodSourceOf();
    const TraitsD traits = source->GetTraits();
    DodClient client(source->GetSharedPtr(), "dod_client", traits);
    ASSERT_EQ(client.Open(eNow, 2, 0), eSuccess);
    source.reset();
    Array<TraitsD> buffer(traits, 2);
    SignalMeta meta;
    EXPECT_EQ(client.Read(buffer, meta, 0), eClosed);
    EXPECT_FALSE(client.IsOpen());
}

TEST(RemoteStream, PullsBlocksUntilTheRemoteFails) {
    RemoteFixture remote(1, 1);
    auto stream = std::dynamic_pointer_cast<RemoteStream<TraitsD>>(CreateRemoteSignalSource(remote.Ref()));
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->GetBlockSize(), 3u);
    StreamClient<TraitsD> client(stream, "velnor-rove", 16);
    ASSERT_EQ(client.Open(), eSuccess);
    MetaBufferPairPtr<TraitsD> block;
    ASSERT_EQ(client.Pop(block), eSuccess);
    EXPECT_EQ(block->GetArray().At(0, 0), 0.0);
    EXPECT_EQ(block->GetMeta().at(eMetaPosition), 0);
    ASSERT_EQ(client.Pop(block), eSuccess);
    EXPECT_EQ(block->GetArray().At(0, 0), 300.0);
    EXPECT_EQ(block->GetMeta().at(eMetaPosition), 3);
    EXPECT_EQ(stream->GetStatistics()[0].total, 6u);
    remote.Fake().FailPulls();
    EXPECT_EQ(client.Pop(block), eRemoteFailed);
}

// A scripted stream servant, activated for the test's lifetime.
class ScriptedFixture {
public:
    ScriptedFixture() : m_servant(OrbEnvironment::s_poa.in(), new ScriptedStream) {}
    ScriptedStream& Script() { return m_servant.Get(); }
    i_NET::RemoteSignal_ptr Ref() { return m_servant.Ref(); }
    std::shared_ptr<RemoteStream<TraitsD>> Stream() {
        return std::make_shared<RemoteStream<TraitsD>>(Ref(), "scripted", TraitsD(2, {"x", "y"}),
                                                       static_cast<std::uint32_t>(ScriptedStream::c_blockAtoms));
    }

private:
    velnor::test::ActivatedServant<ScriptedStream, i_NET::RemoteSignal> m_servant;
};

double FirstElement(const i_NET::Block& block) {
    double value = -1;
    if (block.data.length() >= sizeof value) std::memcpy(&value, block.data.get_buffer(), sizeof value);
    return value;
}

// Takes the block at `position` and checks that it is that block.
void ExpectBlockAt(PullAhead& ahead, std::uint64_t position, std::uint64_t expected) {
    i_NET::Block_var block;
    ASSERT_EQ(ahead.Take(position, block), eSuccess) << "at " << position;
    EXPECT_EQ(block->info.position, expected);
    EXPECT_EQ(FirstElement(block.in()), static_cast<double>(expected));
}

TEST(PullAhead, HandsOutBlocksInPositionOrderWhilePullsOverlap) {
    ScriptedFixture remote;
    // Two pulls run at once, however the threads are scheduled.
    remote.Script().EveryOtherBlockWaitsForAnOverlap(std::chrono::seconds(2));
    PullAhead ahead(remote.Ref(), 3, 2, "test");
    for (std::uint64_t position = 0; position < 60; position += 3) ExpectBlockAt(ahead, position, position);
    EXPECT_EQ(remote.Script().MostPullsAtOnce(), 2);
    // At most the puller's one pull beyond what was taken: none wasted.
    EXPECT_LE(ahead.GetPullCount(), 21u);
}

TEST(PullAhead, DepthOnePullsOneBlockAtATime) {
    ScriptedFixture remote;
    remote.Script().SlowEveryOtherBlock(std::chrono::milliseconds(2));
    PullAhead ahead(remote.Ref(), 3, 1, "test");
    for (std::uint64_t position = 0; position < 18; position += 3) ExpectBlockAt(ahead, position, position);
    EXPECT_EQ(remote.Script().MostPullsAtOnce(), 1);
}

TEST(PullAhead, SkippedAtomsMakeItContinueWhereTheServerWent) {
    ScriptedFixture remote;
    remote.Script().SkipAt(6, 30);
    PullAhead ahead(remote.Ref(), 3, 2, "test");
    ExpectBlockAt(ahead, 0, 0);
    ExpectBlockAt(ahead, 3, 3);
    ExpectBlockAt(ahead, 6, 30);
    // The pull made ahead for 9 is dropped.
    ExpectBlockAt(ahead, 33, 33);
    ExpectBlockAt(ahead, 36, 36);
}

TEST(PullAhead, NoDataIsAskedForAgainAtTheSamePosition) {
    ScriptedFixture remote;
    remote.Script().NoDataOnceAt(6);
    PullAhead ahead(remote.Ref(), 3, 2, "test");
    ExpectBlockAt(ahead, 0, 0);
    ExpectBlockAt(ahead, 3, 3);
    i_NET::Block_var block;
    EXPECT_EQ(ahead.Take(6, block), eNoData);
    ExpectBlockAt(ahead, 6, 6);
    ExpectBlockAt(ahead, 9, 9);
}

TEST(PullAhead, FailedPullsGiveRemoteFailed) {
    ScriptedFixture remote;
    remote.Script().FailFrom(9);
    PullAhead ahead(remote.Ref(), 3, 2, "test");
    for (std::uint64_t position = 0; position < 9; position += 3) ExpectBlockAt(ahead, position, position);
    i_NET::Block_var block;
    EXPECT_EQ(ahead.Take(9, block), eRemoteFailed);
}

TEST(PullAhead, DestructionWaitsForThePullsInFlight) {
    ScriptedFixture remote;
    remote.Script().SlowEveryOtherBlock(std::chrono::milliseconds(20));
    {
        PullAhead ahead(remote.Ref(), 3, 2, "test");
        ExpectBlockAt(ahead, 0, 0);  // 3 and the slow 6 are in flight now
    }
    EXPECT_EQ(remote.Script().PullsRunning(), 0);
    PullAhead unused(remote.Ref(), 3, 2, "test");  // never taken from: pulls nothing
    EXPECT_EQ(unused.GetPullCount(), 0u);
}

TEST(RemoteStream, PullsAheadAndDeliversEveryBlockOnceInOrder) {
    ScriptedFixture remote;
    remote.Script().SlowEveryBlock(std::chrono::milliseconds(2));
    const auto stream = remote.Stream();
    StreamClient<TraitsD> client(stream, "velnor-rove", 1000);
    ASSERT_EQ(client.Open(), eSuccess);
    for (std::int64_t position = 0; position < 90; position += 3) {
        MetaBufferPairPtr<TraitsD> block;
        ASSERT_EQ(client.Pop(block), eSuccess);
        EXPECT_EQ(block->GetMeta().at(eMetaPosition), position);
        EXPECT_EQ(block->GetArray().At(2, 1), -static_cast<double>(position + 2));
    }
    EXPECT_EQ(remote.Script().MostPullsAtOnce(), 2);
    client.Close();  // joins the dispatcher, which joins its pullers
    EXPECT_EQ(remote.Script().PullsRunning(), 0);
    EXPECT_EQ(stream->GetStatistics()[0].rejected, 0u);
}

TEST(RemoteStream, AtomsTheServerSkippedAreCountedAsLost) {
    ScriptedFixture remote;
    remote.Script().SkipAt(6, 30);
    const auto stream = remote.Stream();
    StreamClient<TraitsD> client(stream, "velnor-rove", 1000);
    ASSERT_EQ(client.Open(), eSuccess);
    for (std::int64_t position : {0, 3, 30, 33, 36}) {
        MetaBufferPairPtr<TraitsD> block;
        ASSERT_EQ(client.Pop(block), eSuccess);
        EXPECT_EQ(block->GetMeta().at(eMetaPosition), position);
    }
    EXPECT_EQ(stream->GetStatistics()[0].rejected, 24u);
}

}  // namespace
}  // namespace isig::test
