// Persistent values survive restarts, even a kill -9 right after the write
// was acknowledged; stale saved entries are skipped with a warning.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "raw_registry.h"
#include "support/registry_server.h"

namespace velnor::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(Persistence, AcknowledgedWritesSurviveKill9) {
    const std::string state = TempDir() + "/state.yaml";
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    {
        RawRegistry app(server.Port());
        app->set(app.Id("saved.gain"), 0, Doubles({0.1}));
        app->set(app.Id("saved.mode"), 0, Strings({"on"}));
        app->set(app.Id("saved.table"), 1, Ints({9}));
        app->set(app.Id("scalars.i32"), 0, Ints({-3}));
    }
    server.Kill();
    server.Restart();
    RawRegistry app(server.Port());
    EXPECT_EQ(app.Read("saved.gain"), "f64:0.10000000000000001");
    EXPECT_EQ(app.Read("saved.mode"), "s:on");
    EXPECT_EQ(app.Read("saved.table"), "i32:1,9,3");
    EXPECT_EQ(app.Read("scalars.i32"), "i32:5");  // not persistent
    EXPECT_EQ(server.Process().Err(), "");
}

TEST(Persistence, FunctionSetsArePersistedToo) {
    const std::string state = TempDir() + "/state.yaml";
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    {
        RawRegistry app(server.Port());
        app->set(app.Id("saved.gain"), 0, Doubles({9.0}));
        app->execute(app.Id("saved.reset"));
    }
    server.Kill();
    server.Restart();
    RawRegistry app(server.Port());
    EXPECT_EQ(app.Read("saved.gain"), "f64:1");
    EXPECT_EQ(app.Read("saved.table"), "i32:0,0,0");
}

TEST(Persistence, StateFileHoldsEveryPersistentNode) {
    const std::string state = TempDir() + "/state.yaml";
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    RawRegistry app(server.Port());
    app->set(app.Id("saved.gain"), 0, Doubles({2.5}));
    EXPECT_EQ(ReadFile(state),
              "# velnor-registryd: values of persistent nodes, replaced on every change\n"
              "application:\n"
              "  saved.gain: {type: double, value: 2.5}\n"
              "  saved.mode: {type: enum, value: \"off\"}\n"
              "  saved.table: {type: int32, value: [1, 2, 3]}\n"
              "platform: {}\n");
}

TEST(Persistence, StaleEntriesAreSkippedWithAWarning) {
    const std::string state = TempDir() + "/state.yaml";
    WriteFile(state,
              "application:\n"
              "  saved.gain: {type: int32, value: 3}\n"
              "  saved.table: {type: int32, value: [7, 7]}\n"
              "  saved.mode: {type: enum, value: \"on\"}\n"
              "  scalars.i32: {type: int32, value: 4}\n"
              "  gone.away: {type: double, value: 1}\n"
              "  saved.reset: {type: bool, value: true}\n"
              "platform: {}\n");
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    RawRegistry app(server.Port());
    EXPECT_EQ(app.Read("saved.gain"), "f64:1.5");
    EXPECT_EQ(app.Read("saved.table"), "i32:1,2,3");
    EXPECT_EQ(app.Read("saved.mode"), "s:on");
    EXPECT_EQ(app.Read("scalars.i32"), "i32:5");
    const std::string prefix = "velnor-registryd: warning: " + state + ": ignoring the saved value of application node ";
    EXPECT_EQ(server.Process().Err(), prefix + "saved.gain: the node's type changed\n" + prefix +
                                          "saved.table: the node's size changed\n" + prefix +
                                          "scalars.i32: the node is not persistent\n" + prefix +
                                          "gone.away: the node no longer exists\n" + prefix +
                                          "saved.reset: the node is not persistent\n");
}

TEST(Persistence, AnUnreadableStateFileStopsTheStart) {
    const std::string state = TempDir() + "/state.yaml";
    WriteFile(state, "application: [\n");
    const RunResult result = velnor::test::Run({BinPath("velnor-registryd"), "--tree", FixturePath("server-basic.yaml"), "--port", "0",
                                  "--state", state});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("velnor-registryd: cannot use the state file: " + state + ":2: ", 0), 0u) << result.err;
}

TEST(Persistence, AWriteThatCannotBeSavedIsRefusedAndChangesNothing) {
    const std::string state = TempDir() + "/missing-dir/state.yaml";
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    RawRegistry app(server.Port());
    EXPECT_EQ(ErrorOf([&] { app->set(app.Id("saved.gain"), 0, Doubles({3.0})); }),
              "Node saved.gain was not changed: its value could not be saved (cannot create " + state +
                  ".tmp: No such file or directory)");
    EXPECT_EQ(app.Read("saved.gain"), "f64:1.5");
    // Nodes that do not persist are not affected.
    app->set(app.Id("scalars.i32"), 0, Ints({4}));
    EXPECT_EQ(app.Read("scalars.i32"), "i32:4");
}

}  // namespace
}  // namespace velnor::test
