// Notifications pushed by the server to subscribed sinks (over the client's
// own connection: bidirectional GIOP).
#include <gtest/gtest.h>

#include "raw_registry.h"
#include "support/registry_server.h"

namespace velnor::test {
namespace {

using namespace std::chrono_literals;

class Notifications : public ::testing::Test {
protected:
    Notifications() : server(FixturePath("server-basic.yaml")), app(server.Port()) {}

    void Subscribe(const std::string& key, RecordingSink& sink, const std::string& path) {
        app->subscribe(key.c_str(), sink.Reference(), app.Id(path));
    }

    RegistryServer server;
    RawRegistry app;
};

TEST_F(Notifications, ScalarWriteCarriesTheNodeTypedValue) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "scalars.i32");
    app->set(app.Id("scalars.i32"), 0, Doubles({7.0}));
    EXPECT_EQ(sink->WaitFor(1), (std::vector<Received>{{"scalars.i32", "i32:7", 0}}));
}

TEST_F(Notifications, ArrayWritesNotifyTheWrittenRange) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "arrays.coeffs");
    app->set(app.Id("arrays.coeffs"), 1, Ints({7, 8}));
    app->set(app.Id("arrays.coeffs"), 3, Ints({9}));
    app->set(app.Id("arrays.coeffs"), 0, Ints({4, 5, 6, 7}));
    EXPECT_EQ(sink->WaitFor(3), (std::vector<Received>{{"arrays.coeffs", "i32:7,8", 1},
                                                       {"arrays.coeffs", "i32:9", 3},
                                                       {"arrays.coeffs", "i32:4,5,6,7", 0}}));
}

TEST_F(Notifications, RefusedWritesNotifyNothing) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "scalars.i32");
    EXPECT_NE(ErrorOf([&] { app->set(app.Id("scalars.i32"), 0, Ints({11})); }), "");
    app->set(app.Id("scalars.i32"), 0, Ints({3}));
    EXPECT_EQ(sink->WaitFor(1), (std::vector<Received>{{"scalars.i32", "i32:3", 0}}));
    // The accepted write was the only one: nothing else may follow it.
    EXPECT_EQ(sink->WaitFor(2, 300ms).size(), 1u);
}

TEST_F(Notifications, SubscribingTwiceDeliversTwice) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "scalars.text");
    Subscribe("k", *sink, "scalars.text");
    app->set(app.Id("scalars.text"), 0, Strings({"x"}));
    EXPECT_EQ(sink->WaitFor(2), (std::vector<Received>{{"scalars.text", "s:x", 0}, {"scalars.text", "s:x", 0}}));
}

TEST_F(Notifications, FunctionSetsNotifyTheirTargets) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "saved.gain");
    Subscribe("k", *sink, "saved.table");
    EXPECT_TRUE(app->execute(app.Id("saved.reset")));
    EXPECT_EQ(sink->WaitFor(2),
              (std::vector<Received>{{"saved.gain", "f64:1", 0}, {"saved.table", "i32:0,0,0", 0}}));
}

TEST_F(Notifications, GeneratorChangesArriveByThemselves) {
    auto sink = MakeSink();
    Subscribe("k", *sink, "live.ticker");
    const std::vector<Received> got = sink->WaitFor(3);
    ASSERT_GE(got.size(), 3u);
    // A counter: each value one more than the one before.
    for (std::size_t i = 1; i < 3; ++i)
        EXPECT_EQ(std::stoul(got[i].value.substr(4)), std::stoul(got[i - 1].value.substr(4)) + 1) << i;
}

TEST_F(Notifications, UnsubscribeEndsDelivery) {
    auto gone = MakeSink();
    auto witness = MakeSink();
    Subscribe("gone", *gone, "scalars.u32");
    Subscribe("witness", *witness, "scalars.u32");
    app->set(app.Id("scalars.u32"), 0, UInts({1}));
    ASSERT_EQ(gone->WaitFor(1).size(), 1u);
    app->unsubscribe("gone");
    app->set(app.Id("scalars.u32"), 0, UInts({2}));
    ASSERT_EQ(witness->WaitFor(2).size(), 2u);
    EXPECT_EQ(gone->WaitFor(2, 200ms).size(), 1u);
}

TEST_F(Notifications, ASinkThatFailsIsDropped) {
    auto failing = MakeSink(true);
    auto witness = MakeSink();
    Subscribe("failing", *failing, "scalars.i64");
    Subscribe("witness", *witness, "scalars.i64");
    app->set(app.Id("scalars.i64"), 0, Int64s({1}));
    ASSERT_EQ(witness->WaitFor(1).size(), 1u);
    ASSERT_EQ(failing->WaitForCalls(1), 1u);
    app->set(app.Id("scalars.i64"), 0, Int64s({2}));
    app->set(app.Id("scalars.i64"), 0, Int64s({3}));
    ASSERT_EQ(witness->WaitFor(3).size(), 3u);
    EXPECT_EQ(failing->Calls(), 1u);
}

TEST_F(Notifications, SubscribingAnUnknownNodeFails) {
    auto sink = MakeSink();
    EXPECT_EQ(ErrorOf([&] { app->subscribe("k", sink->Reference(), 999999); }), "NotFound #999999");
}

}  // namespace
}  // namespace velnor::test
