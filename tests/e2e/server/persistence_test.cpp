// Persistent values survive restarts, even a kill -9 right after the write
// was acknowledged; stale saved entries are skipped with a warning.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <set>
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

// The end line a state file must close with: the entry count and the
// CRC-32 (zlib's) of every byte before it.
std::string Sealed(const std::string& body, int entries) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : body) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(crc ^ 0xFFFFFFFFu));
    return body + "# end of state, entries: " + std::to_string(entries) + ", crc32: " + hex + "\n";
}

std::vector<std::string> StartArgs(const std::string& state) {
    return {BinPath("velnor-registryd"), "--tree", FixturePath("server-basic.yaml"), "--port", "0", "--state", state};
}

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
    EXPECT_EQ(ReadFile(state), Sealed("# velnor-registryd: values of persistent nodes, replaced on every change\n"
                                      "application:\n"
                                      "  saved.gain: {type: double, value: 2.5}\n"
                                      "  saved.mode: {type: enum, value: \"off\"}\n"
                                      "  saved.table: {type: int32, value: [1, 2, 3]}\n"
                                      "platform: {}\n",
                                      3));
}

TEST(Persistence, StaleEntriesAreSkippedWithAWarning) {
    const std::string state = TempDir() + "/state.yaml";
    WriteFile(state, Sealed("application:\n"
                            "  saved.gain: {type: int32, value: 3}\n"
                            "  saved.table: {type: int32, value: [7, 7]}\n"
                            "  saved.mode: {type: enum, value: \"on\"}\n"
                            "  scalars.i32: {type: int32, value: 4}\n"
                            "  gone.away: {type: double, value: 1}\n"
                            "  saved.reset: {type: bool, value: true}\n"
                            "platform: {}\n",
                            6));
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
    WriteFile(state, Sealed("application: [\n", 0));
    const RunResult result = velnor::test::Run(StartArgs(state));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("velnor-registryd: cannot use the state file: " + state + ":2: ", 0), 0u) << result.err;
}

TEST(Persistence, AWriteThatCannotBeSavedIsRefusedAndChangesNothing) {
    const std::string dir = TempDir() + "/gone";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string state = dir + "/state.yaml";
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    ASSERT_EQ(::rmdir(dir.c_str()), 0);
    RawRegistry app(server.Port());
    EXPECT_EQ(ErrorOf([&] { app->set(app.Id("saved.gain"), 0, Doubles({3.0})); }),
              "Node saved.gain was not changed: its value could not be saved (cannot create a temporary file in " +
                  dir + ": No such file or directory)");
    EXPECT_EQ(app.Read("saved.gain"), "f64:1.5");
    // Nodes that do not persist are not affected.
    app->set(app.Id("scalars.i32"), 0, Ints({4}));
    EXPECT_EQ(app.Read("scalars.i32"), "i32:4");
}

const std::string c_whole = "application:\n"
                            "  saved.gain: {type: double, value: 2.5}\n"
                            "  saved.mode: {type: enum, value: \"on\"}\n"
                            "  saved.table: {type: int32, value: [4, 5, 6]}\n"
                            "platform: {}\n";

// State files that are not whole stop the start: status 2, the path, why,
// and the option that starts from the tree's values instead.
struct DamagedCase {
    const char* name;
    std::string content;
    std::string reason;
};

class DamagedState : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedState, StopsTheStart) {
    const std::string state = TempDir() + "/state.yaml";
    WriteFile(state, GetParam().content);
    const RunResult result = velnor::test::Run(StartArgs(state));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "velnor-registryd: cannot use the state file: " + state + GetParam().reason +
                              "; --discard-damaged-state starts from the tree's values instead\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedState,
    ::testing::Values(
        DamagedCase{"empty", "", ": has no valid end line (it was cut short, or not written by velnor-registryd)"},
        // Cut at a line boundary: entries and the end line lost.
        DamagedCase{"cut_short", c_whole.substr(0, c_whole.find("  saved.table")),
                    ": has no valid end line (it was cut short, or not written by velnor-registryd)"},
        DamagedCase{"changed_by_hand",
                    [] {
                        std::string text = Sealed(c_whole, 3);
                        text.replace(text.find("2.5"), 3, "7.5");
                        return text;
                    }(),
                    ": its content does not match the checksum of its end line (it was changed or damaged)"},
        DamagedCase{"entries_missing", Sealed(c_whole, 4), ": its end line counts 4 entries, it holds 3"},
        DamagedCase{"end_line_not_last", Sealed(c_whole, 3) + "\n",
                    ": has no valid end line (it was cut short, or not written by velnor-registryd)"}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST(Persistence, ADamagedStateFileCanBeDiscardedOnRequest) {
    const std::string state = TempDir() + "/state.yaml";
    WriteFile(state, c_whole.substr(0, c_whole.find("  saved.table")));
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state, "--discard-damaged-state"});
    EXPECT_EQ(server.Process().Err(), "velnor-registryd: warning: discarding the state file: " + state +
                                          ": has no valid end line (it was cut short, or not written by "
                                          "velnor-registryd); --discard-damaged-state starts from the tree's values "
                                          "instead\n");
    {
        RawRegistry app(server.Port());
        EXPECT_EQ(app.Read("saved.gain"), "f64:1.5");  // the tree's, not the damaged file's 2.5
        app->set(app.Id("saved.mode"), 0, Strings({"on"}));
    }
    // The next save made the file whole again: a start without the option uses it.
    server.Kill();
    const std::vector<std::string> plain = {"--state", state};
    RegistryServer again(FixturePath("server-basic.yaml"), plain);
    RawRegistry app(again.Port());
    EXPECT_EQ(app.Read("saved.mode"), "s:on");
    EXPECT_EQ(again.Process().Err(), "");
}

std::set<std::string> Entries(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (const dirent* entry = ::readdir(d))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..") names.insert(entry->d_name);
    ::closedir(d);
    return names;
}

// In a directory everyone may write to (sticky, like /tmp), another user
// plants a link where a fixed temporary name would be: the save never
// writes through it.
TEST(Persistence, SavesNeverWriteThroughAPlantedName) {
    const std::string dir = TempDir() + "/shared";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    const std::string victim = TempDir() + "/victim";
    WriteFile(victim, "precious\n");
    const std::string state = dir + "/state.yaml";
    ASSERT_EQ(::symlink(victim.c_str(), (state + ".tmp").c_str()), 0);
    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    RawRegistry app(server.Port());
    app->set(app.Id("saved.gain"), 0, Doubles({2.5}));
    app->set(app.Id("saved.gain"), 0, Doubles({3.5}));
    EXPECT_EQ(ReadFile(victim), "precious\n");
    EXPECT_NE(ReadFile(state).find("saved.gain: {type: double, value: 3.5}"), std::string::npos) << ReadFile(state);
    // Nothing left behind but the state file and the planted link.
    EXPECT_EQ(Entries(dir), (std::set<std::string>{"state.yaml", "state.yaml.tmp"}));
}

// A save killed midway leaves its temporary file; the next start removes
// those of the save's own naming and nothing else beside them.
TEST(Persistence, StartRemovesTemporaryFilesOfInterruptedSaves) {
    const std::string dir = TempDir();
    const std::string state = dir + "/state.yaml";
    const std::set<std::string> stale = {"state.yaml.tmp-0123456789abcdef", "state.yaml.tmp-fedcba9876543210",
                                         "state.yaml.tmp-00000000deadbeef"};
    for (const auto& name : stale) WriteFile(dir + "/" + name, "half a save");
    // Lookalikes that are not the save's own: other names, other patterns,
    // a directory and a link of the pattern (the link's target stays too).
    const std::set<std::string> kept = {"state.yaml.tmp-0123",         "state.yaml.tmp-0123456789ABCDEF",
                                        "other.yaml.tmp-0123456789abcdef", "state.yaml.tmp-0123456789abcdef0",
                                        "state.yaml.tmp-1111111111111111", "state.yaml.tmp-2222222222222222",
                                        "target"};
    for (const auto& name : kept) WriteFile(dir + "/" + name, "not ours");
    ASSERT_EQ(::unlink((dir + "/state.yaml.tmp-1111111111111111").c_str()), 0);
    ASSERT_EQ(::mkdir((dir + "/state.yaml.tmp-1111111111111111").c_str(), 0700), 0);
    ASSERT_EQ(::unlink((dir + "/state.yaml.tmp-2222222222222222").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/target").c_str(), (dir + "/state.yaml.tmp-2222222222222222").c_str()), 0);

    RegistryServer server(FixturePath("server-basic.yaml"), {"--state", state});
    RawRegistry app(server.Port());
    app->set(app.Id("saved.gain"), 0, Doubles({2.5}));
    std::set<std::string> expected = kept;
    expected.insert("state.yaml");
    EXPECT_EQ(Entries(dir), expected);
    EXPECT_EQ(ReadFile(dir + "/target"), "not ours");
    EXPECT_EQ(server.Stop(), 0);
    EXPECT_EQ(server.Process().Err(),
              "velnor-registryd: removed 3 temporary files left by an interrupted save of " + state + "\n");
}

// The state file's place is checked at start: status 2, the path and why.
struct PlaceCase {
    const char* name;
    // Prepares the place in `dir` and gives the --state path.
    std::function<std::string(const std::string& dir)> make;
    // What follows "PATH: ".
    std::function<std::string(const std::string& dir)> reason;
    bool needsRoot = false;
};

class StatePlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(StatePlace, RefusedAtStart) {
    if (GetParam().needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    const std::string dir = TempDir();
    const std::string state = GetParam().make(dir);
    const RunResult result = velnor::test::Run(
        {BinPath("velnor-registryd"), "--tree", FixturePath("server-basic.yaml"), "--port", "0", "--state", state});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "velnor-registryd: cannot use the state file: " + state + ": " + GetParam().reason(dir) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Places, StatePlace,
    ::testing::Values(
        PlaceCase{"a_directory", [](const std::string& dir) { return dir; },
                  [](const std::string&) { return std::string("is a directory"); }},
        PlaceCase{"a_path_ending_in_a_slash", [](const std::string& dir) { return dir + "/"; },
                  [](const std::string&) { return std::string("names a directory"); }},
        PlaceCase{"a_missing_directory", [](const std::string& dir) { return dir + "/missing/state.yaml"; },
                  [](const std::string& dir) {
                      return "cannot open its directory " + dir + "/missing: No such file or directory";
                  }},
        PlaceCase{"a_directory_others_may_write",
                  [](const std::string& dir) {
                      ::chmod(dir.c_str(), 0777);
                      return dir + "/state.yaml";
                  },
                  [](const std::string& dir) {
                      return "its directory " + dir +
                             " is writable by others without the sticky bit, so anyone could replace the file";
                  }},
        PlaceCase{"a_symbolic_link",
                  [](const std::string& dir) {
                      WriteFile(dir + "/real.yaml", "");
                      ::symlink((dir + "/real.yaml").c_str(), (dir + "/state.yaml").c_str());
                      return dir + "/state.yaml";
                  },
                  [](const std::string&) { return std::string("is a symbolic link (give the path of the file itself)"); }},
        PlaceCase{"a_pipe",
                  [](const std::string& dir) {
                      ::mkfifo((dir + "/state.yaml").c_str(), 0600);
                      return dir + "/state.yaml";
                  },
                  [](const std::string&) { return std::string("is not a regular file"); }},
        PlaceCase{"a_file_of_another_user",
                  [](const std::string& dir) {
                      WriteFile(dir + "/state.yaml", "");
                      if (::chown((dir + "/state.yaml").c_str(), 65534, 65534) != 0) throw std::runtime_error("chown");
                      return dir + "/state.yaml";
                  },
                  [](const std::string&) { return std::string("is owned by another user (uid 65534)"); }, true}),
    [](const ::testing::TestParamInfo<PlaceCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velnor::test
